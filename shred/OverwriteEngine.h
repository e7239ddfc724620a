#pragma once

// The overwrite engine: one pass of the fill block over a file, in place, flushed to the medium, and
// the deletion of exactly the file that was overwritten.
//
// A file is named by a path, and a path can name another file by the next moment: the path is
// resolved once, and every step works on what the system holds of the file (see FileSystem.h) and
// checks that the file is still the one the user chose. Whether the pass really destroyed the old contents depends on
// the file system: the engine reads where the file's blocks lay before and after (see Placement.h) and says so when it
// cannot confirm it. What it cannot see: data journals, flash media that remap writes, backups, and copies made before
// the run.

#include "shred/FilePath.h"
#include "shred/FileSystem.h"
#include "shred/FillBlock.h"
#include "shred/Placement.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class RunProgress;

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
    // Why the path may name no file to shred whatever stands there, known before it is measured (a
    // name that shows like another's); empty when it may.
    std::string refusal;
};

// A file measured for shredding: its length and identity, pinned for the run that overwrites and
// deletes it, or why it may not be shredded.
struct MeasuredFile
{
    std::int64_t length = 0;
    FileIdentity identity;
    std::string failure; // one line naming the file, the step and the reason; empty when fine
    PinnedFile pinned;

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

    // The overwritten file, pinned for its deletion, and what it was.
    PinnedFile pinned;
    FileIdentity identity;

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
// Nothing is pinned.
MeasuredFile IdentifyFile(const NativePath& path, FileSystem& files);

// Measures the chosen file and pins it, or refuses what may not be shredded: a path that is not
// absolute, anything but a regular file, a file other than the one chosen, a file with more than one
// name, a file mounted at its name from elsewhere, and the files of kernel and firmware interfaces.
MeasuredFile MeasureFile(const ChosenFile& file, FileSystem& files);

// Overwrites the measured file through its pin with the fill block from its first byte to the end of
// its last block, stepping `progress` after every block, then flushes it, overwrites what another
// program added meanwhile, and ends the writing. The file grows to a whole number of blocks and is
// never truncated. Everything MeasureFile refuses is refused here again, on the file as it is now
// and once more on the file as opened, before a byte is written; a file the owner may not write is
// made writable first. The pin moves into the result.
OverwriteResult OverwriteFile(MeasuredFile& file, const FillBlock& block, RunProgress& progress, FileSystem& files);

// An overwrite in two halves, so that several small files can be written before any of them is
// flushed: each flush then finds the disk's journal already committed for the files written with it.
// StartOverwrite does everything OverwriteFile does up to the flush, and FinishOverwrite the rest,
// with the same result; the file stays open in between, and is closed unfinished if the started
// overwrite is dropped. `file`, `block`, `progress` and `files` must outlive it.
class StartedOverwrite
{
public:
    StartedOverwrite(StartedOverwrite&&) noexcept;
    StartedOverwrite& operator=(StartedOverwrite&&) noexcept;
    ~StartedOverwrite();

    struct Writing;

private:
    explicit StartedOverwrite(std::unique_ptr<Writing> writing);
    friend StartedOverwrite
    StartOverwrite(MeasuredFile& file, const FillBlock& block, RunProgress& progress, FileSystem& files);
    friend OverwriteResult FinishOverwrite(StartedOverwrite& started);

    std::unique_ptr<Writing> m_writing;
};

StartedOverwrite StartOverwrite(MeasuredFile& file, const FillBlock& block, RunProgress& progress, FileSystem& files);
OverwriteResult FinishOverwrite(StartedOverwrite& started);

// The same for a file not measured yet: it is measured and pinned first.
OverwriteResult OverwriteFile(const ChosenFile& file, const FillBlock& block, RunProgress& progress, FileSystem& files);

// When the deletion of a name is flushed to the disk: at once, or with others by FlushRemovals.
enum class RemovalFlush
{
    Now,
    Later,
};

// Deletes the overwritten file's name, but only while it still names that file: another file put in
// its place meanwhile is left alone. Returns the failure line, or an empty string.
std::string RemoveFile(OverwriteResult& overwritten, FileSystem& files, RemovalFlush flush = RemovalFlush::Now);

// Flushes the deletions of files removed with RemovalFlush::Later, each folder once. Returns a failure
// line for each file whose deletion could not be flushed, by its index, and nothing for the others.
std::vector<std::string> FlushRemovals(const std::vector<OverwriteResult>& removed, FileSystem& files);
