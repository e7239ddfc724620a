// The batch check-list widget: drops and pastes of local files.

#include "filelist/CheckList.h"

#include "filelist/NativePaths.h"

#include <QClipboard>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
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
    // Rows of the font's height would put the check boxes edge to edge: two pixels keep them apart.
    setSpacing(1);
}

QList<QByteArray> CheckList::localPaths(const QMimeData* data)
{
    QList<QByteArray> paths;
    if (!data || !data->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : data->urls()) {
        if (url.scheme().compare("file", Qt::CaseInsensitive) == 0) {
            paths.append(NativePaths::heldFromUrl(url));
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
    emit filesDropped({paths.first()});
}

void CheckList::keyPressEvent(QKeyEvent* event)
{
    if (!event->matches(QKeySequence::Paste)) {
        QListWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    if (const QList<QByteArray> paths = localPaths(QGuiApplication::clipboard()->mimeData()); !paths.isEmpty()) {
        emit filesDropped(paths);
    }
}
