// The desktop's activity logs and search indexes forget a shredded file through their own interfaces
// on a private session bus: a real store where it is installed, and stores that never answer.

#include "traces/ActivityStores.h"
#include "traces/Thumbnails.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <gio/gio.h>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// A session bus of the test's own, in a private home, stopped with every service it started, each by
// its process id.
class PrivateBus
{
public:
    explicit PrivateBus(const QString& home)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // Its own temporary folder too: the daemons leave files there.
        for (const char* folder : {"XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "TMPDIR"}) {
            environment.insert(folder, home + "/" + folder);
            QDir().mkpath(home + "/" + folder);
        }
        environment.insert("HOME", home);
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        m_daemon.setProcessEnvironment(environment);
        m_daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (m_daemon.waitForReadyRead(10000)) {
            address = m_daemon.readLine().trimmed();
        }
        environment.insert("DBUS_SESSION_BUS_ADDRESS", address);
        this->environment = environment;
        m_connection = address.isEmpty()
                           ? nullptr
                           : g_dbus_connection_new_for_address_sync(
                                 address.constData(),
                                 static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                                   G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                 nullptr,
                                 nullptr,
                                 nullptr);
    }

    ~PrivateBus()
    {
        for (const char* name : {"org.gnome.zeitgeist.SimpleIndexer",
                                 "org.gnome.zeitgeist.Engine",
                                 "org.freedesktop.Tracker3.Miner.Files",
                                 "org.freedesktop.Tracker3.Miner.Files.Control",
                                 "org.freedesktop.Tracker3.Miner.Extract",
                                 "org.kde.ActivityManager",
                                 "org.kde.kglobalaccel",
                                 "ca.desrt.dconf"}) {
            stop(name);
        }
        if (m_connection) {
            g_object_unref(m_connection);
        }
        m_daemon.kill();
        m_daemon.waitForFinished();
    }

    // Stops the service that owns `name`, if the bus started it: not this test, which may own a name.
    void stop(const char* name)
    {
        GVariant* pid = call("org.freedesktop.DBus",
                             "/org/freedesktop/DBus",
                             "org.freedesktop.DBus",
                             "GetConnectionUnixProcessID",
                             g_variant_new("(s)", name));
        if (pid) {
            GVariant* number = g_variant_get_child_value(pid, 0);
            if (const auto started = static_cast<pid_t>(g_variant_get_uint32(number)); started != ::getpid()) {
                ::kill(started, SIGTERM);
                for (int wait = 0; wait < 200 && ::kill(started, 0) == 0; ++wait) {
                    QTest::qWait(25); // until it has let its files go
                }
            }
            g_variant_unref(number);
            g_variant_unref(pid);
        }
    }

    // What `command` prints, run in the private session.
    QString run(const QStringList& command)
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(command.first(), command.mid(1));
        process.waitForFinished(10000);
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    // A call on the bus, waited for; null when it failed.
    GVariant* call(const char* name, const char* path, const char* interface, const char* method, GVariant* arguments)
    {
        return m_connection ? g_dbus_connection_call_sync(m_connection,
                                                          name,
                                                          path,
                                                          interface,
                                                          method,
                                                          arguments,
                                                          nullptr,
                                                          G_DBUS_CALL_FLAGS_NONE,
                                                          20000,
                                                          nullptr,
                                                          nullptr)
                            : nullptr;
    }

    QByteArray address;
    QProcessEnvironment environment;

private:
    QProcess m_daemon;
    GDBusConnection* m_connection = nullptr;
};

DeletedNames named(const QString& path)
{
    DeletedNames names;
    names.given = names.canonical = path.toStdString();
    return names;
}

} // namespace

class TestActivityStores : public QObject
{
    Q_OBJECT

private Q_SLOTS: // Qt without its keywords: GDBus has a field named "signals"
    void aBusThatNeverAnswersCostsItsTimeAndIsNamed();
    void anIndexForgetsTheFile_data();
    void anIndexForgetsTheFile();
};

// A bus that takes the connection and never says a word costs no more than the step's time, and the
// run names what may still name the file.
void TestActivityStores::aBusThatNeverAnswersCostsItsTimeAndIsNamed()
{
    QTemporaryDir home;
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un socketAddress{};
    socketAddress.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(home.filePath("bus"));
    std::memcpy(socketAddress.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    QVERIFY(::bind(listener, reinterpret_cast<sockaddr*>(&socketAddress), sizeof socketAddress) == 0 &&
            ::listen(listener, 4) == 0);
    const QByteArray before = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + path);
    QElapsedTimer timer;
    timer.start();
    SessionBus session(SessionBus::Clock::now() + std::chrono::seconds(2));
    const std::vector<std::string> lines =
        ForgetInActivityStores(session, home.path().toStdString(), {named(home.filePath("diary.txt"))});
    const qint64 took = timer.elapsed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", before);
    ::close(listener);
    QVERIFY2(took < 4000, qPrintable(QString::number(took) + " ms"));
    QCOMPARE(lines,
             std::vector<std::string>{"The activity logs and search indexes of this session could not be "
                                      "asked to forget the shredded files: its bus could not be reached (it "
                                      "did not answer in time)"});
}

void TestActivityStores::anIndexForgetsTheFile_data()
{
    QTest::addColumn<QString>("store");
    QTest::addColumn<bool>("stopped"); // when the file is shredded
    QTest::addColumn<QString>("told"); // what the run says of it
    QTest::newRow("zeitgeist") << "zeitgeist" << false << "";
    QTest::newRow("tracker, watching no folder") << "tracker3" << false << "";
    QTest::newRow("tracker, stopped") << "tracker3" << true << "";
    QTest::newRow("baloo, stopped") << "balooctl" << true << "";
    QTest::newRow("activity manager, stopped")
        << "kactivitymanagerd" << true
        << "KDE's activity manager keeps the path of %F in its list of resources, "
           "which it offers no way to remove; its events and scores were deleted";
    QTest::newRow("activity manager") << "kactivitymanagerd" << false
                                      << "KDE's activity manager keeps the path of %F in its list of resources, "
                                         "which it offers no way to remove; its events and scores were deleted";
}

// The real daemon, in a session of its own as its desktop starts it: the file is found in it before the
// shred, and not after.
void TestActivityStores::anIndexForgetsTheFile()
{
    QFETCH(QString, store);
    QFETCH(bool, stopped);
    QFETCH(QString, told);
    const QString service = store == "zeitgeist"  ? "org.gnome.zeitgeist.Engine"
                            : store == "tracker3" ? "org.freedesktop.Tracker3.Miner.Files"
                            : store == "balooctl" ? "org.kde.baloo"
                                                  : "org.kde.ActivityManager";
    if (store == "balooctl" ? QStandardPaths::findExecutable("baloo_file").isEmpty()
                            : !QFile::exists("/usr/share/dbus-1/services/" + service + ".service")) {
        QSKIP(qPrintable(store + " is not installed: this store was not tried"));
    }
    // Outside /tmp, which tracker and the activity manager pass over, wherever the build lies.
    QTemporaryDir home("/var/tmp/zorvik-stores-XXXXXX");
    if (!home.isValid()) {
        QSKIP("no folder outside /tmp to be indexed: this store was not tried");
    }
    PrivateBus bus(home.path());
    QVERIFY2(!bus.address.isEmpty(), "dbus-daemon did not start");
    QVERIFY(QDir().mkpath(home.filePath("docs")));
    const QString file = home.filePath("docs/zebra-notes.txt");
    QFile words(file);
    QVERIFY(words.open(QIODevice::WriteOnly) && words.write("zebracorn unicycle\n") > 0);
    words.close();
    const QString data = home.filePath("XDG_DATA_HOME");
    QProcess indexer; // baloo's, which no bus starts
    QStringList query;
    if (store == "tracker3") {
        const QString schema = "org.freedesktop.Tracker3.Miner.Files";
        for (const QStringList& setting :
             {QStringList{"index-recursive-directories", "['" + home.filePath("docs") + "']"},
              {"index-single-directories", "[]"},
              {"initial-sleep", "0"},
              {"enable-monitors", "false"}}) {
            bus.run(QStringList{"gsettings", "set", schema} + setting);
        }
        GVariant* started = bus.call(
            schema.toUtf8(), "/org/freedesktop/Tracker3/Miner/Files", "org.freedesktop.DBus.Peer", "Ping", nullptr);
        QVERIFY2(started, "tracker did not start");
        g_variant_unref(started);
        // Read from its database, which starts no miner, once there is one: the tool would make one.
        query = QStringList{"sh",
                            "-c",
                            "test -e \"$0/meta.db\" && exec tracker3 sparql -d \"$0\" -q "
                            "'SELECT ?u WHERE { ?u a nfo:FileDataObject }'",
                            home.filePath("XDG_CACHE_HOME/tracker3/files")};
    } else if (store == "balooctl") {
        QFile settings(home.filePath("XDG_CONFIG_HOME/baloofilerc"));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("[Basic Settings]\nIndexing-Enabled=true\n[General]\nfirst run=false\nfolders[$e]=" +
                       QFile::encodeName(home.filePath("docs")) + "\n");
        settings.close();
        indexer.setProcessEnvironment(bus.environment);
        indexer.start("baloo_file", {});
        query = QStringList{"baloosearch", "zebracorn"};
    } else if (store == "zeitgeist") {
        // Another file's event, which must stay.
        for (const QString& subject : {file, home.filePath("docs/kept-notes.txt")}) {
            const std::string uri = ThumbnailUri(subject.toStdString());
            GVariant* inserted = bus.call(
                service.toUtf8(),
                "/org/gnome/zeitgeist/log/activity",
                "org.gnome.zeitgeist.Log",
                "InsertEvents",
                g_variant_new_parsed("([(['', '1700000000000', "
                                     "'http://www.zeitgeist-project.com/ontologies/2010/01/27/zg#AccessEvent', "
                                     "'http://www.zeitgeist-project.com/ontologies/2010/01/27/zg#UserActivity', "
                                     "'application://viewer.desktop', ''], "
                                     "[[%s, '', '', '', 'text/plain', '', '', %s, '']], @ay [])],)",
                                     uri.c_str(),
                                     uri.c_str()));
            QVERIFY2(inserted, "zeitgeist did not take the event");
            g_variant_unref(inserted);
        }
        query = QStringList{"gdbus",
                            "call",
                            "--session",
                            "--dest",
                            service,
                            "--object-path",
                            "/org/gnome/zeitgeist/log/activity",
                            "--method",
                            "org.gnome.zeitgeist.Log.FindEvents",
                            "(0, 9223372036854775807)",
                            "[]",
                            "2",
                            "0",
                            "0"};
    } else {
        for (const unsigned event : {1u, 0u, 3u}) { // opened, used, closed by an editor
            GVariant* registered =
                bus.call("org.kde.ActivityManager",
                         "/ActivityManager/Resources",
                         "org.kde.ActivityManager.Resources",
                         "RegisterResourceEvent",
                         g_variant_new("(susu)", "org.kde.kate", 0u, ThumbnailUri(file.toStdString()).c_str(), event));
            QVERIFY2(registered, "the activity manager did not take the event");
            g_variant_unref(registered);
        }
        query = QStringList{"python3",
                            "-c",
                            "import sqlite3, sys\n"
                            "db = sqlite3.connect('file:' + sys.argv[1] + '?mode=ro', uri=True)\n"
                            "print(db.execute('SELECT * FROM ResourceEvent').fetchall(),"
                            " db.execute('SELECT * FROM ResourceScoreCache').fetchall())",
                            data + "/kactivitymanagerd/resources/database"};
    }
    QTRY_VERIFY_WITH_TIMEOUT(bus.run(query).contains("zebra-notes"), 30000);
    if (stopped) {
        bus.stop(service.toUtf8());
        indexer.terminate();
        indexer.waitForFinished();
    }
    QVERIFY(QFile::remove(file));

    const QByteArray before = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QByteArray dataBefore = qgetenv("XDG_DATA_HOME"); // where balooctl finds its index
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address);
    qputenv("XDG_DATA_HOME", QFile::encodeName(data));
    SessionBus session(SessionBus::Clock::now() + std::chrono::seconds(5));
    // The row's store alone: another one, started cold by the call, could take the step's whole time.
    const std::vector<DeletedNames> deleted{named(file)};
    const std::vector<std::string> lines = store == "zeitgeist"  ? ForgetInZeitgeist(session, deleted)
                                           : store == "tracker3" ? ForgetInTracker(session, deleted)
                                           : store == "balooctl"
                                               ? ForgetInBaloo(session, data.toStdString(), deleted)
                                               : ForgetInActivityManager(session, data.toStdString(), deleted);
    qputenv("DBUS_SESSION_BUS_ADDRESS", before);
    qputenv("XDG_DATA_HOME", dataBefore);
    QStringList said;
    for (const std::string& line : lines) {
        said << QString::fromStdString(line);
    }
    QCOMPARE(said.join('\n'), told.replace("%F", file));
    // A store that was asked forgets in its own time: a miner started cold crawls first, slowly on a
    // busy machine.
    QTRY_VERIFY_WITH_TIMEOUT(!bus.run(query).contains("zebra-notes"), 60000);
    QVERIFY(store != "zeitgeist" || bus.run(query).contains("kept-notes"));
    indexer.terminate();
    indexer.waitForFinished();
}

QTEST_GUILESS_MAIN(TestActivityStores)
#include "TestActivityStores.moc"
