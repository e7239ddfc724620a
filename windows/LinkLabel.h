#pragma once

// A link of the About window.

#include <QColor>
#include <QLabel>

// A link in the About window: underlined blue text on an opaque background that lights up in its own
// colour whenever the pointer moves over it. It stays lit until the window tells it to go back to
// white; leaving the label changes nothing.
class LinkLabel : public QLabel
{
    Q_OBJECT

public:
    LinkLabel(const QString& text, const QColor& highlight, const QCursor& pointer, QWidget* parent);

    QColor background() const;
    void setBackground(const QColor& color);

signals:
    void clicked();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QColor m_highlight;
    bool m_pressed = false;
};
