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
#include <optional>
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
// much room the disk has, and something that happens just before each write call.
class ScriptedFileSystem : public FileSystem
{
public:
    ssize_t pwritev(int fd, const iovec* vectors, int count, off_t offset) override;
    int openAt(int folder, const char* name, int flags) override;
    int fdatasync(int fd) override;
    int fstatfs(int fd, struct statfs* status) override;
    std::optional<ExtentMap> readExtents(int fd, bool settled) override;
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
    std::int64_t room = -1;       // the file cannot grow past this offset
    bool diskFull = false;        // only writes within the blocks the file has go through
    int flushes = 0;              // once the pass has written
    int flushesBeforeWriting = 0; // to give data waiting for a place on the disk its place

    // Writing past the page cache: forced on or off for every size, or the real choice.
    std::optional<bool> direct;
    // Refusals of the direct path: O_DIRECT refused, no huge pages, and the direct write (counted from
    // 1) answered with EINVAL, as a file system does to a write it finds misaligned.
    bool refuseDirect = false;
    bool noHugePages = false;
    int refuseDirectWrite = 0;
    std::int64_t shortFirstDirectWrite = 0; // bytes the first direct write takes, when set
    // Each write call that wrote: its offset, the bytes written and whether it went past the page cache.
    struct Write
    {
        off_t offset;
        std::int64_t length;
        bool direct;
    };
    std::vector<Write> writes;

    int directWrites() const;

private:
    void* m_smallPageBuffer = nullptr;
    int m_directCalls = 0;
    int m_writeCalls = 0;
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
