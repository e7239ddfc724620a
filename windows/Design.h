#pragma once

// The windows' design: twips, fonts with their substitutes, colours and lines.

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QPoint>
#include <QRect>

class QFrame;
class QWidget;

// The windows are laid out in twips: 1440 to the inch, so 15 twips make one pixel at 96 dots per inch.
constexpr int twips(int value)
{
    return (value + 7) / 15; // to the nearest pixel
}

inline QRect twipsRect(int left, int top, int width, int height)
{
    return {twips(left), twips(top), twips(width), twips(height)};
}

namespace Design {
enum FontStyle
{
    Regular = 0,
    Bold = 1,
    Italic = 2,
    Underline = 4,
};

// The font the windows were designed with (for example "MS Serif"), followed by the nearest fonts
// this platform ships, so that Qt takes the first one that is installed.
QFont font(const QString& designFamily, qreal pointSize, int styles = Regular);

// The fixed-width system font the About window's texts were designed in, or a substitute of the
// same glyph width.
QFont fixedSystemFont();

void setBackground(QWidget* widget, const QColor& color);
void setForeground(QWidget* widget, const QColor& color);
// The colours of an input field (a text box or a list): its background and its text.
void setFieldColors(QWidget* widget, const QColor& background, const QColor& text);

// A straight one-pixel line from one point to another (in twips), horizontal or vertical; the parent
// clips whatever runs past its edge.
QFrame* makeLine(QWidget* parent, const char* objectName, QPoint fromTwips, QPoint toTwips, const QColor& color);

// Places a top-level window at the centre of the screen it will open on.
void centreOnScreen(QWidget* window);

// A picture of the program's artwork at the screen's resolution: on screens with a device pixel ratio
// above 1 the twice-as-large drawing ("name@2x.png") is used, so the picture stays sharp at the same
// size on screen.
QPixmap picture(const QString& resource);
} // namespace Design
