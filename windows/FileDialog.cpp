// The open-file dialog: Qt's own, started in the home folder, sized to its screen and to show its
// columns.

#include "windows/FileDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QTimer>
#include <QTreeView>

#include <algorithm>

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
// wider, as far as its screen allows.
constexpr QSize kDialogSize(800, 480);
// The name column's width where the others leave less: a short name stays whole, a long one scrolls.
constexpr int kLeastNameWidth = 120;
// Room kept for the window manager's frame and title bar, which are not known before the dialog shows.
constexpr QSize kFrameAllowance(16, 64);

QSize sizeOnScreen(const QFileDialog& dialog, const QWidget* parent)
{
    const QSize wanted = dialog.sizeHint().expandedTo(kDialogSize);
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        return wanted;
    }
    return wanted.boundedTo(screen->availableGeometry().size() - kFrameAllowance).expandedTo(dialog.minimumSizeHint());
}

// The size, type and date columns take the width of what the folder shows, and the name the rest. The
// rows arrive after the folder is read and their details after the rows, so the columns are fitted
// again, once the events of the moment are handled, whenever rows or their details come.
class ColumnFitter : public QObject
{
public:
    ColumnFitter(QTreeView* details, QAbstractItemModel* model)
        : QObject(details)
        , m_details(details)
    {
        m_pending.setSingleShot(true);
        m_pending.setInterval(0);
        connect(&m_pending, &QTimer::timeout, this, &ColumnFitter::fit);
        const auto later = [this] { m_pending.start(); };
        connect(model, &QAbstractItemModel::rowsInserted, this, later);
        connect(model, &QAbstractItemModel::dataChanged, this, later);
        connect(model, &QAbstractItemModel::layoutChanged, this, later);
        connect(model, &QAbstractItemModel::modelReset, this, later);
    }

private:
    void fit()
    {
        QHeaderView* header = m_details->header();
        int others = 0;
        for (int column = 1; column < header->count(); ++column) {
            m_details->resizeColumnToContents(column);
            others += header->sectionSize(column);
        }
        header->resizeSection(0, std::max(kLeastNameWidth, m_details->viewport()->width() - others));
    }

    QTreeView* m_details;
    QTimer m_pending;
};

void fitColumns(QFileDialog& dialog)
{
    auto* details = dialog.findChild<QTreeView*>("treeView");
    if (details && details->model()) {
        new ColumnFitter(details, details->model());
    }
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
    dialog->resize(sizeOnScreen(*dialog, parent));
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
