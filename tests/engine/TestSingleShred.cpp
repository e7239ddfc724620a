// The single driver, and the rules both drivers share for every file of a run.

#include "shred/BatchShred.h"
#include "shred/SingleShred.h"
#include "tests/engine/EngineFixture.h"
#include "tests/support/HangWatchdog.h"
#include "tests/support/SystemTexts.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <linux/fiemap.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// What the runs hand over for the desktop's traces: recorded, none destroyed.
RecordingTraces traces;
struct SingleRun
{
    RecordingView view;
    RecordingDisplay display;
    RunProgress progress{&display};
};
} // namespace

TEST(SingleShred, CompletedRunOverwritesDeletesAndReports)
{
    TemporaryFolder folder;
    const std::string path = folder.makeFile("doc.txt", 12345);
    SingleRun run;
    EXPECT_TRUE(shredSingleFile(path, kStandardMode, run.view, run.progress, FileSystem::system(), traces));

    EXPECT_FALSE(exists(path));
    EXPECT_EQ(run.view.events,
              (std::vector<std::string>{"confirm", "clear path", "report: The file has been shredded !"}));
    EXPECT_EQ(run.progress.maximum(), 17345);
    EXPECT_EQ(run.progress.value(), 17345);
    EXPECT_EQ(run.display.stepTexts(), (std::vector<std::string>{"Finished: 28%", "Finished: 57%", "Finished: 86%"}));
    EXPECT_EQ(run.progress.percentText(), Texts::kFinished);
    EXPECT_EQ(run.progress.activity(), Texts::kReady);
}

TEST(SingleShred, EmptyPathIsRefusedWithoutShowingTheBar)
{
    SingleRun run;
    EXPECT_FALSE(shredSingleFile(std::string(), kStandardMode, run.view, run.progress, FileSystem::system(), traces));
    EXPECT_EQ(run.view.events, (std::vector<std::string>{"tell: select a file"}));
    EXPECT_FALSE(run.progress.visible());
    EXPECT_TRUE(run.display.updates.empty());
}

TEST(SingleShred, EmptyFileAndDeclinedConfirmationLeaveTheFileAndPath)
{
    TemporaryFolder folder;
    const std::string empty = folder.makeFile("empty", 0);
    SingleRun emptyRun;
    EXPECT_FALSE(shredSingleFile(empty, kStandardMode, emptyRun.view, emptyRun.progress, FileSystem::system(), traces));
    EXPECT_EQ(emptyRun.view.events, (std::vector<std::string>{"tell: invalid file"}));
    EXPECT_TRUE(emptyRun.progress.visible());
    EXPECT_EQ(emptyRun.progress.value(), 0);
    EXPECT_TRUE(exists(empty));

    const std::string kept = folder.makeFile("kept", 300, 0x42);
    SingleRun declined;
    declined.view.answerYes = false;
    EXPECT_FALSE(shredSingleFile(kept, kEnhancedMode, declined.view, declined.progress, FileSystem::system(), traces));
    EXPECT_EQ(declined.view.events, (std::vector<std::string>{"confirm"}));
    EXPECT_EQ(readWhole(kept), std::vector<std::uint8_t>(300, 0x42));
    EXPECT_TRUE(declined.progress.visible());
    EXPECT_EQ(declined.progress.value(), 0);
}

TEST(SingleShred, UnshreddableTargetsAreWarnedAboutBeforeTheConfirmation)
{
    TemporaryFolder folder;
    const std::string missing = (folder.path() / "missing").string();
    const std::string directory = (folder.path() / "dir").string();
    std::filesystem::create_directory(directory);
    for (const std::string& path : {missing, directory}) {
        SingleRun run;
        EXPECT_FALSE(shredSingleFile(path, kStandardMode, run.view, run.progress, FileSystem::system(), traces));
        ASSERT_EQ(run.view.events.size(), 1u) << path;
        EXPECT_TRUE(run.view.events[0].starts_with("warn: " + path + ": ")) << run.view.events[0];
    }
    EXPECT_TRUE(std::filesystem::is_directory(directory));
}

TEST(SingleShred, FailedDeletionIsNotReportedAsShreddedAndKeepsThePath)
{
    TemporaryFolder folder;
    const std::string path = folder.makeFile("stuck", 10);
    SingleRun run;
    ScriptedFileSystem files;
    files.undeletable = {path};
    EXPECT_FALSE(shredSingleFile(path, kStandardMode, run.view, run.progress, files, traces));
    EXPECT_EQ(run.view.events,
              (std::vector<std::string>{"confirm",
                                        "warn: " + path +
                                            ": contents destroyed, but the file could not be deleted and is still "
                                            "there: Device or resource busy"}));
    EXPECT_EQ(run.progress.activity(), Texts::kReady);
    EXPECT_EQ(readWhole(path), std::vector<std::uint8_t>(5000, 0)); // overwritten all the same
}

namespace {
// Changes what the path names while "Confirm?" is open.
class SwappingView : public RecordingView
{
public:
    bool confirmShred() override
    {
        if (swap) {
            swap();
        }
        return RecordingView::confirmShred();
    }
    std::function<void()> swap;
};
} // namespace

TEST(SingleShred, FileThatVanishesDuringTheRunClearsThePath)
{
    TemporaryFolder folder;
    const std::string path = folder.makeFile("vanishing", 10);
    SingleRun run;
    // The file disappears between the confirmation and the overwrite.
    SwappingView view;
    view.swap = [&] { std::filesystem::remove(path); };
    EXPECT_FALSE(shredSingleFile(path, kStandardMode, view, run.progress, FileSystem::system(), traces));
    ASSERT_EQ(view.events.size(), 3u);
    EXPECT_EQ(view.events[1], "clear path");
    EXPECT_EQ(view.events[2], "warn: " + path + ": the file is no longer there; nothing was written");
}

// Both drivers, for the rules that hold for every file of a run.
namespace {
enum class Driver
{
    Single,
    Batch,
};

const char* nameOf(Driver driver)
{
    return driver == Driver::Single ? "single" : "batch";
}

// Runs one chosen file through the driver. Returns whether it was reported shredded.
bool shredThrough(Driver driver, const ChosenFile& file, RecordingView& view, FileSystem& files)
{
    RecordingDisplay display;
    RunProgress progress(&display);
    if (driver == Driver::Single) {
        return shredSingleFile(file, kStandardMode, view, progress, files, traces);
    }
    view.list = {{file.path, true, file.identity}};
    return shredCheckedFiles(kStandardMode, view, progress, files, traces) == 1;
}

// A chosen file dir/secret, and another file of the same name in another folder that nobody chose.
struct SwapScene
{
    SwapScene()
    {
        std::filesystem::create_directory(folder.path() / "dir");
        std::filesystem::create_directory(folder.path() / "elsewhere");
        chosen = folder.makeFile("dir/secret", 6000, 0xA5);
        other = folder.makeFile("elsewhere/secret", 7000, 0x5A);
    }

    void renameOtherOntoChosen() const
    {
        std::filesystem::rename(other, chosen);
    }
    void hardLinkOtherAtChosen() const
    {
        std::filesystem::remove(chosen);
        std::filesystem::create_hard_link(other, chosen);
    }
    // Deleted, and a new file made at the path: ext4 gives it the number just freed.
    void recreateChosen() const
    {
        std::filesystem::remove(chosen);
        std::filesystem::copy_file(other, chosen);
    }
    void symlinkFolderToElsewhere() const
    {
        std::filesystem::rename(folder.path() / "dir", folder.path() / "dir-moved");
        std::filesystem::create_directory_symlink(folder.path() / "elsewhere", folder.path() / "dir");
    }

    // The other file, wherever its name now is, still holds its own bytes.
    bool otherUntouched() const
    {
        return readWhole(chosen) == std::vector<std::uint8_t>(7000, 0x5A);
    }

    TemporaryFolder folder;
    std::string chosen;
    std::string other;
};

} // namespace

// However the path comes to name another file after the choice, that file is neither written nor
// deleted, and the run never says "shredded". Once measured, the chosen file is held where it lies:
// a folder moved while the user confirms takes it along, and it is shredded there.
TEST(ChosenFileOnly, PathSwappedAfterTheChoiceIsRefusedWithNothingWritten)
{
    enum When
    {
        BeforeTheRun,
        WhileConfirming,
        DuringTheOverwrite,
    };
    struct Case
    {
        const char* name;
        void (SwapScene::*swap)() const;
        When when;
        bool heldWhereItLies = false;
    };
    const std::vector<Case> cases = {
        {"renamed over, before the run", &SwapScene::renameOtherOntoChosen, BeforeTheRun},
        {"renamed over, while confirming", &SwapScene::renameOtherOntoChosen, WhileConfirming},
        {"renamed over, during the overwrite", &SwapScene::renameOtherOntoChosen, DuringTheOverwrite},
        {"hard link, before the run", &SwapScene::hardLinkOtherAtChosen, BeforeTheRun},
        {"hard link, while confirming", &SwapScene::hardLinkOtherAtChosen, WhileConfirming},
        {"re-created, before the run", &SwapScene::recreateChosen, BeforeTheRun},
        {"parent folder symlinked, before the run", &SwapScene::symlinkFolderToElsewhere, BeforeTheRun},
        {"parent folder symlinked, while confirming", &SwapScene::symlinkFolderToElsewhere, WhileConfirming, true},
    };
    for (const Case& c : cases) {
        for (Driver driver : {Driver::Single, Driver::Batch}) {
            SCOPED_TRACE(std::string(c.name) + ", " + nameOf(driver));
            SwapScene scene;
            const ChosenFile file(scene.chosen, IdentifyFile(scene.chosen, FileSystem::system()).identity);
            SwappingView view;
            ScriptedFileSystem files;
            if (c.when == BeforeTheRun) {
                (scene.*c.swap)();
            } else if (c.when == WhileConfirming) {
                view.swap = [&] { (scene.*c.swap)(); };
            } else {
                files.beforeWrite = [&](off_t offset) {
                    if (offset == 0) {
                        (scene.*c.swap)();
                    }
                };
            }
            EXPECT_EQ(shredThrough(driver, file, view, files), c.heldWhereItLies);

            EXPECT_TRUE(scene.otherUntouched());
            if (c.heldWhereItLies) {
                EXPECT_FALSE(::exists(scene.folder.path() / "dir-moved/secret"));
                continue;
            }
            // A batch's box opens with a summary: refused before the confirmation, or after the run.
            const std::string summary = driver == Driver::Single ? ""
                                        : c.when == BeforeTheRun
                                            ? "Nothing was shredded, and nothing was written: the checked file cannot "
                                              "be shredded as it is now.\n\n"
                                            : "The checked file was not shredded:\n\n";
            const std::string refusal =
                "warn: " + summary + scene.chosen +
                (c.when == DuringTheOverwrite ? ": another file was put at this path during the run; it was left "
                                                "alone, neither overwritten nor deleted"
                                              : ": the file was replaced after it was chosen; nothing was written");
            EXPECT_NE(std::find(view.events.begin(), view.events.end(), refusal), view.events.end());
            if (driver == Driver::Batch && c.when != DuringTheOverwrite) {
                // Refused at the start, the list stays as it was; refused at the opening, the entry
                // comes back unchecked.
                ASSERT_EQ(view.list.size(), 1u);
                EXPECT_EQ(view.list[0].checked, c.when == BeforeTheRun);
            }
            if (c.swap == &SwapScene::symlinkFolderToElsewhere) {
                EXPECT_EQ(readWhole((scene.folder.path() / "dir-moved/secret").string()),
                          std::vector<std::uint8_t>(6000, 0xA5));
            }
        }
    }
}

// A file another program extends during the run is overwritten past its old end, or not called
// shredded while added bytes remain.
TEST(ChosenFileOnly, FileGrowingDuringTheRunIsOverwrittenToItsNewEndOrReported)
{
    const HangWatchdog watchdog("a run over a file that keeps growing", std::chrono::seconds(30));
    for (bool keepsGrowing : {false, true}) {
        for (Driver driver : {Driver::Single, Driver::Batch}) {
            SCOPED_TRACE(std::string(keepsGrowing ? "keeps growing, " : "grows once, ") + nameOf(driver));
            TemporaryFolder folder;
            const std::string path = folder.makeFile("log", 6000, 0x4C);
            // Kept open, so the contents can be read after the name is gone.
            FileDescriptor reader(::open(path.c_str(), O_RDONLY));
            FileDescriptor appender(::open(path.c_str(), O_WRONLY | O_APPEND));
            int appended = 0;
            ScriptedFileSystem files;
            files.beforeWrite = [&](off_t) {
                if (keepsGrowing || appended == 0) {
                    const std::vector<char> line(6000, 'L');
                    appended += static_cast<int>(::write(appender.get(), line.data(), line.size()));
                }
            };
            RecordingView view;
            const bool shredded = shredThrough(driver, path, view, files);

            struct stat status
            {
            };
            ASSERT_EQ(::fstat(reader.get(), &status), 0);
            std::vector<std::uint8_t> content(static_cast<std::size_t>(status.st_size));
            ASSERT_EQ(::pread(reader.get(), content.data(), content.size(), 0), status.st_size);
            if (!keepsGrowing) {
                EXPECT_TRUE(shredded);
                EXPECT_FALSE(exists(path));
                EXPECT_EQ(content, std::vector<std::uint8_t>(15000, 0)); // 12,000 bytes, all overwritten
            } else {
                EXPECT_FALSE(shredded);
                EXPECT_TRUE(exists(path));
                EXPECT_EQ(std::count(content.begin(), content.end(), 'L'), 5000);
                const std::string failure =
                    "warn: " + std::string(driver == Driver::Batch ? "The checked file was not shredded:\n\n" : "") +
                    path +
                    ": another program kept adding to the file while it was overwritten; "
                    "the last 5000 bytes were not overwritten, and the file was not deleted";
                EXPECT_NE(std::find(view.events.begin(), view.events.end(), failure), view.events.end());
            }
        }
    }
}

// A file whose old blocks may survive is overwritten and deleted as asked, but never called shredded.
TEST(ChosenFileOnly, OverwriteNotInPlaceIsDeletedButWarnedAbout)
{
    const ExtentMap before = {{0, 40960, 8192, FIEMAP_EXTENT_LAST}};
    const ExtentMap moved = {{0, 90112, 12288, FIEMAP_EXTENT_LAST}};
    for (Driver driver : {Driver::Single, Driver::Batch}) {
        SCOPED_TRACE(nameOf(driver));
        TemporaryFolder folder;
        const std::string path = folder.makeFile("on-btrfs", 6000);
        ScriptedFileSystem files;
        files.fileSystemType = ClassifyFileSystem(0x9123683E);
        files.extentAnswers = {before, moved};
        RecordingView view;
        EXPECT_FALSE(shredThrough(driver, path, view, files));
        EXPECT_FALSE(exists(path));
        const std::string warning = "warn: " + path +
                                    ": overwritten and deleted, but btrfs copies on write: the new data went to "
                                    "other blocks, so the old contents may still be readable on the disk";
        const std::vector<std::string> expected =
            driver == Driver::Single
                ? std::vector<std::string>{"confirm", "clear path", warning}
                : std::vector<std::string>{
                      "confirm", "warn: The checked file was not shredded:\n\n" + warning.substr(6), "refill list"};
        EXPECT_EQ(view.events, expected);
        EXPECT_TRUE(view.list.empty() || driver == Driver::Single);
    }
}
