#pragma once

// The single-shred path box of the main window.

#include <QByteArray>
#include <QLineEdit>

// The single-shred path box: typed into, filled by the open-file dialog, or by dropping a local file
// on it, which counts as a pick. Nothing else dropped on it is taken, not even text.
class PathBox : public QLineEdit
{
    Q_OBJECT

public:
    explicit PathBox(QWidget* parent = nullptr);

signals:
    // A local file was dropped: its path's exact bytes.
    void fileDropped(const QByteArray& path);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};
