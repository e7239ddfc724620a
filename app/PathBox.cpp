// The single-shred path box: typing, picks and drops of a local file.

#include "app/PathBox.h"

#include "filelist/CheckList.h"

#include <QDropEvent>

namespace {
// The file a drop carries first, or an empty path when that is no file of this computer.
QByteArray firstLocalFile(const QMimeData* data)
{
    const QList<QByteArray> paths = CheckList::localPaths(data);
    return paths.isEmpty() ? QByteArray() : paths.first();
}
} // namespace

PathBox::PathBox(QWidget* parent)
    : QLineEdit(parent)
{
}

void PathBox::dragEnterEvent(QDragEnterEvent* event)
{
    firstLocalFile(event->mimeData()).isEmpty() ? event->ignore() : event->acceptProposedAction();
}

void PathBox::dragMoveEvent(QDragMoveEvent* event)
{
    firstLocalFile(event->mimeData()).isEmpty() ? event->ignore() : event->acceptProposedAction();
}

void PathBox::dropEvent(QDropEvent* event)
{
    const QByteArray path = firstLocalFile(event->mimeData());
    if (path.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit fileDropped(path);
}
