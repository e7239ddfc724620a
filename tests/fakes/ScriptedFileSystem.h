#pragma once

// The scripted stand-in for the system's file calls, used by every suite.

#include "ForwardingFileSystem.h"
#include "shred/FillBlock.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

// The calls of a real implementation, the system's unless another is given, except what a test
// scripts: the file system's type, the block maps it reports, how much room the disk has, faults of
// the writes, flushes and deletions, facts the file reports besides its own, and something that
// happens just before the open, before each write call and before the deletion. The one stand-in for
// the system in every suite. It offers the write tuning where the real implementation does.
class ScriptedFileSystem : public ForwardingFileSystem
{
public:
    explicit ScriptedFileSystem(FileSystem& real = FileSystem::system());

    SystemError pin(const NativePath& path, PinnedFile& pinned, FileFacts& facts) override;
    SystemError describePinned(const PinnedFile& pinned, FileFacts& facts) override;
    FileSystemType fileSystemOf(const PinnedFile& pinned) override;
    SystemError open(const PinnedFile& pinned, OpenedFile& file) override;
    SystemError describe(const OpenedFile& file, FileFacts& facts) override;
    FileSystemType fileSystemOf(const OpenedFile& file) override;
    SystemError
    writeAt(OpenedFile& file, const WritePiece* pieces, int count, std::int64_t offset, std::int64_t& written) override;
    SystemError flush(OpenedFile& file) override;
    SystemError flushAll(OpenedFile& file) override;
    std::optional<ExtentMap> readExtents(const OpenedFile& file, bool settled) override;
    SystemError remove(PinnedFile& pinned) override;
    std::vector<SystemError> flushRemovals(const std::vector<const PinnedFile*>& removed) override;

    SystemError setDirect(OpenedFile& file, bool direct) override;
    bool preferDirect(std::int64_t bytes) override;
    void* mapHugeBuffer(std::size_t size) override;
    void unmapBuffer(void* buffer, std::size_t size) override;
    SystemError startWriteback(OpenedFile& file, std::int64_t offset, std::int64_t length) override;

    // What the file system is said to be, for the file and its folder, or for the opened file alone.
    std::optional<FileSystemType> fileSystemType;
    std::optional<FileSystemType> openedFileType;
    // Changes what every file says of itself.
    std::function<void(FileFacts&)> alterFacts;
    // Answers the block-map reads in turn (before the first write, after the flush); the real maps
    // once they run out.
    std::vector<std::optional<ExtentMap>> extentAnswers;
    // The same for one file by its path, taken before the answers above.
    std::map<NativePath, std::vector<std::optional<ExtentMap>>> extentAnswersFor;
    std::function<void(std::int64_t offset)> beforeWrite;
    // Just before the file is opened for writing, after it was inspected; and the open's error.
    std::function<void()> beforeOpen;
    SystemError openError = 0;
    // Just before a file is deleted, while its overwritten contents can still be read.
    std::function<void(const NativePath& path)> beforeDelete;

    // Faults of the writes: calls interrupted first, an input/output error for every call that touches
    // the bytes from an offset on (up to another, where that is set: bad blocks), at most
    // so many bytes a call, the disk full past `room` or outside the data the file has, and bytes
    // counted as written without writing them (for sizes too large to write in a test).
    int interruptions = 0;
    std::int64_t failAtOffset = -1;
    std::int64_t failUntilOffset = INT64_MAX;
    std::int64_t maxPerCall = INT64_MAX;
    std::int64_t room = -1;
    bool diskFull = false;
    bool pretend = false;
    // The block the pass writes from, to tell whether every piece of a call comes from it.
    const FillBlock* block = nullptr;

    // The flushes once the pass has written, and their error; those before, which give data waiting
    // for a place on the disk its place; full flushes; writeback hints, and whether they are refused.
    int flushes = 0;
    SystemError flushError = 0;
    std::map<NativePath, SystemError> flushErrorFor; // the error of one file's flushes
    int flushesBeforeWriting = 0;
    int fullFlushes = 0;
    int writebacks = 0;
    bool refuseWriteback = false;

    // Writing past the page cache: forced on or off for every size, or the real choice. Refusals of
    // the direct path: turning it on refused, no huge pages, the direct write (counted from 1) refused
    // as misaligned, and a first direct write that takes only so many bytes.
    std::optional<bool> direct;
    bool refuseDirect = false;
    bool noHugePages = false;
    int refuseDirectWrite = 0;
    std::int64_t shortFirstDirectWrite = 0;

    // Every write call, refused ones too: its offset, the bytes asked and written (-1: refused), the
    // pieces it came in, whether all of them lie in `block`, and whether it went past the page cache.
    struct Write
    {
        std::int64_t offset;
        std::int64_t length;
        std::int64_t written;
        int pieces;
        bool fromBlock;
        bool direct;
    };
    std::vector<Write> writes;
    int directWrites() const;

    // Deletions: paths that cannot be deleted, and what each file held just before its deletion.
    std::set<NativePath> undeletable;
    std::map<NativePath, std::vector<std::uint8_t>> contentBeforeDelete;
    // The deletions flushed, and the error of their flushes.
    int removalFlushes = 0;
    SystemError removalFlushError = 0;

    // Each file's first write, its flushes and its deletion, in the order they came: "write PATH",
    // "flush PATH", "remove PATH". And the deletions of files whose writes had not been flushed with
    // success: never any.
    std::vector<std::string> steps;
    int removalsBeforeTheirFlush = 0;

    // The errors the system gives for these faults.
    static const SystemError kInterrupted;
    static const SystemError kInputOutput;
    static const SystemError kNoRoom;
    static const SystemError kBusy;
    static const SystemError kMisaligned;
    static const SystemError kNotOffered;

private:
    // The facts as the script changes them (the pin reads them through describePinned).
    SystemError altered(SystemError error, FileFacts& facts) const;

    // The path each open file was opened by.
    NativePath pathOf(const OpenedFile& file) const;

    std::map<const OpenedFile*, NativePath> m_openedPaths;
    std::set<NativePath> m_unflushed;
    void* m_smallPageBuffer = nullptr;
    int m_directCalls = 0;
    bool m_directOn = false;
};

// Every byte of the file at `path`, also while the engine holds it open.
std::vector<std::uint8_t> readWhole(const NativePath& path);
