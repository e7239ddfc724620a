#include "filelist/FileList.h"

#include "filelist/CheckList.h"
#include "filelist/CountCaption.h"
#include "filelist/NativePaths.h"
#include "windows/MessageBox.h"

#include <QLabel>
#include <QSignalBlocker>

Q_DECLARE_METATYPE(FileIdentity)

namespace {
constexpr int kPathRole = Qt::UserRole;
constexpr int kIdentityRole = Qt::UserRole + 1;

// The same path, or the same file reached by another path (a link to a folder, a bind mount).
bool sameFile(const QListWidgetItem* one, const QListWidgetItem* other)
{
    if (one->data(kPathRole).toByteArray() == other->data(kPathRole).toByteArray()) {
        return true;
    }
    const QVariant a = one->data(kIdentityRole);
    const QVariant b = other->data(kIdentityRole);
    return a.isValid() && b.isValid() && a.value<FileIdentity>().sameFileAs(b.value<FileIdentity>());
}
} // namespace

FileList::FileList(
    CheckList* list, QLabel* selectedCaption, QLabel* displayedCaption, MessageBox& messages, QWidget* boxParent)
    : QObject(list)
    , m_list(list)
    , m_selectedCaption(selectedCaption)
    , m_displayedCaption(displayedCaption)
    , m_messages(messages)
    , m_boxParent(boxParent)
{
    // Every change of a check mark, the user's or the program's, is followed by a recount.
    connect(m_list, &QListWidget::itemChanged, this, &FileList::recount);
    // Taken in once the drop has finished: a box opened inside the drop would keep the program that
    // started the drag waiting until the box is dismissed.
    connect(m_list, &CheckList::fileDropped, this, &FileList::intake, Qt::QueuedConnection);
}

int FileList::count() const
{
    return m_list->count();
}

void FileList::intake(const QByteArray& path)
{
    if (count() >= kCapacity) {
        m_messages.show(m_boxParent,
                        {"The list is full: 255 files at most.", "Prompting", MessageBox::Icon::Exclamation});
        showDisplayedCount();
        return;
    }
    // Folders, vanished or unreadable items and anything but a regular file count as invalid, like an
    // empty file: nothing reaches a batch that could not be shredded safely.
    const MeasuredFile measured = IdentifyFile(NativePaths::fromHeld(path));
    if (!measured.ok() || measured.length == 0) {
        m_messages.show(m_boxParent,
                        {"The file you tried to shred is an invalid file.", "Warning!", MessageBox::Icon::Exclamation});
        showDisplayedCount();
        return;
    }

    append(path, measured.identity);
    // Only the newcomer can match an earlier entry; it stays visible while the box is open.
    for (int later = count() - 1; later >= 1; --later) {
        for (int earlier = later - 1; earlier >= 0 && later < count(); --earlier) {
            if (sameFile(m_list->item(earlier), m_list->item(later))) {
                m_messages.show(m_boxParent, {"Duplicate files! ", "Prompting", MessageBox::Icon::Information});
                delete m_list->takeItem(later);
            }
        }
    }
    showDisplayedCount();
}

void FileList::append(const QByteArray& path, const std::optional<FileIdentity>& identity)
{
    auto* item = new QListWidgetItem(NativePaths::shown(path));
    item->setToolTip(NativePaths::shown(path)); // the whole path, where a long one is cut off
    item->setData(kPathRole, path);
    if (identity) {
        item->setData(kIdentityRole, QVariant::fromValue(*identity));
    }
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    // Added before the list sees it, so that the arrival raises no check notification.
    m_list->addItem(item);
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

std::vector<FileList::Entry> FileList::entries() const
{
    std::vector<Entry> entries;
    entries.reserve(static_cast<std::size_t>(count()));
    for (int i = 0; i < count(); ++i) {
        const QListWidgetItem* item = m_list->item(i);
        std::optional<FileIdentity> identity;
        if (const QVariant held = item->data(kIdentityRole); held.isValid()) {
            identity = held.value<FileIdentity>();
        }
        entries.push_back({item->data(kPathRole).toByteArray(), item->checkState() == Qt::Checked, identity});
    }
    return entries;
}

void FileList::refill(const std::vector<Entry>& entries)
{
    m_list->clear();
    setCaption(m_selectedCaption, "0 file selected");
    setCaption(m_displayedCaption, CountCaption(static_cast<qint64>(entries.size()), u" displayed"));
    for (const Entry& entry : entries) {
        append(entry.path, entry.identity);
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
