// The Notes window built: heading, rule and the two modes' references.

#include "windows/NotesWindow.h"

#include "windows/Design.h"

#include <QFontMetrics>
#include <QFrame>
#include <QLabel>

#include <algorithm>

namespace {
const QColor kGrey(192, 192, 192);
const QColor kMagenta(255, 0, 255);
const QColor kLightYellow(255, 255, 128);

// The modes' names stand left of their references' boxes, in twips.
constexpr int kNameLeft = 900;
constexpr int kReferenceLeft = 2550;
// Pixels kept clear between a name's last letter and its reference's box.
constexpr int kNameGap = 6;

// The design's font has narrow Latin letters, and its substitutes are wider: in bold, a name would run
// under its reference's box. The names shrink together, a quarter point at a time, until the longest
// fits its room.
QFont fittedNameFont(const QStringList& names, int room)
{
    QFont font = Design::font("SimSun", 9.75, Design::Bold);
    const auto widest = [&names](const QFont& font) {
        const QFontMetrics metrics(font);
        int widest = 0;
        for (const QString& name : names) {
            widest = std::max({widest, metrics.horizontalAdvance(name), metrics.boundingRect(name).right() + 1});
        }
        return widest;
    };
    while (font.pointSizeF() > 7 && widest(font) + kNameGap > room) {
        font.setPointSizeF(font.pointSizeF() - 0.25);
    }
    return font;
}

QLabel* addLabel(QWidget* parent, const char* name, const QString& text, QPoint topLeftTwips, const QFont& font)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setFont(font);
    label->move(twips(topLeftTwips.x()), twips(topLeftTwips.y()));
    label->adjustSize(); // sized to its text
    return label;
}

QLabel* addReference(QWidget* parent, const char* name, const QString& text, const QRect& geometryTwips)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setFont(Design::font("SimSun", 10.5));
    label->setGeometry(twipsRect(geometryTwips.x(), geometryTwips.y(), geometryTwips.width(), geometryTwips.height()));
    label->setFrameShape(QFrame::Box);
    label->setLineWidth(1);
    Design::setBackground(label, kLightYellow);
    Design::setForeground(label, kMagenta);
    return label;
}
} // namespace

NotesWindow::NotesWindow()
    : QWidget(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName("Form3");
    setWindowTitle("Notes");
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(twips(8985), twips(1635));
    Design::setBackground(this, kGrey);

    addLabel(this,
             "Heading",
             "Shred! mode descriptions",
             {860, 240},
             Design::font("MS Sans Serif", 13.5, Design::Bold | Design::Italic));

    auto* icon = new QLabel(this);
    icon->setObjectName("Icon");
    icon->setGeometry(twipsRect(250, 230, 480, 480));
    icon->setPixmap(Design::picture(":/assets/bulb.png"));
    icon->setAccessibleName("Note");

    auto* rule = new QFrame(this);
    rule->setObjectName("Rule");
    rule->setGeometry(twipsRect(920, 600, 7980, 45));
    rule->setFrameShape(QFrame::Box);
    rule->setLineWidth(1);

    const QFont nameFont = fittedNameFont({"Standard mode", "Enhanced mode"}, twips(kReferenceLeft - kNameLeft));
    addLabel(this, "StandardName", "Standard mode", {kNameLeft, 840}, nameFont);
    addReference(this, "StandardReference", "Reference Standard: DoD 5220.22-M(US) ", {kReferenceLeft, 840, 4020, 240});
    addLabel(this, "EnhancedName", "Enhanced mode", {kNameLeft, 1200}, nameFont);
    addReference(this,
                 "EnhancedReference",
                 "Reference Standard: Gutmann ,VSITR(GER) ,GOST P50739-95(RU)",
                 {kReferenceLeft, 1200, 6345, 240});

    Design::centreOnScreen(this);
}
