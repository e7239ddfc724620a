// How the traces reach their files: opened by name without links, replaced whole, or destroyed like the
// file they name.

#include "traces/TraceFile.h"

#include "shred/OverwriteEngine.h"
#include "shred/RunProgress.h"
#include "shred/posix/NativeFileSystem.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace {
constexpr int kOpenForReading = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

// Why the file `status` is not one of the user's to touch; empty when it is.
std::string refusalOf(const struct stat& status)
{
    if (S_ISLNK(status.st_mode)) {
        return "a symbolic link stands at its name; neither it nor what it points to was touched";
    }
    if (!S_ISREG(status.st_mode)) {
        return std::string("not a regular file (") + FileKind(status.st_mode) + "); it was not touched";
    }
    if (status.st_uid != ::geteuid()) {
        return "not a file of your own; it was not touched";
    }
    return {};
}

bool ownedFolder(const struct stat& status)
{
    return S_ISDIR(status.st_mode) && status.st_uid == ::geteuid();
}
} // namespace

SystemTraceFiles::SystemTraceFiles(const FillBlock& block, FileSystem& files)
    : m_block(block)
    , m_files(files)
{
}

OwnedFile SystemTraceFiles::openOwned(int folder, const std::string& name)
{
    OwnedFile file;
    if (folder < 0) {
        return file;
    }
    // Looked at first, so that a link or a device is named as what it is and never opened.
    if (::fstatat(folder, name.c_str(), &file.status, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            file.refused = std::string("it cannot be read: ") + std::strerror(errno);
        }
        return file;
    }
    if (file.refused = refusalOf(file.status); !file.refused.empty()) {
        return file;
    }
    const struct stat looked = file.status;
    file.fd = FileDescriptor(::openat(folder, name.c_str(), kOpenForReading));
    if (file.fd.get() < 0 || ::fstat(file.fd.get(), &file.status) != 0) {
        file.refused = std::string("it cannot be read: ") + std::strerror(errno);
    } else if (file.status.st_ino != looked.st_ino || file.status.st_dev != looked.st_dev) {
        file.refused = "it was replaced while it was read; it was not touched";
    } else {
        file.refused = refusalOf(file.status);
    }
    if (!file.refused.empty()) {
        file.fd.reset(-1);
    }
    return file;
}

FileDescriptor SystemTraceFiles::openUserFolder(int folder, const std::string& name)
{
    if (folder < 0) {
        return FileDescriptor();
    }
    struct stat status
    {
    };
    if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return FileDescriptor();
    }
    const bool link = S_ISLNK(status.st_mode);
    if (link ? status.st_uid != ::geteuid() : !S_ISDIR(status.st_mode)) {
        return FileDescriptor();
    }
    FileDescriptor opened(::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (link ? 0 : O_NOFOLLOW)));
    if (link && (opened.get() < 0 || ::fstat(opened.get(), &status) != 0 || !ownedFolder(status))) {
        return FileDescriptor();
    }
    return opened;
}

int SystemTraceFiles::replace(
    int folder, const std::string& name, const std::string& text, const struct stat& before, const std::string& read)
{
    std::string temporary;
    FileDescriptor fd;
    std::random_device random;
    for (int attempt = 0; attempt < 100 && fd.get() < 0; ++attempt) {
        temporary = name + ".zorvik-" + std::to_string(random());
        fd.reset(::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd.get() < 0 && errno != EEXIST) {
            return errno;
        }
    }
    if (fd.get() < 0) {
        return EEXIST;
    }
    const auto discard = [&](int error) {
        ::unlinkat(folder, temporary.c_str(), 0);
        return error;
    };
    if (::fchmod(fd.get(), before.st_mode & 07777) != 0) {
        return discard(errno);
    }
    for (std::size_t at = 0; at < text.size();) {
        const ssize_t wrote = ::write(fd.get(), text.data() + at, text.size() - at);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return discard(wrote < 0 ? errno : ENOSPC);
        }
        at += static_cast<std::size_t>(wrote);
    }
    if (::fsync(fd.get()) != 0 || fd.close() != 0) {
        return discard(errno);
    }
    // Another program may have written it since it was read: its change would be lost.
    const OwnedFile now = SystemTraceFiles::openOwned(folder, name);
    const std::optional<std::string> nowText = now.opened() ? ReadAll(now.fd.get()) : std::nullopt;
    if (!nowText || *nowText != read || now.status.st_ino != before.st_ino || now.status.st_dev != before.st_dev) {
        return discard(-1);
    }
    if (::renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) {
        return discard(errno);
    }
    return ::fsync(folder) == 0 ? 0 : errno;
}

std::string SystemTraceFiles::destroy(int folder, const std::string& name, const std::string& shown)
{
    const OwnedFile owned = openOwned(folder, name);
    if (!owned.refused.empty()) {
        return shown + ": " + owned.refused;
    }
    if (!owned.opened()) {
        return {};
    }
    // The engine finds it by its path again; only while that still names this very file.
    const MeasuredFile found = IdentifyFile(shown, m_files);
    if (!found.ok() || found.identity.inode != owned.status.st_ino ||
        found.identity.device != static_cast<std::uint64_t>(owned.status.st_dev)) {
        return {}; // gone or replaced meanwhile
    }
    RunProgress unseen;
    OverwriteResult overwrite = OverwriteFile(ChosenFile(shown, found.identity), m_block, unseen, m_files);
    return overwrite.ok() ? RemoveFile(overwrite, m_files) : overwrite.failure;
}

std::optional<std::string> ReadAll(int fd)
{
    std::string text;
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::pread(fd, chunk, sizeof chunk, static_cast<off_t>(text.size()));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (got == 0) {
            return text;
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
}

std::string XdgFolder(const char* variable, const char* belowHome)
{
    if (const char* folder = std::getenv(variable); folder && *folder == '/') {
        return folder;
    }
    if (const char* home = std::getenv("HOME"); home && *home == '/') {
        return std::string(home) + "/" + belowHome;
    }
    return {};
}
