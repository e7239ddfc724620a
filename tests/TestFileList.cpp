// The batch list: drops and pastes, their refusals and boxes, the check marks and the captions.

#include "filelist/FileList.h"
#include "tests/support/DropHelper.h"
#include "tests/support/SystemTexts.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WidgetLookup.h"
#include "tests/support/WindowTestCase.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using Message = MessageBox::Message;

namespace {
const Message kInvalidFile{Texts::kInvalidFile, Texts::kWarning, MessageBox::Icon::Exclamation};
const Message kDuplicate{Texts::kDuplicates, Texts::kPrompting, MessageBox::Icon::Information};
const Message kListFull{"The list is full: 255 files at most.", Texts::kPrompting, MessageBox::Icon::Exclamation};
} // namespace

class TestFileList : public WindowTestCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void dropTakesTheFirstLocalFileUnchecked();
    void unshreddableDropsAreRefusedAsInvalid_data();
    void unshreddableDropsAreRefusedAsInvalid();
    void dropsWithoutALocalFileAreIgnored();
    void pasteIsTakenInAsAWhole_data();
    void pasteIsTakenInAsAWhole();
    void duplicateIsShownThenRemoved();
    void pathsDifferingInCaseAreDifferentEntries();
    void nonUtf8NameKeepsItsBytes();
    void checkMarksAreRecounted();
    void allNoneAndClear();
    void dropAfterAllArrivesUnchecked();
    void listHoldsAtMost255Files();

private:
    bool drop(const QString& path);
    void paste(const QList<QUrl>& urls);

    qsizetype m_boxesInsideDrops = 0;
};

void TestFileList::init()
{
    WindowTestCase::init();
    m_boxesInsideDrops = 0;
}

void TestFileList::cleanup()
{
    WindowTestCase::cleanup();
    QCOMPARE(m_boxesInsideDrops, 0);
}

// Drops as a file manager does; a box that opens before the drop event has returned is counted; it
// would keep the file manager waiting.
bool TestFileList::drop(const QString& path)
{
    const qsizetype before = m_platform->messages.shown().size();
    return dropFiles(m_list, {QUrl::fromLocalFile(path)}, [&] {
        m_boxesInsideDrops += m_platform->messages.shown().size() - before;
    });
}

void TestFileList::paste(const QList<QUrl>& urls)
{
    auto* copied = new QMimeData;
    copied->setUrls(urls);
    QGuiApplication::clipboard()->setMimeData(copied);
    QTest::keyClick(m_list, Qt::Key_V, Qt::ControlModifier);
    QCoreApplication::processEvents(); // the intake waits for the key press to return
}

void TestFileList::dropTakesTheFirstLocalFileUnchecked()
{
    const QString first = makeFile("first");
    QVERIFY(dropFiles(
        m_list,
        {QUrl::fromLocalFile(first), QUrl::fromLocalFile(makeFile("second")), QUrl::fromLocalFile(makeFile("third"))}));
    QCOMPARE(listed(), QStringList{first});
    QCOMPARE(m_list->item(0)->checkState(), Qt::Unchecked);
    QCOMPARE(caption("Label4"), QString("1 file displayed"));
    QCOMPARE(caption("Label3"), QString("0 file selected"));

    const QString second = makeFile("second-drop");
    QVERIFY(drop(second));
    QCOMPARE(listed(), (QStringList{first, second}));
    QCOMPARE(caption("Label4"), QString("2 files displayed"));
    QVERIFY(m_platform->messages.shown().isEmpty());

    // Files copied in a file manager and pasted go through the same intake, each one: the duplicate too.
    auto* copied = new QMimeData;
    copied->setUrls({QUrl::fromLocalFile(makeFile("pasted")), QUrl::fromLocalFile(second)});
    QGuiApplication::clipboard()->setMimeData(copied);
    QTest::keyClick(m_list, Qt::Key_V, Qt::ControlModifier);
    QTRY_COMPARE(m_platform->messages.shown(), QList<Message>{kDuplicate});
    QCOMPARE(listed(), (QStringList{first, second, folder().filePath("pasted")}));
}

void TestFileList::unshreddableDropsAreRefusedAsInvalid_data()
{
    QTest::addColumn<QString>("kind");
    for (const char* kind : {"empty file", "folder", "missing", "FIFO", "socket", "symbolic link", "device"}) {
        QTest::newRow(kind) << QString(kind);
    }
}

void TestFileList::unshreddableDropsAreRefusedAsInvalid()
{
    QFETCH(QString, kind);
    QVERIFY(drop(makeFile("listed")));
    const QString path = folder().filePath("item");
    int listener = -1;
    if (kind == "empty file") {
        makeFile("item", 0);
    } else if (kind == "folder") {
        QVERIFY(QDir().mkdir(path));
    } else if (kind == "FIFO") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == "socket") {
        listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    } else if (kind == "symbolic link") {
        QVERIFY(QFile::link(makeFile("target"), path));
    }
    const QString dropped = kind == "device" ? QString("/dev/null") : path;

    drop(dropped);
    if (listener >= 0) {
        ::close(listener);
    }
    QCOMPARE(m_platform->messages.shown(), QList<Message>{kInvalidFile});
    QCOMPARE(listed().size(), 1);
    QCOMPARE(caption("Label4"), QString("1 file displayed"));
}

void TestFileList::dropsWithoutALocalFileAreIgnored()
{
    QVERIFY(drop(makeFile("listed")));
    QMimeData text;
    text.setText("just some words");
    QVERIFY(!dropOnto(m_list, &text));
    QVERIFY(!dropFiles(m_list, {QUrl("https://www.example.com/file.txt")}));
    QCOMPARE(listed().size(), 1);
    QCOMPARE(caption("Label4"), QString("1 file displayed"));
    QVERIFY(m_platform->messages.shown().isEmpty());
}

// One paste, one intake: each new file is added, one box at most names each kind left out, also while
// a box runs an event loop of its own, and only this computer's files by the names their URLs spell.
void TestFileList::pasteIsTakenInAsAWhole_data()
{
    QTest::addColumn<QStringList>("pasted"); // names in the test's folder, or URLs with %F for it
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("boxes");
    const QString invalid = kInvalidFile.text;
    QTest::newRow("a listed file first") << QStringList{"listed", "b", "c"} << QStringList{"b", "c"}
                                         << QStringList{kDuplicate.text};
    QTest::newRow("a listed file through a linked folder")
        << QStringList{"here/listed", "b"} << QStringList{"b"} << QStringList{kDuplicate.text};
    QTest::newRow("many missing files") << (QStringList{"b"} << QList<QString>(2000, "missing")) << QStringList{"b"}
                                        << QStringList{invalid + "\n\n2000 files were left out: each is empty, "
                                                                 "missing, not a regular file or not a file of this "
                                                                 "computer."};
    QTest::newRow("only folders") << QStringList{"a", "here"} << QStringList()
                                  << QStringList{invalid + "\n\n2 folders were left out: only files can be shredded."};
    QTest::newRow("a folder and a missing file")
        << QStringList{"a", "missing"} << QStringList()
        << QStringList{invalid + "\n\n2 items were left out: each is a folder, empty, missing, not a regular file or "
                                 "not a file of this computer."};
    QTest::newRow("another host's file") << QStringList{"file://elsewhere%F/b", "c"} << QStringList{"c"}
                                         << QStringList{invalid};
    QTest::newRow("an encoded NUL") << QStringList{"file://%F/b%00c"} << QStringList() << QStringList{invalid};
    QTest::newRow("an encoded slash") << QStringList{"file://%F/a%2Fb"} << QStringList() << QStringList{invalid};
}

void TestFileList::pasteIsTakenInAsAWhole()
{
    QFETCH(QStringList, pasted);
    QFETCH(QStringList, added);
    QFETCH(QStringList, boxes);
    QVERIFY(drop(makeFile("listed")) && QDir(folder().path()).mkdir("a"));
    QList<QUrl> urls;
    for (const char* item : {"b", "c", "a/b"}) {
        makeFile(item);
    }
    QVERIFY(QFile::link(folder().path(), folder().filePath("here")));
    for (const QString& item : pasted) {
        urls << (item.contains(':') ? QUrl(QString(item).replace("%F", folder().path()))
                                    : QUrl::fromLocalFile(folder().filePath(item)));
    }
    m_platform->messages.setOnShow([](const Message&) { QCoreApplication::sendPostedEvents(); }); // as a box's loop
    paste(urls);
    for (QString& name : added) {
        name = folder().filePath(name);
    }
    QCOMPARE(listed(), QStringList{folder().filePath("listed")} + added);
    QStringList shown;
    for (const Message& box : m_platform->messages.shown()) {
        shown << box.text;
    }
    QCOMPARE(shown, boxes);
}

void TestFileList::duplicateIsShownThenRemoved()
{
    const QString path = makeFile("twice");
    QVERIFY(drop(path));
    QVERIFY(drop(makeFile("other")));
    m_list->item(0)->setCheckState(Qt::Checked);

    QList<int> entriesWhileShown;
    m_platform->messages.setOnShow([&](const Message&) {
        entriesWhileShown << m_list->count();
        if (entriesWhileShown.size() == 1) {
            dropFiles(m_list, {QUrl::fromLocalFile(path)}); // a drop while the box is open waits for it
        }
    });
    QVERIFY(drop(path));
    QCOMPARE(m_platform->messages.shown(), (QList<Message>{kDuplicate, kDuplicate}));
    QCOMPARE(entriesWhileShown, (QList<int>{3, 3})); // the newcomer is visible while its box is open
    QCOMPARE(listed(), (QStringList{path, folder().filePath("other")}));
    QCOMPARE(m_list->item(0)->checkState(), Qt::Checked);
    QCOMPARE(caption("Label4"), QString("2 files displayed"));
    QCOMPARE(caption("Label3"), QString("1 file selected"));
}

void TestFileList::pathsDifferingInCaseAreDifferentEntries()
{
    const QString lower = makeFile("report");
    const QString upper = makeFile("REPORT");
    QVERIFY(drop(lower));
    QVERIFY(drop(upper));
    QCOMPARE(listed(), (QStringList{lower, upper}));
    QVERIFY(m_platform->messages.shown().isEmpty());
}

void TestFileList::nonUtf8NameKeepsItsBytes()
{
    const QByteArray path = QFile::encodeName(folder().path()) + "/caf\xe9 \xff.txt";
    writeTestFile(path, "data");
    QVERIFY(dropFiles(m_list, {QUrl::fromEncoded("file://" + path.toPercentEncoding("/"))}));
    const std::vector<ListedFile> entries = m_window->fileList().entries();
    QCOMPARE(entries.size(), std::size_t{1});
    const bool exact = entries[0].path == path.toStdString();
    ::unlink(path.constData()); // Qt could not remove it by its decoded name
    QVERIFY(exact);
    QVERIFY(m_platform->messages.shown().isEmpty());
}

void TestFileList::checkMarksAreRecounted()
{
    for (const char* name : {"a", "b", "c"}) {
        QVERIFY(drop(makeFile(name)));
    }
    // By the keyboard, as a user toggles the current entry's box.
    m_list->setFocus();
    m_list->setCurrentRow(0);
    QTest::keyClick(m_list, Qt::Key_Space);
    QCOMPARE(m_list->item(0)->checkState(), Qt::Checked);
    QCOMPARE(caption("Label3"), QString("1 file selected"));
    // By the program, which is reported the same way.
    m_list->item(2)->setCheckState(Qt::Checked);
    QCOMPARE(caption("Label3"), QString("2 files selected"));
    m_list->item(0)->setCheckState(Qt::Unchecked);
    m_list->item(2)->setCheckState(Qt::Unchecked);
    QCOMPARE(caption("Label3"), QString("0 file selected"));
}

void TestFileList::allNoneAndClear()
{
    click("Option1"); // All on an empty list: nothing
    QCOMPARE(caption("Label3"), QString("0 file selected"));
    QVERIFY(drop(makeFile("only")));
    click("Option1");
    QCOMPARE(caption("Label3"), QString("1 file selected"));
    for (const char* name : {"b", "c", "d"}) {
        QVERIFY(drop(makeFile(name)));
    }
    click("Option1");
    QCOMPARE(caption("Label3"), QString("4 files selected"));
    click("Option2");
    QCOMPARE(caption("Label3"), QString("0 file selected"));
    click("Option1");
    click("Option3");
    QCOMPARE(m_list->count(), 0);
    QCOMPARE(caption("Label3"), QString("0 file selected"));
    QCOMPARE(caption("Label4"), QString("0 file displayed"));
    QVERIFY(m_window->findChild<QRadioButton*>("Option3")->isChecked());
}

void TestFileList::dropAfterAllArrivesUnchecked()
{
    QVERIFY(drop(makeFile("a")));
    QVERIFY(drop(makeFile("b")));
    click("Option1");
    QVERIFY(drop(makeFile("c")));
    QCOMPARE(m_list->item(2)->checkState(), Qt::Unchecked);
    QCOMPARE(caption("Label3"), QString("2 files selected"));
    QCOMPARE(caption("Label4"), QString("3 files displayed"));
}

void TestFileList::listHoldsAtMost255Files()
{
    for (int i = 0; i < FileList::kCapacity; ++i) {
        QVERIFY(drop(makeFile(QString("file-%1").arg(i))));
    }
    click("Option1");
    QCOMPARE(caption("Label3"), QString("255 files selected"));
    QCOMPARE(caption("Label4"), QString("255 files displayed"));
    QVERIFY(m_platform->messages.shown().isEmpty());

    drop(makeFile("one-too-many"));
    QCOMPARE(m_platform->messages.shown(), QList<Message>{kListFull});
    QCOMPARE(m_list->count(), 255);
    QVERIFY(!listed().contains(folder().filePath("one-too-many")));
    QCOMPARE(caption("Label4"), QString("255 files displayed"));

    // A paste past the cap: one box for all it had no room for, after the box of each other problem.
    m_platform->messages.clear();
    paste({QUrl::fromLocalFile(makeFile("x")),
           QUrl::fromLocalFile(folder().filePath("missing")),
           QUrl::fromLocalFile(folder().filePath("file-0")),
           QUrl::fromLocalFile(makeFile("y"))});
    const Message full{kListFull.text + "\n\n2 files were not added.", kListFull.title, kListFull.icon};
    QCOMPARE(m_platform->messages.shown(), (QList<Message>{kInvalidFile, kDuplicate, full}));
}

QTEST_MAIN(TestFileList)
#include "TestFileList.moc"
