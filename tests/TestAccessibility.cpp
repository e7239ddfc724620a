// Walks the accessibility tree of every window, as a screen reader sees it: every control that takes
// the focus must be named, the controls without a caption carry names that say what they are, and
// message boxes expose their text.

#include "tests/support/SystemTexts.h"
#include "tests/support/WidgetLookup.h"
#include "tests/support/WindowTestCase.h"
#include "windows/AboutWindow.h"
#include "windows/MessageBox.h"
#include "windows/NotesWindow.h"

#include <QAccessible>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QHelpEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QToolTip>

#include <functional>
#include <memory>

namespace {
QString describe(QAccessibleInterface* node)
{
    QObject* object = node->object();
    return QString("%1 \"%2\" (role %3)")
        .arg(object ? object->metaObject()->className() : "item",
             object ? object->objectName() : QString(),
             QString::number(node->role()));
}

// Every node below `root`, depth first.
void walk(QAccessibleInterface* root, const std::function<void(QAccessibleInterface*)>& visit)
{
    if (!root) {
        return;
    }
    visit(root);
    for (int i = 0; i < root->childCount(); ++i) {
        walk(root->child(i), visit);
    }
}

QStringList namelessFocusable(QWidget* window)
{
    QStringList problems;
    walk(QAccessible::queryAccessibleInterface(window), [&](QAccessibleInterface* node) {
        const QAccessible::State state = node->state();
        if (state.focusable && !state.invisible && node->text(QAccessible::Name).trimmed().isEmpty()) {
            problems << describe(node);
        }
    });
    return problems;
}
} // namespace

class TestAccessibility : public WindowTestCase
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyFocusableControlIsNamed();
    void uncaptionedControlsSayWhatTheyAre_data();
    void uncaptionedControlsSayWhatTheyAre();
    void messageBoxesReadTheirText();
    void statusIsHeardDuringAndAfterARun();
    void listTellsOfPasteBySight();
};

void TestAccessibility::initTestCase()
{
    REQUIRE_TEST_PLATFORM();
}

void TestAccessibility::everyFocusableControlIsNamed()
{
    MainWindow& window = *m_window;
    triggerAction("about");
    triggerAction("note");
    QVERIFY(window.aboutWindow() && window.notesWindow());
    // An entry in the list, so its items are walked too.
    QCOMPARE(drop({QCoreApplication::applicationFilePath()}), 1);

    for (QWidget* each : {static_cast<QWidget*>(&window),
                          static_cast<QWidget*>(window.aboutWindow()),
                          static_cast<QWidget*>(window.notesWindow())}) {
        const QStringList problems = namelessFocusable(each);
        QVERIFY2(problems.isEmpty(), qPrintable(each->objectName() + ": nameless: " + problems.join(", ")));
        QVERIFY(!QAccessible::queryAccessibleInterface(each)->text(QAccessible::Name).isEmpty());
    }
}

void TestAccessibility::uncaptionedControlsSayWhatTheyAre_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("name");
    QTest::newRow("path box") << "Text1"
                              << "Path of the file to shred";
    QTest::newRow("batch list") << "List1"
                                << "Files to shred in a batch";
    QTest::newRow("progress bar") << "pb1"
                                  << "Shredding progress";
    QTest::newRow("status panel") << "sb1Panel1" << Texts::kReady;
    QTest::newRow(Texts::kOpenTitle) << "Command1"
                                     << "Open... (O)";
    QTest::newRow("Shred!") << "Command2"
                            << "Shred! (S)";
    QTest::newRow("B-Shred!") << "Command3"
                              << "B-Shred! (B)";
    QTest::newRow("All") << "Option1"
                         << "All (A)";
    QTest::newRow("None") << "Option2"
                          << "None (N)";
    QTest::newRow("Clear") << "Option3"
                           << "Clear (C)";
}

void TestAccessibility::uncaptionedControlsSayWhatTheyAre()
{
    QFETCH(QString, control);
    QFETCH(QString, name);
    REQUIRE_CHILD(widget, QWidget, m_window, control);
    QAccessibleInterface* node = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(node);
    QCOMPARE(node->text(QAccessible::Name).remove('&'), name);
    QVERIFY2(!node->text(QAccessible::Description).isEmpty(), "no description");
}

void TestAccessibility::messageBoxesReadTheirText()
{
    const MessageBox::Message message{
        Texts::kAreYouSure, "Confirm?", MessageBox::Icon::Question, MessageBox::Buttons::YesNo, MessageBox::Answer::No};
    const std::unique_ptr<QMessageBox> box = QtMessageBox::build(nullptr, message);
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    bool textRead = false;
    walk(QAccessible::queryAccessibleInterface(box.get()), [&](QAccessibleInterface* node) {
        textRead = textRead || node->text(QAccessible::Name).contains(message.text) ||
                   node->text(QAccessible::Description).contains(message.text) ||
                   node->text(QAccessible::Value).contains(message.text);
    });
    QVERIFY(textRead);
    QCOMPARE(QAccessible::queryAccessibleInterface(box.get())->text(QAccessible::Name), message.title);
    QVERIFY(namelessFocusable(box.get()).isEmpty());
}

namespace {
QString nameOf(QWidget* window, const char* control)
{
    QWidget* widget = window->findChild<QWidget*>(control);
    return widget ? QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name)
                  : "<no " + QString(control) + ">";
}
} // namespace

// A screen-reader user hears that a run started, how far it is and that it ended: the panels are
// named by what they show (a label with no fixed name announces each new text as a new name).
void TestAccessibility::statusIsHeardDuringAndAfterARun()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath("letter.txt");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(12'000'000, 'l')) == 12'000'000);
    file.close();

    MainWindow& window = *m_window;
    QStringList activityWhileWriting;
    QStringList percentWhileWriting;
    m_platform->files.beforeWrite = [&](std::int64_t) {
        activityWhileWriting << nameOf(&window, "sb1Panel1");
        percentWhileWriting << nameOf(&window, "sb1Panel2");
        QThread::msleep(20); // a slow disk, so that the status is shown between writes
    };
    // Both show the path as the system spells it: on Windows with backslashes.
    pick(path);
    QCOMPARE(m_window->findChild<QLineEdit*>("Text1")->text(), QDir::toNativeSeparators(path));
    QVERIFY(shredSingle(path));
    QCOMPARE(activityWhileWriting.value(0), "Shredding: " + QDir::toNativeSeparators(path));
    QVERIFY2(percentWhileWriting.filter(QRegularExpression("^Finished: [1-9][0-9]?%$")).size() > 0,
             qPrintable(percentWhileWriting.join(" | ")));
    QCOMPARE(nameOf(&window, "sb1Panel1"), QString(Texts::kReady));
    QCOMPARE(nameOf(&window, "sb1Panel2"), QString(Texts::kFinished));
}

// Paste is found by sight too: pointing at the list's empty part shows a tooltip that tells of Ctrl+V.
void TestAccessibility::listTellsOfPasteBySight()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    REQUIRE_CHILD(list, QListWidget, m_window, "List1");
    const QPoint empty(20, 20);
    QHelpEvent help(QEvent::ToolTip, empty, list->viewport()->mapToGlobal(empty));
    QCoreApplication::sendEvent(list->viewport(), &help);
    QTRY_VERIFY2(QToolTip::text().contains("Ctrl+V"), qPrintable(QToolTip::text()));
}

QTEST_MAIN(TestAccessibility)
#include "TestAccessibility.moc"
