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

ssize_t InspectingFileSystem::pwritev(int fd, const iovec* vectors, int count, off_t offset)
{
    if (m_beforeWrite) {
        m_beforeWrite(offset);
    }
    return FileSystem::pwritev(fd, vectors, count, offset);
}

int InspectingFileSystem::unlinkat(int folder, const char* name)
{
    if (m_beforeDelete) {
        const QString folderPath = QFile::symLinkTarget(QString("/proc/self/fd/%1").arg(folder));
        m_beforeDelete(folderPath == "/" ? "/" + QFile::decodeName(name) : folderPath + "/" + QFile::decodeName(name));
    }
    return FileSystem::unlinkat(folder, name);
}

void InspectingFileSystem::setBeforeWrite(std::function<void(off_t)> beforeWrite)
{
    m_beforeWrite = std::move(beforeWrite);
}

void InspectingFileSystem::setBeforeDelete(std::function<void(const QString&)> beforeDelete)
{
    m_beforeDelete = std::move(beforeDelete);
}

bool InspectingFileSystem::preferDirect(std::int64_t bytes)
{
    static const bool everyFile = qEnvironmentVariableIsSet("ZORVIK_TEST_WRITE_DIRECT");
    return everyFile || FileSystem::preferDirect(bytes);
}
