// The thumbnails a Linux desktop keeps of a file, found without following links and destroyed.

#include "shred/posix/NativeFileSystem.h"
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

// Reads the start of the file `name` in `folder`, where a thumbnail keeps its Thumb::URI.
std::vector<std::uint8_t> headOf(int folder, const char* name)
{
    std::vector<std::uint8_t> head(std::size_t{1} << 20);
    const FileDescriptor file(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    const ssize_t got = file.get() >= 0 ? ::pread(file.get(), head.data(), head.size(), 0) : -1;
    head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return head;
}

class ThumbnailShredder
{
public:
    ThumbnailShredder(const std::string& shredded, const FillBlock& block, FileSystem& files)
        : m_shredded(shredded)
        , m_block(block)
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
            struct stat status
            {
            };
            const bool plain = ::fstatat(handle, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                               S_ISREG(status.st_mode) && status.st_uid == ::geteuid();
            if (plain && !shows_(handle, name, shows)) {
                continue; // the picture of another file
            }
            if (const std::string failure = ShredTraceFile(handle, name, path, m_block, m_files); !failure.empty()) {
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
                if (folder.get() >= 0 &&
                    ::fstatat(folder.get(), thumbnail.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                    S_ISREG(status.st_mode) && shows_(folder.get(), thumbnail, shows)) {
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
    // Whether the thumbnail `name` in `folder` shows one of `shows`, or says nothing of what it shows.
    static bool shows_(int folder, const std::string& name, const std::vector<std::string>& shows)
    {
        const std::optional<std::string> shown = UriShownBy(headOf(folder, name.c_str()));
        return !shown || std::find(shows.begin(), shows.end(), *shown) != shows.end();
    }

    void leftAlone(const std::string& path, const std::string& why)
    {
        m_lines.push_back("A thumbnail of " + m_shredded + " was not destroyed: " + path + ": " + why);
    }

    std::string m_shredded;
    const FillBlock& m_block;
    FileSystem& m_files;
    std::vector<std::string> m_lines;
};
} // namespace

std::vector<std::string> DestroyThumbnails(const NativePath& path, const FillBlock& block, FileSystem& files)
{
    const std::size_t slash = path.rfind('/');
    if (path.empty() || path.front() != '/' || slash == std::string::npos) {
        return {};
    }
    const std::string uri = ThumbnailUri(path);
    const std::string qtUri = QtThumbnailUri(path);
    std::vector<std::string> uris = {uri};
    if (qtUri != uri) {
        uris.push_back(qtUri);
    }
    const std::string sharedUri = SharedThumbnailUri(path.substr(slash + 1));
    const std::vector<std::string> shows = {uri, qtUri, sharedUri};

    ThumbnailShredder shredder(path, block, files);
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
        destroyBelow(
            {FileDescriptor(::open(cache.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)), cache}, "thumbnails", uris);
    }
    const std::string folder = slash == 0 ? std::string("/") : path.substr(0, slash);
    destroyBelow(
        {FileDescriptor(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)), folder == "/" ? "" : folder},
        ".sh_thumbnails",
        {sharedUri});
    return shredder.lines();
}
