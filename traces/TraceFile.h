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
OwnedFile OpenOwnedFile(int folder, const std::string& name);

// The folder `name` in `folder`, opened for reading: a real folder, or a link of the user's own to a
// folder of the user's own (a folder kept on another disk); -1 for anything else.
FileDescriptor OpenUserFolder(int folder, const std::string& name);

// How often a shared file is read again when another program keeps changing it under its rewrite.
constexpr int kReplaceAttempts = 5;

// Puts `text` in place of the file `name` in `folder` (opened for reading), with the file's mode, while
// that file is still the one read as `before` with the bytes `read`: written beside it, flushed,
// renamed over it, and the folder flushed. Returns 0, -1 when another program changed the file since it
// was read, or the error.
int ReplaceOwnedFile(
    int folder, const std::string& name, const std::string& text, const struct stat& before, const std::string& read);

// Overwrites the file `name` in the open folder `folder` with `block`, flushes and deletes it, through
// `files`. Only a regular file with one name that the user owns is touched, reached without following
// a link at its name, and only while its name still names the file inspected. Returns a line naming it
// by its path (`shown`) and why it was left: empty when it was destroyed or nothing stands there.
std::string ShredTraceFile(
    int folder, const std::string& name, const std::string& shown, const FillBlock& block, FileSystem& files);

// The whole of an open file, or nothing when it cannot be read.
std::optional<std::string> ReadAll(int fd);

// A folder of the user's by the XDG rule: the environment's `variable` when it is an absolute path,
// else `belowHome` in the home folder; empty when neither is known. The data ($XDG_DATA_HOME,
// .local/share) and the cache ($XDG_CACHE_HOME, .cache).
std::string XdgFolder(const char* variable, const char* belowHome);
