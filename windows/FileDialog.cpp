// The open-file dialog: Qt's own, started in the home folder, sized to show its columns.

#include "windows/FileDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QTreeView>

QString FileDialog::title() const
{
    return m_title;
}

void FileDialog::setTitle(const QString& title)
{
    m_title = title;
}

QString FileDialog::fileName() const
{
    return m_fileName;
}

void FileDialog::setFileName(const QString& fileName)
{
    m_fileName = fileName;
}

namespace {
// Qt's dialog opens small, with its size, type and date columns cut short ("12....KiB"): it opens
// wider, and those columns take the width of what each folder shows once it is read.
constexpr QSize kDialogSize(800, 480);

void fitColumns(QFileDialog& dialog)
{
    dialog.resize(dialog.sizeHint().expandedTo(kDialogSize));
    auto* details = dialog.findChild<QTreeView*>("treeView");
    auto* model = dialog.findChild<QFileSystemModel*>();
    if (!details || !model) {
        return;
    }
    QObject::connect(model, &QFileSystemModel::directoryLoaded, details, [details] {
        for (int column = 1; column < details->model()->columnCount(); ++column) {
            details->resizeColumnToContents(column);
        }
    });
}
} // namespace

std::unique_ptr<QFileDialog> QtFileDialog::build(QWidget* parent) const
{
    auto dialog = std::make_unique<QFileDialog>(parent, title());
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    // Qt's own dialog, whose history start-up keeps off the disk; a desktop's dialog keeps its own
    // record of the folders it showed.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    // Not the program's working folder, which the user never chose.
    dialog->setDirectory(QDir::homePath());
    if (!fileName().isEmpty()) {
        dialog->selectFile(fileName());
    }
    fitColumns(*dialog);
    return dialog;
}

bool QtFileDialog::show(QWidget* parent)
{
    const auto dialog = build(parent);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) {
        return false;
    }
    setFileName(dialog->selectedFiles().constFirst());
    return true;
}
