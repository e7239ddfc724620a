// Scripted message boxes, open-file dialog and link opener.

#include "tests/support/ScriptedPlatform.h"

#include <QFile>

MessageBox::Answer ScriptedMessageBox::show(QWidget*, const Message& message)
{
    m_shown.append(message);
    if (m_onShow) {
        m_onShow(message);
    }
    return m_answers.isEmpty() ? message.defaultButton : m_answers.takeFirst();
}

void ScriptedMessageBox::setNextAnswer(Answer answer)
{
    m_answers.append(answer);
}

void ScriptedMessageBox::setOnShow(std::function<void(const Message&)> onShow)
{
    m_onShow = std::move(onShow);
}

QList<MessageBox::Message> ScriptedMessageBox::shown() const
{
    return m_shown;
}

void ScriptedMessageBox::clear()
{
    m_shown.clear();
    m_answers.clear();
}

bool ScriptedFileDialog::show(QWidget*)
{
    m_titlesShown.append(title());
    if (m_nextFileNames.isEmpty()) {
        return false;
    }
    setFileName(m_nextFileNames.takeFirst());
    return true;
}

void ScriptedFileDialog::setNextFileName(const QString& fileName)
{
    m_nextFileNames.append(fileName);
}

int ScriptedFileDialog::timesShown() const
{
    return static_cast<int>(m_titlesShown.size());
}

QList<QString> ScriptedFileDialog::titlesShown() const
{
    return m_titlesShown;
}

void RecordingLinkOpener::open(const QUrl& url)
{
    m_opened.append(url);
}

QList<QUrl> RecordingLinkOpener::opened() const
{
    return m_opened;
}

ScriptedFileSystem ScriptedPlatform::writingDirectWhenAsked()
{
    ScriptedFileSystem files;
    if (qEnvironmentVariableIsSet("ZORVIK_TEST_WRITE_DIRECT")) {
        files.direct = true;
    }
    return files;
}
