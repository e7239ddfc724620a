// Proof of destruction on real file systems: files holding a marker are shredded through the real
// main window on a freshly made image, and the raw image is then searched. A negative control on a
// second image deletes the same files without overwriting them and must find the marker, so the
// search is shown able to fail.

#include "filelist/NativePaths.h"
#include "shred/BatchShred.h"
#include "shred/RunProgress.h"
#include "shred/ShredView.h"
#include "shred/SingleShred.h"
#include "tests/support/DiskImage.h"
#include "tests/support/SystemTexts.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WidgetLookup.h"
#include "tests/support/WindowTestCase.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTest>

#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {
// A file system whose writes may or may not land in place: the run may say either, if it is true.
const QString kEitherWay = "either way";
// The small ones are written together in a batch, up to one just short of the bound; the bound and the
// large one each alone.
const QList<qint64> kSizes = {1, 4096, 4999, 5000, 5001, 65535, 65536, 3 * 1024 * 1024 + 123};

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

// Whether `physical` lies in a block that a file shredded after `file` took over once `file` was
// deleted: a file that grows to a whole block may be given the blocks just freed.
// Where each file's blocks lay just before it was deleted.
using ExtentsBeforeDelete = QMap<QString, QList<DiskImage::Extent>>;

void recordExtentsBeforeDelete(ScriptedFileSystem& files, ExtentsBeforeDelete& extents)
{
    files.beforeDelete = [&extents](const NativePath& path) {
        extents[NativePaths::shown(path)] = DiskImage::extentsOf(QFile::decodeName(path.c_str()));
    };
}

bool reusedLater(qint64 physical,
                 const PlantedFile& file,
                 const QList<PlantedFile>& planted,
                 const ExtentsBeforeDelete& extentsBeforeDelete)
{
    bool later = false;
    for (const PlantedFile& other : planted) {
        if (later) {
            for (const DiskImage::Extent& extent : extentsBeforeDelete.value(other.path)) {
                if (physical >= extent.physical && physical < extent.physical + extent.length) {
                    return true;
                }
            }
        }
        later = later || other.path == file.path;
    }
    return false;
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
// The old place of every byte of `file` holds what the run wrote there, unless a later file took it.
bool sameWhereNotReused(const QByteArray& found,
                        const QByteArray& written,
                        const PlantedFile& file,
                        const QList<PlantedFile>& planted,
                        const ExtentsBeforeDelete& extentsBeforeDelete)
{
    for (const DiskImage::Extent& extent : file.extents) {
        for (qint64 at = 0; at < extent.length && extent.logical + at < file.content.size(); ++at) {
            const qint64 position = extent.logical + at;
            if (found[position] != written[position] &&
                !reusedLater(extent.physical + at, file, planted, extentsBeforeDelete)) {
                return false;
            }
        }
    }
    return true;
}
// A 1.2 MB file of markers on a fresh image of one kind, ready to be shredded.
class ImageScene
{
public:
    // Returns why the scene cannot be made here, or an empty string.
    QString make(const QString& kind, const QByteArray& marker)
    {
        QString type = kind.section(' ', 0, 0).remove(',');
        if (type == "overlay") {
            type = "ext4";
        }
        if (const QString reason = DiskImage::unavailableReason(type); !reason.isEmpty()) {
            return reason;
        }
        if (kind.startsWith("overlay") && !kernelHasOverlay()) {
            return "the running kernel has no overlay driver";
        }
        image = std::make_unique<DiskImage>(type, 64, kind.endsWith("data=journal") ? "data=journal" : "");
        if (const QString error = image->mount(); !error.isEmpty()) {
            return error;
        }
        content = marker.repeated(1'200'000 / marker.size() + 1).left(1'200'000);
        const QString folder = kind.startsWith("overlay") ? image->filePath("lower") : image->mountPoint();
        QDir().mkpath(folder);
        victim = folder + "/secret.dat";
        if (kind == "btrfs without copy-on-write") {
            // The attribute only holds for a file that has no data yet.
            writeTestFile(victim, {});
            if (const QString error = DiskImage::run("chattr", {"+C", victim}); !error.isEmpty()) {
                return error;
            }
        }
        // Written just before: still in memory, waiting for its place on the disk.
        const bool fresh = kind.endsWith("written just before");
        QFile out(victim);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Append) || out.write(content) != content.size() ||
            !out.flush() || (!fresh && ::fsync(out.handle()) != 0)) {
            return "cannot write " + victim;
        }
        out.close();
        if (kind == "xfs with a reflinked copy") {
            copy = image->filePath("copy.dat");
            if (const QString error = DiskImage::run("cp", {"--reflink=always", victim, copy}); !error.isEmpty()) {
                return error;
            }
        }
        if (kind.startsWith("overlay")) {
            lower = victim;
            merged = image->filePath("merged");
            if (const QString error =
                    image->mountOverlay(folder, image->filePath("upper"), image->filePath("work"), merged);
                !error.isEmpty()) {
                return error;
            }
            victim = merged + "/secret.dat";
        }
        if (!fresh) {
            image->sync();
        }
        return {};
    }

    // Unmounts everything; returns the raw image.
    QByteArray raw()
    {
        if (!merged.isEmpty()) {
            DiskImage::unmountFolder(merged);
        }
        image->unmount();
        return image->raw();
    }

    std::unique_ptr<DiskImage> image;
    QByteArray content;
    QString victim;
    QString copy;
    QString lower;
    QString merged;

private:
    static bool kernelHasOverlay()
    {
        QFile list("/proc/filesystems");
        return list.open(QIODevice::ReadOnly) && list.readAll().contains("\toverlay\n");
    }
};

// An ext4 file system on a device-mapper device over a loop device, whose table can later turn part
// of the disk into an `error` target: blocks that fail every write, as on failing media.
class FailingDisk
{
public:
    static QString unavailableReason()
    {
        if (const QString reason = DiskImage::unavailableReason("ext4"); !reason.isEmpty()) {
            return reason;
        }
        QFile misc("/proc/misc");
        if (!misc.open(QIODevice::ReadOnly) || !misc.readAll().contains("device-mapper")) {
            return "the running kernel has no device mapper";
        }
        return QStandardPaths::findExecutable("dmsetup", {"/usr/sbin", "/sbin"}).isEmpty() ? "dmsetup is not installed"
                                                                                           : QString();
    }

    ~FailingDisk()
    {
        shell("umount mnt; dmsetup remove \"$NAME\"; losetup -d \"$(cat loop)\"");
    }

    // The journal is committed only when asked (or after ten minutes), so that what was never flushed
    // is still lost when the power goes.
    QString mount()
    {
        return shell("truncate -s 16M disk.img && losetup --find --show disk.img >loop && "
                     "echo \"0 32768 linear $(cat loop) 0\" | dmsetup create \"$NAME\" && "
                     "mkfs.ext4 -q -F -b 4096 \"$DEVICE\" && mkdir mnt && mount -o commit=600 \"$DEVICE\" mnt");
    }

    QString filePath(const QString& name) const
    {
        return m_folder.filePath("mnt/" + name);
    }

    // From now on every write to [offset, offset + length) of the disk fails.
    QString failFrom(qint64 offset, qint64 length)
    {
        const qint64 from = offset / 512;
        const qint64 to = (offset + length + 511) / 512;
        return shell(QString("loop=$(cat loop) && dmsetup suspend \"$NAME\" && "
                             "printf '0 %1 linear %s 0\\n%1 %2 error\\n%3 %4 linear %s %3\\n' \"$loop\" \"$loop\" | "
                             "dmsetup reload \"$NAME\" && dmsetup resume \"$NAME\"")
                         .arg(from)
                         .arg(to - from)
                         .arg(to)
                         .arg(32768 - to));
    }

    // The power goes: nothing more reaches the disk, and what had not reached it is lost. The file
    // system is not frozen first, which would flush it.
    QString cutPower()
    {
        return shell("dmsetup suspend --nolockfs --noflush \"$NAME\" && echo '0 32768 error' | "
                     "dmsetup reload \"$NAME\" && dmsetup resume \"$NAME\" && umount mnt");
    }

    // The power comes back: the disk is mounted again as it was left, its journal replayed.
    QString restorePower()
    {
        return shell("mount -o loop disk.img mnt");
    }

    // What the disk holds at [offset, offset + length), read past the failing layer.
    QByteArray raw(qint64 offset, qint64 length) const
    {
        QFile image(m_folder.filePath("disk.img"));
        return image.open(QIODevice::ReadOnly) && image.seek(offset) ? image.read(length) : QByteArray();
    }

private:
    // Runs `script` in the disk's folder; returns an error text, or an empty string.
    QString shell(const QString& script) const
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("NAME", m_name);
        environment.insert("DEVICE", qEnvironmentVariable("DM_DEV_DIR", "/dev") + "/mapper/" + m_name);
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(m_folder.path());
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start("sh", {"-c", script});
        const bool done = process.waitForFinished(60000) && process.exitCode() == 0;
        return done ? QString() : script + ": " + QString::fromLocal8Bit(process.readAll());
    }

    QTemporaryDir m_folder;
    QString m_name = "zorvik-failing-" + QString::number(::getpid());
};

// The drivers' view of a run with every confirmation answered Yes.
class ImageRunView : public ShredView
{
public:
    void tell(Notice) override
    {
        lines << "notice";
    }
    bool confirmShred() override
    {
        return true;
    }
    void warn(const std::string& text) override
    {
        lines << "Warning!: " + QFile::decodeName(QByteArray::fromStdString(text));
    }
    void reportShredded(const std::string& text) override
    {
        lines << QString::fromStdString(text);
    }
    void clearPath() override
    {
    }
    std::vector<ListedFile> listEntries() override
    {
        return list;
    }
    void refillList(const std::vector<ChosenFile>&) override
    {
    }
    void reportBatchShredded(int count) override
    {
        lines << QString("%1 shredded").arg(count);
    }

    std::vector<ListedFile> list;
    QStringList lines;
};
} // namespace

class TestForensic : public WindowTestCase
{
    Q_OBJECT

private slots:
    void initTestCase();
    void shreddedFilesLeaveNoTrace_data();
    void shreddedFilesLeaveNoTrace();
    void immutableFileIsRefusedUntouched();
    void readOnlyFileSystemIsRefusedUntouched();
    void fullFileSystemStillOverwritesTheOriginalBytes_data();
    void fullFileSystemStillOverwritesTheOriginalBytes();
    void placementIsToldTruthfully_data();
    void placementIsToldTruthfully();
    void badBlocksArePassedOver();
    void deletionsOutliveAPowerCut_data();
    void deletionsOutliveAPowerCut();

private:
    // A mounted ext4 image, or a skip with the reason.
    std::unique_ptr<DiskImage> mountedExt4();
    void negativeControl(const QString& type, const QByteArray& marker);
};

void TestForensic::initTestCase()
{
    REQUIRE_TEST_PLATFORM();
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

    ExtentsBeforeDelete extentsBeforeDelete;
    recordExtentsBeforeDelete(m_platform->files, extentsBeforeDelete);
    if (enhanced) {
        triggerAction("random");
    }
    if (batch) {
        QStringList paths;
        for (const PlantedFile& file : planted) {
            paths << file.path;
        }
        QCOMPARE(drop(paths), planted.size());
        QCOMPARE(shredAllListed(), QString("%1 files shredded !").arg(planted.size()));
    } else {
        for (const PlantedFile& file : planted) {
            QVERIFY2(shredSingle(file.path), qPrintable(messages().join('\n')));
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
        const QByteArray written = contentBeforeDelete(file.path);
        QCOMPARE(written.size() % 5000, 0);
        QVERIFY2(sameWhereNotReused(
                     bytesAt(raw, file), written.left(file.content.size()), file, planted, extentsBeforeDelete),
                 qPrintable(file.path));
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

std::unique_ptr<DiskImage> TestForensic::mountedExt4()
{
    if (const QString reason = DiskImage::unavailableReason("ext4"); !reason.isEmpty()) {
        qInfo("image test skipped: %s", qPrintable(reason));
        return nullptr;
    }
    auto image = std::make_unique<DiskImage>("ext4", 16);
    if (const QString error = image->mount(); !error.isEmpty()) {
        qWarning("%s", qPrintable(error));
        return nullptr;
    }
    return image;
}

void TestForensic::immutableFileIsRefusedUntouched()
{
    if (!DiskImage::unavailableReason("ext4").isEmpty()) {
        QSKIP(qPrintable("image test skipped: " + DiskImage::unavailableReason("ext4")));
    }
    const std::unique_ptr<DiskImage> image = mountedExt4();
    QVERIFY(image);
    const QString path = writeTestFile(image->filePath("immutable"), QByteArray(6000, 'i'));
    QCOMPARE(QProcess::execute("chattr", {"+i", path}), 0);

    QVERIFY(!shredSingle(path));
    QCOMPARE(messages().last(), "Warning!: " + path + ": cannot open for writing: Operation not permitted");
    QCOMPARE(drop({path}), 1);
    QCOMPARE(shredAllListed(), QString()); // no "Mission Accomplished !" over nothing shredded
    QCOMPARE(messages().last(),
             "Warning!: The checked file was not shredded:\n\n" + path +
                 ": cannot open for writing: Operation not permitted");
    QCOMPARE(listed(), QStringList{path}); // back in the list
    QCOMPARE(readTestFile(path), QByteArray(6000, 'i'));
    QCOMPARE(QProcess::execute("chattr", {"-i", path}), 0);
}

void TestForensic::readOnlyFileSystemIsRefusedUntouched()
{
    if (!DiskImage::unavailableReason("ext4").isEmpty()) {
        QSKIP(qPrintable("image test skipped: " + DiskImage::unavailableReason("ext4")));
    }
    const std::unique_ptr<DiskImage> image = mountedExt4();
    QVERIFY(image);
    const QString path = writeTestFile(image->filePath("kept"), QByteArray(7000, 'k'));
    const QString error = image->remountReadOnly();
    QVERIFY2(error.isEmpty(), qPrintable(error));

    QVERIFY(!shredSingle(path));
    QCOMPARE(messages().last(), "Warning!: " + path + ": cannot open for writing: Read-only file system");
    QCOMPARE(readTestFile(path), QByteArray(7000, 'k'));
}

void TestForensic::fullFileSystemStillOverwritesTheOriginalBytes_data()
{
    QTest::addColumn<qint64>("holeLength"); // between the file's two halves of 8192 bytes
    QTest::addColumn<QString>("kept");
    QTest::newRow("no room for the last block")
        << qint64(0) << "the file could not be extended to a whole block and was not deleted";
    QTest::newRow("no room to fill a hole")
        << qint64(32768) << "a hole in the file could not be filled and the file was not deleted";
}

void TestForensic::fullFileSystemStillOverwritesTheOriginalBytes()
{
    QFETCH(qint64, holeLength);
    QFETCH(QString, kept);
    if (!DiskImage::unavailableReason("ext4").isEmpty()) {
        QSKIP(qPrintable("image test skipped: " + DiskImage::unavailableReason("ext4")));
    }
    const std::unique_ptr<DiskImage> image = mountedExt4();
    QVERIFY(image);
    // 8192 bytes fill two 4096-byte blocks; the whole last block (10,000 bytes) needs a third.
    const QByteArray marker = freshMarker();
    const QByteArray half = marker.repeated(8192 / marker.size() + 1).left(8192);
    const QString path = writeTestFile(image->filePath("victim"), half);
    if (holeLength > 0) {
        QFile out(path);
        QVERIFY(out.open(QIODevice::ReadWrite) && out.seek(8192 + holeLength) && out.write(half) == half.size());
    }
    // Fill what is left, again after each flush: the file system frees space it held back for
    // writes not yet allocated.
    for (int round = 0; round < 3; ++round) {
        QFile filler(image->filePath(QString("filler-%1").arg(round)));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray chunk(1024, 'F');
        while (filler.write(chunk) == chunk.size()) {
        }
        filler.close();
        image->sync();
    }

    QVERIFY(!shredSingle(path));
    QCOMPARE(messages().last(),
             "Warning!: " + path + ": contents overwritten, but " + kept + ": No space left on device");
    QCOMPARE(readTestFile(path), QByteArray(holeLength > 0 ? 2 * 8192 + holeLength : 8192, '\0'));
    QCOMPARE(caption("Text1"), path);
    QVERIFY(image->unmount().isEmpty());
    QCOMPARE(image->raw().count(marker), 0);
}

void TestForensic::placementIsToldTruthfully_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("batch");
    // Empty: shredded, and no marker left anywhere. kEitherWay: whichever the run says must be true.
    QTest::addColumn<QString>("reason");
    const QList<QPair<QString, QString>> kinds = {
        {"ext4", ""},
        {"xfs", ""},
        {"btrfs without copy-on-write", ""},
        {"btrfs", "btrfs copies on write: the new data went to other blocks"},
        {"ext4, written just before", ""},
        {"btrfs, written just before", "btrfs copies on write: the new data went to other blocks"},
        {"ext4 with data=journal", "ext4 also writes this file's data to its journal, which may still hold copies"},
        {"f2fs", kEitherWay},
        {"udf", kEitherWay},
        {"nilfs2", "nilfs2 writes every change to a log: the new data went to other blocks"},
        {"xfs with a reflinked copy",
         "xfs shares the file's blocks with a copy or a snapshot, which keeps the old bytes"},
        {"overlay over ext4", "overlay may keep the original file untouched in a lower layer"},
    };
    for (const auto& [kind, reason] : kinds) {
        for (bool batch : {false, true}) {
            QTest::addRow("%s %s", qPrintable(kind), batch ? "batch" : "single") << kind << batch << reason;
        }
    }
}

// Whether the old bytes survive decides what the run says: "shredded" only when none is left on the
// disk, and otherwise a warning that is true.
void TestForensic::placementIsToldTruthfully()
{
    QFETCH(QString, kind);
    QFETCH(bool, batch);
    QFETCH(QString, reason);
    const QByteArray marker = freshMarker();
    ImageScene scene;
    if (const QString unavailable = scene.make(kind, marker); !unavailable.isEmpty()) {
        QSKIP(qPrintable("image test skipped: " + unavailable));
    }
    const std::string path = QFile::encodeName(scene.victim).toStdString();
    const ChosenFile file(path, IdentifyFile(path, FileSystem::system()).identity);
    ImageRunView view;
    RunProgress progress;
    ScriptedFileSystem files =
        ScriptedPlatform::writingDirectWhenAsked(); // past the page cache too, as the direct run asks
    SystemTraces traces;
    bool shredded = false;
    if (batch) {
        view.list = {{path, true, file.identity}};
        shredded = shredCheckedFiles(kStandardMode, view, progress, files, traces) == 1;
    } else {
        shredded = shredSingleFile(file, kStandardMode, view, progress, files, traces);
    }
    QVERIFY(!QFile::exists(scene.victim)); // deleted as asked, either way
    const QByteArray copyAfter = scene.copy.isEmpty() ? QByteArray() : readTestFile(scene.copy);
    const QByteArray lowerAfter = scene.lower.isEmpty() ? QByteArray() : readTestFile(scene.lower);
    const QByteArray raw = scene.raw();

    if (reason == kEitherWay) {
        qInfo("%s: %s", qPrintable(kind), qPrintable(shredded ? "shredded" : view.lines.last()));
    }
    if (reason.isEmpty() || (reason == kEitherWay && shredded)) {
        QVERIFY2(shredded, qPrintable(view.lines.join('\n')));
        QCOMPARE(raw.count(marker), 0);
        return;
    }
    QVERIFY2(!shredded, qPrintable(QString("said shredded, and %1 markers are left").arg(raw.count(marker))));
    const QString warning = QString("Warning!: ") + (batch ? "The checked file was not shredded:\n\n" : "") +
                            scene.victim + ": overwritten and deleted, but ";
    if (reason == kEitherWay) {
        QVERIFY2(view.lines.last().startsWith(warning), qPrintable(view.lines.last()));
    } else {
        QCOMPARE(view.lines.last(), warning + reason + ", so the old contents may still be readable on the disk");
    }
    QVERIFY2(raw.count(marker) > 0, "the warning said the old contents may survive, and none was found");
    if (!scene.copy.isEmpty()) {
        QCOMPARE(copyAfter, scene.content);
    }
    if (!scene.lower.isEmpty()) {
        QCOMPARE(lowerAfter, scene.content);
    }
}

void TestForensic::badBlocksArePassedOver()
{
    if (const QString reason = FailingDisk::unavailableReason(); !reason.isEmpty()) {
        QSKIP(qPrintable("image test skipped: " + reason));
    }
    FailingDisk disk;
    const QString mounted = disk.mount();
    QVERIFY2(mounted.isEmpty(), qPrintable(mounted));
    const QByteArray marker = freshMarker();
    const qint64 size = 256 * 1024;
    const QString path = writeTestFile(disk.filePath("failing"), marker.repeated(size / marker.size() + 1).left(size));
    QFile synced(path);
    QVERIFY(synced.open(QIODevice::ReadOnly) && ::fsync(synced.handle()) == 0);
    QString error;
    const QList<DiskImage::Extent> extents = DiskImage::extentsOf(path, &error);
    QVERIFY2(extents.size() == 1 && extents.first().length >= size, qPrintable("not one extent: " + error));
    // The file's bytes 64 KiB to 72 KiB can no longer be written.
    const qint64 start = extents.first().physical;
    const qint64 badFrom = 64 * 1024;
    const qint64 badLength = 8 * 1024;
    error = disk.failFrom(start + badFrom, badLength);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    QVERIFY(!shredSingle(path));
    QVERIFY(QFile::exists(path));
    const QString warning = messages().last();
    QVERIFY2(warning.startsWith("Warning!: " + path + ": ") && warning.contains("Input/output error"),
             qPrintable(warning));
    // Past the page cache the failing writes are seen one by one; through it only when flushed.
    if (qEnvironmentVariableIsSet("ZORVIK_TEST_WRITE_DIRECT")) {
        QVERIFY2(warning.contains(": error writing bytes "), qPrintable(warning));
    }
    // Every block but the failing ones was overwritten; those still hold the marker, so the failure
    // was real.
    const QByteArray before = disk.raw(start, badFrom);
    const QByteArray bad = disk.raw(start + badFrom, badLength);
    const QByteArray after = disk.raw(start + badFrom + badLength, size - badFrom - badLength);
    QCOMPARE(before.count(marker), 0);
    QCOMPARE(after.count(marker), 0);
    QVERIFY(bad.count(marker) > 0);
}

void TestForensic::deletionsOutliveAPowerCut_data()
{
    QTest::addColumn<bool>("batch");
    QTest::newRow("single") << false;
    QTest::newRow("batch") << true;
}

void TestForensic::deletionsOutliveAPowerCut()
{
    QFETCH(bool, batch);
    if (const QString reason = FailingDisk::unavailableReason(); !reason.isEmpty()) {
        QSKIP(qPrintable("image test skipped: " + reason));
    }
    FailingDisk disk;
    QString error = disk.mount();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QStringList shredded = {writeTestFile(disk.filePath("first"), freshMarker()),
                                  writeTestFile(disk.filePath("second"), freshMarker())};
    const QString control = writeTestFile(disk.filePath("control"), freshMarker());
    ::sync();
    if (batch) {
        QCOMPARE(drop(shredded), 2);
        QCOMPARE(shredAllListed(), QString("2 files shredded !"));
    } else {
        QVERIFY(shredSingle(shredded[0]) && shredSingle(shredded[1]));
    }
    // Deleted and not flushed, as any other program may: this one comes back, so the cut was real.
    QVERIFY(QFile::remove(control));
    error = disk.cutPower();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    error = disk.restorePower();
    QVERIFY2(error.isEmpty(), qPrintable(error));

    QVERIFY(QFile::exists(control));
    for (const QString& path : shredded) {
        QVERIFY2(!QFile::exists(path), qPrintable(path + " came back after the power cut"));
    }
}

QTEST_MAIN(TestForensic)
#include "TestForensic.moc"
