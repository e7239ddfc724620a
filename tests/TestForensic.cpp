// Proof of destruction on real file systems: files holding a marker are shredded through the real
// main window on a freshly made image, and the raw image is then searched. A negative control on a
// second image deletes the same files without overwriting them and must find the marker, so the
// search is shown able to fail.

#include "tests/support/DiskImage.h"
#include "tests/support/ShredderWindow.h"
#include "tests/support/WidgetLookup.h"

#include <QAction>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

namespace {
const QList<qint64> kSizes = {1, 4999, 5000, 5001, 3 * 1024 * 1024 + 123};

struct PlantedFile
{
    QString path;
    QByteArray content;
    QList<DiskImage::Extent> extents;
};

QByteArray freshMarker()
{
    return "ZORVIK-FORENSIC-" + QByteArray::number(QRandomGenerator::global()->generate64(), 16) + "|";
}

// Writes the files, each the marker over and over, and flushes them to the image.
QList<PlantedFile> plant(DiskImage& image, const QByteArray& marker, QString* error)
{
    QList<PlantedFile> planted;
    for (qint64 size : kSizes) {
        PlantedFile file{image.filePath(QString("secret-%1.dat").arg(size)),
                         marker.repeated(size / marker.size() + 1).left(size),
                         {}};
        QFile out(file.path);
        if (!out.open(QIODevice::WriteOnly) || out.write(file.content) != size || !out.flush()) {
            *error = "cannot write " + file.path;
            return {};
        }
        ::fsync(out.handle());
        planted.append(file);
    }
    image.sync();
    for (PlantedFile& file : planted) {
        file.extents = DiskImage::extentsOf(file.path, error);
        if (file.extents.isEmpty()) {
            *error = "no extents known for " + file.path + " " + *error;
            return {};
        }
    }
    return planted;
}

// The bytes the image holds where the file's first `length` bytes were.
QByteArray bytesAt(const QByteArray& raw, const PlantedFile& file)
{
    QByteArray bytes(file.content.size(), '\0');
    for (const DiskImage::Extent& extent : file.extents) {
        for (qint64 at = 0; at < extent.length && extent.logical + at < file.content.size(); ++at) {
            bytes[extent.logical + at] = raw[extent.physical + at];
        }
    }
    return bytes;
}
} // namespace

class TestForensic : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void shreddedFilesLeaveNoTrace_data();
    void shreddedFilesLeaveNoTrace();

private:
    void negativeControl(const QString& type, const QByteArray& marker);
};

void TestForensic::initTestCase()
{
    REQUIRE_OFFSCREEN();
}

void TestForensic::shreddedFilesLeaveNoTrace_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("enhanced");
    QTest::addColumn<bool>("batch");
    for (const char* type : {"ext4", "vfat", "xfs"}) {
        for (bool enhanced : {false, true}) {
            for (bool batch : {false, true}) {
                QTest::addRow("%s %s %s", type, enhanced ? "enhanced" : "standard", batch ? "batch" : "single")
                    << QString(type) << enhanced << batch;
            }
        }
    }
}

void TestForensic::shreddedFilesLeaveNoTrace()
{
    QFETCH(QString, type);
    QFETCH(bool, enhanced);
    QFETCH(bool, batch);
    if (const QString reason = DiskImage::unavailableReason(type); !reason.isEmpty()) {
        QSKIP(qPrintable("forensic test skipped: " + reason));
    }
    const QByteArray marker = freshMarker();
    DiskImage image(type);
    QString error = image.mount();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QList<PlantedFile> planted = plant(image, marker, &error);
    QVERIFY2(!planted.isEmpty(), qPrintable(error));

    ShredderWindow ui("forensic");
    if (enhanced) {
        ui.window().findChild<QAction*>("random")->trigger();
    }
    if (batch) {
        QStringList paths;
        for (const PlantedFile& file : planted) {
            paths << file.path;
        }
        QCOMPARE(ui.drop(paths), planted.size());
        QCOMPARE(ui.shredAllListed(), QString("%1 files shredded !").arg(planted.size()));
    } else {
        for (const PlantedFile& file : planted) {
            QVERIFY2(ui.shredSingle(file.path), qPrintable(ui.messages().join('\n')));
        }
    }
    for (const PlantedFile& file : planted) {
        QVERIFY(!QFile::exists(file.path));
    }
    error = image.unmount();
    QVERIFY2(error.isEmpty(), qPrintable(error));

    const QByteArray raw = image.raw();
    QCOMPARE(raw.count(marker), 0);
    // Where each file's bytes lay, the fill pattern lies now.
    for (const PlantedFile& file : planted) {
        const QByteArray written = ui.contentBeforeDelete.value(file.path);
        QCOMPARE(written.size() % 5000, 0);
        QVERIFY2(bytesAt(raw, file) == written.left(file.content.size()), qPrintable(file.path));
        if (!enhanced) {
            QCOMPARE(written, QByteArray(written.size(), '\0'));
        }
    }

    negativeControl(type, marker);
}

// The same files deleted without overwriting: the marker must still be there.
void TestForensic::negativeControl(const QString& type, const QByteArray& marker)
{
    DiskImage image(type);
    QString error = image.mount();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QList<PlantedFile> planted = plant(image, marker, &error);
    QVERIFY2(!planted.isEmpty(), qPrintable(error));
    for (const PlantedFile& file : planted) {
        QVERIFY(QFile::remove(file.path));
    }
    error = image.unmount();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QByteArray raw = image.raw();
    QVERIFY2(raw.count(marker) > 0, "the negative control found no marker: the search cannot be trusted");
    for (const PlantedFile& file : planted) {
        QVERIFY2(bytesAt(raw, file) == file.content, qPrintable("negative control: " + file.path));
    }
}

QTEST_MAIN(TestForensic)
#include "TestForensic.moc"
