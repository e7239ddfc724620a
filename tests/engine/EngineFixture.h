#pragma once

// The engine suites' fixture: temporary folders with files of a given length, a progress display and
// a shred view that record what a run shows, and one overwrite with its progress.

#include "shred/DesktopTraces.h"
#include "shred/FilePath.h"
#include "shred/FileSystem.h"
#include "shred/FillBlock.h"
#include "shred/OverwriteEngine.h"
#include "shred/RunProgress.h"
#include "shred/ShredView.h"
#include "tests/fakes/ScriptedFileSystem.h"

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
    // Who must be able to reach the folder: its owner, or other users' steps too.
    enum class Reach
    {
        Owner,
        Everyone
    };
    explicit TemporaryFolder(Reach reach = Reach::Owner);
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

// Whether anything, a dangling link included, stands at `path`.
bool exists(const std::filesystem::path& path);

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

    void progressChanged(const RunProgress& progress, Change change) override
    {
        updates.push_back({progress.value(), progress.percentText(), progress.activity(), change != Change::Step});
    }

    // The percentage texts shown by the steps since the activity last read "Shredding: ...".
    std::vector<std::string> stepTexts() const;

    std::vector<Update> updates;
};

// Answers the confirmation as told and remembers everything a run showed, as lines of text.
// Records what the drivers hand over for the desktop's traces, once per run, and destroys none.
class RecordingTraces : public DesktopTraces
{
public:
    std::vector<std::string>
    destroy(const std::vector<DeletedFile>& deleted, const FillBlock& block, FileSystem& files) override;

    std::vector<std::vector<NativePath>> runs;
};

class RecordingView : public ShredView
{
public:
    void tell(Notice notice) override;
    bool confirmShred() override;
    void warn(const std::string& text) override;
    void reportShredded(const std::string& text) override;
    void clearPath() override;
    std::vector<ListedFile> listEntries() override;
    void refillList(const std::vector<ChosenFile>& files) override;
    void reportBatchShredded(int count) override;

    bool answerYes = true;
    std::vector<ListedFile> list;
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
