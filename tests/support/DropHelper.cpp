// Drops delivered the way a file manager delivers them.

#include "tests/support/DropHelper.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QDropEvent>
#include <QMimeData>

bool dropOnto(QWidget* target, QMimeData* data, const std::function<void()>& whenDropReturned)
{
    if (auto* area = qobject_cast<QAbstractScrollArea*>(target)) {
        target = area->viewport();
    }
    const QPointF at = QRectF(target->rect()).center();
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDragMoveEvent move(at.toPoint(), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    if (whenDropReturned) {
        whenDropReturned();
    }
    // What the drop left for the event loop, as the loop would run it next.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    return drop.isAccepted();
}

bool dropFiles(QWidget* target, const QList<QUrl>& urls, const std::function<void()>& whenDropReturned)
{
    QMimeData data;
    data.setUrls(urls);
    return dropOnto(target, &data, whenDropReturned);
}
