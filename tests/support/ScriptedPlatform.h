#pragma once

// Scripted platform services for the window suites: boxes with set answers, a dialog with set
// picks, a link opener that records, and the scripted file system.

#include "tests/fakes/ScriptedFileSystem.h"
#include "traces/SystemTraces.h"
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

// All of them together, ready to hand to a window.
struct ScriptedPlatform
{
    static ScriptedFileSystem writingDirectWhenAsked();

    ScriptedMessageBox messages;
    ScriptedFileDialog fileDialog;
    RecordingLinkOpener links;
    // With ZORVIK_TEST_WRITE_DIRECT set, every file is written past the page cache where the file
    // system allows it, so that a suite checks that path at every size.
    ScriptedFileSystem files = writingDirectWhenAsked();
    // The desktop's real traces, destroyed through the scripted files.
    SystemTraces traces;

    Platform platform()
    {
        return {messages, fileDialog, links, files, traces};
    }
};
