// The single shred through the window: Open..., Shred! and what the window shows meanwhile.

#include "app/ProgressPainter.h"
#include "filelist/NativePaths.h"
#include "shred/RunProgress.h"
#include "tests/support/HangWatchdog.h"
#include "tests/support/SystemTexts.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WidgetLookup.h"
#include "tests/support/WindowTestCase.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/stat.h>

using Message = MessageBox::Message;
using enum MessageBox::Icon;

namespace {
const Message kConfirm{Texts::kAreYouSure, "Confirm?", Question, MessageBox::Buttons::YesNo, MessageBox::Answer::No};
const Message kShredded{Texts::kShredded, Texts::kDone, Information};
const Message kSelectFile{Texts::kSelectFile, Texts::kPrompting, Exclamation};
const Message kInvalidFile{Texts::kInvalidFile, Texts::kWarning, Exclamation};

Message warning(const QString& text)
{
    return {text, Texts::kWarning, Exclamation};
}

// Counts the times a window itself is painted.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return QObject::eventFilter(watched, event);
    }
};
} // namespace

class TestSingleShredWindow : public WindowTestCase
{
    Q_OBJECT

private slots:
    void pickedFileIsShreddedWithTheDesignedBoxes();
    void emptyPathBoxIsRefused();
    void emptyFileIsRefusedWithTheBarShown();
    void confirmationDefaultsToNo();
    void cancelledDialogGivesBackItsLastFileName();
    void readOnlyFileIsShredded();
    void enhancedModeWritesOnePatternOfNonZeroBytes();
    void unshreddableTargetsAreWarnedAboutUntouched_data();
    void unshreddableTargetsAreWarnedAboutUntouched();
    void failedDeletionIsReportedNotCelebrated();
    void largeMaximumIsScaledOntoTheBar();
    void paintingIsThrottled();

private:
    void cancelDialog();
    void pressShred();
    QString text1() const;
    QProgressBar* bar() const;
};

void TestSingleShredWindow::cancelDialog()
{
    const int shown = m_platform->fileDialog.timesShown();
    click("Command1");
    QCOMPARE(m_platform->fileDialog.timesShown(), shown + 1);
}

void TestSingleShredWindow::pressShred()
{
    click("Command2");
}

QString TestSingleShredWindow::text1() const
{
    return caption("Text1");
}

QProgressBar* TestSingleShredWindow::bar() const
{
    return m_window->findChild<QProgressBar*>("pb1");
}

void TestSingleShredWindow::pickedFileIsShreddedWithTheDesignedBoxes()
{
    const QString path = makeFile("report.txt", 12345);
    pick(path);
    QCOMPARE(text1(), path);
    QCOMPARE(m_platform->fileDialog.titlesShown(), QList<QString>{Texts::kOpenTitle});

    QString panelWhileConfirming;
    bool barShownWhileConfirming = false;
    // The run keeps the event loop waiting, so the window must be painted over the closed box before
    // the first block is written.
    PaintCounter window;
    m_window->installEventFilter(&window);
    int paintsWhileConfirming = -1;
    int paintsAtFirstWrite = -1;
    m_platform->messages.setOnShow([&](const Message& message) {
        if (message.title == "Confirm?") {
            barShownWhileConfirming = bar()->isVisible() && bar()->value() == 0;
            panelWhileConfirming = panel(1);
            paintsWhileConfirming = window.paints;
        }
    });
    m_platform->files.beforeWrite = [&](std::int64_t) {
        if (paintsAtFirstWrite < 0) {
            paintsAtFirstWrite = window.paints;
        }
    };
    m_platform->messages.setNextAnswer(MessageBox::Answer::Yes);
    pressShred();

    QCOMPARE(m_platform->messages.shown(), (QList<Message>{kConfirm, kShredded}));
    QVERIFY2(
        paintsAtFirstWrite > paintsWhileConfirming,
        qPrintable(
            QString("%1 paints at the box, %2 at the first write").arg(paintsWhileConfirming).arg(paintsAtFirstWrite)));
    QVERIFY(barShownWhileConfirming);
    QCOMPARE(panelWhileConfirming, QString(Texts::kReady));
    QVERIFY(!QFile::exists(path));
    QCOMPARE(contentBeforeDelete(path), QByteArray(15000, '\0'));
    QCOMPARE(text1(), QString());
    QCOMPARE(m_platform->fileDialog.fileName(), QString());
    QVERIFY(bar()->isVisible());
    QCOMPARE(bar()->maximum(), 17345);
    QCOMPARE(bar()->value(), 17345);
    QCOMPARE(panel(1), QString(Texts::kReady));
    QCOMPARE(panel(2), QString(Texts::kFinished));

    // At once again: the path box is empty.
    m_platform->messages.clear();
    pressShred();
    QCOMPARE(m_platform->messages.shown(), QList<Message>{kSelectFile});
}

void TestSingleShredWindow::emptyPathBoxIsRefused()
{
    pressShred();
    QCOMPARE(m_platform->messages.shown(), QList<Message>{kSelectFile});
    QVERIFY(bar()->isHidden());
    QCOMPARE(panel(1), QString(Texts::kReady));
    QCOMPARE(panel(2), QString());
}

void TestSingleShredWindow::emptyFileIsRefusedWithTheBarShown()
{
    const QString path = makeFile("empty", 0);
    pick(path);
    pressShred();
    QCOMPARE(m_platform->messages.shown(), QList<Message>{kInvalidFile});
    QVERIFY(bar()->isVisible());
    QCOMPARE(bar()->value(), 0);
    QCOMPARE(text1(), path);
    QVERIFY(QFile::exists(path));
}

void TestSingleShredWindow::confirmationDefaultsToNo()
{
    const QString path = makeFile("keep", 700, 'k');
    pick(path);
    pressShred(); // no answer queued: the box is answered with its default button, as Enter would
    QCOMPARE(m_platform->messages.shown(), QList<Message>{kConfirm});
    QCOMPARE(text1(), path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray(700, 'k'));
    QVERIFY(bar()->isVisible());
    QCOMPARE(bar()->value(), 0);
    QCOMPARE(panel(2), QString());
}

void TestSingleShredWindow::cancelledDialogGivesBackItsLastFileName()
{
    const QString first = makeFile("first", 10);
    pick(first);
    m_window->findChild<QLineEdit*>("Text1")->clear();
    cancelDialog(); // the dialog still holds the earlier pick
    QCOMPARE(text1(), first);

    m_platform->messages.setNextAnswer(MessageBox::Answer::Yes);
    pressShred();
    QVERIFY(!QFile::exists(first));
    cancelDialog(); // after a completed shred there is nothing to give back
    QCOMPARE(text1(), QString());
}

void TestSingleShredWindow::readOnlyFileIsShredded()
{
    const QString path = makeFile("read-only", 5000);
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    pick(path);
    m_platform->messages.setNextAnswer(MessageBox::Answer::Yes);
    pressShred();
    QCOMPARE(m_platform->messages.shown(), (QList<Message>{kConfirm, kShredded}));
    QVERIFY(!QFile::exists(path));
    QCOMPARE(contentBeforeDelete(path), QByteArray(5000, '\0'));
}

void TestSingleShredWindow::enhancedModeWritesOnePatternOfNonZeroBytes()
{
    triggerAction("random");
    const QString path = makeFile("secret", 12000);
    pick(path);
    m_platform->messages.setNextAnswer(MessageBox::Answer::Yes);
    pressShred();
    const QByteArray written = contentBeforeDelete(path);
    QCOMPARE(written.size(), 15000);
    QVERIFY(!written.contains('\0'));
    const QByteArray block = written.left(5000);
    QCOMPARE(written.mid(5000, 5000), block);
    QCOMPARE(written.mid(10000), block);
    QVERIFY(block != QByteArray(5000, 'x'));
}

void TestSingleShredWindow::unshreddableTargetsAreWarnedAboutUntouched_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing path") << "missing"
                                  << "the file is no longer there; nothing was written";
    QTest::newRow("directory") << "directory"
                               << "not a regular file (a directory); nothing was written";
    QTest::newRow("symbolic link") << "symlink"
                                   << "not a regular file (a symbolic link); nothing was written";
    QTest::newRow("FIFO without a reader") << "fifo"
                                           << "not a regular file (a FIFO); nothing was written";
}

void TestSingleShredWindow::unshreddableTargetsAreWarnedAboutUntouched()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    const QString target = makeFile("target", 1234, 't');
    const QString path = folder().filePath(kind);
    if (kind == "directory") {
        QVERIFY(QDir().mkdir(path));
    } else if (kind == "symlink") {
        QVERIFY(QFile::link(target, path));
    } else if (kind == "fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    }
    pick(path);
    m_platform->messages.setNextAnswer(MessageBox::Answer::Yes);
    {
        const HangWatchdog watchdog("Shred! on a " + kind.toStdString(), std::chrono::seconds(5));
        pressShred();
    }

    QCOMPARE(m_platform->messages.shown(), QList<Message>{warning(path + ": " + reason)});
    QCOMPARE(text1(), path);
    QCOMPARE(panel(1), QString(Texts::kReady));
    QFile file(target);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray(1234, 't'));
}

void TestSingleShredWindow::failedDeletionIsReportedNotCelebrated()
{
    const QString path = makeFile("stays", 100);
    // Just before the deletion a folder takes the file's place, so the deletion fails even for root.
    m_platform->files.beforeDelete = [&](const NativePath& native) {
        const QString target = NativePaths::shown(native);
        QVERIFY(QFile::rename(target, target + ".moved"));
        QVERIFY(QDir().mkdir(target));
    };
    pick(path);
    m_platform->messages.setNextAnswer(MessageBox::Answer::Yes);
    pressShred();
    QCOMPARE(
        m_platform->messages.shown(),
        (QList<Message>{
            kConfirm,
            warning(path +
                    ": contents destroyed, but the file could not be deleted and is still there: Is a directory")}));
    QCOMPARE(text1(), path);
    QCOMPARE(panel(1), QString(Texts::kReady));
}

void TestSingleShredWindow::largeMaximumIsScaledOntoTheBar()
{
    QProgressBar bar;
    QLabel activity;
    QLabel percent;
    ProgressPainter painter(&bar, &activity, &percent);
    RunProgress progress(&painter);
    progress.StartProgress();
    const qint64 length = (qint64{5} << 30) + 1; // past what the bar's int can hold
    progress.setMaximum(length + 5000);
    for (int i = 0; i < 3; ++i) {
        progress.StepProgress();
    }
    progress.FinishProgress();
    QVERIFY(bar.maximum() > 0);
    QCOMPARE(bar.value(), bar.maximum());
    QCOMPARE(bar.maximum(), static_cast<int>(progress.maximum() / ProgressPainter::barScale(progress.maximum())));
    QCOMPARE(progress.maximum(), length + 5000); // the logical maximum keeps the full figure
    QCOMPARE(percent.text(), QString(Texts::kFinished));

    progress.StartProgress();
    progress.setMaximum(length + 5000);
    for (int i = 0; i < 100'000; ++i) {
        progress.StepProgress();
    }
    painter.flush();
    QCOMPARE(percent.text(), QString("Finished: 9%")); // 500,000,000 of 5,368,714,241
    const double shown = double(bar.value()) / bar.maximum();
    QVERIFY(qAbs(shown - 500'000'000.0 / (length + 5000)) < 1e-6);
}

void TestSingleShredWindow::paintingIsThrottled()
{
    QProgressBar bar;
    QLabel activity;
    QLabel percent;
    bar.show();
    ProgressPainter painter(&bar, &activity, &percent);
    RunProgress progress(&painter);
    QElapsedTimer timer;
    timer.start();
    progress.StartProgress();
    progress.setMaximum(qint64{1} << 40);
    for (int i = 0; i < 2'000'000; ++i) {
        progress.StepProgress();
        if (i % 1000 == 0) { // a batch of small files names a new one every few steps
            progress.showActivity("Shredding: file " + std::to_string(i));
            QCOMPARE(activity.text(), QString("Shredding: file %1").arg(i)); // for a screen reader, at once
        }
    }
    progress.FinishProgress();
    const qint64 elapsed = timer.elapsed();
    // The start and the end, and at most one paint per 16 ms in between.
    QVERIFY2(painter.paintCount() <= elapsed / 16 + 3,
             qPrintable(QString("%1 paints in %2 ms").arg(painter.paintCount()).arg(elapsed)));
    QVERIFY(painter.paintCount() >= 2);
    QCOMPARE(percent.text(), QString(Texts::kFinished));
}

QTEST_MAIN(TestSingleShredWindow)
#include "TestSingleShredWindow.moc"
