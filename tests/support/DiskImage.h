#pragma once

// A file-system image mounted on a loop device, its raw bytes and where each file's blocks lie.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

// A small file system in an image file, mounted on a loop device for one test, so that the test can
// read the raw bytes the file system left on its "disk" after it is unmounted. Needs root, loop
// devices and the file system's mkfs; `unavailableReason()` says why not when they are missing.
class DiskImage
{
public:
    // type: "ext4", "vfat", "xfs", "btrfs", "f2fs", "udf" or "nilfs2"; mountOptions: added to mount's -o, such as
    // "data=journal".
    explicit DiskImage(const QString& type, qint64 sizeMiB = 64, const QString& mountOptions = {});
    ~DiskImage();
    DiskImage(const DiskImage&) = delete;
    DiskImage& operator=(const DiskImage&) = delete;

    // Empty when images of this type can be made and mounted here.
    static QString unavailableReason(const QString& type);

    // Creates and mounts the file system. Returns an error text, or an empty string.
    QString mount();
    QString remountReadOnly();
    QString unmount();

    QString mountPoint() const;
    QString filePath(const QString& name) const;

    // The whole image as it lies on the host's disk; only meaningful once unmounted.
    QByteArray raw() const;

    // Where the file's bytes lie in the image: (offset in the file, offset in the image, length).
    struct Extent
    {
        qint64 logical = 0;
        qint64 physical = 0;
        qint64 length = 0;
    };
    static QList<Extent> extentsOf(const QString& path, QString* error = nullptr);

    // Flushes everything of the mounted file system to the image.
    void sync() const;

    // Mounts an overlay at `merged` over the folders `lower` (read-only layer), `upper` and `work`,
    // all inside this image. Returns an error text, or an empty string.
    QString mountOverlay(const QString& lower, const QString& upper, const QString& work, const QString& merged);
    static QString unmountFolder(const QString& folder);
    // Runs a helper program; returns an error text, or an empty string.
    static QString run(const QString& program, const QStringList& arguments);

private:
    QString m_type;
    qint64 m_sizeMiB;
    QString m_mountOptions;
    QTemporaryDir m_folder;
    bool m_mounted = false;
};
