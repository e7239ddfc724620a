// Bad input and faults through the windows: whatever the user points the program at, it must not
// crash or hang, must touch nothing the user did not pick, and must never call a file shredded that
// was not.

#include "tests/support/DropHelper.h"
#include "tests/support/HangWatchdog.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WidgetLookup.h"
#include "tests/support/WindowTestCase.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// Every refusal comes back at once; a refusal that waits (on a FIFO, a device) fails the test.
constexpr std::chrono::milliseconds kTimeBound{5000};

// A folder with one innocent bystander file and the item under test, named "item".
class Scene
{
public:
    Scene()
    {
        bystander = write("bystander", QByteArray(1000, 'b'));
    }
    ~Scene()
    {
        if (m_listener >= 0) {
            ::close(m_listener);
        }
        if (m_reader >= 0) {
            ::close(m_reader);
        }
        // By its bytes: Qt cannot remove a name that is not text.
        std::error_code ignored;
        std::filesystem::remove_all(QFile::encodeName(m_folder.path()).toStdString(), ignored);
    }

    QString write(const QString& name, const QByteArray& content) const
    {
        return writeTestFile(m_folder.filePath(name), content);
    }

    // Makes the item of the given kind and returns the path the user points at.
    QString make(const QString& kind)
    {
        const QString item = m_folder.filePath("item");
        const QByteArray encoded = QFile::encodeName(item);
        if (kind == "missing path") {
        } else if (kind == "directory") {
            QDir().mkdir(item);
        } else if (kind == "symlink to a file") {
            QFile::link(bystander, item);
        } else if (kind == "dangling symlink") {
            QFile::link(m_folder.filePath("nowhere"), item);
        } else if (kind == "FIFO without a reader") {
            ::mkfifo(encoded.constData(), 0600);
        } else if (kind == "FIFO with a reader") {
            ::mkfifo(encoded.constData(), 0600);
            m_reader = ::open(encoded.constData(), O_RDONLY | O_NONBLOCK);
        } else if (kind == "socket") {
            m_listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            qstrncpy(address.sun_path, encoded.constData(), sizeof address.sun_path);
            ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        } else if (kind == "character device") {
            return "/dev/null";
        } else if (kind == "hard link to another file") {
            ::link(QFile::encodeName(bystander).constData(), encoded.constData());
        } else if (kind == "relative path") {
            return "item";
        }
        return item;
    }

    bool untouched() const
    {
        return readTestFile(bystander) == QByteArray(1000, 'b') && !QFile::exists(m_folder.filePath("nowhere"));
    }

    QString path(const QString& name) const
    {
        return m_folder.filePath(name);
    }

    QString bystander;

private:
    QTemporaryDir m_folder;
    int m_listener = -1;
    int m_reader = -1;
};

const QStringList kUnshreddable = {"missing path",
                                   "directory",
                                   "symlink to a file",
                                   "dangling symlink",
                                   "FIFO without a reader",
                                   "FIFO with a reader",
                                   "socket",
                                   "character device"};
// Only a path typed into the box can be relative, and only a run can tell what a file's other names
// would lose.
const QStringList kRefusedByTheRun = {"hard link to another file", "relative path"};
const QStringList kAwkwardNames = {"name with spaces.txt", "line\nbreak", "Ελληνικά и русский 日本語.txt"};
} // namespace

class TestFaultMatrix : public WindowTestCase
{
    Q_OBJECT

private slots:
    void initTestCase();
    void pathBoxRefusesWhatCannotBeShredded_data();
    void pathBoxRefusesWhatCannotBeShredded();
    void dropRefusesWhatCannotBeShredded_data();
    void dropRefusesWhatCannotBeShredded();
    void awkwardNamesAreShreddedBothWays_data();
    void awkwardNamesAreShreddedBothWays();
    void nonUtf8NameIsShreddedFromTheList();
    void fileSizeLimitIsReportedNotFatal();
    void fileReplacedAfterThePickOrTheDropIsRefused();
};

void TestFaultMatrix::initTestCase()
{
    REQUIRE_TEST_PLATFORM();
}

void TestFaultMatrix::pathBoxRefusesWhatCannotBeShredded_data()
{
    QTest::addColumn<QString>("kind");
    for (const QString& kind : kUnshreddable + kRefusedByTheRun) {
        QTest::newRow(qPrintable(kind)) << kind;
    }
}

void TestFaultMatrix::pathBoxRefusesWhatCannotBeShredded()
{
    QFETCH(QString, kind);
    Scene scene;
    const QString path = scene.make(kind);
    {
        const HangWatchdog watchdog("Shred! on a " + kind.toStdString(), kTimeBound);
        QVERIFY(!shredSingle(path));
    }

    const QStringList shown = messages();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].startsWith("Warning!: " + path + ": "), qPrintable(shown[0]));
    QVERIFY(!claimedShredded());
    QVERIFY(scene.untouched());
    QCOMPARE(caption("Text1"), path);
    if (kind != "missing path" && kind != "character device" && kind != "relative path") {
        QVERIFY(QFileInfo(path).exists() || QFileInfo(path).isSymLink());
    }
}

void TestFaultMatrix::dropRefusesWhatCannotBeShredded_data()
{
    QTest::addColumn<QString>("kind");
    for (const QString& kind : kUnshreddable) {
        QTest::newRow(qPrintable(kind)) << kind;
    }
}

void TestFaultMatrix::dropRefusesWhatCannotBeShredded()
{
    QFETCH(QString, kind);
    Scene scene;
    const QString path = scene.make(kind);
    {
        const HangWatchdog watchdog("dropping a " + kind.toStdString(), kTimeBound);
        drop({path});
    }
    QCOMPARE(messages(), QStringList{"Warning!: The file you tried to shred is an invalid file."});
    QVERIFY(listed().isEmpty());
    QCOMPARE(caption("Label4"), QString("0 file displayed"));
    QVERIFY(scene.untouched());
}

void TestFaultMatrix::awkwardNamesAreShreddedBothWays_data()
{
    QTest::addColumn<QString>("name");
    for (const QString& name : kAwkwardNames) {
        QTest::newRow(qPrintable(QString(name).replace('\n', "\\n"))) << name;
    }
}

void TestFaultMatrix::awkwardNamesAreShreddedBothWays()
{
    QFETCH(QString, name);
    Scene scene;
    const QString single = scene.write(name, "single");
    QVERIFY2(shredSingle(single), qPrintable(messages().join('\n')));
    QVERIFY(!QFile::exists(single));

    const QString dropped = scene.write(name + " (listed)", "listed");
    QCOMPARE(drop({dropped}), 1);
    QCOMPARE(listed(), QStringList{dropped});
    QCOMPARE(shredAllListed(), QString("1 file shredded !"));
    QVERIFY(!QFile::exists(dropped));
    QVERIFY(scene.untouched());
}

void TestFaultMatrix::nonUtf8NameIsShreddedFromTheList()
{
    Scene scene;
    const QByteArray path = QFile::encodeName(scene.path("")) + "/latin1-caf\xe9";
    writeTestFile(path, "secret");

    QVERIFY(dropBytes(path));
    QCOMPARE(listed().size(), 1);
    QCOMPARE(shredAllListed(), QString("1 file shredded !"));
    struct stat status
    {
    };
    QCOMPARE(::lstat(path.constData(), &status), -1);
    QVERIFY(scene.untouched());

    // Picked in the dialog, which gives the name as text (U+FFFD for the stray byte): the file the text
    // shows is shredded while no other shows the same; two that show alike are both left alone.
    const auto make = [](const QByteArray& name) { return !writeTestFile(name, "secret").isEmpty(); };
    const QByteArray twin = QFile::encodeName(scene.path("")) + "/latin1-caf\xe8";
    QVERIFY(make(path));
    QVERIFY(shredSingle(QFile::decodeName(path)));
    QCOMPARE(::lstat(path.constData(), &status), -1);
    // Also when one of them is spelled with U+FFFD itself, and for folders that show alike.
    const QByteArray literal = QFile::encodeName(scene.path("")) + "/latin1-caf\xef\xbf\xbd";
    const QByteArray folders[] = {QFile::encodeName(scene.path("")) + "/a\xe9",
                                  QFile::encodeName(scene.path("")) + "/a\xe8"};
    for (const QByteArray& folder : folders) {
        QVERIFY(::mkdir(folder.constData(), 0700) == 0 && make(folder + "/secret"));
    }
    for (const QByteArray& alike : {twin, literal, folders[0] + "/secret"}) {
        const QByteArray chosen = alike == folders[0] + "/secret" ? alike : path;
        QVERIFY(make(chosen) && make(alike));
        QVERIFY(!shredSingle(QFile::decodeName(chosen)));
        QVERIFY(::lstat(chosen.constData(), &status) == 0 && ::lstat(alike.constData(), &status) == 0);
        QVERIFY(messages().last().endsWith("no file, or more than one, shows this name (\"\uFFFD\" stands for bytes "
                                           "that are not text); nothing was written"));
    }
    QVERIFY(scene.untouched());
}

void TestFaultMatrix::fileSizeLimitIsReportedNotFatal()
{
    Scene scene;
    const QString path = scene.write("limited", QByteArray(4096, 's'));

    // As the program does at start: a file size limit must turn into an error, not a signal.
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limited = previous;
    limited.rlim_cur = 4096;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool claimed = shredSingle(path);
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousHandler);

    QVERIFY(!claimed);
    const QStringList shown = messages();
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown[1],
             "Warning!: " + path +
                 ": contents overwritten, but the file could not be extended to a whole block and was "
                 "not deleted: File too large");
    QCOMPARE(readTestFile(path), QByteArray(4096, '\0'));
    QCOMPARE(caption("Text1"), path);
}

// The pick in the dialog and the drop on the list pin the file; a file renamed onto the path after
// that is not the one chosen.
void TestFaultMatrix::fileReplacedAfterThePickOrTheDropIsRefused()
{
    Scene scene;
    const QString path = scene.write("chosen", QByteArray(6000, 'c'));
    const auto replace = [&] {
        const QString other = scene.write("other", QByteArray(7000, 'o'));
        QVERIFY(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()) == 0);
    };
    const QString refusal = "Warning!: " + path + ": the file was replaced after it was chosen; nothing was written";

    REQUIRE_CHILD(open, QAbstractButton, m_window, "Command1");
    REQUIRE_CHILD(shred, QAbstractButton, m_window, "Command2");
    m_platform->fileDialog.setNextFileName(path);
    open->click();
    replace();
    m_platform->messages.setNextAnswer(MessageBox::Answer::Yes);
    shred->click();
    QCOMPARE(messages().last(), refusal);
    QCOMPARE(readTestFile(path), QByteArray(7000, 'o'));

    // A file dropped on the path box is pinned as a pick is; text dropped there is not taken.
    const QString dropped = scene.write("dropped", QByteArray(6000, 'd'));
    REQUIRE_CHILD(box, QLineEdit, m_window, "Text1");
    box->clear();
    QMimeData text;
    text.setText("file:///elsewhere");
    QVERIFY(!dropOnto(box, &text));
    QVERIFY(dropFiles(box, {QUrl::fromLocalFile(dropped)}));
    QCOMPARE(box->text(), dropped);
    QVERIFY(::rename(QFile::encodeName(scene.write("other", "o")).constData(),
                     QFile::encodeName(dropped).constData()) == 0);
    m_platform->messages.setNextAnswer(MessageBox::Answer::Yes);
    shred->click();
    QCOMPARE(messages().last(), QString(refusal).replace(path, dropped));
    QCOMPARE(readTestFile(dropped), QByteArray("o"));

    QVERIFY(QFile::remove(path));
    scene.write("chosen", QByteArray(6000, 'c'));
    QCOMPARE(drop({path}), 1);
    replace();
    QCOMPARE(shredAllListed(), QString());
    QCOMPARE(
        messages().last(),
        QString(refusal).replace("Warning!: ",
                                 "Warning!: Nothing was shredded, and nothing was written: the checked file cannot be "
                                 "shredded as it is now.\n\n"));
    QCOMPARE(readTestFile(path), QByteArray(7000, 'o'));
    QVERIFY(!claimedShredded());
}

QTEST_MAIN(TestFaultMatrix)
#include "TestFaultMatrix.moc"
