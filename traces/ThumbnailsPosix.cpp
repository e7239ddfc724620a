// The thumbnails a Linux desktop keeps of a file, found without following links and destroyed.

#include "shred/posix/NativeFileSystem.h"
#include "traces/DeletedNames.h"
#include "traces/Thumbnails.h"
#include "traces/TraceFile.h"

#include <algorithm>
#include <array>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr std::array kSizes = {"normal", "large", "x-large", "xx-large"};

// A folder of the thumbnail paths, opened without following a link at its name, and its path for the
// lines a run shows.
struct Folder
{
    FileDescriptor fd;
    std::string path;

    Folder below(const std::string& name) const
    {
        return {FileDescriptor(fd.get() < 0
                                   ? -1
                                   : ::openat(fd.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)),
                path + "/" + name};
    }

    // Whether a symbolic link stands at `name`.
    bool linkAt(const std::string& name) const
    {
        struct stat status
        {
        };
        return fd.get() >= 0 && ::fstatat(fd.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
               S_ISLNK(status.st_mode);
    }

    // The folders below this one, links left out.
    std::vector<std::string> subfolders() const
    {
        std::vector<std::string> names;
        DIR* listing =
            fd.get() >= 0 ? ::fdopendir(::openat(fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) : nullptr;
        if (!listing) {
            return names;
        }
        while (const dirent* entry = ::readdir(listing)) {
            struct stat status
            {
            };
            const std::string name = entry->d_name;
            if (name != "." && name != ".." && ::fstatat(fd.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISDIR(status.st_mode)) {
                names.push_back(name);
            }
        }
        ::closedir(listing);
        return names;
    }
};

// A folder by its path, links on the way followed as the user laid them out.
Folder openFolder(const std::string& path)
{
    // Named without a trailing slash, so that "/" and a folder below join alike.
    return {FileDescriptor(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)), path == "/" ? "" : path};
}

// Reads the start of an open file, where a thumbnail keeps its Thumb::URI.
std::vector<std::uint8_t> headOf(int file)
{
    std::vector<std::uint8_t> head(std::size_t{1} << 20);
    const ssize_t got = ::pread(file, head.data(), head.size(), 0);
    head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return head;
}

class ThumbnailShredder
{
public:
    ThumbnailShredder(const std::string& shredded, TraceFiles& files)
        : m_shredded(shredded)
        , m_files(files)
    {
    }

    // Destroys the thumbnails named by `uris` in `folder` whose Thumb::URI, if any, is one of `shows`.
    void destroyIn(const Folder& folder, const std::vector<std::string>& uris, const std::vector<std::string>& shows)
    {
        if (folder.fd.get() < 0) {
            return; // no such folder: nothing to destroy, and nothing is made
        }
        const int handle = folder.fd.get();
        for (const std::string& uri : uris) {
            const std::string name = ThumbnailName(uri);
            const std::string path = folder.path + "/" + name;
            if (const OwnedFile thumbnail = m_files.openOwned(handle, name);
                thumbnail.opened() && !shows_(thumbnail.fd.get(), shows)) {
                continue; // the picture of another file
            }
            if (const std::string failure = m_files.destroy(handle, name, path); !failure.empty()) {
                m_lines.push_back("A thumbnail of " + m_shredded + " was not destroyed: " + failure);
            }
        }
    }

    // A link stands where `folder` would be. Nothing is reached through it; a thumbnail of the file
    // seen behind it, in the folder it points to or in `sizes` below that, is named as left.
    void passLink(const Folder& parent,
                  const std::string& name,
                  const std::vector<std::string>& sizes,
                  const std::vector<std::string>& uris,
                  const std::vector<std::string>& shows)
    {
        const Folder behind{FileDescriptor(::openat(parent.fd.get(), name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)),
                            parent.path + "/" + name};
        for (const std::string& size : sizes.empty() ? std::vector<std::string>{""} : sizes) {
            const FileDescriptor folder(
                size.empty() ? ::dup(behind.fd.get())
                             : ::openat(behind.fd.get(), size.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
            for (const std::string& uri : uris) {
                const std::string thumbnail = ThumbnailName(uri);
                struct stat status
                {
                };
                // Looked at before it is opened: a device behind the link is never opened.
                const bool regular = folder.get() >= 0 &&
                                     ::fstatat(folder.get(), thumbnail.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                                     S_ISREG(status.st_mode);
                const FileDescriptor file(
                    regular ? ::openat(folder.get(), thumbnail.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)
                            : -1);
                if (file.get() >= 0 && ::fstat(file.get(), &status) == 0 && S_ISREG(status.st_mode) &&
                    shows_(file.get(), shows)) {
                    leftAlone(behind.path + (size.empty() ? "" : "/" + size) + "/" + thumbnail,
                              "reached through the symbolic link " + behind.path +
                                  ", which was not followed; it was not touched");
                }
            }
        }
    }

    std::vector<std::string> lines() const
    {
        return m_lines;
    }

private:
    // Whether the open thumbnail shows one of `shows`, or says nothing of what it shows.
    static bool shows_(int thumbnail, const std::vector<std::string>& shows)
    {
        const std::optional<std::string> shown = UriShownBy(headOf(thumbnail));
        return !shown || std::find(shows.begin(), shows.end(), *shown) != shows.end();
    }

    void leftAlone(const std::string& path, const std::string& why)
    {
        m_lines.push_back("A thumbnail of " + m_shredded + " was not destroyed: " + path + ": " + why);
    }

    std::string m_shredded;
    TraceFiles& m_files;
    std::vector<std::string> m_lines;
};
} // namespace

std::vector<std::string> DestroyThumbnails(const DeletedNames& deleted, TraceFiles& files)
{
    std::vector<std::string> uris; // every spelling a program may have hashed
    for (const std::string& path : deleted.paths()) {
        for (const std::string& uri : {ThumbnailUri(path), QtThumbnailUri(path)}) {
            if (std::find(uris.begin(), uris.end(), uri) == uris.end()) {
                uris.push_back(uri);
            }
        }
    }
    if (uris.empty()) {
        return {};
    }
    // The folders' own repositories: the one it lay in, and the one it lay in before the trash.
    std::vector<std::pair<Folder, std::string>> repositories;
    const std::string path = deleted.paths().front();
    if (deleted.folder) {
        const std::string shown = FolderOfPath(path) == "/" ? "" : FolderOfPath(path);
        repositories.emplace_back(Folder{FileDescriptor(::dup(deleted.folder->get())), shown}, NameOfPath(path));
    } else {
        repositories.emplace_back(openFolder(FolderOfPath(path)), NameOfPath(path));
    }
    if (!deleted.beforeTrash.empty()) {
        repositories.emplace_back(openFolder(FolderOfPath(deleted.beforeTrash)), NameOfPath(deleted.beforeTrash));
    }
    std::vector<std::string> shows = uris;
    for (const auto& [folder, name] : repositories) {
        shows.push_back(SharedThumbnailUri(name));
    }

    ThumbnailShredder shredder(DisplayPath(deleted.given), files);
    const std::vector<std::string> sizes(kSizes.begin(), kSizes.end());
    // Each folder from the cache's and the file's folder down is opened below the last without
    // following a link: one could lead the overwrite to any file that carries a thumbnail's name.
    const auto destroyBelow = [&](const Folder& top, const std::string& name, const std::vector<std::string>& named) {
        if (top.linkAt(name)) {
            shredder.passLink(top, name, sizes, named, shows);
            return;
        }
        const Folder repository = top.below(name);
        for (const std::string& size : sizes) {
            if (repository.linkAt(size)) {
                shredder.passLink(repository, size, {}, named, shows);
            } else {
                shredder.destroyIn(repository.below(size), named, shows);
            }
        }
        if (repository.linkAt("fail")) {
            return; // failure notes hold no picture
        }
        const Folder failures = repository.below("fail");
        for (const std::string& program : failures.subfolders()) {
            shredder.destroyIn(failures.below(program), named, shows);
        }
    };
    if (const std::string cache = XdgFolder("XDG_CACHE_HOME", ".cache"); !cache.empty()) {
        destroyBelow(openFolder(cache), "thumbnails", uris);
    }
    for (const auto& [folder, name] : repositories) {
        destroyBelow(folder, ".sh_thumbnails", {SharedThumbnailUri(name)});
    }
    return shredder.lines();
}
