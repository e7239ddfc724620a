#pragma once

// The style of the mode menu's check marks.

#include <QProxyStyle>

class QMenu;

// The style of a menu whose checkable entries show their mark when checked and nothing at all when
// not: many styles draw an empty check box in front of an unchecked entry, which reads as a second
// control rather than as the other choice of a pair.
class CheckMarkStyle : public QProxyStyle
{
    Q_OBJECT

public:
    // Gives menu this style; the menu owns it.
    static void apply(QMenu* menu);

    void drawControl(ControlElement element,
                     const QStyleOption* option,
                     QPainter* painter,
                     const QWidget* widget = nullptr) const override;
};
