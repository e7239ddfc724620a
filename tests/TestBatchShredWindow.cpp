// The batch shred through the window: B-Shred! over the checked files of the list.

#include "app/ProcessSettings.h"
#include "filelist/FileList.h"
#include "filelist/NativePaths.h"
#include "tests/support/DropHelper.h"
#include "tests/support/SystemTexts.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WidgetLookup.h"
#include "tests/support/WindowTestCase.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMap>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>
#include <sys/resource.h>

using Message = MessageBox::Message;
using enum MessageBox::Icon;

namespace {
const Message kConfirm{Texts::kAreYouSure, "Confirm?", Question, MessageBox::Buttons::YesNo, MessageBox::Answer::No};
const Message kSelectFiles{Texts::kSelectFiles, Texts::kPrompting, Exclamation};

Message shredded(const QString& text)
{
    return {text, Texts::kDone, Information};
}

Message warning(const QString& text)
{
    return {text, Texts::kWarning, Exclamation};
}
} // namespace

class TestBatchShredWindow : public WindowTestCase
{
    Q_OBJECT

private slots:
    void checkedFilesAreShreddedAndTheRestComeBackUnchecked();
    void nothingCheckedIsRefused();
    void declinedRunChangesNothing();
    void everyEntryCheckedEmptiesTheList();
    void failureInTheMiddleIsReportedAndTheFileComesBack();
    void filesChangedSinceTheDropStopTheRunUnwritten();
    void enhancedBatchGivesEveryFileTheSamePattern();
    // Last: it lowers the limit of open files for good.
    void fullListUnderALowDescriptorLimit();

private:
    void dropAll(const QStringList& paths);
    void check(const QList<int>& rows);
    void pressBatchShred();
    // The list's paths, each checked one followed by "(checked)".
    QStringList listedWithMarks() const;
};

void TestBatchShredWindow::dropAll(const QStringList& paths)
{
    for (const QString& path : paths) {
        QVERIFY(dropFiles(m_list, {QUrl::fromLocalFile(path)}));
    }
}

void TestBatchShredWindow::check(const QList<int>& rows)
{
    for (int row : rows) {
        m_list->item(row)->setCheckState(Qt::Checked);
    }
}

void TestBatchShredWindow::pressBatchShred()
{
    click("Command3");
}

QStringList TestBatchShredWindow::listedWithMarks() const
{
    QStringList texts;
    for (int i = 0; i < m_list->count(); ++i) {
        texts << m_list->item(i)->text();
        if (m_list->item(i)->checkState() != Qt::Unchecked) {
            texts << "(checked)";
        }
    }
    return texts;
}

void TestBatchShredWindow::checkedFilesAreShreddedAndTheRestComeBackUnchecked()
{
    QStringList files;
    for (int i = 1; i <= 5; ++i) {
        files << makeFile(QString("entry%1").arg(i), 1);
    }
    dropAll(files);
    check({0, 2, 3});
    QCOMPARE(caption("Label3"), QString("3 files selected"));

    QStringList listedWhileReporting;
    QString percentWhileReporting;
    int maximumWhileReporting = 0;
    m_platform->messages.setOnShow([&](const Message& message) {
        if (message.title == Texts::kDone) {
            listedWhileReporting = listedWithMarks();
            percentWhileReporting = m_window->findChild<QLabel*>("sb1Panel2")->text();
            maximumWhileReporting = m_window->findChild<QProgressBar*>("pb1")->maximum();
        }
    });
    m_platform->messages.setNextAnswer(MessageBox::Answer::Yes);
    pressBatchShred();

    QCOMPARE(m_platform->messages.shown(), (QList<Message>{kConfirm, shredded("3 files shredded !")}));
    QCOMPARE(maximumWhileReporting, 10003);
    QCOMPARE(percentWhileReporting, QString(Texts::kFinished));
    QCOMPARE(listedWhileReporting.count("(checked)"), 3); // the list changes once the box is dismissed
    QCOMPARE(listedWithMarks(), (QStringList{files[1], files[4]}));
    QCOMPARE(caption("Label3"), QString("0 file selected"));
    QCOMPARE(caption("Label4"), QString("2 files displayed"));
    QCOMPARE(m_window->findChild<QLabel*>("sb1Panel1")->text(), QString(Texts::kReady));
    for (int i : {0, 2, 3}) {
        QVERIFY(!QFile::exists(files[i]));
        QCOMPARE(contentBeforeDelete(files[i]), QByteArray(5000, '\0'));
    }
    QCOMPARE(readTestFile(files[1]), QByteArray("x"));
    QCOMPARE(readTestFile(files[4]), QByteArray("x"));
}

void TestBatchShredWindow::nothingCheckedIsRefused()
{
    dropAll({makeFile("unchecked", 1)});
    pressBatchShred();
    QCOMPARE(m_platform->messages.shown(), QList<Message>{kSelectFiles});
    QVERIFY(m_window->findChild<QProgressBar*>("pb1")->isHidden());
    QCOMPARE(listedWithMarks(), QStringList{folder().filePath("unchecked")});
}

void TestBatchShredWindow::declinedRunChangesNothing()
{
    const QStringList files = {makeFile("a", 1), makeFile("b", 1), makeFile("c", 1)};
    dropAll(files);
    check({1});
    const QStringList before = listedWithMarks();
    pressBatchShred(); // answered with the default button, No
    QCOMPARE(m_platform->messages.shown(), QList<Message>{kConfirm});
    QCOMPARE(listedWithMarks(), before);
    QCOMPARE(caption("Label3"), QString("1 file selected"));
    QCOMPARE(caption("Label4"), QString("3 files displayed"));
    QCOMPARE(m_window->findChild<QProgressBar*>("pb1")->value(), 0);
    QVERIFY(m_window->findChild<QProgressBar*>("pb1")->isVisible());
    QCOMPARE(readTestFile(files[1]), QByteArray("x"));
}

void TestBatchShredWindow::everyEntryCheckedEmptiesTheList()
{
    dropAll({makeFile("one", 12345), makeFile("two", 0 + 7)});
    QTest::mouseClick(m_window->findChild<QWidget*>("Option1"), Qt::LeftButton);
    m_platform->messages.setNextAnswer(MessageBox::Answer::Yes);
    pressBatchShred();
    QCOMPARE(m_platform->messages.shown().last(), shredded("2 files shredded !"));
    QCOMPARE(m_list->count(), 0);
    QCOMPARE(caption("Label4"), QString("0 file displayed"));
    QCOMPARE(caption("Label3"), QString("0 file selected"));
}

void TestBatchShredWindow::failureInTheMiddleIsReportedAndTheFileComesBack()
{
    const QStringList files = {makeFile("first", 1), makeFile("stuck", 1), makeFile("kept", 1), makeFile("last", 1)};
    dropAll(files);
    check({0, 1, 3});
    // The middle file is overwritten, but a folder takes its place before it can be deleted.
    m_platform->files.beforeDelete = [&](const NativePath& native) {
        const QString path = NativePaths::shown(native);
        if (path == files[1]) {
            QVERIFY(QFile::rename(path, path + ".moved"));
            QVERIFY(QDir().mkdir(path));
        }
    };
    m_platform->messages.setNextAnswer(MessageBox::Answer::Yes);
    pressBatchShred();

    QCOMPARE(
        m_platform->messages.shown(),
        (QList<Message>{
            kConfirm,
            shredded("2 files shredded !"),
            warning("1 of the 3 checked files was not shredded:\n\n" + files[1] +
                    ": contents destroyed, but the file could not be deleted and is still there: Is a directory")}));
    QCOMPARE(listedWithMarks(), (QStringList{files[1], files[2]})); // back, unchecked, in list order
    QCOMPARE(caption("Label4"), QString("2 files displayed"));
    QCOMPARE(caption("Label3"), QString("0 file selected"));
    QCOMPARE(readTestFile(files[1] + ".moved"), QByteArray(5000, '\0'));
    QVERIFY(!QFile::exists(files[0]));
    QVERIFY(!QFile::exists(files[3]));
}

void TestBatchShredWindow::filesChangedSinceTheDropStopTheRunUnwritten()
{
    const QString keep = makeFile("keep", 100, 'k');
    const QString vanishing = makeFile("vanishing", 1);
    const QString relinked = makeFile("relinked", 1);
    const QString target = makeFile("target", 50, 't');
    dropAll({keep, vanishing, relinked});
    QTest::mouseClick(m_window->findChild<QWidget*>("Option1"), Qt::LeftButton);
    QVERIFY(QFile::remove(vanishing));
    QVERIFY(QFile::remove(relinked));
    QVERIFY(QFile::link(target, relinked));
    const QStringList before = listedWithMarks();

    m_platform->messages.setNextAnswer(MessageBox::Answer::Yes);
    pressBatchShred();
    QCOMPARE(m_platform->messages.shown(),
             QList<Message>{warning("Nothing was shredded, and nothing was written: 2 of the 3 checked files cannot "
                                    "be shredded as they are now.\n\n" +
                                    vanishing + ": the file is no longer there; nothing was written\n\n" + relinked +
                                    ": not a regular file (a symbolic link); nothing was written")});
    QCOMPARE(listedWithMarks(), before);
    QCOMPARE(caption("Label3"), QString("3 files selected"));
    QCOMPARE(readTestFile(keep), QByteArray(100, 'k'));
    QCOMPARE(readTestFile(target), QByteArray(50, 't'));
}

void TestBatchShredWindow::enhancedBatchGivesEveryFileTheSamePattern()
{
    triggerAction("random");
    const QStringList files = {makeFile("small", 1), makeFile("block", 5000), makeFile("larger", 23456)};
    dropAll(files);
    QTest::mouseClick(m_window->findChild<QWidget*>("Option1"), Qt::LeftButton);
    m_platform->messages.setNextAnswer(MessageBox::Answer::Yes);
    pressBatchShred();
    QCOMPARE(m_platform->messages.shown().last(), shredded("3 files shredded !"));

    const QByteArray pattern = contentBeforeDelete(files[0]);
    QCOMPARE(pattern.size(), 5000);
    QVERIFY(!pattern.contains('\0'));
    for (const QString& file : files) {
        const QByteArray content = contentBeforeDelete(file);
        QVERIFY2(content.size() % 5000 == 0 && !content.isEmpty(), qPrintable(file));
        for (qsizetype at = 0; at < content.size(); at += 5000) {
            QVERIFY2(content.mid(at, 5000) == pattern, qPrintable(file));
        }
    }
}

// A batch holds its files' folders open until each file is gone. Started under a soft limit of 64
// descriptors, the program takes what the hard limit allows; under a hard one the files of one folder
// share a descriptor, and a batch in more folders than fit is refused whole before anything is written.
void TestBatchShredWindow::fullListUnderALowDescriptorLimit()
{
    const auto shredFullList = [this](const QString& names) {
        QStringList paths;
        for (int i = 0; i < FileList::kCapacity; ++i) {
            paths << folder().filePath(names.arg(i));
            QDir().mkpath(QFileInfo(paths.back()).path());
            writeTestFile(paths.back(), "x");
        }
        m_window->fileList().intake(QFile::encodeName(paths.join('\n')).split('\n'));
        click("Option1");
        m_platform->messages.setNextAnswer(MessageBox::Answer::Yes);
        pressBatchShred();
        const auto left = std::count_if(paths.begin(), paths.end(), [](const QString& p) { return QFile::exists(p); });
        return QString("%1 left: %2").arg(left).arg(m_platform->messages.shown().last().text);
    };
    rlimit limit{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    limit.rlim_cur = 64;
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    applyProcessSettings();
    QCOMPARE(shredFullList("a%1/file"), QString("0 left: 255 files shredded !"));
    limit.rlim_max = 64;
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    QCOMPARE(shredFullList("b%1"), QString("0 left: 255 files shredded !"));
    const QString refused = shredFullList("c%1/file");
    QVERIFY2(refused.startsWith("255 left: Nothing was shredded, and nothing was written: the 255 checked files lie "
                                "in 255 folders"),
             qPrintable(refused));
    // With no descriptor to spare, fewer folders would not help: the advice is one that works.
    limit.rlim_cur = limit.rlim_max = 40;
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    const QString spareNone = shredFullList("d%1/file");
    QVERIFY2(spareNone.endsWith("hold no folder open beside its window. Shred the files one at a time, or raise the "
                                "limit of open files and start the program again."),
             qPrintable(spareNone));
}

QTEST_MAIN(TestBatchShredWindow)
#include "TestBatchShredWindow.moc"
