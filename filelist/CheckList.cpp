#include "filelist/CheckList.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

CheckList::CheckList(QWidget* parent)
    : QListWidget(parent)
{
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DropOnly);
    setDropIndicatorShown(false);
    setSortingEnabled(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
}

QList<QByteArray> CheckList::localPaths(const QMimeData* data)
{
    QList<QByteArray> paths;
    if (!data || !data->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) {
            continue;
        }
        // The encoded path percent-decoded gives the name's bytes exactly, also when they are not
        // valid UTF-8.
        const QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        if (!path.isEmpty()) {
            paths.append(path);
        }
    }
    return paths;
}

QStringList CheckList::mimeTypes() const
{
    return {QStringLiteral("text/uri-list")};
}

void CheckList::dragEnterEvent(QDragEnterEvent* event)
{
    if (localPaths(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void CheckList::dragMoveEvent(QDragMoveEvent* event)
{
    if (localPaths(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void CheckList::dropEvent(QDropEvent* event)
{
    const QList<QByteArray> paths = localPaths(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit fileDropped(paths.first());
}
