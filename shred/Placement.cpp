// The placement verdict: whether the overwrite landed on the file's own blocks.

#include "shred/Placement.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace {
struct KnownFileSystem
{
    std::uint64_t magic;
    const char* name;
    FileSystemKind kind;
};

using enum FileSystemKind;

// statfs' f_type values, as the kernel's file systems define them.
constexpr std::array kKnownFileSystems = {
    KnownFileSystem{0xEF53, "ext4", InPlace}, // also ext2 and ext3
    KnownFileSystem{0x58465342, "xfs", InPlace},
    KnownFileSystem{0x4d44, "vfat", InPlace},
    KnownFileSystem{0x2011BAB0, "exfat", InPlace},
    KnownFileSystem{0x5346544e, "ntfs", InPlace},
    KnownFileSystem{0x7366746e, "ntfs3", InPlace},
    KnownFileSystem{0x01021994, "tmpfs", InPlace},
    KnownFileSystem{0x858458f6, "ramfs", InPlace},
    KnownFileSystem{0x958458f6, "hugetlbfs", InPlace},
    KnownFileSystem{0x3153464a, "jfs", InPlace},
    KnownFileSystem{0x52654973, "reiserfs", InPlace},
    KnownFileSystem{0x482b, "hfsplus", InPlace},
    KnownFileSystem{0x4244, "hfs", InPlace},
    KnownFileSystem{0x15013346, "udf", InPlace},
    KnownFileSystem{0x9123683E, "btrfs", CopyOnWrite},
    KnownFileSystem{0x2fc12fc1, "zfs", CopyOnWrite},
    KnownFileSystem{0xca451a4e, "bcachefs", CopyOnWrite},
    KnownFileSystem{0x3434, "nilfs2", LogStructured},
    KnownFileSystem{0xF2F52010, "f2fs", LogStructured},
    KnownFileSystem{0x72b6, "jffs2", LogStructured},
    KnownFileSystem{0x24051905, "ubifs", LogStructured},
    KnownFileSystem{0x6969, "nfs", OutOfSight},
    KnownFileSystem{0x517B, "smb", OutOfSight},
    KnownFileSystem{0xFF534D42, "cifs", OutOfSight},
    KnownFileSystem{0xFE534D42, "smb2", OutOfSight},
    KnownFileSystem{0x65735546, "fuse", NoBlockMap},
    KnownFileSystem{0x00c36400, "ceph", OutOfSight},
    KnownFileSystem{0x01021997, "9p", OutOfSight},
    KnownFileSystem{0x6B414653, "afs", OutOfSight},
    KnownFileSystem{0x73757245, "coda", OutOfSight},
    KnownFileSystem{0x20030528, "orangefs", OutOfSight},
    KnownFileSystem{0xf15f, "ecryptfs", OutOfSight},
    KnownFileSystem{0x794c7630, "overlay", Overlay},
    KnownFileSystem{0x9fa0, "proc", SystemInterface},
    KnownFileSystem{0x62656572, "sysfs", SystemInterface},
    KnownFileSystem{0x64626720, "debugfs", SystemInterface},
    KnownFileSystem{0x74726163, "tracefs", SystemInterface},
    KnownFileSystem{0x73636673, "securityfs", SystemInterface},
    KnownFileSystem{0xde5e81e4, "efivarfs", SystemInterface},
    KnownFileSystem{0x62656570, "configfs", SystemInterface},
    KnownFileSystem{0x0027e0eb, "cgroup", SystemInterface},
    KnownFileSystem{0x63677270, "cgroup2", SystemInterface},
    KnownFileSystem{0x6165676C, "pstore", SystemInterface},
    KnownFileSystem{0xcafe4a11, "bpf", SystemInterface},
    KnownFileSystem{0x1cd1, "devpts", SystemInterface},
    KnownFileSystem{0xf97cff8c, "selinuxfs", SystemInterface},
    KnownFileSystem{0x43415d53, "smackfs", SystemInterface},
    KnownFileSystem{0x42494e4d, "binfmt_misc", SystemInterface},
    KnownFileSystem{0x65735543, "fusectl", SystemInterface},
    KnownFileSystem{0x19800202, "mqueue", SystemInterface},
    KnownFileSystem{0x6e736673, "nsfs", SystemInterface},
    KnownFileSystem{0x07655821, "resctrl", SystemInterface},
    KnownFileSystem{0x0187, "autofs", SystemInterface},
    KnownFileSystem{0x9fa2, "usbdevfs", SystemInterface},
    KnownFileSystem{0x6c6f6f70, "binder", SystemInterface},
};

constexpr std::uint32_t kNotLocated = ExtentFlag::Unknown | ExtentFlag::Delalloc;

bool isEncoded(std::uint32_t flags)
{
    // Encryption alone rewrites in place; compression never does.
    return (flags & ExtentFlag::Encoded) && !(flags & ExtentFlag::DataEncrypted);
}

bool isInline(std::uint32_t flags)
{
    return flags & (ExtentFlag::DataInline | ExtentFlag::DataTail);
}

// The after-map's extent holding byte `at` of the file, if it lies at a known place on the disk.
const Extent* locatedAt(const ExtentMap& map, std::uint64_t at)
{
    for (const Extent& extent : map) {
        if (extent.logical <= at && at - extent.logical < extent.length) {
            return extent.flags & kNotLocated ? nullptr : &extent;
        }
    }
    return nullptr;
}

// Whether every byte of `old` is still at the same place on the disk in `after`.
bool stayedInPlace(const Extent& old, const ExtentMap& after)
{
    const std::uint64_t end = old.logical + old.length;
    for (std::uint64_t at = old.logical; at < end;) {
        const Extent* now = locatedAt(after, at);
        if (!now || now->physical + (at - now->logical) != old.physical + (at - old.logical)) {
            return false;
        }
        at = std::min(end, now->logical + now->length);
    }
    return true;
}

PlacementVerdict byType(const FileSystemType& type)
{
    switch (type.kind) {
    case InPlace:
        return {};
    case CopyOnWrite:
        return {Placement::Unconfirmed, type.name + " copies on write and its block map could not be read"};
    case LogStructured:
        return {Placement::Unconfirmed, type.name + " writes every change to a log"};
    case OutOfSight:
        return {Placement::Unconfirmed, type.name + " keeps its storage out of this computer's sight"};
    case NoBlockMap:
        return {Placement::Unconfirmed, type.name + " gives no block map"};
    default:
        return {Placement::Unconfirmed, type.name + " is not known to overwrite in place"};
    }
}

PlacementVerdict moved(const FileSystemType& type)
{
    switch (type.kind) {
    case CopyOnWrite:
        return {Placement::Moved, type.name + " copies on write: the new data went to other blocks"};
    case LogStructured:
        return {Placement::Moved, type.name + " writes every change to a log: the new data went to other blocks"};
    default:
        return {Placement::Moved, type.name + " wrote the new data to other blocks"};
    }
}
} // namespace

FileSystemType ClassifyFileSystem(std::uint64_t magic)
{
    // f_type is a signed word on some platforms: compare the low 32 bits.
    const std::uint64_t low = magic & 0xFFFFFFFFu;
    for (const KnownFileSystem& known : kKnownFileSystems) {
        if (known.magic == low) {
            return {low, known.name, known.kind};
        }
    }
    char name[40];
    std::snprintf(name, sizeof name, "the file system of type 0x%llx", static_cast<unsigned long long>(low));
    return {low, name, Unknown};
}

FileSystemType ClassifyFileSystemName(const std::string& name)
{
    struct KnownName
    {
        const char* volumeName;
        const char* name;
        FileSystemKind kind;
    };
    static constexpr std::array kKnownNames = {
        KnownName{"NTFS", "ntfs", InPlace},
        KnownName{"FAT", "fat", InPlace},
        KnownName{"FAT32", "fat32", InPlace},
        KnownName{"exFAT", "exfat", InPlace},
        KnownName{"UDF", "udf", InPlace},
        KnownName{"ReFS", "refs", CopyOnWrite},
    };
    for (const KnownName& known : kKnownNames) {
        if (name == known.volumeName) {
            return {0, known.name, known.kind};
        }
    }
    return {0, name.empty() ? "the file system" : "the file system " + name, Unknown};
}

namespace {
PlacementVerdict
judgeBlocks(const std::optional<ExtentMap>& before, const std::optional<ExtentMap>& after, const FileSystemType& type)
{
    if (type.kind == Overlay) {
        // Opening a lower-layer file for writing copies it up: the maps describe the copy, while the
        // original stays whole below. A file made in the upper layer has no such original.
        return {Placement::Overlay, "overlay may keep the original file untouched in a lower layer"};
    }
    if (!before || !after) {
        return byType(type);
    }
    for (const ExtentMap* map : {&*before, &*after}) {
        for (const Extent& extent : *map) {
            if (extent.flags & ExtentFlag::Shared) {
                return {Placement::Shared,
                        type.name + " shares the file's blocks with a copy or a snapshot, which keeps the old bytes"};
            }
            if (isEncoded(extent.flags)) {
                return {Placement::Encoded, type.name + " stores the file compressed, never rewritten in place"};
            }
            if (isInline(extent.flags)) {
                return {Placement::Inline, type.name + " keeps the file's data inside its own metadata"};
            }
        }
    }
    for (const Extent& old : *before) {
        // Allocated but never written: no old bytes of this file lie there. Written but not yet
        // given a place: overwritten in memory before it gets one, unless the file system may still
        // put the old pages on the disk wherever it likes.
        if ((old.flags & ExtentFlag::Unwritten) || ((old.flags & ExtentFlag::Delalloc) && !WritesElsewhere(type))) {
            continue;
        }
        if (old.flags & kNotLocated) {
            return {Placement::Unconfirmed, type.name + " did not tell where the file's data lay"};
        }
        if (!stayedInPlace(old, *after)) {
            return moved(type);
        }
    }
    return {};
}
} // namespace

bool WritesElsewhere(const FileSystemType& type)
{
    return type.kind == CopyOnWrite || type.kind == LogStructured;
}

bool EveryExtentLocated(const ExtentMap& map)
{
    return std::none_of(map.begin(), map.end(), [](const Extent& extent) { return extent.flags & kNotLocated; });
}

PlacementVerdict JudgePlacement(const std::optional<ExtentMap>& before,
                                const std::optional<ExtentMap>& after,
                                const FileSystemType& type)
{
    PlacementVerdict verdict = judgeBlocks(before, after, type);
    if (verdict.inPlace() && type.journalsData) {
        verdict = {Placement::Journalled,
                   type.name + " also writes this file's data to its journal, which may still hold copies"};
    }
    return verdict;
}

std::string PlacementWarning(const std::string& path, const PlacementVerdict& verdict)
{
    const std::string tail = ", so the old contents may still be readable on the disk";
    if (verdict.placement == Placement::Unconfirmed) {
        return path + ": overwritten and deleted, but the overwrite could not be confirmed in place (" +
               verdict.reason + ")" + tail;
    }
    return path + ": overwritten and deleted, but " + verdict.reason + tail;
}
