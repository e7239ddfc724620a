// The recent-files lists of GTK (read and written with GLib's own bookmark file) and of KDE.

#include "traces/RecentFiles.h"

#include "shred/posix/FileDescriptor.h"
#include "traces/TraceFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// How often the GTK list is read again when another program keeps changing it under the rewrite.
constexpr int kRewriteAttempts = 5;

struct GFreeDeleter
{
    void operator()(void* memory) const
    {
        g_free(memory);
    }
};
using GString_ = std::unique_ptr<char, GFreeDeleter>;

// The list at `path` as it is now: its bytes and its status, or why it cannot be read. A link at its
// name is not followed.
struct ListNow
{
    std::optional<std::string> text;
    struct stat status
    {
    };
    std::string refused; // why it was left alone; empty when it was read or is not there
};

ListNow readList(const std::string& path)
{
    ListNow now;
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        if (errno == ELOOP) {
            now.refused = "a symbolic link stands at its name; it was not touched";
        } else if (errno != ENOENT) {
            now.refused = std::string("cannot be read: ") + std::strerror(errno);
        }
        return now;
    }
    if (::fstat(fd.get(), &now.status) != 0 || !S_ISREG(now.status.st_mode)) {
        now.refused = "not a regular file; it was not touched";
    } else if (now.status.st_uid != ::geteuid()) {
        now.refused = "not a file of your own; it was not touched";
    } else if (!(now.text = ReadAll(fd.get()))) {
        now.refused = std::string("cannot be read: ") + std::strerror(errno);
    }
    return now;
}

bool names(const std::vector<NativePath>& deleted, const std::string& path)
{
    return !path.empty() && std::find(deleted.begin(), deleted.end(), path) != deleted.end();
}

// Writes `text` beside `path` with `mode`, flushed, and puts it at `path` while the file there is still
// the one read as `before`. Returns 0, -1 when the file changed meanwhile, or the error.
int replaceList(const std::string& path, const std::string& text, const struct stat& before, const std::string& read)
{
    std::string temporary = path + ".zorvik-XXXXXX";
    const FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        return errno;
    }
    const auto discard = [&](int error) {
        ::unlink(temporary.c_str());
        return error;
    };
    if (::fchmod(fd.get(), before.st_mode & 07777) != 0) {
        return discard(errno);
    }
    for (std::size_t at = 0; at < text.size();) {
        const ssize_t wrote = ::write(fd.get(), text.data() + at, text.size() - at);
        if (wrote <= 0) {
            return discard(wrote < 0 ? errno : ENOSPC);
        }
        at += static_cast<std::size_t>(wrote);
    }
    if (::fsync(fd.get()) != 0) {
        return discard(errno);
    }
    const ListNow now = readList(path);
    if (!now.text || *now.text != read || now.status.st_ino != before.st_ino) {
        return discard(-1); // another program wrote it since it was read
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        return discard(errno);
    }
    const std::string folder = path.substr(0, path.rfind('/'));
    const FileDescriptor folderFd(::open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folderFd.get() >= 0) {
        ::fsync(folderFd.get());
    }
    return 0;
}

// The value of a KDE entry's URL line, or empty: "URL[$e]=" expands $HOME, "URL=" does not.
std::string urlOfEntry(const std::string& text)
{
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        for (const std::string key : {"URL[$e]=", "URL="}) {
            if (line.rfind(key, 0) != 0) {
                continue;
            }
            std::string value = line.substr(key.size());
            if (key == "URL[$e]=" && value.rfind("$HOME", 0) == 0) {
                const char* home = std::getenv("HOME");
                value = (home ? std::string(home) : std::string()) + value.substr(5);
            }
            return value;
        }
    }
    return {};
}
} // namespace

std::string PathOfFileUri(const std::string& uri)
{
    const GString_ path(g_filename_from_uri(uri.c_str(), nullptr, nullptr));
    return path ? std::string(path.get()) : std::string();
}

std::vector<std::string> ForgetRecentFiles(const std::string& dataHome,
                                           const std::vector<NativePath>& deleted,
                                           const std::function<void()>& meanwhile)
{
    if (dataHome.empty() || deleted.empty()) {
        return {};
    }
    const std::string path = dataHome + "/recently-used.xbel";
    const std::string named = "The list of recent files " + path + " still names a shredded file: ";
    for (int attempt = 0; attempt < kRewriteAttempts; ++attempt) {
        const ListNow list = readList(path);
        if (!list.refused.empty()) {
            return {named + list.refused};
        }
        if (!list.text) {
            return {}; // none: nothing is made
        }
        std::unique_ptr<GBookmarkFile, decltype(&g_bookmark_file_free)> bookmarks(g_bookmark_file_new(),
                                                                                  &g_bookmark_file_free);
        GError* error = nullptr;
        if (!g_bookmark_file_load_from_data(bookmarks.get(), list.text->data(), list.text->size(), &error)) {
            const std::string why = error ? error->message : "unknown error";
            g_clear_error(&error);
            // Unreadable as a whole: nothing can be told of what it names, and it is not touched.
            return {"The list of recent files " + path + " could not be read (" + why + "); it was left as it is"};
        }
        gsize count = 0;
        gchar** uris = g_bookmark_file_get_uris(bookmarks.get(), &count);
        int removed = 0;
        for (gsize i = 0; i < count; ++i) {
            if (names(deleted, PathOfFileUri(uris[i]))) {
                removed += g_bookmark_file_remove_item(bookmarks.get(), uris[i], nullptr) ? 1 : 0;
            }
        }
        g_strfreev(uris);
        if (removed == 0) {
            return {};
        }
        gsize length = 0;
        const GString_ text(g_bookmark_file_to_data(bookmarks.get(), &length, nullptr));
        if (!text) {
            return {named + "it could not be written anew"};
        }
        if (meanwhile) {
            meanwhile();
        }
        const int replaced = replaceList(path, std::string(text.get(), length), list.status, *list.text);
        if (replaced == 0) {
            return {};
        }
        if (replaced > 0) {
            return {named + "it could not be replaced: " + std::strerror(replaced)};
        }
    }
    return {named + "another program kept changing it"};
}

std::vector<std::string> DestroyRecentDocuments(const std::string& dataHome,
                                                const std::vector<NativePath>& deleted,
                                                const FillBlock& block,
                                                FileSystem& files)
{
    std::vector<std::string> lines;
    if (dataHome.empty() || deleted.empty()) {
        return lines;
    }
    const std::string folder = dataHome + "/RecentDocuments";
    const FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    DIR* listing = fd.get() >= 0 ? ::fdopendir(::dup(fd.get())) : nullptr;
    if (!listing) {
        return lines;
    }
    std::vector<std::string> entries;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.size() > 8 && name.compare(name.size() - 8, 8, ".desktop") == 0) {
            entries.push_back(name);
        }
    }
    ::closedir(listing);
    for (const std::string& name : entries) {
        const FileDescriptor entry(
            ::openat(fd.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        struct stat status
        {
        };
        if (entry.get() < 0 || ::fstat(entry.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
            continue; // a link or anything else is no entry of a program's
        }
        const std::optional<std::string> text = ReadAll(entry.get());
        const std::string url = text ? urlOfEntry(*text) : std::string();
        const std::string path = url.rfind("file:", 0) == 0 ? PathOfFileUri(url) : url;
        if (!names(deleted, path)) {
            continue;
        }
        if (std::string failure = ShredTraceFile(fd.get(), name, folder + "/" + name, block, files); !failure.empty()) {
            lines.push_back("A recent-documents entry of " + path + " was not destroyed: " + failure);
        }
    }
    return lines;
}
