#pragma once

// How the traces reach their files: a trace that is a file of its own (a thumbnail, a recent-document
// entry, a trash record) is destroyed the way the file it names was, and a small shared file (a
// recent-files list, the trash's directorysizes) is replaced whole. Every file is reached by its name
// in an open folder, never through a link at that name, and only when it is the user's own.

#include "shred/FileSystem.h"
#include "shred/FillBlock.h"
#include "shred/posix/FileDescriptor.h"

#include <optional>
#include <string>
#include <sys/stat.h>

// How often a shared file is read again when another program keeps changing it under its rewrite.
constexpr int kReplaceAttempts = 5;

// A regular file of the user's, opened for reading by its name in a folder without following a link
// at that name.
struct OwnedFile
{
    FileDescriptor fd;
    struct stat status
    {
    };
    // Why it was not opened, as the end of a sentence ("not a file of your own"); empty when it was
    // opened, or when nothing stands at the name.
    std::string refused;

    bool opened() const
    {
        return fd.get() >= 0;
    }
};

// How the traces find, read, replace and destroy their files. The program's reach the system's files
// (SystemTraceFiles); a test puts its own in their place to script a step: another user's file, a link
// that appears between two steps, a write that fails.
class TraceFiles
{
public:
    virtual ~TraceFiles() = default;

    // The file `name` in `folder`, opened for reading when it is a regular file of the user's, reached
    // without following a link at its name.
    virtual OwnedFile openOwned(int folder, const std::string& name) = 0;
    // The folder `name` in `folder`, opened for reading: a real folder, or a link of the user's own to a
    // folder of the user's own (a folder kept on another disk); -1 for anything else.
    virtual FileDescriptor openUserFolder(int folder, const std::string& name) = 0;
    // Puts `text` in place of the file `name` in `folder` (opened for reading), with the file's mode,
    // while that file is still the one read as `before` with the bytes `read`: written beside it,
    // flushed, renamed over it, and the folder flushed. Returns 0, -1 when another program changed the
    // file since it was read, or the error.
    virtual int replace(int folder,
                        const std::string& name,
                        const std::string& text,
                        const struct stat& before,
                        const std::string& read) = 0;
    // Overwrites the file `name` in `folder` as the file it names was, flushes and deletes it. Only a
    // regular file with one name that the user owns is touched, reached without following a link at its
    // name, and only while its path `shown` still leads to the file found in the folder. Returns a line
    // naming it by that path and why it was left: empty when it was destroyed or nothing stands there.
    virtual std::string destroy(int folder, const std::string& name, const std::string& shown) = 0;
};

// The system's files, each trace file destroyed with `block` through the engine's contract `files`.
class SystemTraceFiles : public TraceFiles
{
public:
    SystemTraceFiles(const FillBlock& block, FileSystem& files);

    OwnedFile openOwned(int folder, const std::string& name) override;
    FileDescriptor openUserFolder(int folder, const std::string& name) override;
    int replace(int folder,
                const std::string& name,
                const std::string& text,
                const struct stat& before,
                const std::string& read) override;
    std::string destroy(int folder, const std::string& name, const std::string& shown) override;

private:
    const FillBlock& m_block;
    FileSystem& m_files;
};

// The whole of an open file, or nothing when it cannot be read.
std::optional<std::string> ReadAll(int fd);

// A folder of the user's by the XDG rule: the environment's `variable` when it is an absolute path,
// else `belowHome` in the home folder; empty when neither is known. The data ($XDG_DATA_HOME,
// .local/share) and the cache ($XDG_CACHE_HOME, .cache).
std::string XdgFolder(const char* variable, const char* belowHome);
