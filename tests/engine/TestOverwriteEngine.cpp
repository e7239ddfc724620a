#include "shred/OverwriteEngine.h"
#include "tests/engine/EngineFixture.h"

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
const FillBlock kZeros = BuildFillBlock(kStandardMode);

struct EngineRun
{
    RecordingDisplay display;
    RunProgress progress{&display};
    OverwriteResult result;
};

// Runs the engine the way a single-file run does: maximum = length + one block.
void overwrite(EngineRun& run,
               const std::string& path,
               const FillBlock& block,
               FileSystem& files = FileSystem::system())
{
    run.progress.StartProgress();
    run.progress.setMaximum(static_cast<std::int64_t>(std::filesystem::file_size(path)) + kBlockSize);
    run.result = OverwriteFile(path, block, run.progress, files);
}

bool allBytesAre(const std::vector<std::uint8_t>& bytes, std::uint8_t value)
{
    return std::all_of(bytes.begin(), bytes.end(), [value](std::uint8_t b) { return b == value; });
}

// The file shows the fill block at every multiple of 5000.
bool holdsBlockEverywhere(const std::vector<std::uint8_t>& bytes, const FillBlock& block)
{
    if (bytes.size() % kBlockSize != 0) {
        return false;
    }
    for (std::size_t at = 0; at < bytes.size(); at += kBlockSize) {
        if (!std::equal(block.begin(), block.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at))) {
            return false;
        }
    }
    return true;
}
} // namespace

struct SizeCase
{
    const char* name;
    std::int64_t length;
    std::int64_t lengthAfter;
    std::vector<std::string> steps;
};

class OverwriteSizes : public testing::TestWithParam<SizeCase>
{
};

TEST_P(OverwriteSizes, WritesWholeZeroBlocksAndStepsAfterEach)
{
    const SizeCase& size = GetParam();
    TemporaryFolder folder;
    const std::string path = folder.makeFile("target", size.length);
    EngineRun run;
    overwrite(run, path, kZeros);

    ASSERT_TRUE(run.result.ok()) << run.result.failure;
    const auto bytes = readWhole(path);
    EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), size.lengthAfter);
    EXPECT_TRUE(allBytesAre(bytes, 0x00));
    EXPECT_EQ(run.display.stepTexts(), size.steps);
    EXPECT_EQ(run.progress.activity(), "Shredding: " + path);
}

INSTANTIATE_TEST_SUITE_P(
    Engine,
    OverwriteSizes,
    testing::Values(SizeCase{"OneByte", 1, 5000, {"Finished: 99%"}},
                    SizeCase{"ExactlyOneBlock", 5000, 5000, {"Finished: 50%"}},
                    SizeCase{"OneBytePastABlock", 5001, 10000, {"Finished: 49%", "Finished: 99%"}},
                    SizeCase{"WorkedExample", 12345, 15000, {"Finished: 28%", "Finished: 57%", "Finished: 86%"}}),
    [](const testing::TestParamInfo<SizeCase>& info) { return info.param.name; });

TEST(Engine, MillionBytesTakeTwoHundredStepsStartingAtZeroPercent)
{
    TemporaryFolder folder;
    const std::string path = folder.makeFile("million", 1'000'000);
    EngineRun run;
    overwrite(run, path, kZeros);
    ASSERT_TRUE(run.result.ok()) << run.result.failure;
    const auto steps = run.display.stepTexts();
    ASSERT_EQ(steps.size(), 200u);
    EXPECT_EQ(steps.front(), "Finished: 0%");
    EXPECT_EQ(steps.back(), "Finished: 99%");
    EXPECT_EQ(run.progress.value(), 1'000'000);
    EXPECT_EQ(readWhole(path).size(), 1'000'000u);
}

TEST(Engine, EnhancedBlockRepeatsAtEveryBlockWithNoZeroByte)
{
    const FillBlock block = BuildFillBlock(kEnhancedMode, 45296.789);
    EXPECT_TRUE(std::none_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_GT(std::set<std::uint8_t>(block.begin(), block.end()).size(), 200u); // really spread over 1..255

    TemporaryFolder folder;
    const std::string path = folder.makeFile("enhanced", 23456);
    EngineRun run;
    overwrite(run, path, block);
    ASSERT_TRUE(run.result.ok()) << run.result.failure;
    const auto bytes = readWhole(path);
    EXPECT_EQ(bytes.size(), 25000u);
    EXPECT_TRUE(holdsBlockEverywhere(bytes, block));
}

TEST(Engine, FillBlockFollowsTheModeAndTheSeed)
{
    EXPECT_TRUE(allBytesAre({kZeros.begin(), kZeros.end()}, 0x00));
    // Only -1 is Standard mode; any other flag value fills with random bytes.
    const FillBlock fromOne = BuildFillBlock(ShredMode{1}, 100.5);
    EXPECT_NE(fromOne, kZeros);
    EXPECT_EQ(BuildFillBlock(kEnhancedMode, 100.5), fromOne);
    EXPECT_NE(BuildFillBlock(kEnhancedMode, 100.25), fromOne); // a run a moment later draws anew
    EXPECT_NE(BuildFillBlock(kEnhancedMode), BuildFillBlock(kEnhancedMode, -1.0));

    // The byte rule at both ends of [0, 1).
    EXPECT_EQ(fillByte(0.0f), 1);
    EXPECT_EQ(fillByte(0.5f), 128);
    EXPECT_EQ(fillByte(std::nextafter(1.0f, 0.0f)), 255);
}

TEST(Engine, EmptyFileIsOpenedAndClosedWithNothingWrittenAndNoStep)
{
    TemporaryFolder folder;
    const std::string path = folder.makeFile("empty", 0);
    EngineRun run;
    overwrite(run, path, kZeros);
    ASSERT_TRUE(run.result.ok()) << run.result.failure;
    EXPECT_TRUE(run.display.stepTexts().empty());
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST(Engine, ReadOnlyFileIsOverwrittenLikeAnyOther)
{
    TemporaryFolder folder;
    const std::string path = folder.makeFile("read-only", 7000);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EngineRun run;
    overwrite(run, path, kZeros);
    ASSERT_TRUE(run.result.ok()) << run.result.failure;
    const auto bytes = readWhole(path);
    EXPECT_EQ(bytes.size(), 10000u);
    EXPECT_TRUE(allBytesAre(bytes, 0x00));
}

// The name is deleted only while it still names the file that was overwritten.
TEST(Engine, RemoveFileDeletesOnlyTheOverwrittenFile)
{
    TemporaryFolder folder;
    const std::string path = folder.makeFile("gone", 10);
    EngineRun run;
    overwrite(run, path, kZeros);
    ASSERT_TRUE(run.result.ok()) << run.result.failure;
    EXPECT_EQ(RemoveFile(run.result), "");
    EXPECT_FALSE(exists(path));
    EXPECT_EQ(RemoveFile(run.result), path + ": failed to remove: No such file or directory");

    // An editor saves by renaming a new file over the old one while the run overwrites it.
    const std::string saved = folder.makeFile("saved", 10);
    overwrite(run, saved, kZeros);
    ASSERT_TRUE(run.result.ok()) << run.result.failure;
    const std::string newcomer = folder.makeFile("newcomer", 20, 0x77);
    ASSERT_EQ(::rename(newcomer.c_str(), saved.c_str()), 0);
    EXPECT_EQ(RemoveFile(run.result),
              saved + ": another file was put at this path during the run; it was left alone, neither overwritten "
                      "nor deleted");
    EXPECT_EQ(readWhole(saved), std::vector<std::uint8_t>(20, 0x77));
}

// Anything but a regular file is refused before a byte is written, and nothing behind it is touched.
TEST(EngineRefusals, MissingPathDirectoryAndSpecialFiles)
{
    TemporaryFolder folder;
    const std::string missing = (folder.path() / "missing").string();
    const std::string directory = (folder.path() / "folder").string();
    std::filesystem::create_directory(directory);
    const std::string fifo = (folder.path() / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string socketPath = (folder.path() / "socket").string();
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    const std::vector<std::pair<std::string, std::string>> cases = {
        {missing, missing + ": cannot read the file's attributes: No such file or directory"},
        {directory, directory + ": not a regular file (a directory), nothing was written"},
        {fifo, fifo + ": not a regular file (a FIFO), nothing was written"},
        {socketPath, socketPath + ": not a regular file (a socket), nothing was written"},
        {"/dev/null", "/dev/null: not a regular file (a device), nothing was written"},
    };
    for (const auto& [path, expected] : cases) {
        EngineRun run;
        run.progress.setMaximum(10000);
        const OverwriteResult result = OverwriteFile(path, kZeros, run.progress);
        EXPECT_EQ(result.outcome, Overwrite::Failed) << path;
        EXPECT_EQ(result.failure, expected);
        EXPECT_EQ(run.progress.value(), 0) << path;
        EXPECT_FALSE(MeasureFile(path).ok()) << path;
    }
    ::close(listener);
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    EXPECT_TRUE(std::filesystem::is_directory(directory));
}

TEST(EngineRefusals, SymbolicLinkIsRefusedAndItsTargetUntouched)
{
    TemporaryFolder folder;
    const std::string target = folder.makeFile("target", 1234, 0x5A);
    const std::string link = (folder.path() / "link").string();
    std::filesystem::create_symlink(target, link);
    const std::string dangling = (folder.path() / "dangling").string();
    std::filesystem::create_symlink(folder.path() / "nowhere", dangling);

    for (const std::string& path : {link, dangling}) {
        EngineRun run;
        const OverwriteResult result = OverwriteFile(path, kZeros, run.progress);
        EXPECT_EQ(result.failure, path + ": not a regular file (a symbolic link), nothing was written");
        EXPECT_EQ(MeasureFile(path).failure, result.failure);
    }
    const auto bytes = readWhole(target);
    EXPECT_EQ(bytes.size(), 1234u);
    EXPECT_TRUE(allBytesAre(bytes, 0x5A));
    EXPECT_FALSE(exists((folder.path() / "nowhere").string()));
}

TEST(EngineRefusals, MeasureGivesTheLengthOfARegularFile)
{
    TemporaryFolder folder;
    const FileLength measured = MeasureFile(folder.makeFile("twelve", 12345));
    EXPECT_TRUE(measured.ok());
    EXPECT_EQ(measured.length, 12345);
}
