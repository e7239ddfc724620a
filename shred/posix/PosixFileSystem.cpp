// The file contract on Linux: pins by folder descriptor and name, and the page-cache tuning.

#include "shred/posix/PosixFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>

const char* FileKind(mode_t mode)
{
    if (S_ISREG(mode)) {
        return nullptr;
    }
    if (S_ISDIR(mode)) {
        return "a directory";
    }
    if (S_ISLNK(mode)) {
        return "a symbolic link";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    return "not a regular file";
}

namespace {

// The facts of `name` in the folder open at `at`, without following a symbolic link, or of the open
// file `at` itself when `name` is empty. Returns 0 or the error.
int readFacts(int at, const char* name, FileFacts& facts)
{
    struct statx status
    {
    };
    const int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT | (*name == '\0' ? AT_EMPTY_PATH : 0);
    if (::statx(at, name, flags, STATX_BASIC_STATS | STATX_BTIME, &status) != 0) {
        return errno;
    }
    facts.notRegular = FileKind(status.stx_mode);
    facts.length = static_cast<std::int64_t>(status.stx_size);
    facts.links = status.stx_nlink;
    facts.mountRoot = (status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
                      (status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    facts.ownerMayWrite = (status.stx_mode & S_IWUSR) != 0 || ::geteuid() == 0;
    facts.identity = {};
    facts.identity.device = static_cast<std::uint64_t>(::makedev(status.stx_dev_major, status.stx_dev_minor));
    facts.identity.inode = status.stx_ino;
    if (status.stx_mask & STATX_BTIME) {
        facts.identity.birth = status.stx_btime.tv_sec * std::int64_t{1'000'000'000} + status.stx_btime.tv_nsec;
    }
    return 0;
}

// The inode generation of the open file, where its file system keeps one (ext4, xfs).
std::optional<std::uint32_t> generationOf(int fd)
{
    int generation = 0; // FS_IOC_GETVERSION writes an int, whatever its number says
    if (::ioctl(fd, FS_IOC_GETVERSION, &generation) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(generation);
}

FileSystemType typeOf(int fd)
{
    struct statfs status
    {
    };
    if (::fstatfs(fd, &status) != 0) {
        return {0, "the file system", FileSystemKind::Unknown};
    }
    return ClassifyFileSystem(static_cast<std::uint64_t>(status.f_type));
}

// Keeps only what lasts while the file does: an overlay copies a lower file up to a new one when it
// is first written, with a birth time and a generation of its own, under the same number.
void keepLastingFacts(FileIdentity& identity, const FileSystemType& type)
{
    if (type.kind == FileSystemKind::Overlay) {
        identity.birth.reset();
        identity.generation.reset();
    }
}

constexpr int kOpenForReading = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
constexpr int kOpenForWriting = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

// The facts of `name` in `folder`, on a file system of `type`. A regular file's generation is read
// through a read-only descriptor of the same file; nothing else is opened, since opening a device or
// a file of a kernel interface may act. Returns 0 or the error.
int identifyAt(int folder, const char* name, FileFacts& facts, const FileSystemType& type)
{
    if (const int error = readFacts(folder, name, facts); error != 0) {
        return error;
    }
    if (!facts.notRegular && !facts.mountRoot && type.kind != FileSystemKind::SystemInterface) {
        FileDescriptor file(::openat(folder, name, kOpenForReading));
        FileFacts opened;
        if (file.get() >= 0 && readFacts(file.get(), "", opened) == 0 &&
            opened.identity.device == facts.identity.device && opened.identity.inode == facts.identity.inode) {
            facts.identity.generation = generationOf(file.get());
        }
    }
    keepLastingFacts(facts.identity, type);
    return 0;
}
} // namespace

namespace {
// The folder of `path` as the path spells it: "/" for a file at the root.
std::string folderOf(const NativePath& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// The folders pinned files hold now, by the path they were opened by: a file pinned in one of them
// shares its descriptor. A folder goes from here when its last pin is let go.
class HeldFolders
{
public:
    std::shared_ptr<const FileDescriptor> open(const std::string& path)
    {
        const std::lock_guard lock(m_mutex);
        std::erase_if(m_held, [](const auto& held) { return held.second.expired(); });
        if (auto held = m_held[path].lock()) {
            return held;
        }
        auto opened = std::make_shared<const FileDescriptor>(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (opened->get() < 0) {
            const int error = errno;
            m_held.erase(path);
            errno = error;
            return nullptr;
        }
        m_held[path] = opened;
        return opened;
    }

private:
    std::mutex m_mutex;
    std::map<std::string, std::weak_ptr<const FileDescriptor>> m_held;
};

// The descriptors this process has open now, or none when the system does not tell.
std::optional<std::size_t> openDescriptors()
{
    DIR* listing = ::opendir("/proc/self/fd");
    if (!listing) {
        return std::nullopt;
    }
    std::size_t count = 0;
    while (const dirent* entry = ::readdir(listing)) {
        count += entry->d_name[0] != '.';
    }
    ::closedir(listing);
    return count - 1; // the listing's own
}

// What the window needs to go on while a batch holds its folders: its connection to the display, the
// boxes' drawing and fonts, and the files each step opens for a moment.
constexpr std::size_t kDescriptorsForTheWindow = 32;
} // namespace

PinCapacity PosixFileSystem::pinCapacity(const std::vector<NativePath>& paths)
{
    std::set<std::string> folders;
    for (const NativePath& path : paths) {
        folders.insert(folderOf(path));
    }
    PinCapacity capacity{folders.size(), std::nullopt};
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return capacity;
    }
    const std::optional<std::size_t> open = openDescriptors();
    if (limit.rlim_cur == RLIM_INFINITY || !open) {
        return capacity;
    }
    const std::size_t spare = limit.rlim_cur > *open ? static_cast<std::size_t>(limit.rlim_cur) - *open : 0;
    capacity.available = spare > kDescriptorsForTheWindow ? spare - kDescriptorsForTheWindow : 0;
    return capacity;
}

SystemError PosixFileSystem::pin(const NativePath& path, PinnedFile& pinned, FileFacts& facts)
{
    static HeldFolders held;
    const std::size_t slash = path.rfind('/');
    pinned.name = path.substr(slash + 1);
    if (pinned.name.empty()) {
        pinned.name.push_back('.'); // a path ending in a slash names a folder
    }
    pinned.folder = held.open(folderOf(path));
    if (!pinned) {
        return errno;
    }
    return describePinned(pinned, facts);
}

SystemError PosixFileSystem::describePinned(const PinnedFile& pinned, FileFacts& facts)
{
    return identifyAt(pinned.folderFd(), pinned.name.c_str(), facts, fileSystemOf(pinned));
}

FileSystemType PosixFileSystem::fileSystemOf(const PinnedFile& pinned)
{
    return typeOf(pinned.folderFd());
}

namespace {
// Sets the permission bits of the pinned file, while it is still the file `expected`: through a
// read-only descriptor of the same file, so that a link put in its place meanwhile is never followed.
// Returns 0 or the error, and the bits it had in `before`.
// `mode`: the bits to set, or none to add the owner's write permission.
SystemError setMode(const PinnedFile& pinned, const FileIdentity& expected, std::optional<mode_t> mode, mode_t& before)
{
    FileDescriptor readOnly(::openat(pinned.folderFd(), pinned.name.c_str(), kOpenForReading));
    if (readOnly.get() < 0) {
        return errno;
    }
    struct stat status
    {
    };
    FileFacts facts;
    if (const int error = readFacts(readOnly.get(), "", facts); error != 0) {
        return error;
    }
    facts.identity.generation = generationOf(readOnly.get());
    keepLastingFacts(facts.identity, typeOf(readOnly.get()));
    if (!facts.identity.sameFileAs(expected) || ::fstat(readOnly.get(), &status) != 0) {
        return ESTALE;
    }
    before = status.st_mode & 07777;
    return ::fchmod(readOnly.get(), mode.value_or(before | S_IWUSR)) == 0 ? 0 : errno;
}
} // namespace

SystemError PosixFileSystem::makeWritable(PinnedFile& pinned, const FileIdentity& expected)
{
    mode_t before = 0;
    const SystemError error = setMode(pinned, expected, std::nullopt, before);
    if (error == 0) {
        pinned.modeBeforeWritable = static_cast<int>(before);
    }
    return error;
}

SystemError PosixFileSystem::restoreWritability(PinnedFile& pinned, const FileIdentity& expected)
{
    if (pinned.modeBeforeWritable < 0) {
        return 0;
    }
    mode_t now = 0;
    const SystemError error = setMode(pinned, expected, static_cast<mode_t>(pinned.modeBeforeWritable), now);
    pinned.modeBeforeWritable = -1;
    return error;
}

SystemError PosixFileSystem::open(const PinnedFile& pinned, OpenedFile& file)
{
    file.fd.reset(::openat(pinned.folderFd(), pinned.name.c_str(), kOpenForWriting));
    return file.fd.get() < 0 ? errno : 0;
}

SystemError PosixFileSystem::describe(const OpenedFile& file, FileFacts& facts)
{
    if (const int error = readFacts(file.fd.get(), "", facts); error != 0) {
        return error;
    }
    facts.identity.generation = generationOf(file.fd.get());
    keepLastingFacts(facts.identity, typeOf(file.fd.get()));
    return 0;
}

bool MountJournalsData(std::istream& table, unsigned major, unsigned minor)
{
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

namespace {
bool mountJournalsData(unsigned major, unsigned minor)
{
    std::ifstream table("/proc/self/mountinfo");
    return MountJournalsData(table, major, minor);
}

// Whether the file's data goes through the file system's journal as well: its own journalling flag,
// or ext3 and ext4 mounted data=journal. False when it cannot be told.
bool journalsData(int fd)
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
} // namespace

FileSystemType PosixFileSystem::fileSystemOf(const OpenedFile& file)
{
    FileSystemType type = typeOf(file.fd.get());
    type.journalsData = journalsData(file.fd.get());
    return type;
}

SystemError PosixFileSystem::writeAt(
    OpenedFile& file, const WritePiece* pieces, int count, std::int64_t offset, std::int64_t& written)
{
    static_assert(sizeof(WritePiece) == sizeof(iovec) && offsetof(WritePiece, data) == offsetof(iovec, iov_base) &&
                      offsetof(WritePiece, length) == offsetof(iovec, iov_len),
                  "a write's pieces are handed to pwritev as they are");
    const ssize_t done = ::pwritev(file.fd.get(), reinterpret_cast<const iovec*>(pieces), count, offset);
    if (done < 0) {
        return errno;
    }
    written = done;
    return done == 0 ? ENOSPC : 0;
}

SystemError PosixFileSystem::flush(OpenedFile& file)
{
    return ::fdatasync(file.fd.get()) == 0 ? 0 : errno;
}

SystemError PosixFileSystem::flushAll(OpenedFile& file)
{
    return ::fsync(file.fd.get()) == 0 ? 0 : errno;
}

SystemError PosixFileSystem::finishWriting(OpenedFile& file, PinnedFile&)
{
    return file.fd.close() == 0 ? 0 : errno;
}

SystemError PosixFileSystem::remove(PinnedFile& pinned)
{
    return ::unlinkat(pinned.folderFd(), pinned.name.c_str(), 0) == 0 ? 0 : errno;
}

std::vector<SystemError> PosixFileSystem::flushRemovals(const std::vector<const PinnedFile*>& removed)
{
    // A name lives in its folder: each folder is flushed, once.
    std::map<const FileDescriptor*, SystemError> flushed;
    std::vector<SystemError> errors;
    for (const PinnedFile* pinned : removed) {
        const auto [folder, fresh] = flushed.try_emplace(pinned->folder.get(), 0);
        if (fresh) {
            FileDescriptor opened(::openat(pinned->folderFd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (opened.get() < 0 || ::fsync(opened.get()) != 0) {
                // A file system that cannot flush a folder (some FUSE ones) keeps its names as it can.
                folder->second = IsUnsupported(errno) ? 0 : errno;
            }
        }
        errors.push_back(folder->second);
    }
    return errors;
}

std::int64_t PosixFileSystem::nextData(const OpenedFile& file, std::int64_t from)
{
    const off_t at = ::lseek(file.fd.get(), from, SEEK_DATA);
    return at >= 0 ? at : errno == ENXIO ? kNoMoreData : from;
}

std::int64_t PosixFileSystem::nextHole(const OpenedFile& file, std::int64_t from)
{
    const off_t at = ::lseek(file.fd.get(), from, SEEK_HOLE);
    return at >= 0 ? at : from;
}

static_assert(ExtentFlag::Last == FIEMAP_EXTENT_LAST && ExtentFlag::Unknown == FIEMAP_EXTENT_UNKNOWN &&
                  ExtentFlag::Delalloc == FIEMAP_EXTENT_DELALLOC && ExtentFlag::Encoded == FIEMAP_EXTENT_ENCODED &&
                  ExtentFlag::DataEncrypted == FIEMAP_EXTENT_DATA_ENCRYPTED &&
                  ExtentFlag::DataInline == FIEMAP_EXTENT_DATA_INLINE &&
                  ExtentFlag::DataTail == FIEMAP_EXTENT_DATA_TAIL && ExtentFlag::Unwritten == FIEMAP_EXTENT_UNWRITTEN &&
                  ExtentFlag::Shared == FIEMAP_EXTENT_SHARED,
              "the map's flags are FIEMAP's own");

std::optional<ExtentMap> PosixFileSystem::readExtents(const OpenedFile& file, bool settled)
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
        if (::ioctl(file.fd.get(), FS_IOC_FIEMAP, map) != 0) {
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

std::optional<std::uint32_t> PosixFileSystem::directAlignment(const OpenedFile& file)
{
    struct statx status
    {
    };
    if (::statx(file.fd.get(), "", AT_EMPTY_PATH, STATX_DIOALIGN, &status) != 0 ||
        !(status.stx_mask & STATX_DIOALIGN) || status.stx_dio_offset_align == 0) {
        return std::nullopt;
    }
    return std::max(status.stx_dio_offset_align, status.stx_dio_mem_align);
}

SystemError PosixFileSystem::setDirect(OpenedFile& file, bool direct)
{
    const int flags = ::fcntl(file.fd.get(), F_GETFL);
    if (flags < 0) {
        return errno;
    }
    return ::fcntl(file.fd.get(), F_SETFL, direct ? flags | O_DIRECT : flags & ~O_DIRECT) < 0 ? errno : 0;
}

bool PosixFileSystem::preferDirect(std::int64_t bytes)
{
    // Past the cache no byte is copied through memory and the user's other cached files stay cached;
    // that matters once a file fills many chunks, while a small file is written in a few calls
    // either way and its huge-page buffer would cost more than it saves.
    constexpr std::int64_t kDirectFrom = std::int64_t{32} << 20;
    return bytes >= kDirectFrom;
}

void* PosixFileSystem::mapHugeBuffer(std::size_t size)
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

void PosixFileSystem::unmapBuffer(void* buffer, std::size_t size)
{
    ::munmap(buffer, roundUp(size, kHugePage));
}

SystemError PosixFileSystem::startWriteback(OpenedFile& file, std::int64_t offset, std::int64_t length)
{
    return ::sync_file_range(file.fd.get(), offset, length, SYNC_FILE_RANGE_WRITE) == 0 ? 0 : errno;
}

void PosixFileSystem::settle(OpenedFile& file, std::int64_t offset, std::int64_t length)
{
    ::sync_file_range(file.fd.get(),
                      offset,
                      length,
                      SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    ::posix_fadvise(file.fd.get(), offset, length, POSIX_FADV_DONTNEED);
}

WriteTuning* PosixFileSystem::tuning()
{
    return this;
}

FileSystem& FileSystem::system()
{
    static PosixFileSystem real;
    return real;
}

std::string PathRefusal(const NativePath& path)
{
    if (path.empty() || path.front() != '/') {
        // A relative path would be resolved against the program's working folder, which the user
        // never sees.
        return path + ": not a full path (it must start with /); nothing was written";
    }
    return {};
}

bool IsOutOfRoom(SystemError error)
{
    return error == ENOSPC || error == EFBIG || error == EDQUOT;
}

bool IsBadBlock(SystemError error)
{
    return error == EIO;
}

bool IsMissing(SystemError error)
{
    return error == ENOENT;
}

bool IsInterrupted(SystemError error)
{
    return error == EINTR;
}

bool IsMisalignedWrite(SystemError error)
{
    return error == EINVAL;
}

bool IsUnsupported(SystemError error)
{
    return error == EINVAL || error == ENOTSUP;
}

std::string ErrorText(SystemError error)
{
    return std::strerror(error);
}

bool PosixFileSystem::exists(const NativePath& path)
{
    struct stat status
    {
    };
    return ::lstat(path.c_str(), &status) == 0;
}
