#pragma once

#include "shred/Placement.h"

#include <optional>
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

    virtual ssize_t pwritev(int fd, const iovec* vectors, int count, off_t offset);
    // Asks the kernel to start writing the range to the disk now, without waiting for it; the flush
    // at the end still waits for everything.
    virtual int startWriteback(int fd, off_t offset, off_t length);
    virtual int fdatasync(int fd);
    virtual int fsync(int fd);
    virtual int fstatfs(int fd, struct statfs* status);
    // The file's block map, or none when the file system cannot tell it. Never syncs first: that
    // would put pages not yet written, still secret, on the disk before they are overwritten.
    virtual std::optional<ExtentMap> readExtents(int fd);
    // Removes `name` from the folder open at `folder`.
    virtual int unlinkat(int folder, const char* name);

    // The real calls.
    static FileSystem& system();
};
