// The engine's writing on Linux: past the page cache and through it, write calls and holes.

#include "shred/OverwriteEngine.h"
#include "tests/engine/EngineFixture.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <linux/fiemap.h>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

// Both ways of writing, past the page cache and through it, leave the same blocks at the same offsets
// at every size around the alignment and the chunk; the direct path leaves what is shorter than the
// alignment to the cache. Wherever the direct path is refused, the file is still overwritten whole,
// through the cache from the refusal on.
struct PathCase
{
    std::string name;
    std::int64_t length;
    bool direct;
    bool refuseDirect = false;
    bool noHugePages = false;
    int refuseDirectWrite = 0;
    std::int64_t shortFirstDirectWrite = 0;
};

class WritePaths : public testing::TestWithParam<PathCase>
{
};

TEST_P(WritePaths, SameBlocksAtTheSameOffsets)
{
    const PathCase& path = GetParam();
    TemporaryFolder folder;
    const std::string file = folder.makeFile("target", path.length);
    const FillBlock block = BuildFillBlock(kEnhancedMode, 4321.5);
    ScriptedFileSystem files;
    files.direct = path.direct;
    files.refuseDirect = path.refuseDirect;
    files.noHugePages = path.noHugePages;
    files.refuseDirectWrite = path.refuseDirectWrite;
    files.shortFirstDirectWrite = path.shortFirstDirectWrite;
    struct statfs status
    {
    };
    ASSERT_EQ(::statfs(folder.path().c_str(), &status), 0);
    if (path.direct && status.f_type == 0x01021994) {
        GTEST_SKIP() << "the temporary folder is in memory, where nothing is written past the page cache";
    }
    EngineRun run;
    overwrite(run, file, block, files);

    ASSERT_TRUE(run.result.ok()) << run.result.failure;
    const std::int64_t blocks = (path.length + kBlockSize - 1) / kBlockSize;
    EXPECT_TRUE(holdsBlockEverywhere(readWhole(file), block)); // just before it would be deleted
    EXPECT_EQ(static_cast<std::int64_t>(readWhole(file).size()), blocks * kBlockSize);
    EXPECT_EQ(static_cast<std::int64_t>(run.display.stepTexts().size()), blocks);
    std::int64_t covered = 0;
    for (const ScriptedFileSystem::Write& write : files.writes) {
        if (write.written > 0) {
            EXPECT_EQ(write.offset, covered) << "writes in order, without gaps or overlaps";
            EXPECT_TRUE(!write.direct || (write.offset % kDirectChunk == 0 && write.written % 512 == 0));
            covered += write.written;
        }
    }
    EXPECT_EQ(covered, blocks * kBlockSize);
    const bool refused = path.refuseDirect || path.noHugePages;
    const int directWrites = files.directWrites();
    if (path.refuseDirectWrite > 0) {
        EXPECT_EQ(directWrites, path.refuseDirectWrite - 1);
    } else {
        EXPECT_EQ(directWrites > 0, path.direct && !refused && blocks > 0);
    }
}

std::vector<PathCase> pathCases()
{
    std::vector<PathCase> cases;
    for (const std::int64_t length : {0, 1, 4095, 4096, 4097, 5000, 5001, 2'559'999, 2'560'000, 2'560'001, 7'777'777}) {
        cases.push_back({std::to_string(length) + "_Buffered", length, false});
        cases.push_back({std::to_string(length) + "_Direct", length, true});
    }
    constexpr std::int64_t kLength = 3 * kDirectChunk + 1234;
    cases.push_back({"DirectRefused", kLength, true, true});
    cases.push_back({"NoHugePages", kLength, true, false, true});
    cases.push_back({"SecondDirectWriteRefused", kLength, true, false, false, 2});
    // The pass then stands at an aligned offset inside a chunk, where the buffer's start is not.
    cases.push_back({"FirstDirectWriteShort", kLength, true, false, false, 0, 4096});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Engine,
                         WritePaths,
                         testing::ValuesIn(pathCases()),
                         [](const testing::TestParamInfo<PathCase>& info) { return info.param.name; });

// A map is read whole, however many extents it has: the kernel answers at most 128 a call.
TEST(EnginePlacement, BlockMapOfManyExtentsIsReadWhole)
{
    TemporaryFolder folder;
    const std::string path = (folder.path() / "sparse").string();
    OpenedFile file{FileDescriptor(::open(path.c_str(), O_CREAT | O_WRONLY, 0600))};
    const std::vector<char> data(4096, 'x');
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(::pwrite(file.fd.get(), data.data(), data.size(), off_t{i} * 3 * 4096), 4096);
    }
    ASSERT_EQ(::fsync(file.fd.get()), 0);
    const std::optional<ExtentMap> map = FileSystem::system().readExtents(file, false);
    if (!map) {
        GTEST_SKIP() << "the temporary folder's file system gives no block map";
    }
    ASSERT_EQ(map->size(), 200u);
    EXPECT_EQ(map->back().logical, 199u * 3 * 4096);
}

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

// Files of kernel and firmware interfaces are refused before they are even opened for writing. The
// file system's answer is scripted: no test opens a real file of /proc or /sys for writing.
TEST(EngineRefusals, SystemInterfacesAreNotStoredFiles)
{
    TemporaryFolder folder;
    const std::vector<std::pair<std::uint64_t, std::string>> interfaces = {
        {0x9fa0, "proc"},
        {0x62656572, "sysfs"},
        {0xde5e81e4, "efivarfs"},
        {0x64626720, "debugfs"},
        {0x74726163, "tracefs"},
        {0x73636673, "securityfs"},
        {0x62656570, "configfs"},
        {0x63677270, "cgroup2"},
        {0x6165676C, "pstore"},
        {0xcafe4a11, "bpf"},
    };
    for (const auto& [magic, name] : interfaces) {
        const std::string path = folder.makeFile(name, 64, 0x31);
        ScriptedFileSystem files;
        files.fileSystemType = ClassifyFileSystem(magic);
        EngineRun run;
        run.result = OverwriteFile(path, kZeros, run.progress, files);
        EXPECT_EQ(run.result.failure,
                  path + ": a system interface of the kernel (" + name + "), not a stored file; nothing was written");
        EXPECT_EQ(MeasureFile(path, files).failure, run.result.failure);
        EXPECT_EQ(readWhole(path), std::vector<std::uint8_t>(64, 0x31)) << name;
    }
    ScriptedFileSystem ext4;
    ext4.fileSystemType = ClassifyFileSystem(0xEF53);
    EngineRun control;
    control.result = OverwriteFile(folder.makeFile("stored", 64), kZeros, control.progress, ext4);
    EXPECT_TRUE(control.result.ok()) << control.result.failure;
}

// Whether an overwrite destroyed the old bytes, from the block maps before and after and the type of
// the file system.
TEST(EnginePlacement, JudgedFromTheBlockMapsAndTheFileSystem)
{
    const FileSystemType ext4 = ClassifyFileSystem(0xEF53);
    const FileSystemType xfs = ClassifyFileSystem(0x58465342);
    const FileSystemType btrfs = ClassifyFileSystem(0x9123683E);
    const FileSystemType overlay = ClassifyFileSystem(0x794c7630);
    const ExtentMap twoBlocks = {{0, 40960, 8192, FIEMAP_EXTENT_LAST}};
    const ExtentMap grown = {{0, 40960, 12288, FIEMAP_EXTENT_LAST}};
    const ExtentMap split = {{0, 40960, 4096, 0}, {4096, 45056, 8192, FIEMAP_EXTENT_LAST}};
    const ExtentMap elsewhere = {{0, 90112, 12288, FIEMAP_EXTENT_LAST}};
    const ExtentMap halfMoved = {{0, 40960, 4096, 0}, {4096, 90112, 8192, FIEMAP_EXTENT_LAST}};
    const ExtentMap shared = {{0, 40960, 8192, FIEMAP_EXTENT_SHARED | FIEMAP_EXTENT_LAST}};
    const ExtentMap compressed = {{0, 40960, 8192, FIEMAP_EXTENT_ENCODED | FIEMAP_EXTENT_LAST}};
    const ExtentMap encrypted = {{0, 40960, 8192, FIEMAP_EXTENT_DATA_ENCRYPTED | FIEMAP_EXTENT_LAST}};
    const ExtentMap encryptedMoved = {{0, 90112, 8192, FIEMAP_EXTENT_DATA_ENCRYPTED | FIEMAP_EXTENT_LAST}};
    const ExtentMap inlined = {
        {0, 0, 4096, FIEMAP_EXTENT_DATA_INLINE | FIEMAP_EXTENT_NOT_ALIGNED | FIEMAP_EXTENT_LAST}};
    const ExtentMap notYetWritten = {{0, 0, 8192, FIEMAP_EXTENT_DELALLOC | FIEMAP_EXTENT_UNKNOWN | FIEMAP_EXTENT_LAST}};
    const ExtentMap whereabouts = {{0, 0, 8192, FIEMAP_EXTENT_UNKNOWN | FIEMAP_EXTENT_LAST}};
    const std::optional<ExtentMap> none;
    FileSystemType journalled = ext4;
    journalled.journalsData = true;

    struct Case
    {
        const char* name;
        std::optional<ExtentMap> before;
        std::optional<ExtentMap> after;
        FileSystemType type;
        Placement expected;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"same blocks, grown", twoBlocks, grown, ext4, Placement::InPlace, ""},
        {"same blocks, split differently", twoBlocks, split, xfs, Placement::InPlace, ""},
        {"btrfs file without copy-on-write", twoBlocks, grown, btrfs, Placement::InPlace, ""},
        {"encryption alone, in place", encrypted, encrypted, ext4, Placement::InPlace, ""},
        {"nothing on the disk yet", notYetWritten, elsewhere, ext4, Placement::InPlace, ""},
        {"empty file", ExtentMap{}, elsewhere, btrfs, Placement::InPlace, ""},
        {"nothing on the disk yet, copied on write",
         notYetWritten,
         twoBlocks,
         btrfs,
         Placement::Unconfirmed,
         "btrfs did not tell where the file's data lay"},
        {"data journalled",
         twoBlocks,
         grown,
         journalled,
         Placement::Journalled,
         "ext4 also writes this file's data to its journal, which may still hold copies"},
        {"copied on write",
         twoBlocks,
         elsewhere,
         btrfs,
         Placement::Moved,
         "btrfs copies on write: the new data went to other blocks"},
        {"half moved", twoBlocks, halfMoved, xfs, Placement::Moved, "xfs wrote the new data to other blocks"},
        {"encrypted and moved",
         encrypted,
         encryptedMoved,
         ext4,
         Placement::Moved,
         "ext4 wrote the new data to other blocks"},
        {"reflinked copy",
         shared,
         shared,
         xfs,
         Placement::Shared,
         "xfs shares the file's blocks with a copy or a snapshot, which keeps the old bytes"},
        {"compressed",
         compressed,
         compressed,
         btrfs,
         Placement::Encoded,
         "btrfs stores the file compressed, never rewritten in place"},
        {"inline", inlined, inlined, btrfs, Placement::Inline, "btrfs keeps the file's data inside its own metadata"},
        {"location not told",
         whereabouts,
         grown,
         ext4,
         Placement::Unconfirmed,
         "ext4 did not tell where the file's data lay"},
        {"overlay, whatever the maps say",
         twoBlocks,
         grown,
         overlay,
         Placement::Overlay,
         "overlay may keep the original file untouched in a lower layer"},
        {"no map on ext4", none, none, ext4, Placement::InPlace, ""},
        {"no map on tmpfs", none, none, ClassifyFileSystem(0x01021994), Placement::InPlace, ""},
        {"no map on vfat", twoBlocks, none, ClassifyFileSystem(0x4d44), Placement::InPlace, ""},
        {"no map on btrfs",
         none,
         none,
         btrfs,
         Placement::Unconfirmed,
         "btrfs copies on write and its block map could not be read"},
        {"no map on zfs",
         none,
         none,
         ClassifyFileSystem(0x2fc12fc1),
         Placement::Unconfirmed,
         "zfs copies on write and its block map could not be read"},
        {"no map on f2fs",
         none,
         none,
         ClassifyFileSystem(0xF2F52010),
         Placement::Unconfirmed,
         "f2fs writes every change to a log"},
        {"no map on nfs",
         none,
         none,
         ClassifyFileSystem(0x6969),
         Placement::Unconfirmed,
         "nfs keeps its storage out of this computer's sight"},
        {"no map on fuse",
         none,
         none,
         ClassifyFileSystem(0x65735546),
         Placement::Unconfirmed,
         "fuse gives no block map"},
        {"no map on an unknown file system",
         none,
         none,
         ClassifyFileSystem(0x12345678),
         Placement::Unconfirmed,
         "the file system of type 0x12345678 is not known to overwrite in place"},
    };
    for (const Case& c : cases) {
        const PlacementVerdict verdict = JudgePlacement(c.before, c.after, c.type);
        EXPECT_EQ(verdict.placement, c.expected) << c.name;
        EXPECT_EQ(verdict.reason, c.reason) << c.name;
    }
}

// ext3 and ext4 journal a file's data too when mounted data=journal, which only the mount table tells.
TEST(EnginePlacement, DataJournalIsReadFromTheMountTable)
{
    const std::string mounts = "36 25 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw,data=journal,errors=remount-ro\n"
                               "37 25 8:2 / /home rw - ext4 /dev/sda2 rw,data=ordered\n"
                               "38 25 8:3 / /srv rw - xfs /dev/sda3 rw,data=journal\n";
    const struct
    {
        unsigned minor;
        bool journals;
    } rows[] = {{1, true}, {2, false}, {3, false}, {4, false}};
    for (const auto& row : rows) {
        std::istringstream table(mounts);
        EXPECT_EQ(MountJournalsData(table, 8, row.minor), row.journals) << "8:" << row.minor;
    }
}
