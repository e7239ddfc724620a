#pragma once

#include "shred/FileSystem.h"
#include "windows/FileDialog.h"
#include "windows/LinkOpener.h"
#include "windows/MessageBox.h"
#include "windows/Platform.h"

#include <QList>
#include <QUrl>

#include <functional>

// Message boxes that answer from a queue and remember what they showed. With no answer queued, a box
// is answered with its default button.
class ScriptedMessageBox : public MessageBox
{
public:
    Answer show(QWidget* parent, const Message& message) override;

    void setNextAnswer(Answer answer);
    // Runs while the box is "open", before it is answered: lets a test look at the windows behind it.
    void setOnShow(std::function<void(const Message&)> onShow);

    QList<Message> shown() const;
    void clear();

private:
    QList<Answer> m_answers;
    QList<Message> m_shown;
    std::function<void(const Message&)> m_onShow;
};

// An open-file dialog whose user picks the queued file name, or cancels when none is queued.
class ScriptedFileDialog : public FileDialog
{
public:
    bool show(QWidget* parent) override;

    void setNextFileName(const QString& fileName);
    int timesShown() const;
    QList<QString> titlesShown() const;

private:
    QList<QString> m_nextFileNames;
    QList<QString> m_titlesShown;
};

// Records every link it is asked to open.
class RecordingLinkOpener : public LinkOpener
{
public:
    void open(const QUrl& url) override;

    QList<QUrl> opened() const;

private:
    QList<QUrl> m_opened;
};

// The real file system calls, with a hook that runs just before a file is deleted, while its
// overwritten contents can still be read, and one that runs before every write call.
class InspectingFileSystem : public FileSystem
{
public:
    ssize_t pwritev(int fd, const iovec* vectors, int count, off_t offset) override;
    int unlinkat(int folder, const char* name) override;
    // With ZORVIK_TEST_WRITE_DIRECT set, every file is written past the page cache where the file
    // system allows it, so that a suite checks that path at every size.
    bool preferDirect(std::int64_t bytes) override;

    void setBeforeDelete(std::function<void(const QString& path)> beforeDelete);
    void setBeforeWrite(std::function<void(off_t offset)> beforeWrite);

private:
    std::function<void(const QString&)> m_beforeDelete;
    std::function<void(off_t)> m_beforeWrite;
};

// All of them together, ready to hand to a window.
struct ScriptedPlatform
{
    ScriptedMessageBox messages;
    ScriptedFileDialog fileDialog;
    RecordingLinkOpener links;
    InspectingFileSystem files;

    Platform platform()
    {
        return {messages, fileDialog, links, files};
    }
};
