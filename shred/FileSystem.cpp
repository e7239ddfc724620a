#include "shred/FileSystem.h"

#include <fcntl.h>
#include <unistd.h>

ssize_t FileSystem::pwritev(int fd, const iovec* vectors, int count, off_t offset)
{
    return ::pwritev(fd, vectors, count, offset);
}

int FileSystem::startWriteback(int fd, off_t offset, off_t length)
{
    return ::sync_file_range(fd, offset, length, SYNC_FILE_RANGE_WRITE);
}

int FileSystem::fdatasync(int fd)
{
    return ::fdatasync(fd);
}

int FileSystem::fsync(int fd)
{
    return ::fsync(fd);
}

int FileSystem::unlink(const char* path)
{
    return ::unlink(path);
}

FileSystem& FileSystem::system()
{
    static FileSystem real;
    return real;
}
