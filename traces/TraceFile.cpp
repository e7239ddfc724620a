// A trace file destroyed like the file it names.

#include "traces/TraceFile.h"

#include "shred/OverwriteEngine.h"
#include "shred/RunProgress.h"
#include "shred/posix/NativeFileSystem.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string
ShredTraceFile(int folder, const std::string& name, const std::string& shown, const FillBlock& block, FileSystem& files)
{
    struct stat status
    {
    };
    if (folder < 0 || ::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return {};
    }
    if (S_ISLNK(status.st_mode)) {
        return shown + ": a symbolic link stands at its name; neither it nor what it points to was touched";
    }
    if (!S_ISREG(status.st_mode)) {
        return shown + ": not a regular file (" + FileKind(status.st_mode) + "); it was not touched";
    }
    if (status.st_uid != ::geteuid()) {
        return shown + ": not a file of your own; it was not touched";
    }
    // The engine finds it by its path again; only while that still names this very file.
    const MeasuredFile found = IdentifyFile(shown, files);
    if (!found.ok() || found.identity.inode != status.st_ino ||
        found.identity.device != static_cast<std::uint64_t>(status.st_dev)) {
        return {}; // gone or replaced meanwhile
    }
    RunProgress unseen;
    OverwriteResult overwrite = OverwriteFile(ChosenFile(shown, found.identity), block, unseen, files);
    return overwrite.ok() ? RemoveFile(overwrite, files) : overwrite.failure;
}

std::optional<std::string> ReadAll(int fd)
{
    std::string text;
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::pread(fd, chunk, sizeof chunk, static_cast<off_t>(text.size()));
        if (got < 0) {
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
