// A deleted file's names: its folder's real path through its pin, and the trash it lay in, reached from
// that folder upwards without a link on the way.

#include "shred/posix/NativeFileSystem.h"
#include "traces/DeletedNames.h"
#include "traces/TraceFile.h"

#include <algorithm>
#include <climits>
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::string joined(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The path the kernel knows an open folder by; empty when it does not tell, or the folder is gone.
std::string realPathOf(int folder)
{
    char target[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(folder);
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target || target[0] != '/') {
        return {};
    }
    std::string path(target, static_cast<std::size_t>(length));
    struct stat byPath
    {
    }, held{};
    // A folder deleted or moved meanwhile may be told by a path that now names another, or nothing.
    if (::stat(path.c_str(), &byPath) != 0 || ::fstat(folder, &held) != 0 || byPath.st_ino != held.st_ino ||
        byPath.st_dev != held.st_dev) {
        return {};
    }
    return path;
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether `name` in `parent` is the very folder `folder`, no link: the name a trash is found under.
bool realFolderAt(int parent, const char* name, const struct stat& folder)
{
    struct stat atName
    {
    };
    return ::fstatat(parent, name, &atName, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(atName.st_mode) &&
           sameFile(atName, folder);
}

FileDescriptor parentOf(int folder)
{
    return FileDescriptor(::openat(folder, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// The original path a trash record gives, from its "Path=" line of the [Trash Info] group, escaped as a
// URI's path; a relative one is below `base`. Empty when it gives none.
std::string recordedPath(const std::string& record, const std::string& base)
{
    bool inGroup = false;
    for (std::size_t at = 0; at < record.size();) {
        const std::size_t end = std::min(record.find('\n', at), record.size());
        const std::string line = record.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.front() == '[') {
            inGroup = line == "[Trash Info]";
        } else if (inGroup && line.rfind("Path=", 0) == 0) {
            char* decoded = g_uri_unescape_string(line.c_str() + 5, nullptr);
            std::string path = decoded ? decoded : "";
            g_free(decoded);
            if (path.empty()) {
                return {};
            }
            return CleanPath(path.front() == '/' ? path : joined(base, path));
        }
    }
    return {};
}

// The trash whose files/ folder holds the file in the folder `folder` (real path `path`), looked for
// from that folder upwards through "..", never through a name that could be a link. A trash is the
// user's own in `dataHome`, a disk's `.Trash-UID`, or `UID` in a disk's `.Trash` that is a real folder
// with the sticky bit. Its record, if readable, gives the path the file had before.
void findTrash(DeletedNames& names, int folder, const std::string& path, const std::string& dataHome, TraceFiles& files)
{
    std::vector<std::string> parts; // the folders from the top down
    for (std::size_t at = 1; at < path.size();) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        parts.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    if (std::find(parts.begin(), parts.end(), "files") == parts.end()) {
        return;
    }
    const std::string uid = std::to_string(::geteuid());
    struct stat homeTrash
    {
    };
    const FileDescriptor data(dataHome.empty() ? -1 : ::open(dataHome.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    const bool hasHomeTrash = data.get() >= 0 && ::fstatat(data.get(), "Trash", &homeTrash, AT_SYMLINK_NOFOLLOW) == 0 &&
                              S_ISDIR(homeTrash.st_mode);
    auto level = std::make_shared<const FileDescriptor>(::dup(folder));
    std::string below = NameOfPath(names.canonical); // the entry right below the current folder
    std::string rest;                                // the path below that entry down to the file
    // The first `count` folders of the path, from the top.
    const auto upTo = [&parts](std::size_t count) {
        std::string folder = "/";
        for (std::size_t k = 0; k < count; ++k) {
            folder = joined(folder, parts[k]);
        }
        return folder;
    };
    for (std::size_t i = parts.size(); i-- > 1;) {
        auto trash = std::make_shared<const FileDescriptor>(parentOf(level->get()));
        if (trash->get() < 0) {
            return;
        }
        struct stat trashStatus
        {
        }, filesStatus{};
        const bool filesFolder = parts[i] == "files" && ::fstat(trash->get(), &trashStatus) == 0 &&
                                 ::fstat(level->get(), &filesStatus) == 0 &&
                                 realFolderAt(trash->get(), "files", filesStatus);
        std::string topdir; // the folder a record's relative path starts from
        bool found = false;
        if (!filesFolder) {
            found = false;
        } else if (hasHomeTrash && sameFile(trashStatus, homeTrash)) {
            found = true;
            topdir = dataHome;
        } else if (trashStatus.st_uid != ::geteuid()) {
            found = false;
        } else if (parts[i - 1] == ".Trash-" + uid) {
            found = realFolderAt(parentOf(trash->get()).get(), parts[i - 1].c_str(), trashStatus);
            topdir = upTo(i - 1);
        } else if (i >= 2 && parts[i - 1] == uid && parts[i - 2] == ".Trash") {
            // The shared trash: the rules forbid one that is a link or lacks the sticky bit, where anyone
            // could put a folder of their choosing under the user's number.
            const FileDescriptor parent = parentOf(trash->get());
            const FileDescriptor top = parentOf(parent.get());
            struct stat shared
            {
            };
            found = realFolderAt(parent.get(), uid.c_str(), trashStatus) && ::fstat(parent.get(), &shared) == 0 &&
                    (shared.st_mode & S_ISVTX) != 0 && realFolderAt(top.get(), ".Trash", shared);
            topdir = upTo(i - 2);
        }
        if (!found) {
            rest = rest.empty() ? below : below + "/" + rest;
            below = parts[i];
            level = trash;
            continue;
        }
        names.trash = TrashPlace{trash, upTo(i), below, rest.empty()};
        const FileDescriptor info = files.openUserFolder(trash->get(), "info");
        const OwnedFile record = files.openOwned(info.get(), below + ".trashinfo");
        const std::optional<std::string> text = record.opened() ? ReadAll(record.fd.get()) : std::nullopt;
        const std::string before = text ? recordedPath(*text, topdir) : std::string();
        if (!before.empty()) {
            names.beforeTrash = rest.empty() ? before : before + "/" + rest;
        }
        return;
    }
}
} // namespace

std::string FolderOfPath(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string NameOfPath(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

std::string CleanPath(const std::string& path)
{
    if (path.empty() || path.front() != '/') {
        return path;
    }
    std::vector<std::string> parts;
    for (std::size_t at = 1; at <= path.size();) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        const std::string part = path.substr(at, end - at);
        at = end + 1;
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
    }
    std::string clean;
    for (const std::string& part : parts) {
        clean += "/" + part;
    }
    return clean.empty() ? "/" : clean;
}

std::vector<std::string> DeletedNames::paths() const
{
    std::vector<std::string> all;
    for (const std::string& path : {canonical, CleanPath(given), beforeTrash}) {
        if (!path.empty() && path.front() == '/' && std::find(all.begin(), all.end(), path) == all.end()) {
            all.push_back(path);
        }
    }
    return all;
}

DeletedNames NameDeletedFile(const DeletedFile& file, const std::string& dataHome, TraceFiles& files)
{
    DeletedNames names;
    names.given = file.path;
    if (file.pinned && *file.pinned) {
        names.folder = file.pinned->folder;
        if (const std::string folder = realPathOf(file.pinned->folderFd()); !folder.empty()) {
            names.canonical = joined(folder, file.pinned->name);
            findTrash(names, file.pinned->folderFd(), folder, dataHome, files);
        }
    }
    return names;
}

DeletedMatcher::DeletedMatcher(const std::vector<DeletedNames>& deleted)
{
    for (const DeletedNames& names : deleted) {
        for (const std::string& path : names.paths()) {
            m_spelled.insert(path);
            m_leaves.insert(NameOfPath(path));
            if (const std::optional<FolderKey> key = folderKey(FolderOfPath(path))) {
                m_inFolder.insert({*key, NameOfPath(path)});
            }
        }
        struct stat held
        {
        };
        if (names.folder && ::fstat(names.folder->get(), &held) == 0 && !names.canonical.empty()) {
            m_inFolder.insert({{held.st_dev, held.st_ino}, NameOfPath(names.canonical)});
        }
    }
}

bool DeletedMatcher::names(const std::string& path)
{
    if (path.empty() || path.front() != '/') {
        return false;
    }
    const std::string clean = CleanPath(path);
    if (m_spelled.count(clean) != 0) {
        return true;
    }
    const std::string name = NameOfPath(clean);
    if (m_leaves.count(name) == 0) {
        return false;
    }
    // The folder as spelled in the list, looked up as its program would: a link or a ".." taken as it
    // leads. Only looked at, never opened for anything else.
    const std::optional<FolderKey> key = folderKey(FolderOfPath(path));
    return key && m_inFolder.count({*key, name}) != 0;
}

std::optional<DeletedMatcher::FolderKey> DeletedMatcher::folderKey(const std::string& folder)
{
    if (const auto known = m_folders.find(folder); known != m_folders.end()) {
        return known->second;
    }
    struct stat status
    {
    };
    std::optional<FolderKey> key;
    if (::stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        key = FolderKey{status.st_dev, status.st_ino};
    }
    m_folders[folder] = key;
    return key;
}
