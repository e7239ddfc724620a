// The main window: its controls, layout, menus, status bar and the path box.

#include "app/InstanceGuard.h"
#include "app/MainWindow.h"
#include "app/PictureButton.h"
#include "tests/support/ScriptedPlatform.h"
#include "tests/support/SystemTexts.h"
#include "tests/support/WidgetLookup.h"
#include "tests/support/WindowTestCase.h"
#include "windows/Design.h"
#include "windows/NotesWindow.h"

#include <QApplication>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

#include <memory>
#ifdef _WIN32
#include <windows.h>
#endif

class TestMainWindow : public WindowTestCase
{
    Q_OBJECT

private slots:
    void initialState();
    void geometry_data();
    void geometry();
    void labelsSizedToText();
    void captionsAndTooltips();
    void fonts_data();
    void fonts();
    void colours();
    void pictures();
    void fixedSizeAndTitleBar();
    void centredOnFirstShow();
    void progressBarInFrontOfStatusBar();
    void tabOrder();
    void accessKeysPressButtons_data();
    void accessKeysPressButtons();
    void menus();
    void menuAccessKeys();
    void programmaticChangesRaiseNoEvents();

private:
    QWidget* client() const;
};

QWidget* TestMainWindow::client() const
{
    return m_window->centralWidget();
}

void TestMainWindow::initialState()
{
    QCOMPARE(m_window->objectName(), QString("Form1"));
    QCOMPARE(m_window->windowTitle(), QString(Texts::kTitle));
    REQUIRE_CHILD(text1, QLineEdit, m_window, "Text1");
    QCOMPARE(text1->text(), QString());
    REQUIRE_CHILD(list1, QListWidget, m_window, "List1");
    QCOMPARE(list1->count(), 0);
    REQUIRE_CHILD(label3, QLabel, m_window, "Label3");
    QCOMPARE(label3->text(), QString("0 file selected"));
    REQUIRE_CHILD(label4, QLabel, m_window, "Label4");
    QCOMPARE(label4->text(), QString("0 file displayed"));
    QCOMPARE(panel(1), QString(Texts::kReady));
    QCOMPARE(panel(2), QString());
    REQUIRE_CHILD(pb1, QProgressBar, m_window, "pb1");
    QVERIFY(!pb1->isVisible());
    QCOMPARE(pb1->minimum(), 0);
    QCOMPARE(pb1->maximum(), 100);
    REQUIRE_CHILD(standard, QAction, m_window, "null_");
    REQUIRE_CHILD(enhanced, QAction, m_window, "random");
    QVERIFY(standard->isChecked());
    QVERIFY(!enhanced->isChecked());
    QVERIFY(isStandardMode(m_window->shredMode()));
    QCOMPARE(m_platform->fileDialog.title(), QString(Texts::kOpenTitle));
    QCOMPARE(m_platform->fileDialog.fileName(), QString());
    for (const char* name : {"Option1", "Option2", "Option3"}) {
        REQUIRE_CHILD(option, QRadioButton, m_window, name);
        QVERIFY(!option->isChecked());
    }
    QVERIFY(m_platform->messages.shown().isEmpty());
}

void TestMainWindow::geometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twipsGeometry");

    // Left, top, width and height as designed, in twips.
    QTest::newRow("Image1") << "Image1" << QRect(45, 75, 1800, 5160);
    QTest::newRow("Text1") << "Text1" << QRect(2040, 460, 6180, 365);
    QTest::newRow("Command1") << "Command1" << QRect(3050, 920, 1995, 375);
    QTest::newRow("Command2") << "Command2" << QRect(5160, 920, 1995, 375);
    QTest::newRow("Label6") << "Label6" << QRect(2040, 1425, 6180, 50);
    QTest::newRow("Label5") << "Label5" << QRect(3600, 1580, 3855, 255);
    QTest::newRow("List1") << "List1" << QRect(2040, 1920, 6180, 2220);
    QTest::newRow("Frame1") << "Frame1" << QRect(2160, 4230, 1815, 855);
    QTest::newRow("Option1") << "Option1" << QRect(4080, 4320, 1335, 255);
    QTest::newRow("Option2") << "Option2" << QRect(5280, 4320, 1455, 255);
    QTest::newRow("Option3") << "Option3" << QRect(6765, 4320, 1335, 255);
    QTest::newRow("Command3") << "Command3" << QRect(4425, 4680, 3300, 375);
    QTest::newRow("sb1") << "sb1" << QRect(0, 5280, 8295, 375);
    QTest::newRow("pb1") << "pb1" << QRect(7170, 5355, 1095, 255);
}

void TestMainWindow::geometry()
{
    QFETCH(QString, name);
    QFETCH(QRect, twipsGeometry);
    QCOMPARE(client()->size(), QSize(553, 377));
    REQUIRE_CHILD(widget, QWidget, client(), name);
    QCOMPARE(widget->parentWidget(), client());
    QCOMPARE(widget->geometry(),
             twipsRect(twipsGeometry.x(), twipsGeometry.y(), twipsGeometry.width(), twipsGeometry.height()));
}

void TestMainWindow::labelsSizedToText()
{
    struct Expected
    {
        const char* name;
        const char* parentName;
        QPoint topLeftTwips;
    };
    const Expected labels[] = {
        {"Label1", "client", {2040, 85}},
        {"Label2", "client", {2040, 1560}},
        {"Label3", "Frame1", {120, 300}},
        {"Label4", "Frame1", {120, 600}},
    };
    for (const Expected& expected : labels) {
        REQUIRE_CHILD(label, QLabel, m_window, expected.name);
        QCOMPARE(label->parentWidget()->objectName(), QString(expected.parentName));
        QCOMPARE(label->pos(), QPoint(twips(expected.topLeftTwips.x()), twips(expected.topLeftTwips.y())));
        QCOMPARE(label->size(), label->sizeHint());
    }

    // The lines: the logo's separator, the rule above the status bar and the rule under the menu bar,
    // the last two clipped at the window's right edge.
    REQUIRE_CHILD(line2, QWidget, client(), "Line2");
    QCOMPARE(line2->geometry(), QRect(QPoint(128, 0), QPoint(128, 347)));
    REQUIRE_CHILD(line3, QWidget, client(), "Line3");
    QCOMPARE(line3->geometry().topLeft(), QPoint(128, 347));
    QVERIFY(line3->geometry().right() >= client()->width() - 1);
    REQUIRE_CHILD(line4, QWidget, client(), "Line4");
    QCOMPARE(line4->geometry().topLeft(), QPoint(0, 0));
    QCOMPARE(line4->height(), 1);
    QVERIFY(line4->geometry().right() >= client()->width() - 1);
}

void TestMainWindow::captionsAndTooltips()
{
    const QList<std::tuple<const char*, QString, QString>> expected = {
        {"Label1", "Single Shred!", "Shred an individual file."},
        {"Label2", "Batch Shred!", "Shred one or more files at the same time."},
        {"Command1", "Open... (&O)", "Open the file to shred."},
        {"Command2", "Shred! (&S)", "Shred opened file."},
        {"Command3", "B-Shred! (&B)", "Shred all selected files."},
        {"Label5", "[ Drag the file to the list below ]", ""},
        {"Option1", "All (&A)", ""},
        {"Option2", "None (&N)", ""},
        {"Option3", "Clear (&C)", ""},
    };
    for (const auto& [name, caption, tooltip] : expected) {
        REQUIRE_CHILD(widget, QWidget, m_window, name);
        const QString text = widget->property("text").toString();
        QCOMPARE(text, caption);
        QCOMPARE(widget->toolTip(), tooltip);
    }
    REQUIRE_CHILD(frame, QGroupBox, m_window, "Frame1");
    QCOMPARE(frame->title(), QString("Statistics "));
}

void TestMainWindow::fonts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("designFamily");
    QTest::addColumn<qreal>("pointSize");
    QTest::addColumn<bool>("bold");

    QTest::newRow("Label1") << "Label1"
                            << "MS Serif" << 12.0 << true;
    QTest::newRow("Command2") << "Command2"
                              << "MS Serif" << 12.0 << true;
    QTest::newRow("Command3") << "Command3"
                              << "MS Serif" << 12.0 << true;
    QTest::newRow("Text1") << "Text1"
                           << "Tahoma" << 9.0 << false;
    QTest::newRow("List1") << "List1"
                           << "Tahoma" << 9.0 << false;
    QTest::newRow("Label5") << "Label5"
                            << "MS Sans Serif" << 9.75 << true;
    QTest::newRow("Option3") << "Option3"
                             << "MS Sans Serif" << 9.75 << true;
    QTest::newRow("sb1") << "sb1"
                         << "Trebuchet MS" << 8.25 << false;
    QTest::newRow("Label3 (window default)") << "Label3"
                                             << "SimSun" << 9.0 << false;
}

void TestMainWindow::fonts()
{
    QFETCH(QString, name);
    QFETCH(QString, designFamily);
    QFETCH(qreal, pointSize);
    QFETCH(bool, bold);
    REQUIRE_CHILD(widget, QWidget, m_window, name);
    const QFont font = widget->font();
    QCOMPARE(font.families().value(0), designFamily);
    QCOMPARE(font.pointSizeF(), pointSize);
    QCOMPARE(font.bold(), bold);
    // The font actually used is the design font or one of its listed substitutes, never some default.
    const QString used = QFontInfo(font).family();
    QVERIFY2(font.families().contains(used), qPrintable(used + " is not among " + font.families().join(", ")));
}

void TestMainWindow::colours()
{
    const QColor window(248, 224, 192);
    QCOMPARE(client()->palette().color(client()->backgroundRole()), window);
    QVERIFY(client()->autoFillBackground());

    REQUIRE_CHILD(text1, QLineEdit, m_window, "Text1");
    QCOMPARE(text1->palette().color(QPalette::Base), QColor(128, 255, 128));
    QCOMPARE(text1->palette().color(QPalette::Text), QColor(255, 0, 0));
    REQUIRE_CHILD(list1, QListWidget, m_window, "List1");
    QCOMPARE(list1->palette().color(QPalette::Base), QColor(255, 192, 255));
    QCOMPARE(list1->palette().color(QPalette::Text), QColor(0, 0, 255));
    REQUIRE_CHILD(label5, QLabel, m_window, "Label5");
    QCOMPARE(label5->palette().color(QPalette::WindowText), QColor(0, 128, 0));
    REQUIRE_CHILD(label6, QLabel, m_window, "Label6");
    QCOMPARE(label6->palette().color(label6->backgroundRole()), QColor(192, 192, 192));
    QVERIFY(!label6->isEnabled());
    for (const char* name : {"Option1", "Option2", "Option3", "Frame1"}) {
        REQUIRE_CHILD(widget, QWidget, m_window, name);
        QCOMPARE(widget->palette().color(widget->backgroundRole()), window);
    }
    // What is drawn matches: a pixel of the window background and one inside the path box.
    const QImage image = m_window->grab().toImage();
    const QPoint clientOrigin = client()->mapTo(m_window, QPoint(0, 0));
    QCOMPARE(image.pixelColor(clientOrigin + QPoint(300, 8)), window);
    QCOMPARE(image.pixelColor(clientOrigin + text1->geometry().center() + QPoint(150, 0)), QColor(128, 255, 128));
}

void TestMainWindow::pictures()
{
    QVERIFY(!m_window->windowIcon().isNull());
    QCOMPARE(m_window->windowIcon().availableSizes().value(0), QSize(32, 32));
    REQUIRE_CHILD(logo, QLabel, m_window, "Image1");
    QCOMPARE(logo->pixmap().size(), QSize(116, 340));
    REQUIRE_CHILD(command1, PictureButton, m_window, "Command1");
    REQUIRE_CHILD(command2, PictureButton, m_window, "Command2");
    REQUIRE_CHILD(command3, PictureButton, m_window, "Command3");
    QCOMPARE(command1->picture().size(), QSize(155, 46));
    QCOMPARE(command2->picture().size(), QSize(155, 46));
    QCOMPARE(command3->picture().size(), QSize(294, 43));
    // The face: the picture fills the button (it is larger and clipped), so a point off the caption
    // shows the picture's colours rather than the white face or the window's colour.
    const QImage face = command3->grab().toImage();
    const QColor sample = face.pixelColor(8, command3->height() / 2);
    QVERIFY2(sample.blue() > sample.red() && sample != QColor(Qt::white), qPrintable(sample.name()));
}

void TestMainWindow::fixedSizeAndTitleBar()
{
    const QSize size = m_window->size();
    QCOMPARE(m_window->minimumSize(), size);
    QCOMPARE(m_window->maximumSize(), size);
    const Qt::WindowFlags flags = m_window->windowFlags();
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(flags & Qt::WindowSystemMenuHint);
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));

    m_window->resize(size + QSize(100, 100));
    QCOMPARE(m_window->size(), size);
#ifdef _WIN32
    // Windows takes the frame and the boxes from the window's style: a frame that cannot be dragged,
    // and no maximize box, so that neither the user nor the system menu can maximize it.
    const LONG_PTR style = ::GetWindowLongPtrW(reinterpret_cast<HWND>(m_window->winId()), GWL_STYLE);
    QCOMPARE(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
#else
    // A window manager asked to maximize it leaves it as it is, and a frame of Qt's own that asked is
    // told it is not maximized.
    m_window->showMaximized();
    QCOMPARE(m_window->size(), size);
    QTRY_VERIFY(!(m_window->windowState() & Qt::WindowMaximized));
#endif
    m_window->showMinimized();
    QTRY_VERIFY(m_window->isMinimized());
    m_window->showNormal();
    QTRY_VERIFY(!m_window->isMinimized());
    QCOMPARE(m_window->size(), size);
}

void TestMainWindow::centredOnFirstShow()
{
    const QRect screen = m_window->screen()->availableGeometry();
    const QPoint offset = m_window->frameGeometry().center() - screen.center();
    QVERIFY2(offset.manhattanLength() <= 4, qPrintable(QString("off centre by %1,%2").arg(offset.x()).arg(offset.y())));
}

void TestMainWindow::progressBarInFrontOfStatusBar()
{
    REQUIRE_CHILD(pb1, QProgressBar, m_window, "pb1");
    REQUIRE_CHILD(sb1, QStatusBar, m_window, "sb1");
    REQUIRE_CHILD(panel2, QLabel, sb1, "sb1Panel2");
    pb1->show();
    QVERIFY(sb1->geometry().contains(pb1->geometry()));
    // Later siblings are drawn on top.
    QVERIFY(client()->children().indexOf(pb1) > client()->children().indexOf(sb1));
    QCOMPARE(client()->childAt(pb1->geometry().center()), pb1);
    // Panel 2's text stays readable to the left of the bar, the widest percentages included, with a
    // few pixels of air so that no glyph's ink touches the bar.
    const int panel2Left = sb1->mapTo(client(), panel2->geometry().topLeft()).x();
    QCOMPARE(panel2Left, twips(5910));
    for (const QString& text : {QString("Finished: 99%"), QString(Texts::kFinished)}) {
        const int textRight = panel2Left + panel2->contentsRect().left() + panel2->indent() +
                              panel2->fontMetrics().horizontalAdvance(text);
        QVERIFY2(textRight + 3 <= pb1->x(),
                 qPrintable(QString("%1 ends at %2, the bar starts at %3").arg(text).arg(textRight).arg(pb1->x())));
    }
}

void TestMainWindow::tabOrder()
{
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    REQUIRE_CHILD(text1, QLineEdit, m_window, "Text1");
    text1->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), text1);
    const QStringList expected = {"Command1", "Command2", "List1", "Command3", "Option1"};
    for (const QString& name : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), name);
    }
    // Nothing else in the window takes the focus.
    const QSet<QString> focusable = {
        "Text1", "Command1", "Command2", "List1", "Command3", "Option1", "Option2", "Option3"};
    for (QWidget* widget : client()->findChildren<QWidget*>()) {
        if (widget->focusPolicy() & Qt::TabFocus && widget->isVisible() && !widget->objectName().isEmpty()) {
            QVERIFY2(focusable.contains(widget->objectName()), qPrintable(widget->objectName()));
        }
    }
}

void TestMainWindow::accessKeysPressButtons_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("key");

    QTest::newRow("Alt+O") << "Command1" << int(Qt::Key_O);
    QTest::newRow("Alt+S") << "Command2" << int(Qt::Key_S);
    QTest::newRow("Alt+B") << "Command3" << int(Qt::Key_B);
    QTest::newRow("Alt+A") << "Option1" << int(Qt::Key_A);
    QTest::newRow("Alt+N") << "Option2" << int(Qt::Key_N);
    QTest::newRow("Alt+C") << "Option3" << int(Qt::Key_C);
}

void TestMainWindow::accessKeysPressButtons()
{
    QFETCH(QString, name);
    QFETCH(int, key);
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    REQUIRE_CHILD(button, QAbstractButton, m_window, name);
    QSignalSpy clicked(button, &QAbstractButton::clicked);
    QTest::keyClick(m_window, Qt::Key(key), Qt::AltModifier);
    QTRY_COMPARE(clicked.count(), 1); // an access key presses the button visibly, then clicks
}

void TestMainWindow::menus()
{
    struct Entry
    {
        const char* name;
        const char* caption;
    };
    REQUIRE_CHILD(file, QMenu, m_window, "f");
    REQUIRE_CHILD(help, QMenu, m_window, "h");
    REQUIRE_CHILD(mode, QMenu, m_window, "mode");
    QCOMPARE(m_window->menuBar()->actions(), (QList<QAction*>{file->menuAction(), help->menuAction()}));
    QCOMPARE(file->title(), QString("File(&F)"));
    QCOMPARE(help->title(), QString("Help(&H)"));
    QCOMPARE(mode->title(), QString("Shred! mode select(&S)"));

    const auto names = [](const QMenu* menu) {
        QStringList result;
        for (const QAction* action : menu->actions()) {
            result << (action->menu() ? action->menu()->objectName() : action->objectName());
        }
        return result;
    };
    QCOMPARE(names(file), (QStringList{"mode", "ff", "e"}));
    QCOMPARE(names(mode), (QStringList{"null_", "random"}));
    QCOMPARE(names(help), (QStringList{"about", "note", "gsadfasdf", "mol"}));

    const Entry entries[] = {
        {"null_", "Standard mode [Default](&S)"},
        {"random", "Enhanced mode(&R)"},
        {"e", "Exit(&E)"},
        {"about", "About...(&A)"},
        {"note", "Notes(&N)"},
        {"mol", "Message online(&M)"},
    };
    for (const Entry& entry : entries) {
        REQUIRE_CHILD(action, QAction, m_window, entry.name);
        QCOMPARE(action->text(), QString(entry.caption));
        QVERIFY(action->isEnabled());
        QVERIFY2(action->shortcut().isEmpty(), entry.name);
    }
    for (const char* name : {"ff", "gsadfasdf"}) {
        REQUIRE_CHILD(separator, QAction, m_window, name);
        QVERIFY(separator->isSeparator());
    }
    REQUIRE_CHILD(standard, QAction, m_window, "null_");
    REQUIRE_CHILD(enhanced, QAction, m_window, "random");
    QVERIFY(standard->isCheckable() && enhanced->isCheckable());
}

void TestMainWindow::menuAccessKeys()
{
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    REQUIRE_CHILD(file, QMenu, m_window, "f");
    REQUIRE_CHILD(mode, QMenu, m_window, "mode");
    REQUIRE_CHILD(enhanced, QAction, m_window, "random");

    // Alt+F opens File; S opens the mode submenu; R chooses Enhanced mode.
    QTest::keyClick(m_window, Qt::Key_F, Qt::AltModifier);
    QTRY_VERIFY(file->isVisible());
    QTest::keyClick(file, Qt::Key_S);
    QTRY_VERIFY(mode->isVisible());
    QTest::keyClick(mode, Qt::Key_R);
    QTRY_VERIFY(!file->isVisible());
    QVERIFY(enhanced->isChecked());
    QVERIFY(!isStandardMode(m_window->shredMode()));

    // Alt+H opens Help; N chooses Notes.
    REQUIRE_CHILD(help, QMenu, m_window, "h");
    QTest::keyClick(m_window, Qt::Key_H, Qt::AltModifier);
    QTRY_VERIFY(help->isVisible());
    QTest::keyClick(help, Qt::Key_N);
    QTRY_VERIFY(m_window->notesWindow() && m_window->notesWindow()->isVisible());
}

void TestMainWindow::programmaticChangesRaiseNoEvents()
{
    REQUIRE_CHILD(standard, QAction, m_window, "null_");
    REQUIRE_CHILD(enhanced, QAction, m_window, "random");
    QSignalSpy standardTriggered(standard, &QAction::triggered);
    QSignalSpy enhancedTriggered(enhanced, &QAction::triggered);
    enhanced->setChecked(true);
    standard->setChecked(false);
    QCOMPARE(standardTriggered.count() + enhancedTriggered.count(), 0);
    QVERIFY(isStandardMode(m_window->shredMode())); // a check mark set by code switches nothing

    // The exception: a check mark of the list set by code is reported like a click.
    REQUIRE_CHILD(list1, QListWidget, m_window, "List1");
    auto* entry = new QListWidgetItem("entry", list1);
    entry->setFlags(entry->flags() | Qt::ItemIsUserCheckable);
    entry->setCheckState(Qt::Unchecked);
    QSignalSpy changed(list1, &QListWidget::itemChanged);
    entry->setCheckState(Qt::Checked);
    QCOMPARE(changed.count(), 1);
}

QTEST_MAIN(TestMainWindow)
#include "TestMainWindow.moc"
