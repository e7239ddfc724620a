// The batch driver: which files are shredded, what comes back to the list, and the boxes.

#include "shred/BatchShred.h"
#include "tests/engine/EngineFixture.h"
#include "tests/support/SystemTexts.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

namespace {
struct BatchRun
{
    RecordingView view;
    RecordingDisplay display;
    RunProgress progress{&display};
    ScriptedFileSystem files;
    RecordingTraces traces;

    int run(ShredMode mode = kStandardMode)
    {
        const int shredded = shredCheckedFiles(mode, view, progress, files, traces);
        EXPECT_EQ(files.removalsBeforeTheirFlush, 0);
        return shredded;
    }
};

std::vector<std::string> paths(const std::vector<ListedFile>& entries)
{
    std::vector<std::string> result;
    for (const auto& entry : entries) {
        EXPECT_FALSE(entry.checked) << entry.path;
        result.push_back(entry.path);
    }
    return result;
}
} // namespace

TEST(BatchShred, StepThatWouldPassTheMaximumHoldsTheValueThere)
{
    TemporaryFolder folder;
    std::vector<std::string> files;
    for (int i = 1; i <= 5; ++i) {
        files.push_back(folder.makeFile("file" + std::to_string(i), 1));
    }
    BatchRun batch;
    batch.view.list = {{files[0], true}, {files[1], false}, {files[2], true}, {files[3], true}, {files[4], false}};

    EXPECT_EQ(batch.run(), 3);
    EXPECT_EQ(batch.progress.maximum(), 10003);
    EXPECT_EQ(batch.display.stepTexts(), (std::vector<std::string>{"Finished: 49%", "Finished: 99%", "Finished: 99%"}));
    EXPECT_EQ(batch.progress.percentText(), Texts::kFinished);
    EXPECT_EQ(batch.progress.activity(), Texts::kReady);
    EXPECT_EQ(batch.view.events, (std::vector<std::string>{"confirm", "report: 3 shredded", "refill list"}));
    EXPECT_EQ(paths(batch.view.list), (std::vector<std::string>{files[1], files[4]}));
    for (int i : {0, 2, 3}) {
        EXPECT_FALSE(exists(files[i]));
        EXPECT_EQ(batch.files.contentBeforeDelete[files[i]], std::vector<std::uint8_t>(5000, 0));
    }
    EXPECT_EQ(readWhole(files[1]), std::vector<std::uint8_t>(1, 0xA5));
    EXPECT_EQ(readWhole(files[4]), std::vector<std::uint8_t>(1, 0xA5));
}

TEST(BatchShred, StepsOfOneFileAndALastStepLandingOnTheMaximum)
{
    TemporaryFolder folder;
    BatchRun single;
    single.view.list = {{folder.makeFile("one", 12345), true}};
    EXPECT_EQ(single.run(), 1);
    EXPECT_EQ(single.progress.maximum(), 22345);
    EXPECT_EQ(single.display.stepTexts(),
              (std::vector<std::string>{"Finished: 22%", "Finished: 44%", "Finished: 67%"}));
    EXPECT_EQ(single.progress.percentText(), Texts::kFinished);

    // 1 + 1 + 4999 + 4999 bytes take four blocks: exactly the maximum of 20,000.
    BatchRun exact;
    for (std::int64_t length : {1, 1, 4999, 4999}) {
        exact.view.list.push_back({folder.makeFile("exact" + std::to_string(exact.view.list.size()), length), true});
    }
    EXPECT_EQ(exact.run(), 4);
    EXPECT_EQ(exact.display.stepTexts().back(), "Finished: 100%");
    EXPECT_EQ(exact.progress.percentText(), "Finished: 100%"); // the finish changes nothing
    EXPECT_TRUE(exact.view.list.empty());
}

TEST(BatchShred, NothingCheckedOrDeclinedChangesNothing)
{
    TemporaryFolder folder;
    const std::string path = folder.makeFile("kept", 10);
    BatchRun unchecked;
    unchecked.view.list = {{path, false}};
    EXPECT_EQ(unchecked.run(), 0);
    EXPECT_EQ(unchecked.view.events, (std::vector<std::string>{"tell: select files"}));
    EXPECT_FALSE(unchecked.progress.visible());

    BatchRun declined;
    declined.view.list = {{path, true}};
    declined.view.answerYes = false;
    EXPECT_EQ(declined.run(), 0);
    EXPECT_EQ(declined.view.events, (std::vector<std::string>{"confirm"}));
    EXPECT_TRUE(declined.progress.visible());
    EXPECT_EQ(declined.progress.value(), 0);
    EXPECT_TRUE(declined.view.list[0].checked);
    EXPECT_EQ(readWhole(path), std::vector<std::uint8_t>(10, 0xA5));
}

TEST(BatchShred, EmptyCheckedFileIsDeletedAndCounted)
{
    TemporaryFolder folder;
    BatchRun batch;
    const std::string empty = folder.makeFile("empty", 0);
    batch.view.list = {{empty, true}, {folder.makeFile("two", 2), true}};
    EXPECT_EQ(batch.run(), 2);
    EXPECT_FALSE(exists(empty));
    EXPECT_EQ(batch.view.events, (std::vector<std::string>{"confirm", "report: 2 shredded", "refill list"}));
}

TEST(BatchShred, FileGoneBeforeTheTotalStopsTheRunBeforeAnythingIsWritten)
{
    TemporaryFolder folder;
    const std::string first = folder.makeFile("first", 100);
    const std::string gone = (folder.path() / "gone").string();
    const std::string directory = (folder.path() / "now-a-folder").string();
    std::filesystem::create_directory(directory);
    BatchRun batch;
    batch.view.list = {{first, true}, {gone, true}, {directory, true}};
    EXPECT_EQ(batch.run(), 0);
    ASSERT_EQ(batch.view.events.size(), 1u);
    EXPECT_EQ(batch.view.events[0],
              "warn: Nothing was shredded, and nothing was written: 2 of the 3 checked files cannot be shredded as "
              "they are now.\n\n" +
                  gone + ": the file is no longer there; nothing was written\n\n" + directory +
                  ": not a regular file (a directory); nothing was written");
    EXPECT_EQ(readWhole(first), std::vector<std::uint8_t>(100, 0xA5));
    EXPECT_TRUE(batch.view.list[0].checked); // the list was not rebuilt
    EXPECT_EQ(batch.progress.value(), 0);
}

TEST(BatchShred, FailureInTheMiddleIsCountedHonestlyAndTheFileComesBack)
{
    TemporaryFolder folder;
    const std::string a = folder.makeFile("a", 10);
    const std::string b = folder.makeFile("b", 10);
    const std::string stuck = folder.makeFile("stuck", 10);
    const std::string c = folder.makeFile("c", 10);
    const std::string d = folder.makeFile("d", 10);
    BatchRun batch;
    batch.files.undeletable = {stuck};
    batch.view.list = {{a, true}, {b, false}, {stuck, true}, {c, true}, {d, false}};
    EXPECT_EQ(batch.run(), 2);
    EXPECT_EQ(
        batch.view.events,
        (std::vector<std::string>{
            "confirm",
            "report: 2 shredded",
            "warn: 1 of the 3 checked files was not shredded:\n\n" + stuck +
                ": contents destroyed, but the file could not be deleted and is still there: Device or resource busy",
            "refill list"}));
    EXPECT_EQ(paths(batch.view.list), (std::vector<std::string>{b, stuck, d}));
    EXPECT_EQ(readWhole(stuck), std::vector<std::uint8_t>(5000, 0)); // overwritten all the same
    EXPECT_FALSE(exists(a));
    EXPECT_FALSE(exists(c));
    EXPECT_EQ(batch.files.removalFlushes, 2); // each deletion flushed before "shredded"
    // What the desktop keeps of the deleted files goes once for the whole run.
    EXPECT_EQ(batch.traces.runs, (std::vector<std::vector<NativePath>>{{a, c}}));

    // Deletions that could not be flushed are not counted, and each is named.
    BatchRun unflushed;
    unflushed.files.removalFlushError = EIO;
    unflushed.view.list = {{folder.makeFile("e", 10), true}};
    EXPECT_EQ(unflushed.run(), 0);
    ASSERT_EQ(unflushed.view.events.size(), 3u);
    EXPECT_EQ(unflushed.view.events[1],
              "warn: The checked file was not shredded:\n\n" + folder.path().string() +
                  "/e: deleted, but the deletion could not be flushed to the disk and may be undone: Input/output "
                  "error");
}

TEST(BatchShred, EveryFileFailingCountsNone)
{
    TemporaryFolder folder;
    const std::string a = folder.makeFile("a", 10);
    const std::string b = folder.makeFile("b", 10);
    BatchRun batch;
    batch.files.undeletable = {a, b};
    // Another program deletes b as the run fails to: only a, still there, comes back to the list.
    batch.files.beforeDelete = [&b](const NativePath& path) {
        if (path == b) {
            std::filesystem::remove(b);
        }
    };
    batch.view.list = {{a, true}, {b, true}};
    EXPECT_EQ(batch.run(), 0);
    // No "Mission Accomplished !" over nothing shredded: the warning alone.
    ASSERT_EQ(batch.view.events.size(), 3u);
    EXPECT_EQ(
        batch.view.events[1],
        "warn: 2 of the 2 checked files were not shredded:\n\n" + a +
            ": contents destroyed, but the file could not be deleted and is still there: Device or resource busy\n\n" +
            b + ": contents destroyed, but the file could not be deleted and is still there: Device or resource busy");
    EXPECT_EQ(paths(batch.view.list), (std::vector<std::string>{a}));
}

TEST(BatchShred, EnhancedBatchWritesOnePatternIntoEveryFile)
{
    TemporaryFolder folder;
    BatchRun batch;
    for (std::int64_t length : {1, 5000, 12345}) {
        batch.view.list.push_back({folder.makeFile(std::to_string(length), length), true});
    }
    EXPECT_EQ(batch.run(kEnhancedMode), 3);
    ASSERT_EQ(batch.files.contentBeforeDelete.size(), 3u);
    const std::vector<std::uint8_t> pattern = batch.files.contentBeforeDelete.begin()->second;
    ASSERT_EQ(pattern.size(), 5000u);
    EXPECT_EQ(std::count(pattern.begin(), pattern.end(), 0), 0);
    for (const auto& [path, content] : batch.files.contentBeforeDelete) {
        ASSERT_EQ(content.size() % 5000, 0u) << path;
        for (std::size_t at = 0; at < content.size(); at += 5000) {
            EXPECT_TRUE(std::equal(pattern.begin(), pattern.end(), content.begin() + static_cast<std::ptrdiff_t>(at)))
                << path << " at " << at;
        }
    }
}

// Small files are all written before the first of them is flushed, and each is flushed and judged
// before any is deleted: the file whose flush fails and the file whose blocks moved are the only ones
// named, and the others are shredded.
TEST(BatchShred, SmallFilesFlushedTogetherKeepEachFailureWithItsFile)
{
    TemporaryFolder folder;
    BatchRun batch;
    std::vector<std::string> small;
    std::vector<std::string> expectedSteps;
    const ExtentMap before = {{0, 40960, 8192, ExtentFlag::Last}};
    const ExtentMap moved = {{0, 90112, 8192, ExtentFlag::Last}};
    for (int i = 1; i <= 6; ++i) {
        small.push_back(folder.makeFile("small" + std::to_string(i), 4096));
        batch.view.list.push_back({small.back(), true});
        batch.files.extentAnswersFor[small.back()] = {before, i == 5 ? moved : before};
        expectedSteps.push_back("write " + small.back());
    }
    batch.files.flushErrorFor[small[2]] = EIO;
    for (int i : {0, 1, 2, 3, 4, 5}) {
        expectedSteps.push_back("flush " + small[i]);
    }
    for (int i : {0, 1, 3, 4, 5}) {
        expectedSteps.push_back("remove " + small[i]);
    }

    EXPECT_EQ(batch.run(), 4);
    EXPECT_EQ(batch.files.steps, expectedSteps);
    ASSERT_EQ(batch.view.events.size(), 4u);
    const std::string& warning = batch.view.events[2];
    EXPECT_EQ(warning.rfind("warn: 2 of the 6 checked files were not shredded:\n\n" + small[2] +
                                ": error flushing to disk: Input/output error; the file was overwritten",
                            0),
              0u)
        << warning;
    EXPECT_NE(warning.find("\n\n" + small[4] + ": overwritten and deleted, but "), std::string::npos) << warning;
    for (int i : {0, 1, 3, 5}) {
        EXPECT_EQ(warning.find(small[i]), std::string::npos) << small[i];
    }
    EXPECT_EQ(paths(batch.view.list), (std::vector<std::string>{small[2]}));
    EXPECT_EQ(readWhole(small[2]), std::vector<std::uint8_t>(5000, 0));
}
