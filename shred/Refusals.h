#pragma once

// The lines a run shows for a file it refuses, or could not shred, worded once for every system. Each
// names the file by `shown`, its path as text.

#include "shred/Placement.h"

#include <cstddef>
#include <cstdint>
#include <string>

// "<path>: <step>: <the system's words for the error>".
std::string FailureLine(const std::string& shown, const std::string& step, int error);

// `kind`: "a directory", "a symbolic link"...
std::string NotRegularFile(const std::string& shown, const std::string& kind);
std::string ReplacedSinceChosen(const std::string& shown);
std::string NoLongerThere(const std::string& shown);
// A name given as text, with "�" for bytes that are not text, that shows like no entry of its folder
// or like more than one.
std::string NotOneLookAlike(const std::string& shown);
std::string HasOtherNames(const std::string& shown, std::uint64_t links);
// A bind mount shows a file under another name, as a hard link does, with a link count of one.
std::string MountedAtItsName(const std::string& shown);
std::string SystemInterface(const std::string& shown, const FileSystemType& type);

// The deletion failed after the overwrite: the contents are gone, or at least overwritten, but the
// file is still there.
std::string NotDeleted(const std::string& shown, const PlacementVerdict& placement, int error);
std::string NotOverwrittenSoNotRemoved(const std::string& shown);
// The deletion could not be flushed to the disk; empty when `error` is 0.
std::string NotFlushed(const std::string& shown, int error);

// A batch whose files lie in more folders than the program may hold open at once.
std::string TooManyFolders(std::size_t files, std::size_t folders, std::size_t available);
