// The Standard and Enhanced mode entries: one marked at a time, and the flag each sets.

#include "app/InstanceGuard.h"
#include "app/MainWindow.h"
#include "tests/support/ScriptedPlatform.h"
#include "tests/support/SystemTexts.h"
#include "tests/support/WidgetLookup.h"
#include "tests/support/WindowTestCase.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QTest>

class TestModeMenu : public WindowTestCase
{
    Q_OBJECT

private slots:
    void initTestCase();
    void clicks_data();
    void clicks();
    void standardModeIsTheFlagMinusOneAndNothingElse();
    void everyStartIsStandard();
    void onlyTheCheckedEntryShowsAMark();
};

void TestModeMenu::initTestCase()
{
    REQUIRE_TEST_PLATFORM();
}

void TestModeMenu::clicks_data()
{
    QTest::addColumn<QString>("clicks"); // S = Standard entry, E = Enhanced entry
    QTest::addColumn<bool>("standardChecked");
    QTest::addColumn<int>("flag");

    QTest::newRow("at start") << "" << true << -1;
    QTest::newRow("Standard while Standard: no change") << "S" << true << -1;
    QTest::newRow("Enhanced while Standard") << "E" << false << 0;
    QTest::newRow("Enhanced twice") << "EE" << false << 0;
    QTest::newRow("Enhanced then Standard") << "ES" << true << -1;
    QTest::newRow("Standard while Enhanced, twice") << "ESS" << true << -1;
    QTest::newRow("alternating") << "ESESE" << false << 0;
}

void TestModeMenu::clicks()
{
    QFETCH(QString, clicks);
    QFETCH(bool, standardChecked);
    QFETCH(int, flag);

    MainWindow& window = *m_window;
    REQUIRE_CHILD(standard, QAction, &window, "null_");
    REQUIRE_CHILD(enhanced, QAction, &window, "random");

    // trigger() is what a click or the access key does, Qt's own toggling of the mark included.
    for (const QChar click : clicks) {
        (click == 'S' ? standard : enhanced)->trigger();
        QVERIFY2(standard->isChecked() != enhanced->isChecked(), "exactly one entry carries the mark");
    }
    QCOMPARE(standard->isChecked(), standardChecked);
    QCOMPARE(enhanced->isChecked(), !standardChecked);
    QCOMPARE(int(window.shredMode()), flag);
    QCOMPARE(isStandardMode(window.shredMode()), standardChecked);
    QVERIFY(m_platform->messages.shown().isEmpty());
    QCOMPARE(panel(1), QString(Texts::kReady));
    QCOMPARE(window.windowTitle(), QString(Texts::kTitle));
}

void TestModeMenu::standardModeIsTheFlagMinusOneAndNothingElse()
{
    QVERIFY(isStandardMode(ShredMode(-1)));
    QVERIFY(!isStandardMode(ShredMode(0)));
    QVERIFY(!isStandardMode(ShredMode(1)));
    QVERIFY(!isStandardMode(ShredMode(-2)));
    static_assert(sizeof(ShredMode) == 2);
}

// The mode is not saved: a new window after a switch to Enhanced mode starts in Standard mode again.
void TestModeMenu::everyStartIsStandard()
{
    ScriptedPlatform platform;
    const std::string key = "zorvik-test-mode-restart-" + std::to_string(QCoreApplication::applicationPid());
    {
        InstanceGuard guard(key);
        MainWindow window(platform.platform());
        QVERIFY(window.load(guard));
        REQUIRE_CHILD(enhanced, QAction, &window, "random");
        enhanced->trigger();
        QVERIFY(!isStandardMode(window.shredMode()));
    }
    InstanceGuard guard(key);
    MainWindow window(platform.platform());
    QVERIFY(window.load(guard));
    REQUIRE_CHILD(standard, QAction, &window, "null_");
    QVERIFY(standard->isChecked());
    QVERIFY(isStandardMode(window.shredMode()));
}

// The unchecked entry is drawn exactly as an entry that cannot be checked at all; the checked one
// is not, since it shows its mark.
void TestModeMenu::onlyTheCheckedEntryShowsAMark()
{
    MainWindow& window = *m_window;
    REQUIRE_CHILD(menu, QMenu, &window, "mode");
    REQUIRE_CHILD(standard, QAction, &window, "null_");
    REQUIRE_CHILD(enhanced, QAction, &window, "random");
    menu->popup(QPoint(0, 0));
    QVERIFY(QTest::qWaitForWindowExposed(menu));
    const auto drawn = [menu](QAction* entry) { return menu->grab(menu->actionGeometry(entry)).toImage(); };

    for (QAction* entry : {enhanced, standard}) {
        const QImage asIs = drawn(entry);
        entry->setCheckable(false);
        const QImage withoutMark = drawn(entry);
        entry->setCheckable(true);
        entry->setChecked(entry == standard);
        if (entry == enhanced) {
            QVERIFY2(asIs == withoutMark, "the unchecked entry shows something where the mark goes");
        } else {
            QVERIFY2(asIs != withoutMark, "the checked entry shows no mark");
        }
    }
    menu->hide();
}

QTEST_MAIN(TestModeMenu)
#include "TestModeMenu.moc"
