#pragma once

#include "shred/FilePath.h"
#include "shred/Placement.h"
#include "shred/win32/FileHandle.h"

#include <cstdint>
#include <optional>
#include <string>

// What the engine reads of an open file: GetFileInformationByHandle's answer.
struct FileFacts
{
    std::uint32_t attributes = 0; // FILE_ATTRIBUTE_* bits
    std::uint32_t links = 1;
    std::uint64_t volume = 0; // the volume's serial number
    std::uint64_t index = 0;  // the file's index on the volume
    std::int64_t length = 0;
};

// The system calls through which shredding writes, flushes, inspects and removes files on Windows.
// Handles are HANDLEs and errors are the system's error codes (0 for none). The program uses the real
// calls; tests replace single ones to inject faults or to script what a file says of itself.
class FileSystem
{
public:
    virtual ~FileSystem() = default;

    // Opens the file at `path` to be written and deleted, shared only for reading and writing, without
    // following a reparse point; null on failure, with the error in GetLastError.
    virtual void* openForWriting(const NativePath& path);
    // Writes `length` bytes at `offset` (WriteFile with an OVERLAPPED offset) and tells how many went.
    virtual std::uint32_t
    writeAt(void* file, const void* data, std::uint32_t length, std::uint64_t offset, std::uint32_t& written);
    virtual std::uint32_t flush(void* file);
    virtual std::uint32_t describe(void* file, FileFacts& facts);
    // The file's clusters (FSCTL_GET_RETRIEVAL_POINTERS), in clusters; none when they cannot be read or
    // what is read does not add up.
    virtual std::optional<ExtentMap> readExtents(void* file);
    // The name the volume gives its file system ("NTFS"), empty when it cannot be asked.
    virtual std::string fileSystemName(void* file);
    // Whether the file lies on another computer, behind a network redirector.
    virtual bool isRemote(void* file);
    // Marks the open file for deletion when its last handle closes (FileDispositionInfo).
    virtual std::uint32_t markForDeletion(void* file);

    // The real calls.
    static FileSystem& system();
};

// An overwritten file, held for its deletion: the file itself, opened with the right to delete it,
// through which the deletion goes.
struct HeldFile
{
    FileHandle file;
};
