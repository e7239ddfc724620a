#pragma once

#include <QListWidget>

// The batch check-list: a list with a check box in front of every entry that accepts files dropped
// from a file manager. Only drops carrying at least one local file are accepted; the first local
// file of a drop is reported, as the exact bytes of its path. Files copied in a file manager and
// pasted with the keyboard (Ctrl+V, Shift+Insert) are reported one by one, as if each was dropped.
class CheckList : public QListWidget
{
    Q_OBJECT

public:
    explicit CheckList(QWidget* parent = nullptr);

    // The local file paths a drop carries, in order, as raw file-name bytes.
    static QList<QByteArray> localPaths(const QMimeData* data);

signals:
    void fileDropped(const QByteArray& path);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    QStringList mimeTypes() const override;
};
