#pragma once

// A trace that is a file of its own (a thumbnail, a recent-document entry, a trash record), destroyed
// the way the file it names was.

#include "shred/FileSystem.h"
#include "shred/FillBlock.h"

#include <optional>
#include <string>

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
