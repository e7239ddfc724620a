// Renders the windows at the scale the environment gives (QT_SCALE_FACTOR, 1 or 2): the fixed layout
// keeps its logical geometry and scales as one piece, and the pictures are drawn from artwork of the
// screen's resolution, pixel for pixel, not blown up.

#include "app/PictureButton.h"
#include "tests/support/ScriptedPlatform.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WidgetLookup.h"
#include "tests/support/WindowTestCase.h"
#include "windows/AboutWindow.h"
#include "windows/NotesWindow.h"

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QtMath>

class TestHighDpi : public WindowTestCase
{
    Q_OBJECT

private slots:
    void initTestCase();
    void layoutScalesAsOnePiece();
    void picturesAreDrawnAtTheScreensResolution_data();
    void picturesAreDrawnAtTheScreensResolution();
    void infoWindowsKeepTheirTypography();
    void mainWindowEdgesAreSeen();

private:
    qreal m_scale = 1;
};

void TestHighDpi::initTestCase()
{
    REQUIRE_TEST_PLATFORM();
    m_scale = qEnvironmentVariableIsSet("QT_SCALE_FACTOR") ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble() : 1.0;
    QCOMPARE(qApp->devicePixelRatio(), m_scale);
}

void TestHighDpi::layoutScalesAsOnePiece()
{
    MainWindow& window = *m_window;
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Logical geometry as designed, whatever the scale.
    REQUIRE_CHILD(client, QWidget, &window, "client");
    QCOMPARE(client->size(), QSize(553, 377));
    REQUIRE_CHILD(list, QWidget, &window, "List1");
    QCOMPARE(list->geometry(), QRect(136, 128, 412, 148));

    const QPixmap shot = window.grab();
    QCOMPARE(shot.devicePixelRatio(), m_scale);
    QCOMPARE(shot.size(), window.size() * m_scale);
}

void TestHighDpi::picturesAreDrawnAtTheScreensResolution_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("artwork");
    QTest::newRow("logo") << "Image1"
                          << "logo";
    QTest::newRow("Open... button") << "Command1"
                                    << "button";
    QTest::newRow("B-Shred! button") << "Command3"
                                     << "button-wide";
}

void TestHighDpi::picturesAreDrawnAtTheScreensResolution()
{
    QFETCH(QString, control);
    QFETCH(QString, artwork);
    MainWindow& window = *m_window;
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    REQUIRE_CHILD(widget, QWidget, &window, control);

    const QString file = QString(":/assets/%1%2.png").arg(artwork, m_scale > 1 ? "@2x" : "");
    const QImage source = QImage(file).convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!source.isNull());
    QPixmap picture;
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        picture = label->pixmap();
    } else {
        picture = qobject_cast<PictureButton*>(widget)->picture();
    }
    QCOMPARE(picture.devicePixelRatio(), m_scale);
    QCOMPARE(picture.size(), source.size());

    // The rendered picture matches the artwork pixel for pixel, where the artwork is opaque and no
    // caption is drawn over it.
    const QImage shot = widget->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QSize shown = widget->size() * m_scale;
    QPoint origin((shown.width() - source.width()) / 2, (shown.height() - source.height()) / 2);
    if (control != "Image1") {
        // The button centres its picture on its face, inside a 2-pixel bevel.
        QRect placed(QPoint(), picture.deviceIndependentSize().toSize());
        placed.moveCenter(widget->rect().adjusted(2, 2, -2, -2).center());
        origin = placed.topLeft() * m_scale;
    }
    // The middle row; on a button only its ends, left and right of the caption and inside the bevel.
    const int shownRow = shown.height() / 2;
    const int captionFrom = control == "Image1" ? shown.width() : qRound(16 * m_scale);
    const int captionTo = shown.width() - captionFrom;
    const int row = shownRow - origin.y();
    QVERIFY(row >= 0 && row < source.height());
    int compared = 0;
    for (int x = 0; x < source.width(); ++x) {
        const QPoint at = origin + QPoint(x, row);
        if (qAlpha(source.pixel(x, row)) != 255 || !QRect(QPoint(), shot.size()).contains(at) ||
            at.x() < 2 * m_scale + 1 || at.x() >= shown.width() - 2 * m_scale - 1 ||
            (at.x() >= captionFrom && at.x() < captionTo)) {
            continue;
        }
        QCOMPARE(shot.pixel(at), source.pixel(x, row));
        ++compared;
    }
    QVERIFY2(compared >= 20, qPrintable(QString("only %1 pixels compared").arg(compared)));
}

namespace {
// Pixels darker than mid-grey in a widget as drawn: the ink of a text on a light background.
int inkOf(QWidget* widget)
{
    const QImage image = widget->grab().toImage();
    int dark = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            dark += qGray(image.pixel(x, y)) < 128;
        }
    }
    return dark;
}

// The last column of a widget, as drawn, that holds ink.
int inkRightEdge(QWidget* widget)
{
    const QImage image = widget->grab().toImage();
    for (int x = image.width() - 1; x >= 0; --x) {
        for (int y = 0; y < image.height(); ++y) {
            if (qGray(image.pixel(x, y)) < 128) {
                return qFloor(x / image.devicePixelRatio());
            }
        }
    }
    return -1;
}
} // namespace

// A bold name in Notes carries clearly more ink than the same text in the regular weight, and all of
// it stands clear of its reference's box; the address in About stands centred under its sentence.
void TestHighDpi::infoWindowsKeepTheirTypography()
{
    NotesWindow notes;
    notes.show();
    QVERIFY(QTest::qWaitForWindowExposed(&notes));
    for (const QString mode : {"Standard", "Enhanced"}) {
        REQUIRE_CHILD(modeName, QLabel, &notes, mode + "Name");
        REQUIRE_CHILD(reference, QLabel, &notes, mode + "Reference");
        const int inkEnd = modeName->x() + inkRightEdge(modeName);
        QVERIFY2(
            inkEnd + 4 <= reference->x(),
            qPrintable(
                QString("%1 mode's name ends at %2, its box starts at %3").arg(mode).arg(inkEnd).arg(reference->x())));
    }
    REQUIRE_CHILD(name, QLabel, &notes, "StandardName");
    const int bold = inkOf(name);
    QFont regular = name->font();
    regular.setBold(false);
    name->setFont(regular);
    QVERIFY2(inkOf(name) * 1.25 <= bold, qPrintable(QString("bold %1, regular %2").arg(bold).arg(inkOf(name))));

    RecordingLinkOpener links;
    AboutWindow about(links);
    REQUIRE_CHILD(sentence, QLabel, &about, "Label3");
    REQUIRE_CHILD(address, QWidget, &about, "lblemail");
    QVERIFY(qAbs(sentence->geometry().center().x() - address->geometry().center().x()) <= 1);
}

// Two neighbouring check boxes in the list leave at least two pixels between them; each side of the
// logo's sunken frame stands out from the logo beside it; a picture button with the keyboard focus
// shows a frame two pixels wide that stands out from its face.
void TestHighDpi::mainWindowEdgesAreSeen()
{
    QTemporaryDir folder;
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QCOMPARE(drop({writeTestFile(folder.filePath("one"), "1")}), 1);
    QCOMPARE(drop({writeTestFile(folder.filePath("two"), "2")}), 1);
    REQUIRE_CHILD(list, QListWidget, m_window, "List1");
    const int pitch = list->visualItemRect(list->item(1)).top() - list->visualItemRect(list->item(0)).top();
    QVERIFY(pitch - list->style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, list) >= 2);

    REQUIRE_CHILD(logo, QLabel, m_window, "Image1");
    const QImage shot = logo->grab().toImage();
    const int line = qRound(logo->lineWidth() * m_scale);
    const int w = shot.width();
    const int h = shot.height();
    // The frame's middle pixel and the logo's first pixel inside it, halfway along each side.
    for (const auto& [frame, inside] :
         QList<std::pair<QPoint, QPoint>>{{{line / 2, h / 2}, {line, h / 2}},
                                          {{w / 2, line / 2}, {w / 2, line}},
                                          {{w - 1 - line / 2, h / 2}, {w - 1 - line, h / 2}},
                                          {{w / 2, h - 1 - line / 2}, {w / 2, h - 1 - line}}}) {
        QVERIFY2(qAbs(qGray(shot.pixel(frame)) - qGray(shot.pixel(inside))) >= 32,
                 qPrintable(QString("frame at %1,%2").arg(frame.x()).arg(frame.y())));
    }

    REQUIRE_CHILD(button, QWidget, m_window, "Command1");
    const auto leftSide = [&] { // the two device-independent pixels inside the bevel
        const QImage face = button->grab().toImage();
        return std::pair{qGray(face.pixel(qRound(3 * m_scale), face.height() / 2)),
                         qGray(face.pixel(qRound(5 * m_scale) - 1, face.height() / 2))};
    };
    button->clearFocus();
    const auto [outer, inner] = leftSide();
    button->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(button->hasFocus());
    const auto [focusedOuter, focusedInner] = leftSide();
    QVERIFY(outer - focusedOuter >= 96 && inner - focusedInner >= 96);
}

QTEST_MAIN(TestHighDpi)
#include "TestHighDpi.moc"
