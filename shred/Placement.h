#pragma once

// Whether an overwrite landed on the blocks that held the old contents. Writing over a file in place
// destroys its old bytes only where the file system writes the new data over them; a copy-on-write
// or log-structured file system, a block shared with a copy or a snapshot, compressed or inline data
// and an overlay's lower layer all keep the old bytes somewhere the writes never reach. This unit
// judges that from the file's block map before the first write and after the flush, and from the
// type of the file system.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One extent of a file's block map: units [logical, logical + length) of the file lie at
// [physical, physical + length) on the device. Linux reports bytes, Windows clusters; one map never
// mixes them. Flags are ExtentFlag bits.
struct Extent
{
    std::uint64_t logical = 0;
    std::uint64_t physical = 0;
    std::uint64_t length = 0;
    std::uint32_t flags = 0;
};

// The flags of an extent: the bits FS_IOC_FIEMAP reports, which the Windows map is translated to.
namespace ExtentFlag {
inline constexpr std::uint32_t Last = 0x1;
inline constexpr std::uint32_t Unknown = 0x2;  // where the data lies is not known
inline constexpr std::uint32_t Delalloc = 0x4; // written but not yet given a place on the disk
inline constexpr std::uint32_t Encoded = 0x8;  // stored compressed or otherwise transformed
inline constexpr std::uint32_t DataEncrypted = 0x80;
inline constexpr std::uint32_t DataInline = 0x200; // kept in the file system's metadata
inline constexpr std::uint32_t DataTail = 0x400;   // packed with other files' tails
inline constexpr std::uint32_t Unwritten = 0x800;  // allocated but never written, or a hole
inline constexpr std::uint32_t Shared = 0x2000;    // shared with another file, a copy or a snapshot
} // namespace ExtentFlag

// A file's block map; none when the file system cannot tell it.
using ExtentMap = std::vector<Extent>;

// What a file system does with a write over existing data.
enum class FileSystemKind
{
    InPlace,         // writes over the old blocks (ext4, xfs, vfat, tmpfs...)
    CopyOnWrite,     // writes new blocks and keeps the old ones until freed (btrfs, zfs, bcachefs)
    LogStructured,   // appends every write to a log (f2fs, nilfs2)
    OutOfSight,      // network storage whose disk this machine cannot see
    NoBlockMap,      // user-space file systems (FUSE): the disk may be local, but no block map is given
    Overlay,         // overlayfs: a lower layer stays untouched under a copied-up file
    SystemInterface, // proc, sysfs and the like: kernel and firmware state, not stored files
    Unknown,
};

struct FileSystemType
{
    std::uint64_t magic = 0;
    std::string name;
    FileSystemKind kind = FileSystemKind::Unknown;
    // Whether the file's data also goes through the file system's journal (ext3 and ext4 mounted with
    // data=journal, or a file with its own journalling flag): the journal keeps copies of what was
    // written until it wraps, out of reach of any overwrite. Told per file, never by the type alone.
    bool journalsData = false;
};

// The type behind statfs' f_type.
FileSystemType ClassifyFileSystem(std::uint64_t magic);
// The type behind the name a Windows volume gives its file system ("NTFS", "ReFS"...).
FileSystemType ClassifyFileSystemName(const std::string& name);

enum class Placement
{
    InPlace,     // every old block was overwritten where it lay
    Moved,       // some old blocks were left behind and the new data went elsewhere
    Shared,      // some old blocks belong to another file, a copy or a snapshot, too
    Encoded,     // the file system stores the data compressed
    Inline,      // the data lives in the file system's metadata
    Overlay,     // the file's original lies in an overlay's lower layer
    Journalled,  // overwritten in place, but the data journal may keep copies of the old contents
    Unconfirmed, // where the data lay cannot be told
};

struct PlacementVerdict
{
    Placement placement = Placement::InPlace;
    // Why it is not in place, naming the file system: "btrfs copies on write". Empty when in place.
    std::string reason;

    bool inPlace() const
    {
        return placement == Placement::InPlace;
    }
};

// Whether new data may go to other blocks than the old (copy-on-write, log-structured): then only a
// map can show it did not.
bool WritesElsewhere(const FileSystemType& type);

// Whether the file system told where every extent of the map lies on the disk: nothing is waiting
// for a place (delayed allocation) or in an unknown one.
bool EveryExtentLocated(const ExtentMap& map);

// `before` is the map read before the first write, `after` the one read after the flush. On a file
// system that may write new data elsewhere (copy-on-write, log-structured), "in place" needs every
// extent of `before` located and unmoved in `after`.
PlacementVerdict JudgePlacement(const std::optional<ExtentMap>& before,
                                const std::optional<ExtentMap>& after,
                                const FileSystemType& type);

// The one line a run shows for a file that was overwritten and deleted but not in place.
std::string PlacementWarning(const std::string& path, const PlacementVerdict& verdict);
