#pragma once

// The batch check-list widget of the main window.

#include <QListWidget>

// The batch check-list: a list with a check box in front of every entry that accepts files dropped
// from a file manager. Only drops carrying at least one file URL are accepted, and only the first
// file of a drop is reported. Files copied in a file manager and pasted with the keyboard (Ctrl+V,
// Shift+Insert) are reported all together. Paths are reported as the exact bytes of their names.
class CheckList : public QListWidget
{
    Q_OBJECT

public:
    explicit CheckList(QWidget* parent = nullptr);

    // The file URLs the data carries, in order, as raw file-name bytes; an empty path stands for a
    // file URL that names no file of this computer. Other URLs and text are left out.
    static QList<QByteArray> localPaths(const QMimeData* data);

signals:
    // The files of one drop or one paste.
    void filesDropped(const QList<QByteArray>& paths);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    QStringList mimeTypes() const override;
};
