// The About and Notes windows: their layout, links, hover lights and life beside the main window.

#include "app/InstanceGuard.h"
#include "app/MainWindow.h"
#include "tests/support/ScriptedPlatform.h"
#include "tests/support/WidgetLookup.h"
#include "tests/support/WindowTestCase.h"
#include "windows/AboutWindow.h"
#include "windows/Design.h"
#include "windows/LinkLabel.h"
#include "windows/NotesWindow.h"

#include <QAction>
#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTest>

#include <memory>

namespace {
const QColor kWhite(255, 255, 255);
const QColor kLightCyan(192, 255, 255);
const QColor kYellow(255, 255, 0);

int visibleTopLevels(const QString& name)
{
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        count += widget->objectName() == name && widget->isVisible();
    }
    return count;
}

bool centred(const QWidget* window)
{
    const QRect screen = window->screen()->availableGeometry();
    return (window->frameGeometry().center() - screen.center()).manhattanLength() <= 4;
}

// Moves the pointer over a point of a window the way the desktop does: through the window, which
// hands the move to whatever control lies under the point.
void movePointer(QWidget* window, QPoint position)
{
    QTest::mouseMove(window->windowHandle(), position);
}

QPoint centreOf(const QWidget* window, const QWidget* control)
{
    return control->mapTo(window, control->rect().center());
}
} // namespace

class TestInfoWindows : public WindowTestCase
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void notesWindowLayout();
    void notesOpensOnceAndFreshAfterClose();
    void aboutWindowLayout();
    void aboutTextFitsItsDesignedBox_data();
    void aboutTextFitsItsDesignedBox();
    void noticeHasOneLineOnEverySide();
    void aboutOpensOnceAndFreshAfterClose();
    void windowsAreModelessWithoutOwner();
    void hoverLightsAndResets();
    void hoverOverPlainControlsChangesNothing();
    void leavingALabelKeepsItLit();
    void linkTargets();
    void messageOnline();

private:
    AboutWindow* openAbout();
    NotesWindow* openNotes();
};

void TestInfoWindows::init()
{
    WindowTestCase::init();
    // Qt drops a move to the pointer's current position, and the windows of every test open at the same
    // place: park the pointer on the main window so each test's first move is a real one.
    QTest::mouseMove(m_window->windowHandle(), QPoint(1, 1));
}

void TestInfoWindows::cleanup()
{
    WindowTestCase::cleanup();
    QTRY_COMPARE(visibleTopLevels("Form2") + visibleTopLevels("Form3"), 0);
}

AboutWindow* TestInfoWindows::openAbout()
{
    triggerAction("about");
    AboutWindow* about = m_window->aboutWindow();
    if (about && !QTest::qWaitForWindowExposed(about)) {
        return nullptr;
    }
    return about;
}

NotesWindow* TestInfoWindows::openNotes()
{
    triggerAction("note");
    NotesWindow* notes = m_window->notesWindow();
    if (notes && !QTest::qWaitForWindowExposed(notes)) {
        return nullptr;
    }
    return notes;
}

void TestInfoWindows::notesWindowLayout()
{
    NotesWindow* notes = openNotes();
    QVERIFY(notes);
    QCOMPARE(notes->objectName(), QString("Form3"));
    QCOMPARE(notes->windowTitle(), QString("Notes"));
    QCOMPARE(notes->size(), QSize(599, 109));
    QCOMPARE(notes->minimumSize(), notes->maximumSize());
    const Qt::WindowFlags flags = notes->windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool); // small title bar, no taskbar button
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(notes->palette().color(notes->backgroundRole()), QColor(192, 192, 192));

    const QList<std::pair<const char*, QString>> texts = {
        {"Heading", "Shred! mode descriptions"},
        {"StandardName", "Standard mode"},
        {"StandardReference", "Reference Standard: DoD 5220.22-M(US) "},
        {"EnhancedName", "Enhanced mode"},
        {"EnhancedReference", "Reference Standard: Gutmann ,VSITR(GER) ,GOST P50739-95(RU)"},
    };
    for (const auto& [name, text] : texts) {
        REQUIRE_CHILD(label, QLabel, notes, name);
        QCOMPARE(label->text(), text);
    }
    REQUIRE_CHILD(heading, QLabel, notes, "Heading");
    QVERIFY(heading->font().bold() && heading->font().italic());
    QCOMPARE(heading->font().pointSizeF(), 13.5);
    QCOMPARE(heading->pos(), QPoint(twips(860), twips(240)));
    REQUIRE_CHILD(reference, QLabel, notes, "EnhancedReference");
    QCOMPARE(reference->geometry(), twipsRect(2550, 1200, 6345, 240));
    QCOMPARE(reference->palette().color(QPalette::WindowText), QColor(255, 0, 255));
    QCOMPARE(reference->palette().color(reference->backgroundRole()), QColor(255, 255, 128));
    REQUIRE_CHILD(icon, QLabel, notes, "Icon");
    QCOMPARE(icon->pixmap().size(), QSize(32, 32));
    REQUIRE_CHILD(rule, QFrame, notes, "Rule");
    QCOMPARE(rule->geometry(), twipsRect(920, 600, 7980, 45));
    // Nothing in the window takes input.
    for (QWidget* child : notes->findChildren<QWidget*>()) {
        QCOMPARE(child->focusPolicy(), Qt::NoFocus);
    }
}

void TestInfoWindows::notesOpensOnceAndFreshAfterClose()
{
    QPointer<NotesWindow> first = openNotes();
    QVERIFY(first);
    QVERIFY(centred(first));
    QCOMPARE(openNotes(), first.data());
    QCOMPARE(visibleTopLevels("Form3"), 1);

    first->move(first->pos() + QPoint(40, 40));
    first->close();
    QTRY_VERIFY(!first); // closing destroys the window
    QVERIFY(!m_window->notesWindow());
    QVERIFY(m_window->isVisible()); // and only that window

    NotesWindow* second = openNotes();
    QVERIFY(second);
    QVERIFY(centred(second));
    QCOMPARE(visibleTopLevels("Form3"), 1);
}

void TestInfoWindows::aboutWindowLayout()
{
    AboutWindow* about = openAbout();
    QVERIFY(about);
    QCOMPARE(about->objectName(), QString("Form2"));
    QCOMPARE(about->windowTitle(), QString("About"));
    QCOMPARE(about->size(), QSize(427, 306));
    QCOMPARE(about->minimumSize(), about->maximumSize());
    const Qt::WindowFlags flags = about->windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(flags & Qt::WindowSystemMenuHint);
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(!about->windowIcon().isNull());
    QCOMPARE(about->palette().color(about->backgroundRole()), kWhite);

    const QList<std::pair<const char*, QString>> texts = {
        {"Label1", "Version 1.0"},
        {"lblurl", "Visit home page"},
        {"Label3", "To contact us, please send email to :"},
        {"lblemail", ZORVIK_CONTACT_ADDRESS},
        {"lblmore", "<<More...>>"},
    };
    for (const auto& [name, text] : texts) {
        REQUIRE_CHILD(label, QLabel, about, name);
        QCOMPARE(label->text(), text);
        QCOMPARE(label->focusPolicy(), Qt::NoFocus);
    }
    for (const char* name : {"lblurl", "lblemail", "lblmore"}) {
        REQUIRE_CHILD(link, LinkLabel, about, name);
        QVERIFY(link->font().underline());
        QCOMPARE(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        QVERIFY(link->autoFillBackground()); // opaque, since hovering changes the background
        QCOMPARE(link->background(), kWhite);
        QCOMPARE(link->cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(link->cursor().pixmap().size(), QSize(32, 32));
    }
    REQUIRE_CHILD(banner, QLabel, about, "Image1");
    QCOMPARE(banner->geometry(), twipsRect(1440, 0, 3480, 720));
    QCOMPARE(banner->pixmap().size(), QSize(232, 48));
    REQUIRE_CHILD(notice, QLabel, about, "Image2");
    QCOMPARE(notice->geometry(), twipsRect(1410, 3960, 3630, 540));
    QCOMPARE(notice->pixmap().size(), QSize(238, 32));
    REQUIRE_CHILD(line, QWidget, about, "Line1");
    QCOMPARE(line->geometry().topLeft(), QPoint(0, 48));
    QCOMPARE(line->height(), 1);
    QVERIFY(line->geometry().right() >= about->width() - 1); // runs to the right edge
}

// The texts were laid out in a font of 8-pixel glyphs: the substitute keeps each within a glyph of
// its designed box, so nothing runs into the window's edge and the version stays on the banner's axis.
void TestInfoWindows::aboutTextFitsItsDesignedBox_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("designedTwips");
    QTest::newRow("version") << "Label1" << QRect(2540, 840, 1320, 240);
    QTest::newRow("contact line") << "Label3" << QRect(960, 1920, 4440, 240);
}

void TestInfoWindows::aboutTextFitsItsDesignedBox()
{
    QFETCH(QString, name);
    QFETCH(QRect, designedTwips);
    AboutWindow* about = openAbout();
    QVERIFY(about);
    REQUIRE_CHILD(label, QLabel, about, name);
    const QRect designed =
        twipsRect(designedTwips.x(), designedTwips.y(), designedTwips.width(), designedTwips.height());
    const int textWidth = label->fontMetrics().horizontalAdvance(label->text());
    QVERIFY2(qAbs(textWidth - designed.width()) <= 8,
             qPrintable(QString("%1 pixels of text in a box of %2").arg(textWidth).arg(designed.width())));
    QVERIFY(label->width() <= designed.width() + 8);
    QVERIFY(label->height() <= designed.height() + 4);
    QCOMPARE(label->pos(), designed.topLeft());
    REQUIRE_CHILD(banner, QLabel, about, "Image1");
    if (name == "Label1") {
        QVERIFY2(qAbs(label->geometry().center().x() - banner->geometry().center().x()) <= 4,
                 qPrintable(QString("version centred at %1, banner at %2")
                                .arg(label->geometry().center().x())
                                .arg(banner->geometry().center().x())));
    }
}

// The notice has a single line on all four sides, visible on the white window.
void TestInfoWindows::noticeHasOneLineOnEverySide()
{
    AboutWindow* about = openAbout();
    QVERIFY(about);
    REQUIRE_CHILD(notice, QLabel, about, "Image2");
    const QImage drawn = notice->grab().toImage();
    const int midX = drawn.width() / 2;
    const int midY = drawn.height() / 2;
    // Each side: its edge pixel, and the one just inside it.
    for (const auto& [edge, inside] : {std::pair{QPoint(midX, 0), QPoint(midX, 1)},
                                       {QPoint(midX, drawn.height() - 1), QPoint(midX, drawn.height() - 2)},
                                       {QPoint(0, midY), QPoint(1, midY)},
                                       {QPoint(drawn.width() - 1, midY), QPoint(drawn.width() - 2, midY)}}) {
        QCOMPARE(drawn.pixelColor(edge), QColor(Qt::black));
        QVERIFY2(drawn.pixelColor(inside) != QColor(Qt::black), "a line two pixels thick");
    }
}

void TestInfoWindows::aboutOpensOnceAndFreshAfterClose()
{
    QPointer<AboutWindow> first = openAbout();
    QVERIFY(first);
    QVERIFY(centred(first));
    REQUIRE_CHILD(lblurl, LinkLabel, first, "lblurl");
    movePointer(first, centreOf(first, lblurl));
    QCOMPARE(lblurl->background(), kLightCyan);

    // A second command shows the same window, with nothing in it reset.
    QCOMPARE(openAbout(), first.data());
    QCOMPARE(visibleTopLevels("Form2"), 1);
    QCOMPARE(lblurl->background(), kLightCyan);

    first->close();
    QTRY_VERIFY(!first);
    QVERIFY(m_window->isVisible());

    AboutWindow* second = openAbout();
    QVERIFY(second);
    QVERIFY(centred(second));
    for (const char* name : {"lblurl", "lblemail", "lblmore"}) {
        REQUIRE_CHILD(link, LinkLabel, second, name);
        QCOMPARE(link->background(), kWhite);
    }
}

void TestInfoWindows::windowsAreModelessWithoutOwner()
{
    AboutWindow* about = openAbout();
    NotesWindow* notes = openNotes();
    QVERIFY(about && notes);
    for (QWidget* window : {static_cast<QWidget*>(about), static_cast<QWidget*>(notes)}) {
        QVERIFY(window->isWindow());
        QCOMPARE(window->parentWidget(), nullptr);
        QCOMPARE(window->windowModality(), Qt::NonModal);
    }
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    // The main window still takes commands beside them.
    triggerAction("random");
    QVERIFY(!isStandardMode(m_window->shredMode()));
}

void TestInfoWindows::hoverLightsAndResets()
{
    AboutWindow* about = openAbout();
    QVERIFY(about);
    REQUIRE_CHILD(lblurl, LinkLabel, about, "lblurl");
    REQUIRE_CHILD(lblemail, LinkLabel, about, "lblemail");
    REQUIRE_CHILD(lblmore, LinkLabel, about, "lblmore");
    REQUIRE_CHILD(line1, QWidget, about, "Line1");

    movePointer(about, centreOf(about, lblurl));
    QCOMPARE(lblurl->background(), kLightCyan);
    // Moving from one link to another lights the second and leaves the first lit.
    movePointer(about, centreOf(about, lblemail));
    QCOMPARE(lblemail->background(), kLightCyan);
    QCOMPARE(lblurl->background(), kLightCyan);
    movePointer(about, centreOf(about, lblmore));
    QCOMPARE(lblmore->background(), kYellow);

    // A move over the rule under the banner counts as the bare background: all three turn white.
    movePointer(about, centreOf(about, line1));
    QCOMPARE(lblurl->background(), kWhite);
    QCOMPARE(lblemail->background(), kWhite);
    QCOMPARE(lblmore->background(), kWhite);

    movePointer(about, centreOf(about, lblmore));
    QCOMPARE(lblmore->background(), kYellow);
    movePointer(about, QPoint(5, about->height() - 5)); // bare background in a corner
    QCOMPARE(lblmore->background(), kWhite);

    // The text colour, the underline and the pointer never change.
    movePointer(about, centreOf(about, lblurl));
    QCOMPARE(lblurl->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QVERIFY(lblurl->font().underline());
    QCOMPARE(lblurl->cursor().shape(), Qt::BitmapCursor);
}

void TestInfoWindows::hoverOverPlainControlsChangesNothing()
{
    AboutWindow* about = openAbout();
    QVERIFY(about);
    REQUIRE_CHILD(lblurl, LinkLabel, about, "lblurl");
    REQUIRE_CHILD(lblmore, LinkLabel, about, "lblmore");
    movePointer(about, centreOf(about, lblurl));
    movePointer(about, centreOf(about, lblmore));

    for (const char* name : {"Label1", "Label3", "Image1", "Image2"}) {
        REQUIRE_CHILD(control, QWidget, about, name);
        movePointer(about, centreOf(about, control));
        QVERIFY2(lblurl->background() == kLightCyan, name);
        QVERIFY2(lblmore->background() == kYellow, name);
    }
}

void TestInfoWindows::leavingALabelKeepsItLit()
{
    AboutWindow* about = openAbout();
    QVERIFY(about);
    REQUIRE_CHILD(lblurl, LinkLabel, about, "lblurl");
    movePointer(about, centreOf(about, lblurl));
    QEvent leaveLabel(QEvent::Leave);
    QApplication::sendEvent(lblurl, &leaveLabel);
    QEvent leaveWindow(QEvent::Leave);
    QApplication::sendEvent(about, &leaveWindow);
    // The pointer moves on to the main window.
    movePointer(m_window, QPoint(10, 10));
    QCOMPARE(lblurl->background(), kLightCyan);
}

void TestInfoWindows::linkTargets()
{
    AboutWindow* about = openAbout();
    QVERIFY(about);
    for (const char* name : {"lblurl", "lblemail", "lblmore"}) {
        REQUIRE_CHILD(link, QWidget, about, name);
        QTest::mouseClick(about->windowHandle(), Qt::LeftButton, {}, centreOf(about, link));
    }
    // A press on a link released elsewhere is no click.
    REQUIRE_CHILD(lblurl, QWidget, about, "lblurl");
    QTest::mousePress(about->windowHandle(), Qt::LeftButton, {}, centreOf(about, lblurl));
    QTest::mouseRelease(about->windowHandle(), Qt::LeftButton, {}, QPoint(5, about->height() - 5));

    const QList<QUrl> opened = m_platform->links.opened();
    QCOMPARE(opened.size(), 3);
    QCOMPARE(opened[0].toString(), QString("http://" ZORVIK_LINK_HOST));
    QCOMPARE(opened[0].path(), QString());
    QCOMPARE(opened[1].toString(), QString("mailto:" ZORVIK_CONTACT_ADDRESS));
    QCOMPARE(opened[2].toString(), QString("http://" ZORVIK_LINK_HOST "/products/products.php#zorvik"));
    QCOMPARE(opened[2].fragment(), QString("zorvik"));

    // The public operations open the same targets.
    about->gotoweb();
    about->sendemail();
    about->gotomore();
    QCOMPARE(m_platform->links.opened().mid(3), opened);
    QVERIFY(m_platform->messages.shown().isEmpty());
}

void TestInfoWindows::messageOnline()
{
    const QUrl messagePage("http://" ZORVIK_LINK_HOST "/message_pad/message_pad.php");
    QAction* mol = m_window->findChild<QAction*>("mol");
    QVERIFY(mol);
    mol->trigger();
    QVERIFY(openAbout());
    mol->trigger();
    QCOMPARE(m_platform->links.opened(), (QList<QUrl>{messagePage, messagePage}));
    QVERIFY(m_window->aboutWindow()->isVisible());
    QVERIFY(m_platform->messages.shown().isEmpty());
}

QTEST_MAIN(TestInfoWindows)
#include "TestInfoWindows.moc"
