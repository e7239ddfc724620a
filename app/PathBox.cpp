#include "app/PathBox.h"

#include "filelist/CheckList.h"

#include <QDropEvent>

PathBox::PathBox(QWidget* parent)
    : QLineEdit(parent)
{
}

void PathBox::dragEnterEvent(QDragEnterEvent* event)
{
    CheckList::localPaths(event->mimeData()).isEmpty() ? event->ignore() : event->acceptProposedAction();
}

void PathBox::dragMoveEvent(QDragMoveEvent* event)
{
    CheckList::localPaths(event->mimeData()).isEmpty() ? event->ignore() : event->acceptProposedAction();
}

void PathBox::dropEvent(QDropEvent* event)
{
    const QList<QByteArray> paths = CheckList::localPaths(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit fileDropped(paths.first());
}
