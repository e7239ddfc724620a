#pragma once

// The overwrite engine: one pass of the fill block over a file, in place, flushed to the medium.
//
// What it cannot guarantee: on journaling file systems that journal data, on copy-on-write file
// systems (btrfs, ZFS), on flash media that remap writes and on snapshots or backups, old copies of
// the contents may survive anywhere the writes to this file do not reach.

#include "shred/FileSystem.h"
#include "shred/FillBlock.h"

#include <cstdint>
#include <string>

class RunProgress;

// The length of a file that may be shredded, or why it may not be.
struct FileLength
{
    std::int64_t length = 0;
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
    NotExtended, // the original contents are overwritten and flushed, but the last block could not
                 // grow the file (disk full, file size limit)
};

struct OverwriteResult
{
    Overwrite outcome = Overwrite::Done;
    std::string failure; // one line naming the file, the step and the reason; empty when done

    bool ok() const
    {
        return outcome == Overwrite::Done;
    }
};

// Blocks handed to the kernel per write call. 512 blocks are 2,560,000 bytes, a multiple of the 4096-byte
// page, so no call ends inside a page the kernel would first have to read.
inline constexpr int kBlocksPerWrite = 512;
static_assert(kBlocksPerWrite * kBlockSize % 4096 == 0);

// Measures a file without following a symbolic link. Refuses anything but a regular file.
FileLength MeasureFile(const std::string& path);

// Overwrites the file at `path` with the fill block from its first byte to the end of its last block,
// stepping `progress` after every block, then flushes and closes it. The file grows to a whole number
// of blocks and is never truncated. Symbolic links, directories, FIFOs, sockets and devices are
// refused before anything is written. A file without owner write permission is given it first.
OverwriteResult OverwriteFile(const std::string& path,
                              const FillBlock& block,
                              RunProgress& progress,
                              FileSystem& files = FileSystem::system());

// Whether anything, a dangling link included, stands at `path`.
bool PathExists(const std::string& path);

// Deletes the file. Returns the failure line, or an empty string.
std::string RemoveFile(const std::string& path, FileSystem& files = FileSystem::system());
