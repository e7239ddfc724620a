#pragma once

// What a system may offer beyond the file contract to write a pass faster and more gently: finding a
// file's holes, writing past the page cache from a buffer of huge pages, and hints that keep the page
// cache small. Only POSIX offers it; without it the engine writes every byte through the cache.

#include "NativeFileSystem.h" // OpenedFile
#include "shred/FileSystem.h" // SystemError

#include <cstddef>
#include <cstdint>
#include <optional>

inline constexpr std::int64_t kNoMoreData = INT64_MAX;

class WriteTuning
{
public:
    virtual ~WriteTuning() = default;

    // Where the file's data starts at or after `from`: kNoMoreData when only holes follow, and `from`
    // when the file system cannot tell.
    virtual std::int64_t nextData(const OpenedFile& file, std::int64_t from) = 0;
    // Where the next hole starts at or after `from`, the file's end counting as one; `from` when the
    // file system cannot tell.
    virtual std::int64_t nextHole(const OpenedFile& file, std::int64_t from) = 0;

    // Writing past the page cache. The alignment the file's offsets and lengths need for it, when the
    // file system offers it.
    virtual std::optional<std::uint32_t> directAlignment(const OpenedFile& file) = 0;
    // Turns writing past the page cache on or off for the open file.
    virtual SystemError setDirect(OpenedFile& file, bool direct) = 0;
    // Whether writing this many bytes is worth going past the page cache: preparing the buffer costs
    // more than it saves on small files.
    virtual bool preferDirect(std::int64_t bytes) = 0;
    // A zeroed buffer of `size` bytes at a 2 MiB boundary, held in huge pages, so that one write from it
    // is one request to the disk; null when huge pages cannot be had.
    virtual void* mapHugeBuffer(std::size_t size) = 0;
    virtual void unmapBuffer(void* buffer, std::size_t size) = 0;

    // Asks the system to start writing the range to the disk now, without waiting for it; the flush at
    // the end still waits for everything. Only a hint.
    virtual SystemError startWriteback(OpenedFile& file, std::int64_t offset, std::int64_t length) = 0;
    // Waits until the range is on the disk, then drops its pages from the page cache, so that a large
    // file does not push the user's other files out of memory. Only a hint.
    virtual void settle(OpenedFile& file, std::int64_t offset, std::int64_t length) = 0;
};
