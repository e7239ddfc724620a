#include "shred/OverwriteEngine.h"

#include "shred/RunProgress.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::string failureLine(const std::string& path, const std::string& step, int error)
{
    return path + ": " + step + ": " + std::strerror(error);
}

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
    return path + ": not a regular file (" + kindOf(mode) + "), nothing was written";
}

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1)
        : m_fd(fd)
    {
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }

    int get() const
    {
        return m_fd;
    }

    void reset(int fd)
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = fd;
    }

    // Closes now and reports the result; after this the descriptor is gone either way.
    int close()
    {
        const int result = ::close(m_fd);
        m_fd = -1;
        // On Linux the descriptor is released even when close is interrupted.
        return result != 0 && errno == EINTR ? 0 : result;
    }

private:
    int m_fd;
};

constexpr int kOpenForWriting = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Gives the owner write permission through a read-only descriptor of the same file, so a link
// put in its place meanwhile is never followed. Returns 0 or the error.
int makeWritable(const std::string& path, const struct stat& expected)
{
    FileDescriptor readOnly(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (readOnly.get() < 0) {
        return errno;
    }
    struct stat status
    {
    };
    if (::fstat(readOnly.get(), &status) != 0) {
        return errno;
    }
    if (!sameFile(status, expected)) {
        return ESTALE;
    }
    if (::fchmod(readOnly.get(), (status.st_mode & 07777) | S_IWUSR) != 0) {
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
} // namespace

FileLength MeasureFile(const std::string& path)
{
    struct stat status
    {
    };
    if (::lstat(path.c_str(), &status) != 0) {
        return {0, failureLine(path, "cannot read the file's length", errno)};
    }
    if (!S_ISREG(status.st_mode)) {
        return {0, refusal(path, status.st_mode)};
    }
    return {static_cast<std::int64_t>(status.st_size), {}};
}

OverwriteResult OverwriteFile(const std::string& path, const FillBlock& block, RunProgress& progress, FileSystem& files)
{
    progress.showActivity("Shredding: " + path);
    const auto failed = [](std::string line) { return OverwriteResult{Overwrite::Failed, std::move(line)}; };

    struct stat before
    {
    };
    if (::lstat(path.c_str(), &before) != 0) {
        return failed(failureLine(path, "cannot read the file's attributes", errno));
    }
    if (!S_ISREG(before.st_mode)) {
        return failed(refusal(path, before.st_mode));
    }

    FileDescriptor file(::open(path.c_str(), kOpenForWriting));
    if (file.get() < 0 && errno == EACCES && !(before.st_mode & S_IWUSR)) {
        if (const int error = makeWritable(path, before); error != 0) {
            return failed(failureLine(path, "cannot make the file writable", error));
        }
        file.reset(::open(path.c_str(), kOpenForWriting));
    }
    if (file.get() < 0) {
        return failed(failureLine(path, "cannot open for writing", errno));
    }

    // Everything from here on is about the file actually opened, whatever the path names by now.
    struct stat opened
    {
    };
    if (::fstat(file.get(), &opened) != 0) {
        return failed(failureLine(path, "cannot read the file's length", errno));
    }
    if (!S_ISREG(opened.st_mode)) {
        return failed(refusal(path, opened.st_mode));
    }

    const std::int64_t length = opened.st_size;
    const std::int64_t blocks = (length + kBlockSize - 1) / kBlockSize;
    std::int64_t limit = blocks * kBlockSize;
    std::int64_t pos = 0;
    std::int64_t stepped = 0;
    int extensionError = 0;
    BlockWriter writer(file.get(), block, files);

    while (pos < limit) {
        const ssize_t written = writer.writeFrom(pos, limit);
        if (written <= 0) {
            const int error = written == 0 ? ENOSPC : errno;
            if (!isOutOfRoom(error) || extensionError != 0) {
                return failed(failureLine(path, "error writing at offset " + std::to_string(pos), error));
            }
            // No room to grow the file: what lies inside its original length must still be overwritten.
            extensionError = error;
            if (pos >= length) {
                break;
            }
            limit = length;
            continue;
        }
        // Writing back while the next blocks are copied keeps the disk busy, so the final flush has
        // less left to wait for. Only a hint: its failure changes nothing.
        files.startWriteback(file.get(), static_cast<off_t>(pos), static_cast<off_t>(written));
        pos += written;
        for (; stepped < blocks && (stepped + 1) * kBlockSize <= pos; ++stepped) {
            progress.StepProgress();
        }
    }

    if (files.fdatasync(file.get()) != 0) {
        int error = errno;
        if (error == EINVAL || error == ENOTSUP) {
            error = files.fsync(file.get()) == 0 ? 0 : errno;
        }
        if (error != 0) {
            return failed(failureLine(path, "error flushing to disk", error));
        }
    }
    if (file.close() != 0) {
        return failed(failureLine(path, "error closing", errno));
    }

    if (extensionError != 0) {
        return {Overwrite::NotExtended,
                failureLine(path,
                            "contents overwritten, but the file could not be extended to a whole block "
                            "and was not deleted",
                            extensionError)};
    }
    return {};
}

bool PathExists(const std::string& path)
{
    struct stat status
    {
    };
    return ::lstat(path.c_str(), &status) == 0;
}

std::string RemoveFile(const std::string& path, FileSystem& files)
{
    if (files.unlink(path.c_str()) != 0) {
        return failureLine(path, "failed to remove", errno);
    }
    return {};
}
