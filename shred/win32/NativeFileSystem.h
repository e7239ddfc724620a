#pragma once

// How Windows holds a chosen file: the file itself, opened once when it is pinned with no right but
// reading its attributes, and from the overwrite on the handle it was written through, which holds it
// against renaming, deletion and replacement and through which it is deleted.

#include "shred/FilePath.h"
#include "shred/win32/FileHandle.h"

#include <cstdint>
#include <vector>

struct WritePiece; // shred/FileSystem.h

struct PinnedFile
{
    NativePath path; // as chosen, shown in the lines a run shows; never opened again
    FileHandle file;
    unsigned long attributesBeforeWritable = 0; // once the file was made writable

    explicit operator bool() const
    {
        return static_cast<bool>(file);
    }
};

struct OpenedFile
{
    FileHandle file;
    // A write call's pieces laid end to end, as WriteFile takes one buffer, and the pieces they came
    // from. The pieces' bytes are the run's fill block, which does not change while the file is open.
    std::vector<std::uint8_t> gathered;
    std::vector<WritePiece> gatheredFrom;
};
