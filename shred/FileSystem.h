#pragma once

#include <sys/types.h>
#include <sys/uio.h>

// The system calls through which shredding writes, flushes and removes files. The program uses the
// real ones; tests replace single calls to inject faults or to look at a file just before it goes.
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
    virtual int unlink(const char* path);

    // The real calls.
    static FileSystem& system();
};
