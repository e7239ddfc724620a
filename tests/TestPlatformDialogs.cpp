// The real message boxes and the open-file dialog, as the program shows them.

#include "tests/support/SystemTexts.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WidgetLookup.h"
#include "windows/FileDialog.h"
#include "windows/MessageBox.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>

// The real platform services: the boxes and the dialog the program shows.
class TestPlatformDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void messageBoxProperties_data();
    void messageBoxProperties();
    void enterAnswersTheDefaultButton_data();
    void enterAnswersTheDefaultButton();
    void longWarningReadsWithAndWithoutDetails();
    void fileDialogProperties();
    void fileDialogPickAndCancel();
};

using Message = MessageBox::Message;
using Icon = MessageBox::Icon;
using Buttons = MessageBox::Buttons;
using Answer = MessageBox::Answer;

void TestPlatformDialogs::initTestCase()
{
    REQUIRE_TEST_PLATFORM();
}

void TestPlatformDialogs::messageBoxProperties_data()
{
    QTest::addColumn<Message>("message");
    QTest::addColumn<int>("qtIcon");
    QTest::addColumn<int>("qtButtons");
    QTest::addColumn<int>("qtDefault");

    QTest::newRow("notice")
        << Message{Texts::kAlreadyRunning, Texts::kPrompting, Icon::Information, Buttons::Ok, Answer::Ok}
        << int(QMessageBox::Information) << int(QMessageBox::Ok) << int(QMessageBox::Ok);
    QTest::newRow("missing input")
        << Message{Texts::kSelectFile, Texts::kPrompting, Icon::Exclamation, Buttons::Ok, Answer::Ok}
        << int(QMessageBox::Warning) << int(QMessageBox::Ok) << int(QMessageBox::Ok);
    QTest::newRow("confirmation") << Message{Texts::kAreYouSure, "Confirm?", Icon::Question, Buttons::YesNo, Answer::No}
                                  << int(QMessageBox::Question) << int(QMessageBox::Yes | QMessageBox::No)
                                  << int(QMessageBox::No);
    QTest::newRow("short text, long title")
        << Message{"1 file shredded !", Texts::kDone, Icon::Information, Buttons::Ok, Answer::Ok}
        << int(QMessageBox::Information) << int(QMessageBox::Ok) << int(QMessageBox::Ok);
}

void TestPlatformDialogs::messageBoxProperties()
{
    QFETCH(Message, message);
    QFETCH(int, qtIcon);
    QFETCH(int, qtButtons);
    QFETCH(int, qtDefault);

    const auto box = QtMessageBox::build(nullptr, message);
    QCOMPARE(box->windowTitle(), message.title);
    QCOMPARE(box->text(), message.text);
    QCOMPARE(box->textFormat(), Qt::PlainText);
    QCOMPARE(int(box->icon()), qtIcon);
    QCOMPARE(int(box->standardButtons()), qtButtons);
    QVERIFY(box->defaultButton());
    QCOMPARE(int(box->standardButton(box->defaultButton())), qtDefault);

    // Wide enough for its whole title under a title bar with an icon and three buttons of 24 pixels,
    // a bold title and some padding.
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    QFont titleFont = QApplication::font();
    titleFont.setBold(true);
    const int titleBarNeeds = QFontMetrics(titleFont).horizontalAdvance(message.title) + 4 * 24 + 2 * 8;
    QVERIFY2(box->width() >= titleBarNeeds,
             qPrintable(QString("%1 wide, its title needs %2").arg(box->width()).arg(titleBarNeeds)));
}

void TestPlatformDialogs::enterAnswersTheDefaultButton_data()
{
    QTest::addColumn<Message>("message");
    QTest::addColumn<Answer>("answer");

    QTest::newRow("Yes/No defaults to No")
        << Message{Texts::kAreYouSure, "Confirm?", Icon::Question, Buttons::YesNo, Answer::No} << Answer::No;
    QTest::newRow("OK") << Message{Texts::kShredded, Texts::kDone, Icon::Information, Buttons::Ok, Answer::Ok}
                        << Answer::Ok;
}

// Shows the real modal box and presses Enter in it, as a user would.
void TestPlatformDialogs::enterAnswersTheDefaultButton()
{
    QFETCH(Message, message);
    QFETCH(Answer, answer);

    QString shownTitle;
    QTimer::singleShot(0, [&] {
        QTRY_VERIFY(QApplication::activeModalWidget());
        QWidget* box = QApplication::activeModalWidget();
        shownTitle = box->windowTitle();
        QTest::keyClick(box, Qt::Key_Return);
    });
    QtMessageBox messages;
    QCOMPARE(messages.show(nullptr, message), answer);
    QCOMPARE(shownTitle, message.title);
}

// 14 files that were not shredded: the box names the count and the first file; the details show five
// whole paragraphs with paths of 100 characters; Return and Escape close it with the details open.
void TestPlatformDialogs::longWarningReadsWithAndWithoutDetails()
{
    QStringList paragraphs{"14 of the 14 checked files were not shredded:"};
    for (int i = 0; i < 14; ++i) {
        paragraphs << "/home/user/" + QString(82, QChar('n')) + QString("/%1.txt").arg(i, 2, 10, QChar('0')) +
                          ": cannot open for writing: Permission denied";
    }
    const Message message{paragraphs.join("\n\n"), Texts::kWarning, Icon::Exclamation, Buttons::Ok, Answer::Ok};
    for (const int key : {Qt::Key_Return, Qt::Key_Escape}) {
        const auto box = QtMessageBox::build(nullptr, message);
        QCOMPARE(box->text(), paragraphs[0] + "\n\n" + paragraphs[1]);
        box->show();
        box->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(box.get()));
        QAbstractButton* toggle = nullptr;
        for (QAbstractButton* button : box->findChildren<QAbstractButton*>()) {
            toggle = box->standardButton(button) == QMessageBox::NoButton ? button : toggle;
        }
        QVERIFY(toggle);
        QTest::mouseClick(toggle, Qt::LeftButton);
        auto* details = box->findChild<QTextEdit*>();
        QTRY_VERIFY(details && details->isVisible());
        const QTextDocument* document = details->document();
        const QRectF fifth = document->documentLayout()->blockBoundingRect(document->findBlockByNumber(8));
        const int pathWidth = details->fontMetrics().horizontalAdvance(paragraphs[6].section(':', 0, 0) + ": ");
        QVERIFY2(fifth.bottom() <= details->viewport()->height() &&
                     pathWidth <= details->viewport()->width() - 2 * document->documentMargin(),
                 qPrintable(QString("fifth paragraph %1 to %2 in a pane %3 x %4")
                                .arg(fifth.top())
                                .arg(fifth.bottom())
                                .arg(details->viewport()->width())
                                .arg(details->viewport()->height())));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        QTRY_VERIFY(!box->isVisible());
        QCOMPARE(box->standardButton(box->clickedButton()), QMessageBox::Ok);
    }
}

void TestPlatformDialogs::fileDialogProperties()
{
    QtFileDialog fileDialog;
    fileDialog.setTitle(Texts::kOpenTitle);
    const auto dialog = fileDialog.build(nullptr);
    QCOMPARE(dialog->windowTitle(), QString(Texts::kOpenTitle));
    QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
    QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
    // No filter: every file is offered.
    const QStringList filters = dialog->nameFilters();
    QVERIFY2(filters.isEmpty() || filters == QStringList{QFileDialog::tr("All Files (*)")},
             qPrintable(filters.join(";")));
}

// Picking a file in the real dialog sets the file name; a cancel keeps the one chosen before.
void TestPlatformDialogs::fileDialogPickAndCancel()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = writeTestFile(folder.filePath("picked.txt"), "x");

    QtFileDialog fileDialog;
    fileDialog.setTitle(Texts::kOpenTitle);
    QTimer::singleShot(0, [&] {
        QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        dialog->selectFile(path);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    fileDialog.show(nullptr);
    QCOMPARE(fileDialog.fileName(), path);

    QTimer::singleShot(0, [&] {
        QTRY_VERIFY(qobject_cast<QFileDialog*>(QApplication::activeModalWidget()));
        QApplication::activeModalWidget()->close();
    });
    fileDialog.show(nullptr);
    QCOMPARE(fileDialog.fileName(), path);
}

QTEST_MAIN(TestPlatformDialogs)
#include "TestPlatformDialogs.moc"
