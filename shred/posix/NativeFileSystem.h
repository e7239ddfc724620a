#pragma once

// How the POSIX system holds a chosen file: its folder, opened once when the file is pinned, and its
// name there. Every later step finds the file by that name in that folder, so a folder renamed or
// replaced higher up the path changes nothing. Files pinned in one folder while an earlier pin of it
// is still held share its descriptor, so that a batch holds one descriptor per folder.

#include "shred/FilePath.h"
#include "shred/posix/FileDescriptor.h"

#include <istream>
#include <memory>
#include <string>
#include <sys/types.h>

struct PinnedFile
{
    NativePath path; // as chosen, for the lines a run shows
    std::shared_ptr<const FileDescriptor> folder;
    std::string name;
    int modeBeforeWritable = -1; // the permission bits, once the file was made writable

    int folderFd() const
    {
        return folder ? folder->get() : -1;
    }

    explicit operator bool() const
    {
        return folderFd() >= 0;
    }
};

struct OpenedFile
{
    FileDescriptor fd;
};

// Whether the mount of the device `major:minor` in the mount table `table` is ext3 or ext4 with
// data=journal: "ID PARENT MAJOR:MINOR ROOT POINT OPTIONS [TAGS...] - TYPE SOURCE SUPER-OPTIONS".
bool MountJournalsData(std::istream& table, unsigned major, unsigned minor);

// What a file of this mode is, for the lines a run shows; nullptr for a regular file.
const char* FileKind(mode_t mode);
