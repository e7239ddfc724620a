// Renders the windows at the scale the environment gives (QT_SCALE_FACTOR, 1 or 2): the fixed layout
// keeps its logical geometry and scales as one piece, and the pictures are drawn from artwork of the
// screen's resolution, pixel for pixel, not blown up.

#include "app/PictureButton.h"
#include "tests/support/ScriptedPlatform.h"
#include "tests/support/ShredderWindow.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WidgetLookup.h"
#include "windows/AboutWindow.h"
#include "windows/FileDialog.h"
#include "windows/NotesWindow.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QScopeGuard>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

class TestHighDpi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void layoutScalesAsOnePiece();
    void picturesAreDrawnAtTheScreensResolution_data();
    void picturesAreDrawnAtTheScreensResolution();
    void boldStaysBold();
    void listRowsKeepTheirCheckBoxesApart();
    void logoFrameShowsOnEverySide();
    void mailAddressIsCentredUnderItsSentence();
    void focusFrameIsSeenOnPictureButtons();
    void openDialogShowsItsColumnsWhole();

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

namespace {
// Pixels darker than mid-grey: the ink of a text on a light background.
int inkOf(const QImage& image)
{
    int dark = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            dark += qGray(image.pixel(x, y)) < 128;
        }
    }
    return dark;
}
} // namespace

// A bold name in Notes carries clearly more ink than the same text in the regular weight, at every
// scale: a family without a bold face of its own may be thickened too little to tell.
void TestHighDpi::boldStaysBold()
{
    NotesWindow notes;
    notes.show();
    QVERIFY(QTest::qWaitForWindowExposed(&notes));
    REQUIRE_CHILD(name, QLabel, &notes, "StandardName");
    QVERIFY(name->font().bold());
    const int bold = inkOf(name->grab().toImage());
    QFont regular = name->font();
    regular.setBold(false);
    name->setFont(regular);
    const int plain = inkOf(name->grab().toImage());
    QVERIFY2(bold >= plain * 1.25, qPrintable(QString("bold %1, regular %2 dark pixels").arg(bold).arg(plain)));
}

// Two neighbouring check boxes in the list leave at least two pixels between them.
void TestHighDpi::listRowsKeepTheirCheckBoxesApart()
{
    QTemporaryDir folder;
    ShredderWindow ui("high-dpi");
    QVERIFY(QTest::qWaitForWindowExposed(&ui.window()));
    QCOMPARE(ui.drop({writeTestFile(folder.filePath("one"), "1")}), 1);
    QCOMPARE(ui.drop({writeTestFile(folder.filePath("two"), "2")}), 1);
    REQUIRE_CHILD(list, QListWidget, &ui.window(), "List1");
    const int pitch = list->visualItemRect(list->item(1)).top() - list->visualItemRect(list->item(0)).top();
    const int box = list->style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, list);
    QVERIFY2(pitch - box >= 2, qPrintable(QString("rows %1 apart, check boxes %2 high").arg(pitch).arg(box)));
}

// Each side of the logo's sunken frame stands out from the logo next to it.
void TestHighDpi::logoFrameShowsOnEverySide()
{
    ShredderWindow ui("high-dpi");
    QVERIFY(QTest::qWaitForWindowExposed(&ui.window()));
    REQUIRE_CHILD(logo, QLabel, &ui.window(), "Image1");
    const QImage shot = logo->grab().toImage();
    const int line = qRound(logo->lineWidth() * m_scale);
    const int w = shot.width();
    const int h = shot.height();
    // The frame's middle pixel and the logo's first pixel inside it, halfway along each side.
    const QList<std::pair<QPoint, QPoint>> sides = {{{line / 2, h / 2}, {line, h / 2}},
                                                    {{w / 2, line / 2}, {w / 2, line}},
                                                    {{w - 1 - line / 2, h / 2}, {w - 1 - line, h / 2}},
                                                    {{w / 2, h - 1 - line / 2}, {w / 2, h - 1 - line}}};
    for (const auto& [frame, inside] : sides) {
        const int contrast = qAbs(qGray(shot.pixel(frame)) - qGray(shot.pixel(inside)));
        QVERIFY2(
            contrast >= 32,
            qPrintable(
                QString("frame at %1,%2 differs by %3 from the logo").arg(frame.x()).arg(frame.y()).arg(contrast)));
    }
}

// The address's ink is centred under the sentence's, within a pixel.
void TestHighDpi::mailAddressIsCentredUnderItsSentence()
{
    RecordingLinkOpener links;
    AboutWindow about(links);
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    REQUIRE_CHILD(sentence, QLabel, &about, "Label3");
    REQUIRE_CHILD(address, QWidget, &about, "lblemail");
    const auto inkCentre = [](QWidget* widget) {
        const QImage image = widget->grab().toImage();
        int left = image.width();
        int right = -1;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (qGray(image.pixel(x, y)) < 128) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
            }
        }
        return widget->x() + (left + right) / 2.0 / image.devicePixelRatio();
    };
    QVERIFY2(
        qAbs(inkCentre(sentence) - inkCentre(address)) <= 1.0,
        qPrintable(QString("sentence centred at %1, address at %2").arg(inkCentre(sentence)).arg(inkCentre(address))));
}

// A picture button with the keyboard focus shows a frame two pixels wide that stands out from its face.
void TestHighDpi::focusFrameIsSeenOnPictureButtons()
{
    ShredderWindow ui("high-dpi");
    ui.window().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&ui.window()));
    REQUIRE_CHILD(button, QWidget, &ui.window(), "Command1");
    const auto leftSide = [&] {
        const QImage image = button->grab().toImage();
        QList<int> grey;
        for (int x = qRound(3 * m_scale); x < qRound(5 * m_scale); ++x) { // inside the 2-pixel bevel, then 1 more
            grey << qGray(image.pixel(x, image.height() / 2));
        }
        return grey;
    };
    button->clearFocus();
    const QList<int> unfocused = leftSide();
    button->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(button->hasFocus());
    const QList<int> focused = leftSide();
    for (qsizetype i = 0; i < focused.size(); ++i) {
        QVERIFY2(unfocused[i] - focused[i] >= 96,
                 qPrintable(QString("pixel %1: %2 with focus, %3 without").arg(i).arg(focused[i]).arg(unfocused[i])));
    }
}

// In the Open... dialog, an ordinary file's name, size, type and date each fit their column, in a
// desktop's font.
void TestHighDpi::openDialogShowsItsColumnsWhole()
{
    QTemporaryDir folder;
    const QString picked = writeTestFile(folder.filePath("placement-report.txt"), QByteArray(12 * 1024 + 300, 'x'));
    writeTestFile(folder.filePath("notes.md"), "notes");
    // Desktops often set a larger font than Qt's own default: the dialog's columns must follow it.
    const QFont before = QApplication::font();
    QFont desktop = before;
    desktop.setPointSizeF(11);
    QApplication::setFont(desktop);
    const auto restore = qScopeGuard([&before] { QApplication::setFont(before); });
    QtFileDialog opener;
    opener.setFileName(picked);
    const auto dialog = opener.build(nullptr);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    REQUIRE_CHILD(details, QTreeView, dialog.get(), "treeView");
    const QAbstractItemModel* model = details->model();
    QModelIndex root = details->rootIndex();
    QTRY_COMPARE(model->rowCount(root), 2);
    // As the item delegate draws a cell: a margin on each side of the text, and of the icon. The
    // columns follow the folder's loading.
    const int textMargin = details->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, details) + 1;
    const auto firstCut = [&]() -> QString {
        for (int row = 0; row < 2; ++row) {
            for (int column = 0; column < 4; ++column) {
                const QModelIndex index = model->index(row, column, root);
                const QString text = index.data().toString();
                if (text.isEmpty()) {
                    return "not read yet";
                }
                const int needs = details->fontMetrics().horizontalAdvance(text) + 2 * textMargin +
                                  (column == 0 ? details->iconSize().width() + 2 * textMargin : 0);
                qInfo("%s %d %d", qPrintable(text), needs, details->visualRect(index).width());
                if (needs > details->visualRect(index).width()) {
                    return QString("\"%1\" needs %2 pixels, its column has %3")
                        .arg(text)
                        .arg(needs)
                        .arg(details->visualRect(index).width());
                }
            }
        }
        return {};
    };
    QTRY_COMPARE(firstCut(), QString());
}

QTEST_MAIN(TestHighDpi)
#include "TestHighDpi.moc"
