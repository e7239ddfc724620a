// Start-up and shutdown: the single-copy guard, the load step, Exit and the close box.

#include "app/InstanceGuard.h"
#include "app/MainWindow.h"
#include "app/Startup.h"
#include "tests/support/HangWatchdog.h"
#include "tests/support/ScriptedPlatform.h"
#include "tests/support/SystemTexts.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WidgetLookup.h"
#include "tests/support/WindowTestCase.h"
#include "windows/AboutWindow.h"
#include "windows/NotesWindow.h"

#include <QAction>
#include <QDir>
#include <QDirIterator>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

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

constexpr uid_t kNobody = 65534;

const QByteArray kAlreadyRunningBox = "box|Prompting|This program is already running!|0|0";

} // namespace

class TestStartup : public WindowTestCase
{
    Q_OBJECT

private slots:
    void initTestCase();

    void guardIsExclusiveAndReleased();
    void lockFolderIsOnlyTheUsers_data();
    void lockFolderIsOnlyTheUsers();
    void anotherUserCannotKeepItFromStarting();
    void loadStepRefusesASecondCopy();
    void loadStepSetsModeAndDialogTitle();
    void secondProcessShowsBoxAndEnds();
    void simultaneousStartsLeaveExactlyOne();
    void killedCopyDoesNotBlockTheNextStart();
    void aWholeSessionStoresNothing();
    void exitClosesEveryWindow();
    void closeBoxActsAsExit();
    void closingAboutOrNotesKeepsTheProgram();
};

void TestStartup::initTestCase()
{
    REQUIRE_TEST_PLATFORM();
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
}

// The lock lives only where no other user can create, lock or replace anything: the session folder
// when it is private, else the user's own folder in the temporary folder. (Folders of another user's
// making are tried with real processes below.)
void TestStartup::lockFolderIsOnlyTheUsers_data()
{
    QTest::addColumn<int>("sessionMode"); // 0: no session folder; -1: none, and an open folder of our own
    QTest::addColumn<bool>("throughALink");
    QTest::addColumn<bool>("sessionChosen");
    QTest::newRow("private session folder") << 0700 << false << true;
    QTest::newRow("session folder open to the group") << 0770 << false << false;
    QTest::newRow("session folder through a link") << 0700 << true << false;
    QTest::newRow("no session folder") << 0 << false << false;
    QTest::newRow("no session folder, own temporary one left open") << -1 << false << false;
}

void TestStartup::lockFolderIsOnlyTheUsers()
{
    QFETCH(int, sessionMode);
    QFETCH(bool, throughALink);
    QFETCH(bool, sessionChosen);
    QTemporaryDir base;
    QVERIFY(base.isValid());
    const QString session = base.filePath("session");
    QVERIFY(QDir().mkpath(session) && QDir().mkpath(base.filePath("tmp")));
    QVERIFY(chmod(QFile::encodeName(session).constData(), qMax(sessionMode, 0)) == 0);
    if (sessionMode < 0) {
        const QString own = base.filePath("tmp/zorvik-" + QString::number(geteuid()));
        QVERIFY(QDir().mkpath(own) && chmod(QFile::encodeName(own).constData(), 0755) == 0);
    }
    QString variable = sessionMode <= 0 ? QString() : session;
    if (throughALink) {
        variable = base.filePath("link");
        QVERIFY(QFile::link(session, variable));
    }
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray savedTemporary = qgetenv("TMPDIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(variable));
    qputenv("TMPDIR", QFile::encodeName(base.filePath("tmp")));
    const QString chosen = QString::fromStdString(InstanceGuard::privateFolder());
    qputenv("XDG_RUNTIME_DIR", savedRuntime);
    qputenv("TMPDIR", savedTemporary);
    QCOMPARE(chosen, sessionChosen ? session : base.filePath("tmp/zorvik-" + QString::number(geteuid())));
}

// Another user who holds the lock under this user's name in a folder of their own making does not
// stop this user's copy from starting.
void TestStartup::anotherUserCannotKeepItFromStarting()
{
    if (geteuid() != 0) {
        QSKIP("starting a copy as another user needs root");
    }
    for (QFileInfo folder(ZORVIK_INSTANCE_PROBE); !folder.isRoot(); folder = QFileInfo(folder.absolutePath())) {
        if (!folder.permission(QFile::ExeOther)) {
            QSKIP("the other user cannot run the build's programs from here");
        }
    }
    QTemporaryDir shared(folderOthersCanEnter() + "/zorvik-shared-XXXXXX");
    QVERIFY(shared.isValid());
    QVERIFY(chmod(QFile::encodeName(shared.path()).constData(), 01777) == 0);
    const QString taken = shared.filePath("zorvik-" + QString::number(geteuid()));
    QVERIFY(QDir().mkpath(taken));
    QVERIFY(chmod(QFile::encodeName(taken).constData(), 0700) == 0);
    QVERIFY(chown(QFile::encodeName(taken).constData(), kNobody, kNobody) == 0);
    const std::string key = uniqueKey("other-user");

    QProcess intruder;
    QProcessEnvironment intruderEnvironment = QProcessEnvironment::systemEnvironment();
    intruderEnvironment.insert("XDG_RUNTIME_DIR", taken);
    intruderEnvironment.insert("HOME", shared.path());
    intruder.setProcessEnvironment(intruderEnvironment);
    intruder.setChildProcessModifier([] {
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0) {
            _exit(3);
        }
    });
    intruder.start(ZORVIK_INSTANCE_PROBE, {QString::fromStdString(key), "0"});
    QVERIFY(waitForLine(intruder, "shown"));
    QVERIFY(QFile::exists(taken + "/" + QString::fromStdString(key) + ".lock"));

    // The user's copies, with the other user's folder as their session folder and as their own
    // temporary one.
    for (const bool asSessionFolder : {true, false}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("XDG_RUNTIME_DIR");
        if (asSessionFolder) {
            environment.insert("XDG_RUNTIME_DIR", taken);
        }
        environment.insert("TMPDIR", shared.path());
        QProcess copy;
        copy.setProcessEnvironment(environment);
        copy.start(ZORVIK_INSTANCE_PROBE, {QString::fromStdString(key), "200"});
        QVERIFY2(waitForLine(copy, "shown"), asSessionFolder ? "as session folder" : "as temporary folder");
        QVERIFY(copy.waitForFinished(20000));
        QCOMPARE(copy.exitCode(), 0);
    }
    intruder.kill();
    intruder.waitForFinished();

    // Without a private folder, and the other user holding the socket's name first with a queue that
    // is full and never taken: each copy waits a moment, never for good, and still only one runs.
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = "zorvik-" + std::to_string(geteuid()) + "-" + key + ".lock";
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    int bound[2];
    QVERIFY(pipe(bound) == 0);
    const pid_t stranger = fork();
    if (stranger == 0) {
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (setgid(kNobody) == 0 && setuid(kNobody) == 0 &&
            bind(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0 && listen(fd, 0) == 0) {
            (void)!write(bound[1], "b", 1);
            pause();
        }
        _exit(3);
    }
    std::vector<int> queued;
    const std::shared_ptr<void> stopStranger(nullptr, [&](void*) {
        kill(stranger, SIGKILL);
        waitpid(stranger, nullptr, 0);
        for (const int fd : queued) {
            close(fd);
        }
        close(bound[0]);
        close(bound[1]);
    });
    char told = 0;
    QVERIFY(read(bound[0], &told, 1) == 1);
    for (int waiting = 0; waiting < 64; ++waiting) {
        queued.push_back(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0));
        if (::connect(queued.back(), reinterpret_cast<const sockaddr*>(&address), size) != 0) {
            break;
        }
    }
    QCOMPARE(errno, EAGAIN);
    const HangWatchdog watchdog("a copy facing another user's full queue", std::chrono::seconds(60));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("XDG_RUNTIME_DIR");
    environment.insert("TMPDIR", shared.path());
    std::unique_ptr<QProcess> copies[2];
    for (auto& copy : copies) {
        copy = std::make_unique<QProcess>();
        copy->setProcessEnvironment(environment);
        copy->start(ZORVIK_INSTANCE_PROBE, {QString::fromStdString(key), "0"});
        QVERIFY(copy == copies[1] || waitForLine(*copy, "shown"));
    }
    QVERIFY(copies[1]->waitForFinished(20000));
    QCOMPARE(copies[1]->exitCode(), kAlreadyRunningStatus);
    copies[0]->kill();
    copies[0]->waitForFinished();
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
    QCOMPARE(box.text, QString(Texts::kAlreadyRunning));
    QCOMPARE(box.title, QString(Texts::kPrompting));
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
    QCOMPARE(platform.fileDialog.title(), QString(Texts::kOpenTitle));
    QVERIFY(platform.messages.shown().isEmpty());
}

void TestStartup::secondProcessShowsBoxAndEnds()
{
    const std::string key = uniqueKey("second");
    const auto first = startProbe(key, 5000); // then it ends as a user ends it, and takes its lock file along
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
    QVERIFY(first->waitForFinished(20000));
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

// A shredder must leave no record of where it worked: picking, shredding, About, Notes and exit
// create and change nothing in the user's home, configuration, data, cache or state folders.
void TestStartup::aWholeSessionStoresNothing()
{
    QTemporaryDir home;
    QTemporaryDir runtime;
    QTemporaryDir work;
    QVERIFY(home.isValid() && runtime.isValid() && work.isValid());
    const QString victim = writeTestFile(work.filePath("diary.txt"), QByteArray(12345, 'd'));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home.path());
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"}) {
        environment.insert(name, home.filePath(QString(name).toLower()));
    }
    environment.insert("XDG_RUNTIME_DIR", runtime.path());
    QProcess probe;
    probe.setProcessEnvironment(environment);
    probe.setWorkingDirectory(home.path());
    probe.start(ZORVIK_INSTANCE_PROBE, {QString::fromStdString(uniqueKey("session")), "0", victim});
    const bool ended = probe.waitForFinished(60000);
    const QByteArray output = probe.readAllStandardOutput();
    if (!ended) {
        probe.kill();
        probe.waitForFinished();
    }
    QVERIFY2(ended, output.constData());
    QCOMPARE(probe.exitCode(), 0);
    QVERIFY2(output.contains("box|Mission Accomplished !|The file has been shredded !"), output.constData());
    QVERIFY(!QFile::exists(victim));

    QStringList stored;
    QDirIterator entries(home.path(),
                         QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        stored << entries.next();
    }
    QCOMPARE(stored, QStringList());
}

void TestStartup::exitClosesEveryWindow()
{
    MainWindow& window = *m_window;
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    triggerAction("about");
    triggerAction("note");
    QPointer<AboutWindow> about = window.aboutWindow();
    QPointer<NotesWindow> notes = window.notesWindow();
    QVERIFY(about && about->isVisible() && notes && notes->isVisible());

    QSignalSpy unloaded(&window, &MainWindow::unloaded);
    triggerAction("e");
    QCOMPARE(unloaded.count(), 1);
    QVERIFY(!window.isVisible());
    QTRY_VERIFY(!about && !notes);
    QVERIFY(messages().isEmpty()); // no question asked
}

void TestStartup::closeBoxActsAsExit()
{
    MainWindow& window = *m_window;
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    triggerAction("about");
    QPointer<AboutWindow> about = window.aboutWindow();

    QSignalSpy unloaded(&window, &MainWindow::unloaded);
    QVERIFY(window.close()); // never refused
    QCOMPARE(unloaded.count(), 1);
    QTRY_VERIFY(!about);
    QVERIFY(messages().isEmpty());
}

void TestStartup::closingAboutOrNotesKeepsTheProgram()
{
    MainWindow& window = *m_window;
    QSignalSpy unloaded(&window, &MainWindow::unloaded);
    triggerAction("about");
    triggerAction("note");
    window.aboutWindow()->close();
    window.notesWindow()->close();
    QTRY_VERIFY(!window.aboutWindow() && !window.notesWindow());
    QCOMPARE(unloaded.count(), 0);
    QVERIFY(window.isVisible());
}

QTEST_MAIN(TestStartup)
#include "TestStartup.moc"
