#include "shred/Thumbnails.h"

#include "shred/OverwriteEngine.h"
#include "shred/RunProgress.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr std::array kSizes = {"normal", "large", "x-large", "xx-large"};

// The user's thumbnail cache: $XDG_CACHE_HOME/thumbnails, or ~/.cache/thumbnails.
std::string cacheFolder()
{
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache) {
        return std::string(cache) + "/thumbnails";
    }
    if (const char* home = std::getenv("HOME"); home && *home) {
        return std::string(home) + "/.cache/thumbnails";
    }
    return {};
}

// The program folders below fail/, where file managers note the files they could not picture.
std::vector<std::string> failureFolders(const std::string& cache)
{
    std::vector<std::string> folders;
    const int fd = ::open((cache + "/fail").c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* listing = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!listing) {
        if (fd >= 0) {
            ::close(fd);
        }
        return folders;
    }
    while (const dirent* entry = ::readdir(listing)) {
        struct stat status
        {
        };
        const std::string name = entry->d_name;
        if (name != "." && name != ".." &&
            ::fstatat(::dirfd(listing), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode)) {
            folders.push_back(cache + "/fail/" + name);
        }
    }
    ::closedir(listing);
    return folders;
}

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
    void
    destroyIn(const std::string& folder, const std::vector<std::string>& uris, const std::vector<std::string>& shows)
    {
        const FileDescriptor handle(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (handle.get() < 0) {
            return; // no such folder: nothing to destroy, and nothing is made
        }
        for (const std::string& uri : uris) {
            const std::string name = ThumbnailName(uri);
            const std::string path = folder + "/" + name;
            struct stat status
            {
            };
            if (::fstatat(handle.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
                continue;
            }
            if (S_ISLNK(status.st_mode)) {
                leftAlone(path, "a symbolic link stands at its name; neither it nor what it points to was touched");
                continue;
            }
            if (!S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) {
                leftAlone(path, "not a file of your own");
                continue;
            }
            const std::optional<std::string> shown = UriShownBy(headOf(handle.get(), name.c_str()));
            if (shown && std::find(shows.begin(), shows.end(), *shown) == shows.end()) {
                continue; // the picture of another file
            }
            const MeasuredFile found = IdentifyFile(path);
            if (!found.ok() || found.identity.inode != status.st_ino) {
                continue; // gone meanwhile
            }
            RunProgress unseen;
            OverwriteResult overwrite = OverwriteFile(ChosenFile(path, found.identity), m_block, unseen, m_files);
            const std::string failure = overwrite.ok() ? RemoveFile(overwrite, m_files) : overwrite.failure;
            if (!failure.empty()) {
                m_lines.push_back("A thumbnail of " + m_shredded + " was not destroyed: " + failure);
            }
        }
    }

    std::vector<std::string> lines() const
    {
        return m_lines;
    }

private:
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
    if (const std::string cache = cacheFolder(); !cache.empty()) {
        for (const char* size : kSizes) {
            shredder.destroyIn(cache + "/" + size, uris, shows);
        }
        for (const std::string& folder : failureFolders(cache)) {
            shredder.destroyIn(folder, uris, shows);
        }
    }
    const std::string shared = path.substr(0, slash) + "/.sh_thumbnails/";
    for (const char* size : kSizes) {
        shredder.destroyIn(shared + size, {sharedUri}, shows);
    }
    return shredder.lines();
}
