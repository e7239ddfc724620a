// File-system images on loop devices, for the forensic checks.

#include "tests/support/DiskImage.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

namespace {
QString mkfsFor(const QString& type)
{
    const QString name = "mkfs." + type;
    QString found = QStandardPaths::findExecutable(name);
    if (found.isEmpty()) {
        found = QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin"});
    }
    return found;
}

// Loaded drivers are listed in /proc/filesystems; others can still be loaded from the kernel's modules.
bool kernelKnows(const QString& type)
{
    QFile list("/proc/filesystems");
    if (list.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : list.readAll().split('\n')) {
            if (line.trimmed().split('\t').last() == type.toLatin1()) {
                return true;
            }
        }
    }
    utsname system{};
    ::uname(&system);
    return QDir(QString("/lib/modules/%1").arg(system.release)).exists();
}
} // namespace

DiskImage::DiskImage(const QString& type, qint64 sizeMiB, const QString& mountOptions)
    : m_type(type)
    , m_sizeMiB(type == "xfs"      ? std::max<qint64>(sizeMiB, 320)
                : type == "btrfs"  ? std::max<qint64>(sizeMiB, 128)
                : type == "nilfs2" ? std::max<qint64>(sizeMiB, 160)
                                   : sizeMiB)
    , m_mountOptions(mountOptions)
{
}

DiskImage::~DiskImage()
{
    if (m_mounted) {
        unmount();
    }
}

QString DiskImage::unavailableReason(const QString& type)
{
    if (::geteuid() != 0) {
        return "not root: cannot mount file-system images";
    }
    if (!QFile::exists("/dev/loop-control")) {
        return "no loop devices (/dev/loop-control is missing)";
    }
    if (mkfsFor(type).isEmpty()) {
        return "mkfs." + type + " is not installed";
    }
    if (!kernelKnows(type)) {
        return "the running kernel has no " + type + " driver";
    }
    return {};
}

QString DiskImage::run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return program + " " + arguments.join(' ') + " failed: " + QString::fromLocal8Bit(process.readAll());
    }
    return {};
}

QString DiskImage::mount()
{
    if (!m_folder.isValid()) {
        return "cannot create a temporary folder";
    }
    const QString image = m_folder.filePath("disk.img");
    {
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(m_sizeMiB << 20)) {
            return "cannot create the image file";
        }
    }
    QStringList options;
    if (m_type == "ext4") {
        options = {"-q", "-F"};
    } else if (m_type == "xfs" || m_type == "btrfs" || m_type == "f2fs" || m_type == "nilfs2") {
        options = {"-q", "-f"};
    }
    if (QString error = run(mkfsFor(m_type), options + QStringList{image}); !error.isEmpty()) {
        return error;
    }
    QDir().mkpath(mountPoint());
    if (QString error =
            run("mount", {"-o", m_mountOptions.isEmpty() ? "loop" : "loop," + m_mountOptions, image, mountPoint()});
        !error.isEmpty()) {
        return error;
    }
    m_mounted = true;
    return {};
}

QString DiskImage::remountReadOnly()
{
    return run("mount", {"-o", "remount,ro", mountPoint()});
}

QString DiskImage::unmount()
{
    QString error = run("umount", {mountPoint()});
    if (error.isEmpty()) {
        m_mounted = false;
    }
    return error;
}

QString DiskImage::mountOverlay(const QString& lower, const QString& upper, const QString& work, const QString& merged)
{
    for (const QString& folder : {lower, upper, work, merged}) {
        QDir().mkpath(folder);
    }
    return run("mount",
               {"-t",
                "overlay",
                "overlay",
                "-o",
                QString("lowerdir=%1,upperdir=%2,workdir=%3").arg(lower, upper, work),
                merged});
}

QString DiskImage::unmountFolder(const QString& folder)
{
    return run("umount", {folder});
}

QString DiskImage::mountPoint() const
{
    return m_folder.filePath("mnt");
}

QString DiskImage::filePath(const QString& name) const
{
    return mountPoint() + "/" + name;
}

QByteArray DiskImage::raw() const
{
    QFile file(m_folder.filePath("disk.img"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void DiskImage::sync() const
{
    const int fd = ::open(QFile::encodeName(mountPoint()).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

namespace {
// Where the file's blocks lie, by FIBMAP, one block at a time: for file systems without FIEMAP
// (vfat). Needs root. Consecutive blocks are joined into one extent.
QList<DiskImage::Extent> blocksOf(int fd)
{
    QList<DiskImage::Extent> extents;
    int blockSize = 0;
    struct stat status
    {
    };
    if (::ioctl(fd, FIGETBSZ, &blockSize) != 0 || blockSize <= 0 || ::fstat(fd, &status) != 0) {
        return extents;
    }
    for (qint64 index = 0; index * blockSize < status.st_size; ++index) {
        int block = static_cast<int>(index);
        if (::ioctl(fd, FIBMAP, &block) != 0) {
            return {};
        }
        if (block == 0) {
            continue; // a hole
        }
        const qint64 logical = index * blockSize;
        const qint64 physical = qint64(block) * blockSize;
        if (!extents.isEmpty() && extents.last().logical + extents.last().length == logical &&
            extents.last().physical + extents.last().length == physical) {
            extents.last().length += blockSize;
        } else {
            extents.append({logical, physical, blockSize});
        }
    }
    return extents;
}
} // namespace

QList<DiskImage::Extent> DiskImage::extentsOf(const QString& path, QString* error)
{
    QList<Extent> extents;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0) {
        if (error) {
            *error = "cannot open " + path;
        }
        return extents;
    }
    constexpr int kMaxExtents = 256;
    std::vector<char> buffer(sizeof(fiemap) + kMaxExtents * sizeof(fiemap_extent));
    auto* map = reinterpret_cast<fiemap*>(buffer.data());
    map->fm_start = 0;
    map->fm_length = FIEMAP_MAX_OFFSET;
    map->fm_flags = 0; // never FIEMAP_FLAG_SYNC: a flush here would stand in for the program's own
    map->fm_extent_count = kMaxExtents;
    if (::ioctl(fd, FS_IOC_FIEMAP, map) != 0) {
        extents = blocksOf(fd);
        ::close(fd);
        if (extents.isEmpty() && error) {
            *error = "neither FIEMAP nor FIBMAP tells where " + path + " lies";
        }
        return extents;
    }
    ::close(fd);
    constexpr unsigned kNotPlain = FIEMAP_EXTENT_UNKNOWN | FIEMAP_EXTENT_DELALLOC | FIEMAP_EXTENT_ENCODED |
                                   FIEMAP_EXTENT_DATA_INLINE | FIEMAP_EXTENT_NOT_ALIGNED | FIEMAP_EXTENT_DATA_TAIL;
    for (unsigned i = 0; i < map->fm_mapped_extents; ++i) {
        const fiemap_extent& extent = map->fm_extents[i];
        if (extent.fe_flags & kNotPlain) {
            continue;
        }
        extents.append({static_cast<qint64>(extent.fe_logical),
                        static_cast<qint64>(extent.fe_physical),
                        static_cast<qint64>(extent.fe_length)});
    }
    return extents;
}
