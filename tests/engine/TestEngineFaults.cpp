// The engine under faults of the system: interrupted, short and failing writes, bad blocks, flushes.

#include "shred/OverwriteEngine.h"
#include "tests/engine/EngineFixture.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

OverwriteResult overwrite(const std::string& path, FileSystem& files, RunProgress& progress)
{
    progress.StartProgress();
    progress.setMaximum(static_cast<std::int64_t>(std::filesystem::file_size(path)) + kBlockSize);
    return OverwriteFile(path, kZeros, progress, files);
}

std::int64_t countSteps(const RecordingDisplay& display)
{
    return static_cast<std::int64_t>(display.stepTexts().size());
}
} // namespace

TEST(EngineWrites, BlocksGoOutInBatchesEndingOnPageBoundaries)
{
    TemporaryFolder folder;
    const std::int64_t length = 3 * 2'560'000 + 12'345; // three full batches and a short one
    const std::string path = folder.makeFile("batches", length);
    ScriptedFileSystem files;
    files.direct = false;
    files.block = &kZeros;
    RecordingDisplay display;
    RunProgress progress(&display);
    ASSERT_TRUE(overwrite(path, files, progress).ok());

    ASSERT_EQ(files.writes.size(), 4u);
    std::int64_t expectedOffset = 0;
    for (const auto& call : files.writes) {
        EXPECT_EQ(call.offset, expectedOffset);
        EXPECT_TRUE(call.fromBlock);
        EXPECT_LE(call.pieces, kBlocksPerWrite);
        expectedOffset += call.written;
    }
    EXPECT_EQ(files.writes[0].written, 2'560'000);
    EXPECT_EQ(expectedOffset, 3 * 2'560'000 + 15'000);
    EXPECT_EQ(countSteps(display), (length + kBlockSize - 1) / kBlockSize);
    EXPECT_EQ(files.flushes, 1);
    const auto bytes = readWhole(path);
    EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), expectedOffset);
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST(EngineWrites, WritebackIsStartedAfterEachCallAndOnlyAHint)
{
    TemporaryFolder folder;
    const std::string path = folder.makeFile("hinted", 2 * 2'560'000 + 1);
    ScriptedFileSystem files;
    files.refuseWriteback = true;
    RunProgress progress;
    ASSERT_TRUE(overwrite(path, files, progress).ok());
    EXPECT_EQ(files.writebacks, static_cast<int>(files.writes.size()));
    EXPECT_EQ(files.writes.size(), 3u);
    EXPECT_EQ(files.flushes, 1); // the flush still waits for everything
    EXPECT_EQ(readWhole(path).size(), 2u * 2'560'000 + 5000);
}

TEST(EngineWrites, ShortAndInterruptedWritesAreContinued)
{
    TemporaryFolder folder;
    const std::string path = folder.makeFile("short", 12345);
    ScriptedFileSystem files;
    files.maxPerCall = 3001; // ends calls inside blocks
    files.interruptions = 2;
    RecordingDisplay display;
    RunProgress progress(&display);
    ASSERT_TRUE(overwrite(path, files, progress).ok());

    EXPECT_EQ(display.stepTexts(), (std::vector<std::string>{"Finished: 28%", "Finished: 57%", "Finished: 86%"}));
    const auto bytes = readWhole(path);
    EXPECT_EQ(bytes.size(), 15000u);
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(files.writes[2].offset, 0); // the two interrupted calls were retried from the same place
    EXPECT_EQ(files.writes[3].offset, 3001);
}

TEST(EngineWrites, FileBeyondFourGibibytesIsCoveredWithSixtyFourBitOffsets)
{
    TemporaryFolder folder;
    const std::string path = (folder.path() / "sparse").string();
    const std::int64_t length = (std::int64_t{4} << 30) + 12'345;
    {
        const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, length), 0);
        ::close(fd);
    }
    ScriptedFileSystem files;
    files.pretend = true; // writing 4 GiB for real would make the suite slow
    files.direct = false;
    RecordingDisplay display;
    RunProgress progress(&display);
    ASSERT_TRUE(overwrite(path, files, progress).ok());

    const std::int64_t blocks = (length + kBlockSize - 1) / kBlockSize;
    std::int64_t end = 0;
    for (const auto& call : files.writes) {
        ASSERT_EQ(call.offset, end);
        end += call.written;
    }
    EXPECT_EQ(end, blocks * kBlockSize);
    EXPECT_GT(end, std::int64_t{1} << 32);
    EXPECT_EQ(countSteps(display), blocks);
    EXPECT_EQ(progress.maximum(), length + kBlockSize);
    EXPECT_EQ(progress.value(), blocks * kBlockSize);
    EXPECT_EQ(progress.percentText(), "Finished: 99%");
}

// Bad blocks are passed over: the rest of the file is overwritten and flushed, the blocks that could
// not be written are named, and the file is kept.
TEST(EngineFailures, BadBlocksArePassedOverAndNamed)
{
    TemporaryFolder folder;
    struct Case
    {
        std::int64_t from, until; // the failing bytes
        std::string named;        // after the path
    };
    const Case cases[] = {
        {10000, 14000, ": error writing bytes 10000 to 14999: Input/output error; every other block was overwritten"},
        {10000, 19000, ": error writing bytes 10000 to 19999: Input/output error; every other block was overwritten"},
        {0,
         INT64_MAX,
         ": error writing bytes 0 to 34999: Input/output error; no block could be written, so nothing was "
         "written"},
    };
    for (const Case& bad : cases) {
        SCOPED_TRACE(bad.named);
        const std::string path = folder.makeFile("eio", 31000, 'x');
        ScriptedFileSystem files;
        files.failAtOffset = bad.from;
        files.failUntilOffset = bad.until;
        RunProgress progress;
        const OverwriteResult result = overwrite(path, files, progress);
        EXPECT_EQ(result.outcome, Overwrite::Failed);
        EXPECT_EQ(result.failure, path + bad.named + ", and the file was not deleted");
        EXPECT_EQ(files.flushes, 1);
        const auto bytes = readWhole(path);
        ASSERT_EQ(bytes.size(), bad.from == 0 ? 31000u : 35000u);
        for (std::size_t at = 0; at < bytes.size(); ++at) {
            const bool failed =
                static_cast<std::int64_t>(at) / 5000 * 5000 <= bad.until && static_cast<std::int64_t>(at) >= bad.from;
            ASSERT_EQ(bytes[at], failed ? 'x' : 0) << at;
        }
    }

    // Blocks written through the page cache may fail only when flushed: nothing is then claimed of them.
    RunProgress progress;
    ScriptedFileSystem failingFlush;
    failingFlush.failAtOffset = 10000;
    failingFlush.failUntilOffset = 14000;
    failingFlush.flushError = EIO;
    const std::string flushed = folder.makeFile("eio-flushed", 31000, 'x');
    EXPECT_EQ(overwrite(flushed, failingFlush, progress).failure,
              flushed + ": error writing bytes 10000 to 14999: Input/output error; flushing the other blocks to disk "
                        "failed too: Input/output error; the file was not deleted");
}

TEST(EngineFailures, FlushFailureIsAFailureAndUnsupportedDataSyncFallsBackToFsync)
{
    TemporaryFolder folder;
    const std::string path = folder.makeFile("flush", 100);
    ScriptedFileSystem files;
    files.flushError = EIO;
    RunProgress progress;
    OverwriteResult result = overwrite(path, files, progress);
    EXPECT_EQ(result.outcome, Overwrite::Failed);
    EXPECT_EQ(result.failure,
              path + ": error flushing to disk: Input/output error; the file was overwritten, but the new contents "
                     "may not have reached the disk, and the file was not deleted");

    files.flushError = EINVAL;
    result = overwrite(path, files, progress);
    EXPECT_TRUE(result.ok()) << result.failure;
    EXPECT_EQ(files.fullFlushes, 1);

    // The deletion is flushed too, and one that cannot be is no deletion to count on.
    EXPECT_EQ(RemoveFile(result, files), "");
    EXPECT_EQ(files.removalFlushes, 1);
    files.removalFlushError = EIO;
    result = overwrite(folder.makeFile("flush", 100), files, progress);
    EXPECT_EQ(RemoveFile(result, files),
              path +
                  ": deleted, but the deletion could not be flushed to the disk and may be undone: Input/output error");
}

TEST(EngineFailures, FileSizeLimitStopsTheGrowthNotTheProgram)
{
    for (const bool direct : {false, true}) {
        SCOPED_TRACE(direct ? "direct" : "through the page cache");
        TemporaryFolder folder;
        const std::string path = folder.makeFile("limited", 4096, 0x11);
        // A child process with a 4096-byte file size limit, so the test's own limit stays as it was.
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{4096, 4096};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ScriptedFileSystem files;
            files.direct = direct;
            RunProgress progress;
            const OverwriteResult result = OverwriteFile(path, kZeros, progress, files);
            ::_exit(result.outcome == Overwrite::NotExtended && result.failure.ends_with("File too large") ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        const auto bytes = readWhole(path);
        EXPECT_EQ(bytes.size(), 4096u);
        EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; }));
    }
}

TEST(EngineFailures, DeletionRefusedByAReadOnlyFolder)
{
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root may delete from a read-only folder";
    }
    TemporaryFolder folder;
    const std::string path = folder.makeFile("kept", 10);
    RunProgress progress;
    OverwriteResult result = OverwriteFile(path, kZeros, progress, FileSystem::system());
    ASSERT_TRUE(result.ok()) << result.failure;
    ASSERT_EQ(::chmod(folder.path().c_str(), 0500), 0);
    EXPECT_EQ(RemoveFile(result, FileSystem::system()),
              path + ": contents destroyed, but the file could not be deleted and is still there: Permission denied");
    EXPECT_TRUE(exists(path));
}

// Real file systems mounted for the test: needs root and permission to mount.
class MountedTmpfs : public testing::Test
{
protected:
    void SetUp() override
    {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "not root: cannot mount a small tmpfs";
        }
        m_mountPoint = m_folder.path() / "mnt";
        std::filesystem::create_directory(m_mountPoint);
        if (::mount("zorvik-test", m_mountPoint.c_str(), "tmpfs", 0, "size=256k") != 0) {
            GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
        }
        m_mounted = true;
    }

    void TearDown() override
    {
        if (m_mounted) {
            ::umount2(m_mountPoint.c_str(), MNT_DETACH);
        }
    }

    TemporaryFolder m_folder;
    std::filesystem::path m_mountPoint;
    bool m_mounted = false;
};

TEST_F(MountedTmpfs, FullFileSystemStillOverwritesTheOriginalBytes)
{
    // 16384 bytes fill four pages exactly; growing to 20000 needs a fifth page that is not there.
    const std::string path = (m_mountPoint / "victim").string();
    std::ofstream(path, std::ios::binary) << std::string(16384, 'V');
    {
        std::ofstream filler(m_mountPoint / "filler", std::ios::binary);
        const std::string chunk(4096, 'F');
        while (filler.write(chunk.data(), chunk.size()) && filler.flush()) {
        }
    }
    RunProgress progress;
    const OverwriteResult result = OverwriteFile(path, kZeros, progress, FileSystem::system());
    EXPECT_EQ(result.outcome, Overwrite::NotExtended) << result.failure;
    EXPECT_TRUE(result.failure.ends_with("No space left on device")) << result.failure;
    const auto bytes = readWhole(path);
    EXPECT_EQ(bytes.size(), 16384u);
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST_F(MountedTmpfs, ReadOnlyFileSystemIsRefusedUntouched)
{
    const std::string path = (m_mountPoint / "kept").string();
    std::ofstream(path, std::ios::binary) << std::string(6000, 'K');
    ASSERT_EQ(::mount(nullptr, m_mountPoint.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    RunProgress progress;
    const OverwriteResult result = OverwriteFile(path, kZeros, progress, FileSystem::system());
    EXPECT_EQ(result.failure, path + ": cannot open for writing: Read-only file system");
    EXPECT_EQ(readWhole(path), std::vector<std::uint8_t>(6000, 'K'));
}

// Runs `body` as an unprivileged user (nobody, when the tests run as root), in a child process, and
// returns its exit status.
static int asUnprivilegedUser(const std::function<int()>& body)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(99);
        }
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

TEST(EngineAttributes, OwnerWritePermissionIsAddedOrItsRefusalReported)
{
    TemporaryFolder folder(TemporaryFolder::Reach::Everyone);
    ASSERT_EQ(::chmod(folder.path().c_str(), 0777), 0);
    const std::string ownFile = (folder.path() / "own-read-only").string();
    const std::string foreignFile = folder.makeFile("foreign-read-only", 100, 0x66);
    ASSERT_EQ(::chmod(foreignFile.c_str(), 0444), 0);

    const int status = asUnprivilegedUser([&] {
        std::ofstream(ownFile, std::ios::binary) << std::string(100, 'o');
        ::chmod(ownFile.c_str(), 0444);
        RunProgress progress;
        const OverwriteResult own = OverwriteFile(ownFile, kZeros, progress, FileSystem::system());
        struct stat status
        {
        };
        ::stat(ownFile.c_str(), &status);
        if (!own.ok() || !(status.st_mode & S_IWUSR) || readWhole(ownFile) != std::vector<std::uint8_t>(5000, 0)) {
            return 1;
        }
        // A file kept after a failed pass, before its first byte or after some, keeps its mode.
        for (const std::int64_t failFrom : {std::int64_t{0}, std::int64_t{1} << 20}) {
            const std::string kept = ownFile + "-kept";
            std::ofstream(kept, std::ios::binary) << std::string(8 << 20, 'k');
            ::chmod(kept.c_str(), 0444);
            ScriptedFileSystem failing;
            failing.failAtOffset = failFrom;
            if (overwrite(kept, failing, progress).ok() || ::stat(kept.c_str(), &status) != 0 ||
                (status.st_mode & 07777) != 0444) {
                return 3;
            }
            ::unlink(kept.c_str());
        }
        // Made writable only while the name still names the file inspected: one renamed over it is not.
        const std::string swapped = ownFile + "-swapped";
        for (const std::string& made : {ownFile + "-inspected", swapped}) {
            std::ofstream(made, std::ios::binary) << "s";
            ::chmod(made.c_str(), 0444);
        }
        PinnedFile pinned;
        FileFacts inspected;
        if (FileSystem::system().pin(ownFile + "-inspected", pinned, inspected) != 0 ||
            ::rename(swapped.c_str(), (ownFile + "-inspected").c_str()) != 0 ||
            FileSystem::system().makeWritable(pinned, inspected.identity) == 0 ||
            ::stat((ownFile + "-inspected").c_str(), &status) != 0 || (status.st_mode & 07777) != 0444) {
            return 4;
        }
        if (::geteuid() == ::getuid() && ::getuid() != 0 && ::stat(foreignFile.c_str(), &status) == 0 &&
            status.st_uid == ::getuid()) {
            return 0; // not root: every file here is our own, so there is no foreign one to refuse
        }
        const OverwriteResult foreign = OverwriteFile(foreignFile, kZeros, progress, FileSystem::system());
        return foreign.failure == foreignFile + ": cannot make the file writable: Operation not permitted" ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readWhole(foreignFile), std::vector<std::uint8_t>(100, 0x66));
}
