#include "shred/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>

int FileSystem::openAt(int folder, const char* name, int flags)
{
    return ::openat(folder, name, flags);
}

static_assert(ExtentFlag::Last == FIEMAP_EXTENT_LAST && ExtentFlag::Unknown == FIEMAP_EXTENT_UNKNOWN &&
                  ExtentFlag::Delalloc == FIEMAP_EXTENT_DELALLOC && ExtentFlag::Encoded == FIEMAP_EXTENT_ENCODED &&
                  ExtentFlag::DataEncrypted == FIEMAP_EXTENT_DATA_ENCRYPTED &&
                  ExtentFlag::DataInline == FIEMAP_EXTENT_DATA_INLINE &&
                  ExtentFlag::DataTail == FIEMAP_EXTENT_DATA_TAIL && ExtentFlag::Unwritten == FIEMAP_EXTENT_UNWRITTEN &&
                  ExtentFlag::Shared == FIEMAP_EXTENT_SHARED,
              "the map's flags are FIEMAP's own");

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

std::optional<ExtentMap> FileSystem::readExtents(int fd, bool settled)
{
    constexpr unsigned kPerCall = 128;
    std::vector<char> buffer(sizeof(fiemap) + kPerCall * sizeof(fiemap_extent));
    ExtentMap extents;
    for (std::uint64_t start = 0;;) {
        std::fill(buffer.begin(), buffer.end(), 0);
        auto* map = reinterpret_cast<fiemap*>(buffer.data());
        map->fm_start = start;
        map->fm_length = FIEMAP_MAX_OFFSET - start;
        map->fm_flags = settled ? FIEMAP_FLAG_SYNC : 0;
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

off_t FileSystem::seek(int fd, off_t from, int whence)
{
    return ::lseek(fd, from, whence);
}

namespace {
// Whether the mount of the device `major:minor` is ext3 or ext4 with data=journal, from the mount
// table: "ID PARENT MAJOR:MINOR ROOT POINT OPTIONS [TAGS...] - TYPE SOURCE SUPER-OPTIONS".
bool mountJournalsData(unsigned major, unsigned minor)
{
    std::ifstream table("/proc/self/mountinfo");
    const std::string device = std::to_string(major) + ":" + std::to_string(minor);
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string id, parent, numbers;
        fields >> id >> parent >> numbers;
        const std::size_t separator = line.find(" - ");
        if (numbers != device || separator == std::string::npos) {
            continue;
        }
        std::istringstream described(line.substr(separator + 3));
        std::string type, source, options;
        described >> type >> source >> options;
        if (type != "ext3" && type != "ext4") {
            return false;
        }
        return ("," + options + ",").find(",data=journal,") != std::string::npos;
    }
    return false;
}
} // namespace

bool FileSystem::journalsData(int fd)
{
    int flags = 0; // FS_IOC_GETFLAGS reads an int, whatever its number says
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_JOURNAL_DATA_FL)) {
        return true;
    }
    struct stat status
    {
    };
    return ::fstat(fd, &status) == 0 && mountJournalsData(major(status.st_dev), minor(status.st_dev));
}

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
#ifndef MADV_COLLAPSE
constexpr int MADV_COLLAPSE = 25; // Linux 6.1; older kernels refuse it and the buffer is not used
#endif

std::size_t roundUp(std::size_t value, std::size_t unit)
{
    return (value + unit - 1) / unit * unit;
}
} // namespace

std::optional<std::uint32_t> FileSystem::directAlignment(int fd)
{
    struct statx status
    {
    };
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &status) != 0 || !(status.stx_mask & STATX_DIOALIGN) ||
        status.stx_dio_offset_align == 0) {
        return std::nullopt;
    }
    return std::max(status.stx_dio_offset_align, status.stx_dio_mem_align);
}

int FileSystem::setDirect(int fd, bool direct)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) {
        return -1;
    }
    return ::fcntl(fd, F_SETFL, direct ? flags | O_DIRECT : flags & ~O_DIRECT) < 0 ? -1 : 0;
}

bool FileSystem::preferDirect(std::int64_t bytes)
{
    return bytes >= std::int64_t{32} << 20;
}

void* FileSystem::mapHugeBuffer(std::size_t size)
{
    // Mapped with a huge page to spare, then trimmed to start on a huge-page boundary.
    const std::size_t length = roundUp(size, kHugePage);
    const std::size_t mapped = length + kHugePage;
    void* raw = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) {
        return nullptr;
    }
    auto* const first = static_cast<char*>(raw);
    char* const start =
        first + (roundUp(reinterpret_cast<std::uintptr_t>(first), kHugePage) - reinterpret_cast<std::uintptr_t>(first));
    if (start > first) {
        ::munmap(first, static_cast<std::size_t>(start - first));
    }
    if (char* const end = start + length; end < first + mapped) {
        ::munmap(end, static_cast<std::size_t>(first + mapped - end));
    }
    // Touched only after asking for huge pages, so the faults take them directly; the collapse then
    // says whether every part of the buffer is in one.
    if (::madvise(start, length, MADV_HUGEPAGE) != 0) {
        ::munmap(start, length);
        return nullptr;
    }
    std::memset(start, 0, length);
    if (::madvise(start, length, MADV_COLLAPSE) != 0) {
        ::munmap(start, length);
        return nullptr;
    }
    return start;
}

void FileSystem::unmapBuffer(void* buffer, std::size_t size)
{
    ::munmap(buffer, roundUp(size, kHugePage));
}

void FileSystem::settle(int fd, off_t offset, off_t length)
{
    ::sync_file_range(
        fd, offset, length, SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    ::posix_fadvise(fd, offset, length, POSIX_FADV_DONTNEED);
}

FileSystem& FileSystem::system()
{
    static FileSystem real;
    return real;
}
