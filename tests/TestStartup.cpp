#include "app/InstanceGuard.h"
#include "app/MainWindow.h"
#include "app/Startup.h"
#include "tests/support/ScriptedPlatform.h"
#include "tests/support/ShredderWindow.h"
#include "tests/support/WidgetLookup.h"
#include "windows/AboutWindow.h"
#include "windows/NotesWindow.h"

#include <QAction>
#include <QDir>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {
std::string uniqueKey(const char* test)
{
    return "zorvik-test-startup-" + std::string(test) + "-" + std::to_string(QCoreApplication::applicationPid());
}

// A copy of the program's start-up in its own process.
std::unique_ptr<QProcess> startProbe(const std::string& key, int lifetimeMs)
{
    auto probe = std::make_unique<QProcess>();
    probe->setProgram(ZORVIK_INSTANCE_PROBE);
    probe->setArguments({QString::fromStdString(key), QString::number(lifetimeMs)});
    probe->start();
    return probe;
}

bool waitForLine(QProcess& process, const QByteArray& line, int timeoutMs = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        if (process.canReadLine() || process.waitForReadyRead(100)) {
            while (process.canReadLine()) {
                if (process.readLine().trimmed() == line) {
                    return true;
                }
            }
        }
        if (process.state() == QProcess::NotRunning && !process.canReadLine()) {
            return false;
        }
    }
    return false;
}

const QByteArray kAlreadyRunningBox = "box|Prompting|This program is already running!|0|0";
} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void guardIsExclusiveAndReleased();
    void loadStepRefusesASecondCopy();
    void loadStepSetsModeAndDialogTitle();
    void secondProcessShowsBoxAndEnds();
    void simultaneousStartsLeaveExactlyOne();
    void killedCopyDoesNotBlockTheNextStart();
    void startAndEndWriteNoFile();
    void exitClosesEveryWindow();
    void closeBoxActsAsExit();
    void closingAboutOrNotesKeepsTheProgram();
};

void TestStartup::initTestCase()
{
    REQUIRE_OFFSCREEN();
}

void TestStartup::guardIsExclusiveAndReleased()
{
    const std::string key = uniqueKey("guard");
    auto first = std::make_unique<InstanceGuard>(key);
    QVERIFY(first->acquire());
    QVERIFY(first->acquire()); // asking again does not refuse the holder

    InstanceGuard second(key);
    QVERIFY(!second.acquire());
    InstanceGuard other(key + "-other");
    QVERIFY(other.acquire()); // another name is another program

    first.reset();
    QVERIFY(second.acquire());
    QVERIFY(InstanceGuard::defaultKey().find(std::to_string(getuid())) != std::string::npos);
}

void TestStartup::loadStepRefusesASecondCopy()
{
    const std::string key = uniqueKey("load-refused");
    InstanceGuard running(key);
    QVERIFY(running.acquire());

    ScriptedPlatform platform;
    InstanceGuard guard(key);
    MainWindow window(platform.platform());
    QVERIFY(!window.load(guard));
    QCOMPARE(platform.messages.shown().size(), 1);
    const MessageBox::Message box = platform.messages.shown().constFirst();
    QCOMPARE(box.text, QString("This program is already running!"));
    QCOMPARE(box.title, QString("Prompting"));
    QCOMPARE(box.icon, MessageBox::Icon::Information);
    QCOMPARE(box.buttons, MessageBox::Buttons::Ok);
    QVERIFY(!window.isVisible());
    QCOMPARE(platform.fileDialog.title(), QString()); // the load step stopped at the guard
}

void TestStartup::loadStepSetsModeAndDialogTitle()
{
    ScriptedPlatform platform;
    InstanceGuard guard(uniqueKey("load"));
    MainWindow window(platform.platform());
    QCOMPARE(platform.fileDialog.title(), QString());
    QVERIFY(window.load(guard));
    QVERIFY(isStandardMode(window.shredMode()));
    QCOMPARE(platform.fileDialog.title(), QString("Open..."));
    QVERIFY(platform.messages.shown().isEmpty());
}

void TestStartup::secondProcessShowsBoxAndEnds()
{
    const std::string key = uniqueKey("second");
    const auto first = startProbe(key, 0);
    QVERIFY(waitForLine(*first, "shown"));

    const auto second = startProbe(key, 0);
    QVERIFY(second->waitForFinished(20000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), kAlreadyRunningStatus);
    const QByteArray output = second->readAllStandardOutput();
    QVERIFY2(output.split('\n').contains(kAlreadyRunningBox), output.constData());
    QVERIFY2(!output.contains("shown"), output.constData());

    // The first copy is neither told nor ended.
    QVERIFY(!first->waitForFinished(300));
    QCOMPARE(first->state(), QProcess::Running);
    QVERIFY(first->readAllStandardOutput().isEmpty());
    first->kill();
    first->waitForFinished();
}

void TestStartup::simultaneousStartsLeaveExactlyOne()
{
    const std::string key = uniqueKey("together");
    for (int round = 0; round < 3; ++round) {
        std::vector<std::unique_ptr<QProcess>> copies;
        for (int i = 0; i < 3; ++i) {
            copies.push_back(startProbe(key, 3000));
        }
        int running = 0;
        int refused = 0;
        for (const auto& copy : copies) {
            QVERIFY(copy->waitForFinished(30000));
            const QByteArray output = copy->readAllStandardOutput();
            if (copy->exitCode() == 0 && output.contains("shown")) {
                ++running;
            } else if (copy->exitCode() == kAlreadyRunningStatus && output.split('\n').contains(kAlreadyRunningBox)) {
                ++refused;
            }
        }
        QCOMPARE(running, 1);
        QCOMPARE(refused, 2);
    }
}

void TestStartup::killedCopyDoesNotBlockTheNextStart()
{
    const std::string key = uniqueKey("killed");
    const auto crashed = startProbe(key, 0);
    QVERIFY(waitForLine(*crashed, "shown"));
    crashed->kill(); // SIGKILL: no clean-up of any kind runs
    QVERIFY(crashed->waitForFinished());

    const auto next = startProbe(key, 200);
    QVERIFY(waitForLine(*next, "shown"));
    QVERIFY(next->waitForFinished(20000));
    QCOMPARE(next->exitCode(), 0);
}

void TestStartup::startAndEndWriteNoFile()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(QFile::setPermissions(home.path(), QFile::ReadOwner | QFile::ExeOwner));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.insert("XDG_CACHE_HOME", home.filePath("cache"));
    environment.insert("XDG_DATA_HOME", home.filePath("data"));

    QProcess probe;
    probe.setProcessEnvironment(environment);
    probe.setWorkingDirectory(home.path()); // a read-only folder
    probe.start(ZORVIK_INSTANCE_PROBE, {QString::fromStdString(uniqueKey("nofile")), "200"});
    QVERIFY(waitForLine(probe, "shown"));
    QVERIFY(probe.waitForFinished(20000));
    QCOMPARE(probe.exitCode(), 0);
    QVERIFY(QFile::setPermissions(home.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QCOMPARE(QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

void TestStartup::exitClosesEveryWindow()
{
    ShredderWindow ui("startup-exit");
    MainWindow& window = ui.window();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.findChild<QAction*>("about")->trigger();
    window.findChild<QAction*>("note")->trigger();
    QPointer<AboutWindow> about = window.aboutWindow();
    QPointer<NotesWindow> notes = window.notesWindow();
    QVERIFY(about && about->isVisible() && notes && notes->isVisible());

    QSignalSpy unloaded(&window, &MainWindow::unloaded);
    window.findChild<QAction*>("e")->trigger();
    QCOMPARE(unloaded.count(), 1);
    QVERIFY(!window.isVisible());
    QTRY_VERIFY(!about && !notes);
    QVERIFY(ui.messages().isEmpty()); // no question asked
}

void TestStartup::closeBoxActsAsExit()
{
    ShredderWindow ui("startup-closebox");
    MainWindow& window = ui.window();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.findChild<QAction*>("about")->trigger();
    QPointer<AboutWindow> about = window.aboutWindow();

    QSignalSpy unloaded(&window, &MainWindow::unloaded);
    QVERIFY(window.close()); // never refused
    QCOMPARE(unloaded.count(), 1);
    QTRY_VERIFY(!about);
    QVERIFY(ui.messages().isEmpty());
}

void TestStartup::closingAboutOrNotesKeepsTheProgram()
{
    ScriptedPlatform platform;
    InstanceGuard guard(uniqueKey("close-info"));
    MainWindow window(platform.platform());
    QVERIFY(window.load(guard));
    window.showCentred();
    QSignalSpy unloaded(&window, &MainWindow::unloaded);
    window.findChild<QAction*>("about")->trigger();
    window.findChild<QAction*>("note")->trigger();
    window.aboutWindow()->close();
    window.notesWindow()->close();
    QTRY_VERIFY(!window.aboutWindow() && !window.notesWindow());
    QCOMPARE(unloaded.count(), 0);
    QVERIFY(window.isVisible());
}

QTEST_MAIN(TestStartup)
#include "TestStartup.moc"
