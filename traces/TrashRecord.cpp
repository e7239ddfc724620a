// Trash records of destroyed files, in the trash each file was found in.

#include "traces/TrashRecord.h"

#include "shred/posix/FileDescriptor.h"
#include "traces/TraceFile.h"

#include <cstring>
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>

namespace {
// Removes the line of `name` (its last field, percent-encoded) from the directorysizes file of `trash`.
// Returns why it could not be; empty when it was, or when there was none.
std::string dropSizeLine(TraceFiles& files, int trash, const std::string& trashPath, const std::string& name)
{
    const std::string shown = trashPath + "/directorysizes";
    for (int attempt = 0; attempt < kReplaceAttempts; ++attempt) {
        const OwnedFile sizes = files.openOwned(trash, "directorysizes");
        if (!sizes.refused.empty()) {
            return shown + ": " + sizes.refused;
        }
        const std::optional<std::string> text = sizes.opened() ? ReadAll(sizes.fd.get()) : std::nullopt;
        if (!text) {
            return {};
        }
        std::string kept;
        bool dropped = false;
        for (std::size_t at = 0; at < text->size();) {
            const std::size_t end = std::min(text->find('\n', at), text->size());
            const std::string line = text->substr(at, end - at);
            at = end + 1;
            char* decoded = g_uri_unescape_string(line.substr(line.rfind(' ') + 1).c_str(), nullptr);
            const bool his = decoded && line.find(' ') != std::string::npos && name == decoded;
            g_free(decoded);
            if (his) {
                dropped = true;
            } else {
                kept += line + (end < text->size() ? "\n" : "");
            }
        }
        if (!dropped) {
            return {};
        }
        const int replaced = files.replace(trash, "directorysizes", kept, sizes.status, *text);
        if (replaced == 0) {
            return {};
        }
        if (replaced > 0) {
            return shown + ": its line for " + name + " could not be removed: " + std::strerror(replaced);
        }
    }
    return shown + ": its line for " + name + " could not be removed: another program kept changing it";
}
} // namespace

std::vector<std::string> DestroyTrashRecords(const std::vector<DeletedNames>& deleted, TraceFiles& files)
{
    std::vector<std::string> lines;
    for (const DeletedNames& names : deleted) {
        if (!names.trash || !names.trash->isEntry) {
            continue;
        }
        const TrashPlace& trash = *names.trash;
        // Opened read-only, for the flush of the directorysizes replaced in it.
        const FileDescriptor trashFd(::openat(trash.trash->get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        const FileDescriptor info = files.openUserFolder(trashFd.get(), "info");
        const std::string record = trash.entry + ".trashinfo";
        struct stat atInfo
        {
        };
        std::string failure = info.get() < 0 && ::fstatat(trashFd.get(), "info", &atInfo, AT_SYMLINK_NOFOLLOW) == 0
                                  ? trash.path + "/info: not a folder of your own; it was not touched"
                                  : files.destroy(info.get(), record, trash.path + "/info/" + record);
        if (failure.empty() && trashFd.get() >= 0) {
            failure = dropSizeLine(files, trashFd.get(), trash.path, trash.entry);
        }
        if (!failure.empty()) {
            lines.push_back("The trash's record of " + names.given + " was not destroyed: " + failure);
        }
    }
    return lines;
}
