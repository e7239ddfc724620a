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
    virtual int fdatasync(int fd);
    virtual int fsync(int fd);
    virtual int unlink(const char* path);

    // The real calls.
    static FileSystem& system();
};
