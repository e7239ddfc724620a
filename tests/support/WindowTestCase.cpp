#include "tests/support/WindowTestCase.h"

#include "tests/support/TestFiles.h"
#include "tests/support/WidgetLookup.h"

#include <QAbstractButton>
#include <QFile>
#include <QListWidget>
#include <QTest>

void WindowTestCase::initTestCase()
{
    REQUIRE_TEST_PLATFORM();
}

void WindowTestCase::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
    m_ui = std::make_unique<ShredderWindow>(QString(metaObject()->className()).toLower());
    m_platform = &m_ui->platform();
    m_window = &m_ui->window();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    m_list = m_window->findChild<QListWidget*>("List1");
    QVERIFY(m_list);
}

void WindowTestCase::cleanup()
{
    m_list = nullptr;
    m_window = nullptr;
    m_platform = nullptr;
    m_ui.reset();
    if (m_folder) {
        // Leave nothing read-only behind that would stop the folder's removal.
        QFile::setPermissions(m_folder->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    m_folder.reset();
}

ShredderWindow& WindowTestCase::ui() const
{
    return *m_ui;
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
    auto* button = m_window->findChild<QAbstractButton*>(name);
    QVERIFY2(button, qPrintable(QStringLiteral("Button doesn't exist: %1").arg(name)));
    QTest::mouseClick(button, Qt::LeftButton);
}

void WindowTestCase::pick(const QString& path) const
{
    m_platform->fileDialog.setNextFileName(path);
    click("Command1");
}

QString WindowTestCase::caption(const char* name) const
{
    return m_ui->text(name);
}

QString WindowTestCase::panel(int number) const
{
    return m_ui->text(number == 1 ? "sb1Panel1" : "sb1Panel2");
}

QStringList WindowTestCase::listed() const
{
    return m_ui->listed();
}
