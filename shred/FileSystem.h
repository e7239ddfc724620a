#pragma once

// The one contract through which the engine reaches a system's files. A chosen file is pinned once:
// its path is resolved into what the system holds of it (its folder and its name there on POSIX, the
// file itself on Windows), and from then on it is checked, opened, written, flushed, inspected and
// removed through that pin, never through its path again. Each system implements the contract in its
// own folder (PosixFileSystem in shred/posix, Win32FileSystem in shred/win32), whose NativeFileSystem.h
// says how a pinned and an opened file are held; the build puts that folder on the include path.
// Tests implement it with a scripted stand-in that wraps the system's.

#include "NativeFileSystem.h" // PinnedFile, OpenedFile
#include "shred/FilePath.h"
#include "shred/Placement.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// An error as the system tells it, errno on POSIX and a system error code on Windows; 0 for none.
using SystemError = int;

// Which file a path named: its device and inode, or on Windows its volume's serial number and its
// file index. A file system gives a deleted file's number to the next new file, often at once, so
// the facts a reused number cannot repeat are kept too, where the file system tells them.
struct FileIdentity
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::optional<std::int64_t> birth;       // the file's creation time in nanoseconds
    std::optional<std::uint32_t> generation; // the inode's generation, drawn anew for every new file

    // Whether both name one file: the same device and number, and no fact known to both differs.
    bool sameFileAs(const FileIdentity& other) const
    {
        const auto agree = [](const auto& mine, const auto& theirs) { return !mine || !theirs || *mine == *theirs; };
        return device == other.device && inode == other.inode && agree(birth, other.birth) &&
               agree(generation, other.generation);
    }
};

// What the engine reads of a file before it trusts it.
struct FileFacts
{
    // What the file is when it is not a regular file, in the system's words ("a directory"); null for
    // a regular file.
    const char* notRegular = nullptr;
    std::int64_t length = 0;
    std::uint64_t links = 1;
    bool mountRoot = false; // something is mounted at the file's name
    // Whether the file may be written as it is: on POSIX it has the owner's write permission, or the
    // program runs with the rights to write any file; on Windows it is neither read-only, hidden nor a
    // system file.
    bool ownerMayWrite = true;
    // How the file system stores the file, where it tells it by the file's attributes (Windows).
    bool compressed = false;
    bool encrypted = false;
    FileIdentity identity;
};

// A piece of one write call.
struct WritePiece
{
    const void* data = nullptr;
    std::size_t length = 0;
};

// How many pins a set of files takes when held together, and how many more the program may hold.
struct PinCapacity
{
    std::size_t needed = 0;
    // None where the system sets no bound a batch can reach.
    std::optional<std::size_t> available;
};

class WriteTuning;

// The operations every system implements. The engine and the windows reach files only through the
// instance they are handed: the program hands them the system's, and tests a scripted one.
class FileSystem
{
public:
    virtual ~FileSystem() = default;

    // Whether `paths` can be pinned all at once, leaving the window what it needs to go on: on POSIX
    // the files of one folder share one descriptor of it, and the program may open only so many.
    virtual PinCapacity pinCapacity(const std::vector<NativePath>& paths) = 0;

    // Resolves `path` once into `pinned` and reads what it names, without following a link and without
    // opening anything that may act when opened (a device, a file of a kernel interface).
    virtual SystemError pin(const NativePath& path, PinnedFile& pinned, FileFacts& facts) = 0;
    // What the pinned name names now, read through the pin.
    virtual SystemError describePinned(const PinnedFile& pinned, FileFacts& facts) = 0;
    // The file system the pinned file lies on; its kind is Unknown when it cannot be asked.
    virtual FileSystemType fileSystemOf(const PinnedFile& pinned) = 0;
    // Lets the owner write the pinned file, while it is still the file `expected`; the pin keeps what
    // it was, for restoreWritability.
    virtual SystemError makeWritable(PinnedFile& pinned, const FileIdentity& expected) = 0;
    // Puts back what makeWritable changed, while the pinned name still names the file `expected`.
    virtual SystemError restoreWritability(PinnedFile& pinned, const FileIdentity& expected) = 0;

    // Opens the pinned file for writing, never through a link; on Windows also for its deletion, so
    // that no one can rename, delete or replace it while it is open.
    virtual SystemError open(const PinnedFile& pinned, OpenedFile& file) = 0;
    // The facts of the opened file itself.
    virtual SystemError describe(const OpenedFile& file, FileFacts& facts) = 0;
    // The file system the opened file lies on, and whether it also journals this file's data.
    virtual FileSystemType fileSystemOf(const OpenedFile& file) = 0;
    // One write call at `offset` from the pieces in turn; `written` tells how many bytes went. A call
    // that writes nothing fails, with the error of a full disk when the system gives none.
    virtual SystemError
    writeAt(OpenedFile& file, const WritePiece* pieces, int count, std::int64_t offset, std::int64_t& written) = 0;
    // Waits until everything written is on the disk, with what is needed to read it back.
    virtual SystemError flush(OpenedFile& file) = 0;
    // The same with every other change to the file, for file systems that cannot flush less.
    virtual SystemError flushAll(OpenedFile& file) = 0;
    // The file's block map, or none when the file system cannot tell it. `settled`: only once the
    // file system has finished giving every written page its place, for a map read after the flush.
    // Never before the overwrite: that would put pages not yet written, still secret, on the disk.
    virtual std::optional<ExtentMap> readExtents(const OpenedFile& file, bool settled) = 0;
    // Ends the writing: the file is closed, or kept open for its deletion where that goes through it.
    virtual SystemError finishWriting(OpenedFile& file, PinnedFile& pinned) = 0;
    // Removes the pinned file's name; the engine has checked that it still names the overwritten file.
    virtual SystemError remove(PinnedFile& pinned) = 0;
    // Waits until the removals of these pinned files' names are on the disk, so that no power cut
    // brings one back; the names of one folder are flushed together. The error for each, 0 for none.
    virtual std::vector<SystemError> flushRemovals(const std::vector<const PinnedFile*>& removed) = 0;

    // Whether anything, a dangling link included, stands at `path`.
    virtual bool exists(const NativePath& path) = 0;

    // What the system offers beyond this contract to write a pass faster and more gently; null where
    // it offers nothing, and the engine then writes through the cache alone.
    virtual WriteTuning* tuning() = 0;

    // The running system's implementation.
    static FileSystem& system();
};

// Why `path` can never name a file to shred, whatever stands there now (a relative path, a device's
// path); empty when it may.
std::string PathRefusal(const NativePath& path);
// What the system's errors mean to a pass.
bool IsOutOfRoom(SystemError error);       // the disk is full, or the file may grow no further
bool IsMissing(SystemError error);         // nothing stands at the path
bool IsBadBlock(SystemError error);        // the medium could not store the data written there
bool IsInterrupted(SystemError error);     // the call was interrupted before it wrote: try again
bool IsMisalignedWrite(SystemError error); // a write past the page cache refused for its alignment
bool IsUnsupported(SystemError error);     // the file system does not offer the call
// The system's own words for an error, on one line and without a closing full stop.
std::string ErrorText(SystemError error);
