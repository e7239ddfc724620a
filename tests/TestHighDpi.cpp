// Renders the windows at the scale the environment gives (QT_SCALE_FACTOR, 1 or 2): the fixed layout
// keeps its logical geometry and scales as one piece, and the pictures are drawn from artwork of the
// screen's resolution, pixel for pixel, not blown up.

#include "app/PictureButton.h"
#include "tests/support/ShredderWindow.h"
#include "tests/support/WidgetLookup.h"

#include <QAction>
#include <QLabel>
#include <QTest>

class TestHighDpi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void layoutScalesAsOnePiece();
    void picturesAreDrawnAtTheScreensResolution_data();
    void picturesAreDrawnAtTheScreensResolution();

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
    ShredderWindow ui("high-dpi");
    MainWindow& window = ui.window();
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
    ShredderWindow ui("high-dpi");
    MainWindow& window = ui.window();
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

QTEST_MAIN(TestHighDpi)
#include "TestHighDpi.moc"
