#include "shred/SingleShred.h"
#include "tests/engine/EngineFixture.h"

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>

namespace {
class FailingUnlink : public FileSystem
{
public:
    int unlinkat(int, const char*) override
    {
        errno = EBUSY;
        return -1;
    }
};

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
    EXPECT_TRUE(shredSingleFile(path, kStandardMode, run.view, run.progress));

    EXPECT_FALSE(exists(path));
    EXPECT_EQ(run.view.events,
              (std::vector<std::string>{"confirm", "clear path", "report: The file has been shredded !"}));
    EXPECT_EQ(run.progress.maximum(), 17345);
    EXPECT_EQ(run.progress.value(), 17345);
    EXPECT_EQ(run.display.stepTexts(), (std::vector<std::string>{"Finished: 28%", "Finished: 57%", "Finished: 86%"}));
    EXPECT_EQ(run.progress.percentText(), "Finished:100%");
    EXPECT_EQ(run.progress.activity(), "Ready");
}

TEST(SingleShred, EmptyPathIsRefusedWithoutShowingTheBar)
{
    SingleRun run;
    EXPECT_FALSE(shredSingleFile(std::string(), kStandardMode, run.view, run.progress));
    EXPECT_EQ(run.view.events, (std::vector<std::string>{"tell: select a file"}));
    EXPECT_FALSE(run.progress.visible());
    EXPECT_TRUE(run.display.updates.empty());
}

TEST(SingleShred, EmptyFileAndDeclinedConfirmationLeaveTheFileAndPath)
{
    TemporaryFolder folder;
    const std::string empty = folder.makeFile("empty", 0);
    SingleRun emptyRun;
    EXPECT_FALSE(shredSingleFile(empty, kStandardMode, emptyRun.view, emptyRun.progress));
    EXPECT_EQ(emptyRun.view.events, (std::vector<std::string>{"tell: invalid file"}));
    EXPECT_TRUE(emptyRun.progress.visible());
    EXPECT_EQ(emptyRun.progress.value(), 0);
    EXPECT_TRUE(exists(empty));

    const std::string kept = folder.makeFile("kept", 300, 0x42);
    SingleRun declined;
    declined.view.answerYes = false;
    EXPECT_FALSE(shredSingleFile(kept, kEnhancedMode, declined.view, declined.progress));
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
        EXPECT_FALSE(shredSingleFile(path, kStandardMode, run.view, run.progress));
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
    FailingUnlink files;
    EXPECT_FALSE(shredSingleFile(path, kStandardMode, run.view, run.progress, files));
    EXPECT_EQ(run.view.events,
              (std::vector<std::string>{"confirm", "warn: " + path + ": failed to remove: Device or resource busy"}));
    EXPECT_EQ(run.progress.activity(), "Ready");
    EXPECT_EQ(readWhole(path), std::vector<std::uint8_t>(5000, 0)); // overwritten all the same
}

TEST(SingleShred, FileThatVanishesDuringTheRunClearsThePath)
{
    TemporaryFolder folder;
    const std::string path = folder.makeFile("vanishing", 10);
    SingleRun run;
    // The file disappears between the confirmation and the overwrite.
    class VanishingView : public RecordingView
    {
    public:
        explicit VanishingView(std::string path)
            : m_path(std::move(path))
        {
        }
        bool confirmShred() override
        {
            std::filesystem::remove(m_path);
            return RecordingView::confirmShred();
        }

    private:
        std::string m_path;
    } view(path);
    EXPECT_FALSE(shredSingleFile(path, kStandardMode, view, run.progress));
    ASSERT_EQ(view.events.size(), 3u);
    EXPECT_EQ(view.events[1], "clear path");
    EXPECT_EQ(view.events[2], "warn: " + path + ": cannot read the file's attributes: No such file or directory");
}
