// A menu style that draws a check mark only on checked entries.

#include "windows/CheckMarkStyle.h"

#include <QMenu>
#include <QStyleOptionMenuItem>

void CheckMarkStyle::apply(QMenu* menu)
{
    auto* style = new CheckMarkStyle;
    style->setParent(menu);
    menu->setStyle(style);
}

void CheckMarkStyle::drawControl(ControlElement element,
                                 const QStyleOption* option,
                                 QPainter* painter,
                                 const QWidget* widget) const
{
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    if (element == CE_MenuItem && item && item->checkType != QStyleOptionMenuItem::NotCheckable && !item->checked) {
        // Drawn as an entry without a mark; the menu still keeps the mark's column, so the captions
        // stay aligned.
        QStyleOptionMenuItem unmarked(*item);
        unmarked.checkType = QStyleOptionMenuItem::NotCheckable;
        QProxyStyle::drawControl(element, &unmarked, painter, widget);
        return;
    }
    QProxyStyle::drawControl(element, option, painter, widget);
}
