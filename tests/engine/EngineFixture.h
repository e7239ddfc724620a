#pragma once

#include "shred/FileSystem.h"
#include "shred/FillBlock.h"
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
    std::string makeFile(const std::string& name, std::int64_t length, std::uint8_t fill = 0xA5) const;

private:
    std::filesystem::path m_path;
};

std::vector<std::uint8_t> readWhole(const std::string& path);
bool exists(const std::string& path);
// The path of `name` in the folder open at `folder`.
std::string pathOf(int folder, const char* name);

// The real calls, except what a test scripts: the file system's type, the block maps it reports, and
// something that happens just before each write call.
class ScriptedFileSystem : public FileSystem
{
public:
    ssize_t pwritev(int fd, const iovec* vectors, int count, off_t offset) override;
    int fstatfs(int fd, struct statfs* status) override;
    std::optional<ExtentMap> readExtents(int fd) override;
    bool preferDirect(std::int64_t bytes) override;
    int setDirect(int fd, bool direct) override;
    void* mapHugeBuffer(std::size_t size) override;
    void unmapBuffer(void* buffer, std::size_t size) override;

    std::optional<std::uint64_t> fileSystemMagic;
    // Answers the block-map reads in turn (before the first write, after the flush); the real maps
    // once they run out.
    std::vector<std::optional<ExtentMap>> extentAnswers;
    std::function<void(off_t offset)> beforeWrite;

    // Writing past the page cache: forced on or off for every size, or the real choice.
    std::optional<bool> direct;
    // Refusals of the direct path: O_DIRECT refused, no huge pages, and the direct write (counted from
    // 1) answered with EINVAL, as a file system does to a write it finds misaligned.
    bool refuseDirect = false;
    bool noHugePages = false;
    int refuseDirectWrite = 0;
    // Each write call but a refused one: its offset, its length and whether it went past the page cache.
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
};

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
