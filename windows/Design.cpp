// The windows' design units, fonts and colours as Qt takes them.

#include "windows/Design.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QFrame>
#include <QGuiApplication>
#include <QHash>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace Design {
namespace {
QStringList substitutesFor(const QString& designFamily)
{
    static const QHash<QString, QStringList> substitutes = {
        {"MS Serif", {"Liberation Serif", "DejaVu Serif"}},
        {"MS Sans Serif", {"Liberation Sans", "DejaVu Sans"}},
        {"Tahoma", {"DejaVu Sans", "Liberation Sans"}},
        // Trebuchet's letters are about as wide as Arial's, whose metrics Liberation Sans shares.
        {"Trebuchet MS", {"Liberation Sans", "DejaVu Sans"}},
        {"Arial", {"Liberation Sans", "DejaVu Sans"}},
        {"SimSun", {"WenQuanYi Micro Hei", "DejaVu Sans"}},
        {"Fixedsys", {"DejaVu Sans Mono", "Liberation Mono"}},
    };
    return substitutes.value(designFamily);
}

// Whether the family is installed with a bold face of its own.
bool hasBoldFace(const QString& family)
{
    const QStringList styles = QFontDatabase::styles(family);
    return std::any_of(styles.begin(), styles.end(), [&family](const QString& style) {
        return QFontDatabase::weight(family, style) >= QFont::Bold;
    });
}
} // namespace

QFont font(const QString& designFamily, qreal pointSize, int styles)
{
    QFont result;
    QStringList families = QStringList{designFamily} + substitutesFor(designFamily);
    if (styles & Bold) {
        // A family without a bold face is drawn bold by thickening its strokes, too little to tell
        // at some scales (twice the size read as regular): installed families of that kind give way.
        families.removeIf(
            [](const QString& family) { return QFontDatabase::hasFamily(family) && !hasBoldFace(family); });
    }
    result.setFamilies(families);
    result.setPointSizeF(pointSize);
    result.setBold(styles & Bold);
    result.setItalic(styles & Italic);
    result.setUnderline(styles & Underline);
    return result;
}

QFont fixedSystemFont()
{
    // Fixedsys is a bitmap font of 8-pixel-wide glyphs, and the windows' boxes are measured in them.
    // Its substitutes are sized by pixels until their glyphs are no wider, so that text keeps the
    // width of the box it was designed in.
    constexpr qreal kGlyphWidth = 8.0;
    QFont result;
    result.setFamilies(QStringList{"Fixedsys"} + substitutesFor("Fixedsys"));
    for (int pixels = 16; pixels > 8; --pixels) {
        result.setPixelSize(pixels);
        if (QFontMetricsF(result).horizontalAdvance(QLatin1Char('0')) <= kGlyphWidth + 0.25) {
            break;
        }
    }
    return result;
}

void setBackground(QWidget* widget, const QColor& color)
{
    QPalette palette = widget->palette();
    // Buttons fill their background from the Button role, other widgets from Window.
    palette.setColor(widget->backgroundRole(), color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void setFieldColors(QWidget* widget, const QColor& background, const QColor& text)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, background);
    palette.setColor(QPalette::Text, text);
    widget->setPalette(palette);
}

void setForeground(QWidget* widget, const QColor& color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    palette.setColor(QPalette::ButtonText, color);
    widget->setPalette(palette);
}

QFrame* makeLine(QWidget* parent, const char* objectName, QPoint fromTwips, QPoint toTwips, const QColor& color)
{
    auto* line = new QFrame(parent);
    line->setObjectName(objectName);
    const QPoint from(twips(fromTwips.x()), twips(fromTwips.y()));
    const QPoint to(twips(toTwips.x()), twips(toTwips.y()));
    line->setGeometry(QRect(from, to).normalized());
    if (from.y() == to.y()) {
        line->setFixedHeight(1);
    } else {
        line->setFixedWidth(1);
    }
    line->setFrameShape(QFrame::NoFrame);
    setBackground(line, color);
    // A line has no handlers: the pointer passes through it to whatever lies behind.
    line->setAttribute(Qt::WA_TransparentForMouseEvents);
    return line;
}

void centreOnScreen(QWidget* window)
{
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        return;
    }
    // Before the first show a window's frame is known only once its native window exists, and only
    // where the system draws the frame itself (Windows); elsewhere it counts as none.
    window->winId();
    const QMargins margins = window->windowHandle() ? window->windowHandle()->frameMargins() : QMargins();
    QRect frame = window->geometry().marginsAdded(margins);
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}
QPixmap picture(const QString& resource)
{
    if (qApp && qApp->devicePixelRatio() > 1.0) {
        QString sharper = resource;
        sharper.insert(sharper.lastIndexOf('.'), "@2x");
        QPixmap large(sharper);
        if (!large.isNull()) {
            large.setDevicePixelRatio(2.0);
            return large;
        }
    }
    return QPixmap(resource);
}
} // namespace Design
