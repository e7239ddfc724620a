#pragma once

// The overwrite engine: one pass of the fill block over a file, in place, flushed to the medium, and
// the deletion of exactly the file that was overwritten.
//
// A file is named by a path, and a path can name another file by the next moment: every step works
// on descriptors of the file's folder and of the file itself, and checks that the file is still the
// one the user chose. Whether the pass really destroyed the old contents depends on the file system:
// the engine reads where the file's blocks lay before and after (see Placement.h) and says so when
// it cannot confirm it. What it cannot see: data journals, flash media that remap writes, backups,
// and copies made before the run.

#include "shred/FilePath.h"
#include "shred/FileSystem.h"
#include "shred/FillBlock.h"
#include "shred/Placement.h"

#include <cstdint>
#include <optional>
#include <string>

class RunProgress;

// Which file a path named: its device and inode, or on Windows its volume's serial number and its
// file index. A file system gives a deleted file's number to the next new file, often at once, so
// the facts a reused number cannot repeat are kept too, where the file system tells them.
struct FileIdentity
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::optional<std::int64_t> birth;       // the file's creation time in nanoseconds
    std::optional<std::uint32_t> generation; // the inode's generation, drawn anew for every new file

    // Whether both name one file: the same device and number, and no fact known to both differs.
    bool sameFileAs(const FileIdentity& other) const
    {
        const auto agree = [](const auto& mine, const auto& theirs) { return !mine || !theirs || *mine == *theirs; };
        return device == other.device && inode == other.inode && agree(birth, other.birth) &&
               agree(generation, other.generation);
    }
};

// A file as the user chose it: the path, and the file it named at that moment when that is known.
// Without an identity, the file the path names when the run measures it is the chosen one.
struct ChosenFile
{
    ChosenFile(NativePath path, std::optional<FileIdentity> identity = std::nullopt)
        : path(std::move(path))
        , identity(identity)
    {
    }

    NativePath path;
    std::optional<FileIdentity> identity;
};

// The length of a file that may be shredded, or why it may not be.
struct FileLength
{
    std::int64_t length = 0;
    FileIdentity identity;
    std::string failure; // one line naming the file, the step and the reason; empty when fine

    bool ok() const
    {
        return failure.empty();
    }
};

enum class Overwrite
{
    Done,        // every block written and flushed, the file closed
    Failed,      // a step failed: the contents may be untouched or partly overwritten
    NotExtended, // the original contents are overwritten and flushed, but the file could not be given
                 // new room (disk full, file size limit): not for its last block, or not for a hole
                 // inside it. The file is kept.
};

struct OverwriteResult
{
    Overwrite outcome = Overwrite::Done;
    std::string failure; // one line naming the file, the step and the reason; empty when done
    // Whether the pass landed on the blocks that held the old contents.
    PlacementVerdict placement;

    // The overwritten file, held for its deletion.
    NativePath path;
    FileIdentity identity;
    HeldFile held;

    bool ok() const
    {
        return outcome == Overwrite::Done;
    }
};

// Blocks handed to the kernel per write call. 512 blocks are 2,560,000 bytes, a multiple of the 4096-byte
// page, so no call ends inside a page the kernel would first have to read.
inline constexpr int kBlocksPerWrite = 512;
static_assert(kBlocksPerWrite * kBlockSize % 4096 == 0);

// Writes past the page cache go out in chunks of the same 512 blocks: 2,560,000 bytes is a multiple of
// every power-of-two alignment up to 4096 (it is lcm(5000, 4096)), so every chunk starts with a block.
inline constexpr std::int64_t kDirectChunk = std::int64_t{kBlocksPerWrite} * kBlockSize;

// How many times a file that another program keeps extending is overwritten again past its old end.
inline constexpr int kGrowthRounds = 3;

// What the path names now, without following a symbolic link: a regular file's length and identity.
FileLength IdentifyFile(const NativePath& path);

// Measures the chosen file and refuses what may not be shredded: a path that is not absolute, anything
// but a regular file, a file other than the one chosen, a file with more than one name, a file mounted
// at its name from elsewhere, and the files of kernel and firmware interfaces.
FileLength MeasureFile(const ChosenFile& file, FileSystem& files = FileSystem::system());

// Overwrites the chosen file with the fill block from its first byte to the end of its last block,
// stepping `progress` after every block, then flushes it, overwrites what another program added
// meanwhile, and closes it. The file grows to a whole number of blocks and is never truncated.
// Everything MeasureFile refuses is refused here again before a byte is written; a file without owner
// write permission is given it first.
OverwriteResult OverwriteFile(const ChosenFile& file,
                              const FillBlock& block,
                              RunProgress& progress,
                              FileSystem& files = FileSystem::system());

// The system's own words for an error number (errno on Linux, a system error code on Windows), as
// the failure lines end with them.
std::string ErrorText(int error);

// Whether anything, a dangling link included, stands at `path`.
bool PathExists(const NativePath& path);

// Deletes the overwritten file's name, but only while it still names that file: another file put in
// its place meanwhile is left alone. Returns the failure line, or an empty string. On Windows the
// file is deleted through the handle it was overwritten through, which is closed here.
std::string RemoveFile(OverwriteResult& overwritten, FileSystem& files = FileSystem::system());
