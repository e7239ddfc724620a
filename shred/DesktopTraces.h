#pragma once

// What the drivers ask once a run has deleted its files: that whatever the desktop keeps of them,
// which names them or shows them, goes too. The program hands them the system's (traces/); tests may
// hand them their own.

#include "shred/FilePath.h"
#include "shred/FileSystem.h"
#include "shred/FillBlock.h"

#include <string>
#include <vector>

// A file a run has just deleted: its path as chosen, and the pin it was deleted through, which the
// driver holds until the traces are done. Through the pin the traces learn where the file really
// lay, whatever spelling of its path was chosen and whatever that path names now.
struct DeletedFile
{
    NativePath path;
    const PinnedFile* pinned = nullptr;
};

class DesktopTraces
{
public:
    virtual ~DesktopTraces() = default;

    // Destroys what the desktop keeps of the files just deleted, once for the whole run: the traces
    // that are files are destroyed as the files were, with `block` through `files`. Returns a line for
    // each trace that exists but was not destroyed, naming it and why.
    virtual std::vector<std::string>
    destroy(const std::vector<DeletedFile>& deleted, const FillBlock& block, FileSystem& files) = 0;
};
