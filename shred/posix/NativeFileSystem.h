#pragma once

// How the POSIX system holds a chosen file: its folder, opened once when the file is pinned, and its
// name there. Every later step finds the file by that name in that folder, so a folder renamed or
// replaced higher up the path changes nothing.

#include "shred/FilePath.h"
#include "shred/posix/FileDescriptor.h"

#include <string>

struct PinnedFile
{
    NativePath path; // as chosen, for the lines a run shows
    FileDescriptor folder;
    std::string name;

    explicit operator bool() const
    {
        return folder.get() >= 0;
    }
};

struct OpenedFile
{
    FileDescriptor fd;
};
