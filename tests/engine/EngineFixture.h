#pragma once

#include "shred/FilePath.h"
#include "shred/FileSystem.h"
#include "shred/FillBlock.h"
#include "shred/OverwriteEngine.h"
#include "shred/RunProgress.h"
#include "shred/ShredView.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

// A fresh folder per test under the system's temporary folder; everything a test shreds lives in it.
class TemporaryFolder
{
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const
    {
        return m_path;
    }
    // Creates `name` holding `length` bytes of `fill`.
    NativePath makeFile(const std::filesystem::path& name, std::int64_t length, std::uint8_t fill = 0xA5) const;

private:
    std::filesystem::path m_path;
};

std::vector<std::uint8_t> readWhole(const std::filesystem::path& path);
// Whether anything, a dangling link included, stands at `path`.
bool exists(const std::filesystem::path& path);

#ifdef _WIN32
// The real calls, except what a test scripts: attributes the file reports besides its own, the
// cluster maps, the file system's name, and how much room the disk has.
class ScriptedFileSystem : public FileSystem
{
public:
    void* openForWriting(const NativePath& path) override;
    std::uint32_t
    writeAt(void* file, const void* data, std::uint32_t length, std::uint64_t offset, std::uint32_t& written) override;
    std::uint32_t flush(void* file) override;
    std::uint32_t describe(void* file, FileFacts& facts) override;
    std::optional<ExtentMap> readExtents(void* file) override;
    std::string fileSystemName(void* file) override;

    std::int64_t room = -1; // the file cannot grow past this offset
    int flushes = 0;
    std::uint32_t addedAttributes = 0;
    std::optional<std::string> volumeFileSystem;
    std::vector<std::optional<ExtentMap>> extentAnswers;
    std::function<void(std::uint64_t offset)> beforeWrite;
    // Just before the file is opened for writing, after it was inspected.
    std::function<void()> beforeOpen;
};
#else
// The path of `name` in the folder open at `folder`.
std::string pathOf(int folder, const char* name);

// The real calls, except what a test scripts: the file system's type, the block maps it reports, how
// much room the disk has, faults of the writes, flushes and deletions, and something that happens
// just before the open and before each write call. The one stand-in for the system in the engine's
// suites.
class ScriptedFileSystem : public FileSystem
{
public:
    ssize_t pwritev(int fd, const iovec* vectors, int count, off_t offset) override;
    int openAt(int folder, const char* name, int flags) override;
    int startWriteback(int fd, off_t offset, off_t length) override;
    int fdatasync(int fd) override;
    int fsync(int fd) override;
    int fstatfs(int fd, struct statfs* status) override;
    std::optional<ExtentMap> readExtents(int fd, bool settled) override;
    int unlinkat(int folder, const char* name) override;
    bool preferDirect(std::int64_t bytes) override;
    int setDirect(int fd, bool direct) override;
    void* mapHugeBuffer(std::size_t size) override;
    void unmapBuffer(void* buffer, std::size_t size) override;

    std::optional<std::uint64_t> fileSystemMagic;
    // What the file system says when asked through the file itself, not its folder.
    std::optional<std::uint64_t> fileMagic;
    // Answers the block-map reads in turn (before the first write, after the flush); the real maps
    // once they run out.
    std::vector<std::optional<ExtentMap>> extentAnswers;
    std::function<void(off_t offset)> beforeWrite;
    // Just before the file is opened for writing, after it was inspected.
    std::function<void()> beforeOpen;

    // Faults of the writes: calls answered EINTR first, EIO from an offset on, at most so many bytes a
    // call, the disk full past `room` or outside the blocks the file has, and bytes counted as written
    // without writing them (for sizes too large to write in a test).
    int interruptions = 0;
    std::int64_t failAtOffset = -1;
    std::int64_t maxPerCall = INT64_MAX;
    std::int64_t room = -1;
    bool diskFull = false;
    bool pretend = false;
    // The block the pass writes from, to tell whether every piece of a call comes from it.
    const FillBlock* block = nullptr;

    // The flushes once the pass has written, and their error; those before, which give data waiting
    // for a place on the disk its place; full flushes; writeback hints, and whether they are refused.
    int flushes = 0;
    int flushError = 0;
    int flushesBeforeWriting = 0;
    int fullFlushes = 0;
    int writebacks = 0;
    bool refuseWriteback = false;

    // Writing past the page cache: forced on or off for every size, or the real choice. Refusals of
    // the direct path: O_DIRECT refused, no huge pages, the direct write (counted from 1) answered with
    // EINVAL, as a file system does to a write it finds misaligned, and a first direct write that takes
    // only so many bytes.
    std::optional<bool> direct;
    bool refuseDirect = false;
    bool noHugePages = false;
    int refuseDirectWrite = 0;
    std::int64_t shortFirstDirectWrite = 0;

    // Every write call, refused ones too: its offset, the bytes asked and written (-1: refused), the
    // pieces it came in, whether all of them lie in `block`, and whether it went past the page cache.
    struct Write
    {
        off_t offset;
        std::int64_t length;
        std::int64_t written;
        int vectors;
        bool fromBlock;
        bool direct;
    };
    std::vector<Write> writes;
    int directWrites() const;

    // Deletions: paths that cannot be deleted (EBUSY), and what each file held just before its deletion.
    std::set<std::string> undeletable;
    std::map<std::string, std::vector<std::uint8_t>> contentBeforeDelete;

private:
    void* m_smallPageBuffer = nullptr;
    int m_directCalls = 0;
};
#endif

// Remembers every update of a run's progress.
class RecordingDisplay : public ProgressDisplay
{
public:
    struct Update
    {
        std::int64_t value;
        std::string percentText;
        std::string activity;
        bool mustShow;
    };

    void progressChanged(const RunProgress& progress, bool mustShow) override
    {
        updates.push_back({progress.value(), progress.percentText(), progress.activity(), mustShow});
    }

    // The percentage texts shown by the steps since the activity last read "Shredding: ...".
    std::vector<std::string> stepTexts() const;

    std::vector<Update> updates;
};

// Answers the confirmation as told and remembers everything a run showed, as lines of text.
class RecordingView : public ShredView
{
public:
    void tell(Notice notice) override;
    bool confirmShred() override;
    void warn(const std::string& text) override;
    void reportShredded(const std::string& text) override;
    void clearPath() override;
    std::vector<ListEntry> listEntries() override;
    void refillList(const std::vector<ChosenFile>& files) override;
    void reportBatchShredded(int count) override;

    bool answerYes = true;
    std::vector<ListEntry> list;
    std::vector<std::string> events;
};

inline const FillBlock kZeros = BuildFillBlock(kStandardMode);

// One engine run and everything it showed.
struct EngineRun
{
    RecordingDisplay display;
    RunProgress progress{&display};
    OverwriteResult result;
};

// Runs the engine the way a single-file run does: maximum = length + one block.
void overwrite(EngineRun& run,
               const NativePath& path,
               const FillBlock& block,
               FileSystem& files = FileSystem::system());

bool allBytesAre(const std::vector<std::uint8_t>& bytes, std::uint8_t value);
// The file shows the fill block at every multiple of 5000.
bool holdsBlockEverywhere(const std::vector<std::uint8_t>& bytes, const FillBlock& block);
