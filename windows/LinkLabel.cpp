// The About window's links: painting, lighting up and clicks.

#include "windows/LinkLabel.h"

#include "windows/Design.h"

#include <QMouseEvent>

LinkLabel::LinkLabel(const QString& text, const QColor& highlight, const QCursor& pointer, QWidget* parent)
    : QLabel(text, parent)
    , m_highlight(highlight)
{
    setFont(Design::font("Arial", 9, Design::Underline));
    Design::setForeground(this, QColor(0, 0, 255));
    setBackground(Qt::white);
    setCursor(pointer);
    setMouseTracking(true);
}

QColor LinkLabel::background() const
{
    return palette().color(QPalette::Window);
}

void LinkLabel::setBackground(const QColor& color)
{
    if (background() != color || !autoFillBackground()) {
        Design::setBackground(this, color);
    }
}

void LinkLabel::mouseMoveEvent(QMouseEvent* event)
{
    setBackground(m_highlight);
    event->accept();
}

void LinkLabel::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

// A click is a press and a release of the left button both on the label.
void LinkLabel::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_pressed = false;
    event->accept();
    if (click) {
        emit clicked();
    }
}
