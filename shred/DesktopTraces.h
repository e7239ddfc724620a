#pragma once

// What the drivers ask once a run has deleted its files: that whatever the desktop keeps of them,
// which names them or shows them, goes too. The program hands them the system's (traces/); tests may
// hand them their own.

#include "shred/FilePath.h"
#include "shred/FileSystem.h"
#include "shred/FillBlock.h"

#include <string>
#include <vector>

class DesktopTraces
{
public:
    virtual ~DesktopTraces() = default;

    // Destroys what the desktop keeps of the files just deleted, once for the whole run: the traces
    // that are files are destroyed as the files were, with `block` through `files`. Returns a line for
    // each trace that exists but was not destroyed, naming it and why.
    virtual std::vector<std::string>
    destroy(const std::vector<NativePath>& deleted, const FillBlock& block, FileSystem& files) = 0;
};
