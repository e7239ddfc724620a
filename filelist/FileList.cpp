// The batch file list: intake with its refusals, check marks, All, None, Clear and the rebuild.

#include "filelist/FileList.h"

#include "filelist/CheckList.h"
#include "filelist/CountCaption.h"
#include "filelist/NativePaths.h"
#include "windows/MessageBox.h"

#include <QFileInfo>
#include <QLabel>
#include <QSignalBlocker>

Q_DECLARE_METATYPE(ListedFile)

namespace {
constexpr int kFileRole = Qt::UserRole;

ListedFile listedFile(const QListWidgetItem* item)
{
    ListedFile file = item->data(kFileRole).value<ListedFile>();
    file.checked = item->checkState() == Qt::Checked;
    return file;
}

// The box for the files of one intake that were left out for one reason: the program's own words
// for one file, and how many they were when there were more.
MessageBox::Message leftOut(MessageBox::Message box, qsizetype count, const QString& many)
{
    if (count > 1) {
        box.text += "\n\n" + many.arg(count);
    }
    return box;
}
} // namespace

FileList::FileList(CheckList* list,
                   QLabel* selectedCaption,
                   QLabel* displayedCaption,
                   MessageBox& messages,
                   FileSystem& files,
                   QWidget* boxParent)
    : QObject(list)
    , m_list(list)
    , m_selectedCaption(selectedCaption)
    , m_displayedCaption(displayedCaption)
    , m_messages(messages)
    , m_files(files)
    , m_boxParent(boxParent)
{
    // Every change of a check mark, the user's or the program's, is followed by a recount.
    connect(m_list, &QListWidget::itemChanged, this, &FileList::recount);
    // Taken in once the drop has finished: a box opened inside the drop would keep the program that
    // started the drag waiting until the box is dismissed.
    connect(m_list, &CheckList::filesDropped, this, &FileList::intake, Qt::QueuedConnection);
}

int FileList::count() const
{
    return m_list->count();
}

void FileList::intake(const QList<QByteArray>& paths)
{
    m_waiting.append(paths);
    if (m_takingIn) {
        return; // taken in once the open box's intake is over
    }
    m_takingIn = true;
    while (!m_waiting.isEmpty()) {
        takeIn(m_waiting.takeFirst());
    }
    m_takingIn = false;
}

void FileList::takeIn(const QList<QByteArray>& paths)
{
    qsizetype invalid = 0;
    qsizetype invalidFolders = 0; // of the invalid ones
    qsizetype noRoom = 0;
    QList<ListedFile> duplicates;
    for (const QByteArray& path : paths) {
        // Folders, vanished or unreadable items and anything but a regular file count as invalid,
        // like an empty file: nothing reaches a batch that could not be shredded safely.
        MeasuredFile measured;
        const ListedFile file{NativePaths::fromHeld(path)};
        if (path.isEmpty()) {
            measured.failure = "not a file of this computer";
        } else {
            measured = IdentifyFile(file.path, m_files);
        }
        if (!measured.ok() || measured.length == 0) {
            ++invalid;
            invalidFolders += !path.isEmpty() && QFileInfo(NativePaths::shown(file.path)).isDir();
        } else if (const ListedFile identified{file.path, false, measured.identity}; isListed(identified)) {
            duplicates.append(file);
        } else if (count() >= kCapacity) {
            ++noRoom;
        } else {
            append(identified);
        }
    }
    showDisplayedCount();

    if (invalid > 0) {
        // The count names what was left out: folders, files, or items of both kinds.
        const QString many =
            invalidFolders == invalid ? "%1 folders were left out: only files can be shredded."
            : invalidFolders == 0
                ? "%1 files were left out: each is empty, missing, not a regular file or not a file of this computer."
                : "%1 items were left out: each is a folder, empty, missing, not a regular file or not a file of "
                  "this computer.";
        m_messages.show(
            m_boxParent,
            leftOut({"The file you tried to shred is an invalid file.", "Warning!", MessageBox::Icon::Exclamation},
                    invalid,
                    many));
    }
    if (!duplicates.isEmpty()) {
        // Shown at the end of the list while their box is open, then taken out again.
        QList<QListWidgetItem*> shown;
        for (const ListedFile& file : duplicates) {
            shown.append(append(file));
        }
        m_messages.show(m_boxParent,
                        leftOut({"Duplicate files! ", "Prompting", MessageBox::Icon::Information},
                                duplicates.size(),
                                "%1 files are listed already and were not added again."));
        for (QListWidgetItem* item : shown) {
            delete m_list->takeItem(m_list->row(item));
        }
    }
    if (noRoom > 0) {
        m_messages.show(m_boxParent,
                        leftOut({QString("The list is full: %1 files at most.").arg(kCapacity),
                                 "Prompting",
                                 MessageBox::Icon::Exclamation},
                                noRoom,
                                "%1 files were not added."));
    }
    showDisplayedCount();
}

// The same path, or the same file reached by another path (a link to a folder, a bind mount).
bool FileList::isListed(const ListedFile& file) const
{
    for (int i = 0; i < count(); ++i) {
        const ListedFile listed = listedFile(m_list->item(i));
        if (listed.path == file.path) {
            return true;
        }
        if (file.identity && listed.identity && listed.identity->sameFileAs(*file.identity)) {
            return true;
        }
    }
    return false;
}

QListWidgetItem* FileList::append(const ListedFile& file)
{
    auto* item = new QListWidgetItem(NativePaths::shown(file.path));
    item->setToolTip(NativePaths::shown(file.path)); // the whole path, where a long one is cut off
    item->setData(kFileRole, QVariant::fromValue(ListedFile{file.path, false, file.identity}));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    // Added before the list sees it, so that the arrival raises no check notification.
    m_list->addItem(item);
    return item;
}

void FileList::checkAll()
{
    for (int i = 0; i < count(); ++i) {
        m_list->item(i)->setCheckState(Qt::Checked);
    }
}

void FileList::uncheckAll()
{
    for (int i = 0; i < count(); ++i) {
        m_list->item(i)->setCheckState(Qt::Unchecked);
    }
}

void FileList::clear()
{
    m_list->clear();
    setCaption(m_selectedCaption, "0 file selected");
    setCaption(m_displayedCaption, "0 file displayed");
}

std::vector<ListedFile> FileList::entries() const
{
    std::vector<ListedFile> entries;
    entries.reserve(static_cast<std::size_t>(count()));
    for (int i = 0; i < count(); ++i) {
        entries.push_back(listedFile(m_list->item(i)));
    }
    return entries;
}

void FileList::refill(const std::vector<ChosenFile>& files)
{
    m_list->clear();
    setCaption(m_selectedCaption, "0 file selected");
    setCaption(m_displayedCaption, CountCaption(static_cast<qint64>(files.size()), u" displayed"));
    for (const ChosenFile& file : files) {
        append({file.path, false, file.identity});
    }
}

void FileList::recount()
{
    if (count() == 0) {
        return;
    }
    int selected = 0;
    for (int i = 0; i < count(); ++i) {
        selected += m_list->item(i)->checkState() == Qt::Checked;
    }
    setCaption(m_selectedCaption, CountCaption(selected, u" selected"));
}

void FileList::showDisplayedCount()
{
    setCaption(m_displayedCaption, CountCaption(count(), u" displayed"));
}

void FileList::setCaption(QLabel* label, const QString& text)
{
    if (label->text() != text) {
        label->setText(text);
        label->adjustSize();
    }
}
