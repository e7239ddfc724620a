// Trash records of destroyed files, found without following links.

#include "traces/TrashRecord.h"

#include "shred/posix/FileDescriptor.h"
#include "traces/TraceFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string nameOf(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

// The directorysizes file of `trash` without the line of `name` (its last field, percent-encoded).
// Written anew only when it had one.
std::string dropSizeLine(int trash, const std::string& trashPath, const std::string& name)
{
    const FileDescriptor fd(::openat(trash, "directorysizes", O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat status
    {
    };
    if (fd.get() < 0 || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) {
        return {};
    }
    const std::string text = ReadAll(fd.get()).value_or(std::string());
    std::string kept;
    bool dropped = false;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        char* decoded = g_uri_unescape_string(line.substr(line.rfind(' ') + 1).c_str(), nullptr);
        const bool his = decoded && line.find(' ') != std::string::npos && name == decoded;
        g_free(decoded);
        if (his) {
            dropped = true;
        } else {
            kept += line + "\n";
        }
    }
    if (!dropped) {
        return {};
    }
    std::string temporary = trashPath + "/directorysizes.zorvik-XXXXXX";
    const FileDescriptor out(::mkostemp(temporary.data(), O_CLOEXEC));
    const bool written = out.get() >= 0 && ::fchmod(out.get(), status.st_mode & 07777) == 0 &&
                         ::write(out.get(), kept.data(), kept.size()) == static_cast<ssize_t>(kept.size()) &&
                         ::fsync(out.get()) == 0 &&
                         ::renameat(trash, nameOf(temporary).c_str(), trash, "directorysizes") == 0;
    if (!written) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return trashPath + "/directorysizes: its line for " + name + " could not be removed: " + std::strerror(error);
    }
    return {};
}
} // namespace

std::string TrashOf(const NativePath& path, const std::string& dataHome)
{
    const std::string files = folderOf(path);
    if (path.empty() || path.front() != '/' || nameOf(files) != "files") {
        return {};
    }
    const std::string trash = folderOf(files);
    const std::string uid = std::to_string(::geteuid());
    const bool own = !dataHome.empty() && trash == dataHome + "/Trash";
    const bool topPerUser = nameOf(trash) == ".Trash-" + uid;
    const bool topShared = nameOf(trash) == uid && nameOf(folderOf(trash)) == ".Trash";
    return own || topPerUser || topShared ? trash : std::string();
}

std::vector<std::string> DestroyTrashRecords(const std::string& dataHome,
                                             const std::vector<NativePath>& deleted,
                                             const FillBlock& block,
                                             FileSystem& files)
{
    std::vector<std::string> lines;
    for (const NativePath& path : deleted) {
        const std::string trash = TrashOf(path, dataHome);
        if (trash.empty()) {
            continue;
        }
        const std::string name = nameOf(path);
        const FileDescriptor trashFd(::open(trash.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        const FileDescriptor info(
            trashFd.get() < 0 ? -1 : ::openat(trashFd.get(), "info", O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        const std::string record = name + ".trashinfo";
        std::string failure = ShredTraceFile(info.get(), record, trash + "/info/" + record, block, files);
        if (failure.empty() && trashFd.get() >= 0) {
            failure = dropSizeLine(trashFd.get(), trash, name);
        }
        if (!failure.empty()) {
            lines.push_back("The trash's record of " + path + " was not destroyed: " + failure);
        }
    }
    return lines;
}
