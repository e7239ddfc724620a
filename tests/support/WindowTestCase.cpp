// The window suites' fixture: the window's life around each test, and the checked gestures.

#include "tests/support/WindowTestCase.h"

#include "filelist/NativePaths.h"
#include "tests/support/DropHelper.h"
#include "tests/support/SystemTexts.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WidgetLookup.h"

#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

namespace {
// The named child of the window, enabled; a test failure, and null, when there is none or it is
// disabled.
template <typename Control> Control* usable(const MainWindow* window, const char* name)
{
    auto* control = window->findChild<Control*>(name);
    if (!control) {
        QTest::qFail(qPrintable(QStringLiteral("Control doesn't exist: %1").arg(name)), __FILE__, __LINE__);
    } else if (!control->isEnabled()) {
        QTest::qFail(qPrintable(QStringLiteral("Control is disabled: %1").arg(name)), __FILE__, __LINE__);
        return nullptr;
    }
    return control;
}
} // namespace

void WindowTestCase::initTestCase()
{
    REQUIRE_TEST_PLATFORM();
}

void WindowTestCase::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
    const QString suite = QString(metaObject()->className()).toLower();
    m_scripted = std::make_unique<ScriptedPlatform>();
    m_guard = std::make_unique<InstanceGuard>(
        ("zorvik-test-" + suite + "-" + QString::number(QCoreApplication::applicationPid())).toStdString());
    m_main = std::make_unique<MainWindow>(m_scripted->platform());
    m_platform = m_scripted.get();
    m_window = m_main.get();
    m_window->load(*m_guard);
    m_window->showCentred();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    m_list = m_window->findChild<QListWidget*>("List1");
    QVERIFY(m_list);
}

void WindowTestCase::cleanup()
{
    m_list = nullptr;
    m_window = nullptr;
    m_platform = nullptr;
    m_main.reset();
    m_guard.reset();
    m_scripted.reset();
    if (m_folder) {
        // Leave nothing read-only behind that would stop the folder's removal.
        QFile::setPermissions(m_folder->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    m_folder.reset();
}

QTemporaryDir& WindowTestCase::folder() const
{
    return *m_folder;
}

QString WindowTestCase::makeFile(const QString& name, qint64 length, char fill) const
{
    return writeTestFile(m_folder->filePath(name), QByteArray(length, fill));
}

void WindowTestCase::click(const char* name) const
{
    if (auto* button = usable<QAbstractButton>(m_window, name)) {
        QTest::mouseClick(button, Qt::LeftButton);
    }
}

void WindowTestCase::triggerAction(const char* name) const
{
    if (auto* action = usable<QAction>(m_window, name)) {
        action->trigger();
    }
}

void WindowTestCase::pick(const QString& path) const
{
    m_platform->fileDialog.setNextFileName(path);
    click("Command1");
}

bool WindowTestCase::shredSingle(const QString& path) const
{
    pick(path);
    const qsizetype before = m_platform->messages.shown().size();
    m_platform->messages.setNextAnswer(MessageBox::Answer::Yes);
    click("Command2");
    const auto shown = m_platform->messages.shown();
    return shown.size() > before && shown.last().text == Texts::kShredded;
}

int WindowTestCase::drop(const QStringList& paths) const
{
    int accepted = 0;
    for (const QString& path : paths) {
        accepted += dropFiles(m_list, {QUrl::fromLocalFile(path)});
    }
    return accepted;
}

bool WindowTestCase::dropBytes(const QByteArray& path) const
{
    return dropFiles(m_list, {QUrl::fromEncoded("file://" + path.toPercentEncoding("/"))});
}

QString WindowTestCase::shredAllListed() const
{
    click("Option1");
    m_platform->messages.setNextAnswer(MessageBox::Answer::Yes);
    click("Command3");
    const auto shown = m_platform->messages.shown();
    for (auto message = shown.rbegin(); message != shown.rend(); ++message) {
        if (message->title == Texts::kDone) {
            return message->text;
        }
    }
    return {};
}

bool WindowTestCase::shredThrough(bool batch, const QString& path) const
{
    if (batch) {
        return drop({path}) == 1 && shredAllListed() == "1 file shredded !";
    }
    shredSingle(path);
    return messages().contains(QString(Texts::kDone) + ": " + Texts::kShredded);
}

QString WindowTestCase::caption(const char* name) const
{
    QObject* object = m_window->findChild<QObject*>(name);
    if (auto* label = qobject_cast<QLabel*>(object)) {
        return label->text();
    }
    if (auto* edit = qobject_cast<QLineEdit*>(object)) {
        return edit->text();
    }
    return "<no text control " + QString(name) + ">";
}

QString WindowTestCase::panel(int number) const
{
    return caption(number == 1 ? "sb1Panel1" : "sb1Panel2");
}

QStringList WindowTestCase::listed() const
{
    QStringList texts;
    for (int i = 0; i < m_list->count(); ++i) {
        texts << m_list->item(i)->text();
    }
    return texts;
}

QStringList WindowTestCase::messages() const
{
    QStringList lines;
    for (const MessageBox::Message& message : m_platform->messages.shown()) {
        lines << message.title + ": " + message.text;
    }
    return lines;
}

bool WindowTestCase::claimedShredded() const
{
    for (const MessageBox::Message& message : m_platform->messages.shown()) {
        if (message.title == Texts::kDone && !message.text.startsWith("0 file")) {
            return true;
        }
    }
    return false;
}

QByteArray WindowTestCase::contentBeforeDelete(const QString& path) const
{
    const auto& kept = m_platform->files.contentBeforeDelete;
    const auto found = kept.find(NativePaths::fromText(path).path);
    return found == kept.end() ? QByteArray()
                               : QByteArray(reinterpret_cast<const char*>(found->second.data()),
                                            static_cast<qsizetype>(found->second.size()));
}
