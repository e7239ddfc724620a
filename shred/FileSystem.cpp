#include "shred/FileSystem.h"

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>

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

int FileSystem::fstatfs(int fd, struct statfs* status)
{
    return ::fstatfs(fd, status);
}

std::optional<ExtentMap> FileSystem::readExtents(int fd)
{
    constexpr unsigned kPerCall = 128;
    std::vector<char> buffer(sizeof(fiemap) + kPerCall * sizeof(fiemap_extent));
    ExtentMap extents;
    for (std::uint64_t start = 0;;) {
        std::fill(buffer.begin(), buffer.end(), 0);
        auto* map = reinterpret_cast<fiemap*>(buffer.data());
        map->fm_start = start;
        map->fm_length = FIEMAP_MAX_OFFSET - start;
        map->fm_flags = 0;
        map->fm_extent_count = kPerCall;
        if (::ioctl(fd, FS_IOC_FIEMAP, map) != 0) {
            return std::nullopt;
        }
        if (map->fm_mapped_extents == 0) {
            return extents;
        }
        for (unsigned i = 0; i < map->fm_mapped_extents; ++i) {
            const fiemap_extent& extent = map->fm_extents[i];
            extents.push_back({extent.fe_logical, extent.fe_physical, extent.fe_length, extent.fe_flags});
            if (extent.fe_flags & FIEMAP_EXTENT_LAST) {
                return extents;
            }
        }
        const fiemap_extent& last = map->fm_extents[map->fm_mapped_extents - 1];
        if (last.fe_logical + last.fe_length <= start) {
            return extents;
        }
        start = last.fe_logical + last.fe_length;
    }
}

int FileSystem::unlinkat(int folder, const char* name)
{
    return ::unlinkat(folder, name, 0);
}

FileSystem& FileSystem::system()
{
    static FileSystem real;
    return real;
}
