#pragma once

// The POSIX system's own part of the engine: its seam of system calls, and how an overwritten file is
// held for its deletion.

#include "shred/Placement.h"
#include "shred/posix/FileDescriptor.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <sys/uio.h>

struct statfs;

// The system calls through which shredding writes, flushes, inspects and removes files. The program
// uses the real ones; tests replace single calls to inject faults, to script what a file system says
// of itself or to look at a file just before it goes.
class FileSystem
{
public:
    virtual ~FileSystem() = default;

    // Opens `name` in the folder open at `folder` (openat): the file to be written.
    virtual int openAt(int folder, const char* name, int flags);
    virtual ssize_t pwritev(int fd, const iovec* vectors, int count, off_t offset);
    // Asks the kernel to start writing the range to the disk now, without waiting for it; the flush
    // at the end still waits for everything.
    virtual int startWriteback(int fd, off_t offset, off_t length);
    virtual int fdatasync(int fd);
    virtual int fsync(int fd);
    virtual int fstatfs(int fd, struct statfs* status);
    // The file's block map, or none when the file system cannot tell it. `settled`: only once the
    // file system has finished giving every written page its place (FIEMAP_FLAG_SYNC), for a map read
    // after the flush. Never before the overwrite: that would put pages not yet written, still secret,
    // on the disk.
    virtual std::optional<ExtentMap> readExtents(int fd, bool settled);
    // Removes `name` from the folder open at `folder`.
    virtual int unlinkat(int folder, const char* name);
    // Where the file's data or its next hole starts, at or after `from` (lseek with SEEK_DATA or
    // SEEK_HOLE). SEEK_DATA answers -1 with errno ENXIO when only holes follow. A file system that
    // cannot tell has data everywhere and one hole, at the end.
    virtual off_t seek(int fd, off_t from, int whence);
    // Whether the file's data goes through the file system's journal as well: its own journalling
    // flag, or ext3 and ext4 mounted data=journal. False when it cannot be told.
    virtual bool journalsData(int fd);

    // Writing past the page cache. The alignment the file's offsets and lengths need for it, when the
    // kernel reports one.
    virtual std::optional<std::uint32_t> directAlignment(int fd);
    // Turns writing past the page cache on or off for the open file. Returns 0, or -1 with errno set.
    virtual int setDirect(int fd, bool direct);
    // Whether writing this many bytes is worth going past the page cache: preparing the buffer costs
    // more than it saves on small files.
    virtual bool preferDirect(std::int64_t bytes);
    // A zeroed buffer of `size` bytes at a 2 MiB boundary, held in huge pages, so that one write from it
    // is one request to the disk; null when huge pages cannot be had.
    virtual void* mapHugeBuffer(std::size_t size);
    virtual void unmapBuffer(void* buffer, std::size_t size);
    // Waits until the range is on the disk, then drops its pages from the page cache, so that a large
    // file does not push the user's other files out of memory. Only a hint.
    virtual void settle(int fd, off_t offset, off_t length);

    // The real calls.
    static FileSystem& system();
};

// An overwritten file, held for its deletion: its folder and its name there.
struct HeldFile
{
    FileDescriptor folder;
    std::string name;
};
