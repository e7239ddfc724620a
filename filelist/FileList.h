#pragma once

// The batch file list behind the check-list and its two captions.

#include "shred/OverwriteEngine.h"
#include "shred/ShredView.h" // ListedFile

#include <QByteArray>
#include <QList>
#include <QObject>

#include <optional>
#include <vector>

class CheckList;
class MessageBox;
class QLabel;
class QListWidgetItem;
class QWidget;

// The batch file list behind the check-list and its two statistics captions: intake of dropped
// files with its refusals, the recount of check marks, All, None and Clear, and the rebuild after a
// batch run. Each item holds its file as one ListedFile: the path in the system's own spelling and
// which file it named when it was dropped; the list shows the paths decoded.
class FileList : public QObject
{
    Q_OBJECT

public:
    // The recount and the batch run count checked entries in an 8-bit value.
    static constexpr int kCapacity = 255;

    FileList(CheckList* list,
             QLabel* selectedCaption,
             QLabel* displayedCaption,
             MessageBox& messages,
             FileSystem& files,
             QWidget* boxParent);

    // Takes in the files of one drop or paste as a whole: each new regular file of nonzero length is
    // appended in order while there is room. Then one box at most for each kind of file left out
    // names them: the invalid ones (an empty path among them stands for a file URL that names no file
    // of this computer), those listed already, and those the full list had no room for. The
    // " displayed" caption is rewritten every time. Files that arrive while the boxes of an earlier
    // intake are open are taken in after it, never inside it.
    void intake(const QList<QByteArray>& paths);

    void checkAll();
    void uncheckAll();
    void clear();

    std::vector<ListedFile> entries() const;
    // Empties the list and puts `files` back, unchecked, in the given order; both captions follow.
    void refill(const std::vector<ChosenFile>& files);

    int count() const;

private:
    void takeIn(const QList<QByteArray>& paths);
    bool isListed(const ListedFile& file) const;
    void recount();
    QListWidgetItem* append(const ListedFile& file);
    void setCaption(QLabel* label, const QString& text);
    void showDisplayedCount();

    CheckList* m_list;
    QLabel* m_selectedCaption;
    QLabel* m_displayedCaption;
    MessageBox& m_messages;
    FileSystem& m_files;
    QWidget* m_boxParent;
    QList<QList<QByteArray>> m_waiting;
    bool m_takingIn = false;
};
