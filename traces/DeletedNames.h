#pragma once

// What a deleted file was called, worked out once for every store that may name it. Programs record a
// file under the path they opened it by: through a linked folder, with a doubled slash, or under the
// path it had before it was put in the trash. So each deleted file is known by the real path of the
// folder it was pinned in and its name, by its path as chosen, and, when it lay in a trash, by the
// path its trash record says it had.

#include "shred/DesktopTraces.h"
#include "shred/posix/FileDescriptor.h"

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// Where a deleted file lay in a trash, by the freedesktop.org trash rules.
struct TrashPlace
{
    std::shared_ptr<const FileDescriptor> trash; // the trash folder, reached from the file's own folder
    std::string path;                            // the trash folder's path, for the lines a run shows
    std::string entry;                           // the entry of its files/ that is the file or holds it
    bool isEntry = false;                        // the file was that entry: its record goes with it
};

struct DeletedNames
{
    std::string given;     // as chosen
    std::string canonical; // the real path of the folder it lay in, and its name
    // The folder it lay in, as pinned: its folder's own thumbnails are looked for there.
    std::shared_ptr<const FileDescriptor> folder;
    std::optional<TrashPlace> trash;
    std::string beforeTrash; // its path before it was put in the trash; empty when none is known

    // Every path it may be recorded under, each once: the canonical one first.
    std::vector<std::string> paths() const;
};

class TraceFiles;

// The names of a deleted file. `dataHome` is the user's data folder, which holds the home trash; its
// trash record is read through `files`.
DeletedNames NameDeletedFile(const DeletedFile& file, const std::string& dataHome, TraceFiles& files);

// The folder part of an absolute path ("/" for a file at the top), and its last name.
std::string FolderOfPath(const std::string& path);
std::string NameOfPath(const std::string& path);

// `path` with doubled slashes, "." and ".." worked out by their spelling alone.
std::string CleanPath(const std::string& path);

// Whether a path read from a list names one of the deleted files: the same name in the same folder,
// the folder known by what it is wherever it still exists (a link, a "..", another spelling), else by
// its spelling once cleaned.
class DeletedMatcher
{
public:
    explicit DeletedMatcher(const std::vector<DeletedNames>& deleted);

    bool names(const std::string& path);

private:
    using FolderKey = std::pair<dev_t, ino_t>;
    std::optional<FolderKey> folderKey(const std::string& folder);

    std::set<std::string> m_spelled;                           // cleaned paths
    std::set<std::string> m_leaves;                            // the names alone, to skip the rest
    std::set<std::pair<FolderKey, std::string>> m_inFolder;    // a folder's identity and a name
    std::map<std::string, std::optional<FolderKey>> m_folders; // folders already looked up
};
