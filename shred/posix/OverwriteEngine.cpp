#include "shred/OverwriteEngine.h"

#include "shred/PassRounds.h"
#include "shred/Refusals.h"
#include "shred/RunProgress.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <optional>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {
const char* kindOf(mode_t mode)
{
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

std::string refusal(const std::string& path, mode_t mode)
{
    return NotRegularFile(path, kindOf(mode));
}

// What the engine reads of a file before it trusts it.
struct FileFacts
{
    mode_t mode = 0;
    std::int64_t length = 0;
    std::uint64_t links = 0;
    bool mountRoot = false; // something is mounted at the file's name
    FileIdentity identity;
};

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
    facts.mode = status.stx_mode;
    facts.length = static_cast<std::int64_t>(status.stx_size);
    facts.links = status.stx_nlink;
    facts.mountRoot = (status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
                      (status.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
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

// The file system the descriptor lies on; unknown when it cannot be asked.
FileSystemType fileSystemOf(int fd, FileSystem& files)
{
    struct statfs status
    {
    };
    if (files.fstatfs(fd, &status) != 0) {
        return {0, "the file system", FileSystemKind::Unknown};
    }
    return ClassifyFileSystem(static_cast<std::uint64_t>(status.f_type));
}

// Why the file may not be shredded, or an empty string. `expected`: the file it must be, if known.
std::string refusalOf(const std::string& path,
                      const FileFacts& facts,
                      const FileSystemType& type,
                      const std::optional<FileIdentity>& expected)
{
    if (!S_ISREG(facts.mode)) {
        return refusal(path, facts.mode);
    }
    if (expected && !expected->sameFileAs(facts.identity)) {
        return ReplacedSinceChosen(path);
    }
    if (facts.mountRoot) {
        return MountedAtItsName(path);
    }
    if (type.kind == FileSystemKind::SystemInterface) {
        return SystemInterface(path, type);
    }
    if (facts.links > 1) {
        return HasOtherNames(path, facts.links);
    }
    return {};
}

constexpr int kOpenForReading = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
constexpr int kOpenForWriting = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

// Keeps only what lasts while the file does: an overlay copies a lower file up to a new one when it
// is first written, with a birth time and a generation of its own, under the same number.
void keepLastingFacts(FileIdentity& identity, const FileSystemType& type)
{
    if (type.kind == FileSystemKind::Overlay) {
        identity.birth.reset();
        identity.generation.reset();
    }
}

// The facts of `name` in `folder`, on a file system of `type`. A regular file's generation is read
// through a read-only descriptor of the same file; nothing else is opened, since opening a device or
// a file of a kernel interface may act. Returns 0 or the error.
int identifyAt(int folder, const char* name, FileFacts& facts, const FileSystemType& type)
{
    if (const int error = readFacts(folder, name, facts); error != 0) {
        return error;
    }
    if (S_ISREG(facts.mode) && !facts.mountRoot && type.kind != FileSystemKind::SystemInterface) {
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

// The folder of a path, opened for finding its entries only, and the name in it.
FileDescriptor openFolderOf(const std::string& path, std::string& name)
{
    const std::size_t slash = path.rfind('/');
    const std::string folderPath = slash == std::string::npos ? std::string(".")
                                   : slash == 0               ? std::string("/")
                                                              : path.substr(0, slash);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) {
        name = "."; // a path ending in a slash names a folder
    }
    return FileDescriptor(::open(folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// The chosen file found through a descriptor of its folder, checked before anything is opened for
// writing.
struct Inspection
{
    FileDescriptor folder;
    std::string name;
    FileFacts facts;
    std::string failure;
};

// `step` names what failed when the file cannot be found.
Inspection inspect(const ChosenFile& chosen, FileSystem& files, const char* step)
{
    const std::string& path = chosen.path;
    Inspection found;
    if (path.empty() || path.front() != '/') {
        // A relative path would be resolved against the program's working folder, which the user
        // never sees.
        found.failure = path + ": not a full path (it must start with /); nothing was written";
        return found;
    }
    found.folder = openFolderOf(path, found.name);
    if (found.folder.get() < 0) {
        found.failure = FailureLine(path, step, errno);
        return found;
    }
    const FileSystemType type = fileSystemOf(found.folder.get(), files);
    if (const int error = identifyAt(found.folder.get(), found.name.c_str(), found.facts, type); error != 0) {
        found.failure = FailureLine(path, step, error);
        return found;
    }
    found.failure = refusalOf(path, found.facts, type, chosen.identity);
    return found;
}

// Gives the owner write permission through a read-only descriptor of the same file, so a link
// put in its place meanwhile is never followed. Returns 0 or the error.
int makeWritable(const Inspection& found)
{
    FileDescriptor readOnly(::openat(found.folder.get(), found.name.c_str(), kOpenForReading));
    if (readOnly.get() < 0) {
        return errno;
    }
    FileFacts facts;
    if (const int error = readFacts(readOnly.get(), "", facts); error != 0) {
        return error;
    }
    facts.identity.generation = generationOf(readOnly.get());
    if (!facts.identity.sameFileAs(found.facts.identity)) {
        return ESTALE;
    }
    if (::fchmod(readOnly.get(), (facts.mode & 07777) | S_IWUSR) != 0) {
        return errno;
    }
    return 0;
}

// Writes the blocks [pos, limit) of the pass with as few calls as the page rule allows.
class BlockWriter
{
public:
    BlockWriter(int fd, const FillBlock& block, FileSystem& files)
        : m_fd(fd)
        , m_files(files)
    {
        void* base = const_cast<std::uint8_t*>(block.data());
        for (iovec& vector : m_vectors) {
            vector = {base, static_cast<std::size_t>(kBlockSize)};
        }
        m_base = static_cast<std::uint8_t*>(base);
    }

    // One call from `pos`, ending at the next multiple of kBlocksPerWrite blocks or at `limit`.
    // Returns the bytes written, or -1 with errno set.
    ssize_t writeFrom(std::int64_t pos, std::int64_t limit)
    {
        constexpr std::int64_t kCallSpan = std::int64_t{kBlocksPerWrite} * kBlockSize;
        const std::int64_t end = std::min(limit, (pos / kCallSpan + 1) * kCallSpan);
        int count = 0;
        for (std::int64_t at = pos; at < end; ++count) {
            const std::int64_t inBlock = at % kBlockSize;
            const std::int64_t length = std::min(kBlockSize - inBlock, end - at);
            m_vectors[count] = {m_base + inBlock, static_cast<std::size_t>(length)};
            at += length;
        }
        ssize_t written;
        do {
            written = m_files.pwritev(m_fd, m_vectors.data(), count, static_cast<off_t>(pos));
        } while (written < 0 && errno == EINTR);
        return written;
    }

private:
    int m_fd;
    FileSystem& m_files;
    std::uint8_t* m_base = nullptr;
    std::array<iovec, kBlocksPerWrite + 1> m_vectors{};
};

bool isOutOfRoom(int error)
{
    return error == ENOSPC || error == EFBIG || error == EDQUOT;
}

// The fill block 512 times over in one buffer of huge pages, for writing past the page cache: every
// direct write starts at a multiple of kDirectChunk, so the buffer's start is always a block's start,
// and one write is one request to the disk. Empty when huge pages cannot be had.
class DirectBuffer
{
public:
    DirectBuffer(const FillBlock& block, FileSystem& files)
        : m_files(files)
        , m_data(static_cast<std::uint8_t*>(files.mapHugeBuffer(kDirectChunk)))
    {
        for (std::int64_t at = 0; m_data && at < kDirectChunk; at += kBlockSize) {
            std::memcpy(m_data + at, block.data(), kBlockSize);
        }
    }
    ~DirectBuffer()
    {
        if (m_data) {
            m_files.unmapBuffer(m_data, kDirectChunk);
        }
    }
    DirectBuffer(const DirectBuffer&) = delete;
    DirectBuffer& operator=(const DirectBuffer&) = delete;

    std::uint8_t* data() const
    {
        return m_data;
    }

private:
    FileSystem& m_files;
    std::uint8_t* m_data;
};

// Pages written through the page cache are waited for and dropped a window at a time, keeping at
// most two windows cached.
constexpr std::int64_t kSettleWindow = 12 * kDirectChunk;

// One pass over an open file: writes blocks up to a limit, stepping the progress after every whole
// block, and flushes. Whole chunks go past the page cache while that is switched on; whatever is left
// (a tail shorter than the alignment, or everything once the direct path is refused) goes through it.
class Pass
{
public:
    // `onDisk`: whether written pages are worth dropping from the page cache once they are on the disk.
    Pass(int fd, const FillBlock& block, RunProgress& progress, FileSystem& files, bool onDisk = true)
        : m_fd(fd)
        , m_writer(fd, block, files)
        , m_progress(progress)
        , m_files(files)
        , m_onDisk(onDisk)
    {
    }

    // Writes past the page cache from `buffer`, with offsets and lengths multiples of `alignment`,
    // until the pass reaches a part that is not aligned. The file's descriptor already has O_DIRECT.
    void writeDirectly(const DirectBuffer& buffer, std::int64_t alignment)
    {
        m_direct = buffer.data();
        m_alignment = alignment;
    }

    // Writes from where the pass stands up to `limit`. Returns 0, or the error with position() at
    // the offset that failed.
    int writeUpTo(std::int64_t limit)
    {
        while (m_pos < limit) {
            ssize_t written = 0;
            if (m_direct) {
                const std::int64_t end = std::min(m_pos + kDirectChunk, limit / m_alignment * m_alignment);
                if (m_pos % kDirectChunk != 0 || end <= m_pos) {
                    if (const int error = writeThroughTheCache(); error != 0) {
                        return error;
                    }
                    continue;
                }
                written = writeDirect(end);
                if (written < 0 && (errno == EINVAL || isOutOfRoom(errno))) {
                    // Refused for its alignment after all, or for want of room: a direct write is all
                    // or nothing, while the page cache writes as far as the room goes. The rest goes
                    // through the page cache.
                    if (const int error = writeThroughTheCache(); error != 0) {
                        return error;
                    }
                    continue;
                }
            } else {
                written = m_writer.writeFrom(m_pos, limit);
                if (written < 0 && isOutOfRoom(errno)) {
                    // A full disk may refuse a whole write for its part that needs new room (a hole,
                    // the end), when the page cache holds them in one large page: the data before
                    // that part is written on its own.
                    const int error = errno;
                    const off_t hole = m_files.seek(m_fd, static_cast<off_t>(m_pos), SEEK_HOLE);
                    errno = error;
                    if (hole > m_pos && hole < limit) {
                        written = m_writer.writeFrom(m_pos, hole);
                    }
                }
                if (written > 0) {
                    keepTheCacheSmall(written);
                }
            }
            if (written <= 0) {
                return written == 0 ? ENOSPC : errno;
            }
            advanceTo(m_pos + written);
        }
        return 0;
    }

    // Whether the pass stands in a hole of the file; if so, it moves on to the data after the hole,
    // or to `limit` when none follows.
    bool skipHole(std::int64_t limit)
    {
        const off_t next = m_files.seek(m_fd, static_cast<off_t>(m_pos), SEEK_DATA);
        if (next < 0 && errno != ENXIO) {
            return false;
        }
        const std::int64_t to = next < 0 ? limit : std::min<std::int64_t>(next, limit);
        if (to <= m_pos) {
            return false;
        }
        advanceTo(to);
        return true;
    }

    // Returns 0 or the error.
    int flush()
    {
        if (m_files.fdatasync(m_fd) == 0) {
            return 0;
        }
        const int error = errno;
        if (error != EINVAL && error != ENOTSUP) {
            return error;
        }
        return m_files.fsync(m_fd) == 0 ? 0 : errno;
    }

    std::int64_t position() const
    {
        return m_pos;
    }

private:
    void advanceTo(std::int64_t pos)
    {
        m_pos = pos;
        for (; (m_stepped + 1) * kBlockSize <= m_pos; ++m_stepped) {
            m_progress.StepProgress();
        }
    }

    ssize_t writeDirect(std::int64_t end)
    {
        iovec vector{m_direct, static_cast<std::size_t>(end - m_pos)};
        ssize_t written;
        do {
            written = m_files.pwritev(m_fd, &vector, 1, static_cast<off_t>(m_pos));
        } while (written < 0 && errno == EINTR);
        return written;
    }

    // Returns 0 or the error of clearing O_DIRECT, without which no unaligned write could follow.
    int writeThroughTheCache()
    {
        m_direct = nullptr;
        m_settled = m_pos;
        return m_files.setDirect(m_fd, false) == 0 ? 0 : errno;
    }

    void keepTheCacheSmall(ssize_t written)
    {
        // Writing back while the next blocks are copied keeps the disk busy, so the final flush has
        // less left to wait for. Only hints: their failure changes nothing.
        m_files.startWriteback(m_fd, static_cast<off_t>(m_pos), static_cast<off_t>(written));
        if (m_onDisk && m_pos + written - m_settled >= 2 * kSettleWindow) {
            m_files.settle(m_fd, static_cast<off_t>(m_settled), static_cast<off_t>(kSettleWindow));
            m_settled += kSettleWindow;
        }
    }

    int m_fd;
    BlockWriter m_writer;
    RunProgress& m_progress;
    FileSystem& m_files;
    std::int64_t m_pos = 0;
    std::int64_t m_stepped = 0;
    std::int64_t m_settled = 0;
    bool m_onDisk;
    std::uint8_t* m_direct = nullptr;
    std::int64_t m_alignment = 0;
};

// Whether the file lives in memory only. There is no disk to write past the page cache to, and its
// cached pages are the file itself: O_DIRECT would only add a copy, and dropping pages frees nothing.
bool isInMemory(const FileSystemType& type)
{
    return type.name == "tmpfs" || type.name == "ramfs";
}

// The alignment of direct writes to the file, or 0 when it cannot be used: a power of two of which
// kDirectChunk is a multiple.
std::int64_t directAlignment(int fd, FileSystem& files)
{
    const std::int64_t alignment = files.directAlignment(fd).value_or(4096);
    const bool powerOfTwo = alignment > 0 && (alignment & (alignment - 1)) == 0;
    return powerOfTwo && kDirectChunk % alignment == 0 ? alignment : 0;
}
} // namespace

FileLength IdentifyFile(const NativePath& path)
{
    std::string name;
    const FileDescriptor folder = openFolderOf(path, name);
    if (folder.get() < 0) {
        return {0, {}, FailureLine(path, "cannot read the file's length", errno)};
    }
    FileFacts facts;
    const FileSystemType type = fileSystemOf(folder.get(), FileSystem::system());
    if (const int error = identifyAt(folder.get(), name.c_str(), facts, type); error != 0) {
        return {0, {}, FailureLine(path, "cannot read the file's length", error)};
    }
    if (!S_ISREG(facts.mode)) {
        return {0, {}, refusal(path, facts.mode)};
    }
    return {facts.length, facts.identity, {}};
}

FileLength MeasureFile(const ChosenFile& file, FileSystem& files)
{
    const Inspection found = inspect(file, files, "cannot read the file's length");
    if (!found.failure.empty()) {
        return {0, {}, found.failure};
    }
    return {found.facts.length, found.facts.identity, {}};
}

OverwriteResult
OverwriteFile(const ChosenFile& chosen, const FillBlock& block, RunProgress& progress, FileSystem& files)
{
    const std::string& path = chosen.path;
    progress.showActivity("Shredding: " + path);
    const auto failed = [](std::string line) {
        OverwriteResult result;
        result.outcome = Overwrite::Failed;
        result.failure = std::move(line);
        return result;
    };

    Inspection found = inspect(chosen, files, "cannot read the file's attributes");
    if (!found.failure.empty()) {
        return failed(found.failure);
    }
    FileDescriptor file(files.openAt(found.folder.get(), found.name.c_str(), kOpenForWriting));
    if (file.get() < 0 && errno == EACCES && !(found.facts.mode & S_IWUSR)) {
        if (const int error = makeWritable(found); error != 0) {
            return failed(FailureLine(path, "cannot make the file writable", error));
        }
        file.reset(files.openAt(found.folder.get(), found.name.c_str(), kOpenForWriting));
    }
    if (file.get() < 0) {
        return failed(FailureLine(path, "cannot open for writing", errno));
    }

    // Everything from here on is about the file actually opened, which must be the one inspected.
    FileFacts opened;
    if (const int error = readFacts(file.get(), "", opened); error != 0) {
        return failed(FailureLine(path, "cannot read the file's length", error));
    }
    opened.identity.generation = generationOf(file.get());
    FileSystemType type = fileSystemOf(file.get(), files);
    keepLastingFacts(opened.identity, type);
    if (std::string refused = refusalOf(path, opened, type, found.facts.identity); !refused.empty()) {
        return failed(std::move(refused));
    }
    type.journalsData = files.journalsData(file.get());

    const std::int64_t length = opened.length;
    Pass pass(file.get(), block, progress, files, !isInMemory(type));
    std::optional<ExtentMap> extentsBefore = files.readExtents(file.get(), false);
    if (extentsBefore && !EveryExtentLocated(*extentsBefore)) {
        // Data waiting for a place on the disk gets one when the file system chooses, perhaps only
        // after the overwrite and elsewhere: it is given its place now, so the map shows where the
        // old bytes lie before any is overwritten.
        if (const int error = pass.flush(); error != 0) {
            return failed(FailureLine(path, "error flushing to disk", error));
        }
        extentsBefore = files.readExtents(file.get(), false);
    }
    // Large files go past the page cache where the file system allows it: no copy of every byte
    // through memory, and the user's other cached files stay cached. Any refusal keeps the cache.
    std::optional<DirectBuffer> direct;
    if (!isInMemory(type) && files.preferDirect(WholeBlocks(length))) {
        if (const std::int64_t alignment = directAlignment(file.get(), files); alignment > 0) {
            direct.emplace(block, files);
            if (direct->data() && files.setDirect(file.get(), true) == 0) {
                pass.writeDirectly(*direct, alignment);
            }
        }
    }
    const PassRounds rounds = RunPassRounds(
        pass,
        length,
        path,
        [&file](std::int64_t& now) {
            struct stat status
            {
            };
            if (::fstat(file.get(), &status) != 0) {
                return errno;
            }
            now = status.st_size;
            return 0;
        },
        [&path](const std::string& step, int error) { return FailureLine(path, step, error); },
        isOutOfRoom);
    if (rounds.outcome == Overwrite::Failed) {
        return failed(rounds.failure);
    }
    // A file system that writes new data elsewhere may finish moving the file's extents to it only
    // after the flush has returned (btrfs): until then its map still shows the old places.
    const std::optional<ExtentMap> extentsAfter = files.readExtents(file.get(), WritesElsewhere(type));
    if (file.close() != 0) {
        return failed(FailureLine(path, "error closing", errno));
    }

    OverwriteResult result;
    result.outcome = rounds.outcome;
    result.failure = rounds.failure;
    result.placement = JudgePlacement(extentsBefore, extentsAfter, type);
    result.path = path;
    result.held.folder = std::move(found.folder);
    result.held.name = found.name;
    result.identity = opened.identity;
    return result;
}

std::string ErrorText(int error)
{
    return std::strerror(error);
}

bool PathExists(const NativePath& path)
{
    struct stat status
    {
    };
    return ::lstat(path.c_str(), &status) == 0;
}

std::string RemoveFile(OverwriteResult& overwritten, FileSystem& files)
{
    const std::string& path = overwritten.path;
    if (overwritten.held.folder.get() < 0) {
        return NotOverwrittenSoNotRemoved(path);
    }
    FileFacts facts;
    const FileSystemType type = fileSystemOf(overwritten.held.folder.get(), files);
    if (const int error = identifyAt(overwritten.held.folder.get(), overwritten.held.name.c_str(), facts, type);
        error != 0) {
        return FailureLine(path, "failed to remove", error);
    }
    if (!overwritten.identity.sameFileAs(facts.identity)) {
        // An editor that saves by renaming a new file over the old one does this: the newcomer was
        // never overwritten, so it must not be deleted either.
        return path + ": another file was put at this path during the run; it was left alone, neither "
                      "overwritten nor deleted";
    }
    if (files.unlinkat(overwritten.held.folder.get(), overwritten.held.name.c_str()) != 0) {
        return NotDeleted(path, overwritten.placement, errno);
    }
    return {};
}
