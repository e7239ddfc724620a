// The cases every backend of the engine must pass, on Linux and on Windows alike: the blocks written
// and the growth to whole blocks, the refusals, files made writable, which file is deleted, and a
// full disk. What each system decides for itself stands in its own file, posix/ or win32/.
#include "shred/OverwriteEngine.h"
#include "tests/engine/EngineFixture.h"
#include "tests/engine/SystemCases.h"
#include "tests/support/HangWatchdog.h"

#include <filesystem>
#include <functional>

void ExpectRefusedUnwritten(const std::vector<std::pair<ChosenFile, std::string>>& cases)
{
    for (const auto& [file, expected] : cases) {
        EngineRun run;
        run.progress.setMaximum(10000);
        const OverwriteResult result = OverwriteFile(file, kZeros, run.progress, FileSystem::system());
        EXPECT_EQ(result.outcome, Overwrite::Failed) << DisplayPath(file.path);
        EXPECT_EQ(result.failure, expected);
        EXPECT_EQ(run.progress.value(), 0) << DisplayPath(file.path);
        EXPECT_FALSE(MeasureFile(file, FileSystem::system()).ok()) << DisplayPath(file.path);
    }
}

struct SizeCase
{
    const char* name;
    std::int64_t length;
    std::int64_t lengthAfter;
    std::vector<std::string> steps; // the texts of the first steps
    std::filesystem::path fileName = "target";
};

class OverwriteSizes : public testing::TestWithParam<SizeCase>
{
};

// The file is measured, then grows to whole blocks of the fill, one step after each block.
TEST_P(OverwriteSizes, WritesWholeZeroBlocksAndStepsAfterEach)
{
    const SizeCase& size = GetParam();
    TemporaryFolder folder;
    const NativePath path = folder.makeFile(size.fileName, size.length);
    {
        const MeasuredFile measured =
            MeasureFile(path, FileSystem::system()); // its pin goes with it: a held file is not deleted
        ASSERT_TRUE(measured.ok()) << measured.failure;
        EXPECT_EQ(measured.length, size.length);
    }
    EngineRun run;
    overwrite(run, path, kZeros);

    ASSERT_TRUE(run.result.ok()) << run.result.failure;
    const auto bytes = readWhole(path);
    EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), size.lengthAfter);
    EXPECT_TRUE(allBytesAre(bytes, 0x00));
    const std::vector<std::string> steps = run.display.stepTexts();
    ASSERT_EQ(static_cast<std::int64_t>(steps.size()), size.lengthAfter / kBlockSize);
    EXPECT_TRUE(std::equal(size.steps.begin(), size.steps.end(), steps.begin()));
    EXPECT_EQ(run.progress.activity(), "Shredding: " + DisplayPath(path));
    EXPECT_EQ(RemoveFile(run.result, FileSystem::system()), "");
    EXPECT_FALSE(::exists(path));
}

INSTANTIATE_TEST_SUITE_P(
    Engine,
    OverwriteSizes,
    testing::Values(SizeCase{"Empty", 0, 0, {}},
                    SizeCase{"OneByte", 1, 5000, {"Finished: 99%"}},
                    SizeCase{"ExactlyOneBlock", 5000, 5000, {"Finished: 50%"}},
                    SizeCase{"OneBytePastABlock", 5001, 10000, {"Finished: 49%", "Finished: 99%"}},
                    SizeCase{"PartOfALastBlock", 12345, 15000, {"Finished: 28%", "Finished: 57%", "Finished: 86%"}},
                    SizeCase{"OnePastAWriteCall", 2'560'001, 2'565'000, {"Finished: 0%"}},
                    SizeCase{"NameNotPlainText", 6000, 10000, {}, kNotPlainText}),
    [](const testing::TestParamInfo<SizeCase>& info) { return info.param.name; });

// Anything but a regular file is refused before a byte is written, and nothing behind it is touched.
TEST(EngineRefusals, UnshreddableOrUnchosenFilesAreRefusedUntouched)
{
    TemporaryFolder folder;
    const std::filesystem::path missing = folder.path() / "missing";
    const std::filesystem::path directory = folder.path() / "folder";
    std::filesystem::create_directory(directory);
    const std::filesystem::path slash = directory.native() + std::filesystem::path::preferred_separator;
    const std::filesystem::path relative = std::filesystem::path("relative") / "name";

    // Files with more names than the one chosen: overwriting them would destroy what the other names
    // show.
    const NativePath linked = folder.makeFile("linked", 100, 0x3C);
    std::filesystem::create_hard_link(linked, folder.path() / "second name");
    const NativePath twice = folder.makeFile("twice", 100, 0x3C);
    std::filesystem::create_hard_link(twice, folder.path() / "twice 2");
    std::filesystem::create_hard_link(twice, folder.path() / "twice 3");
    // A file chosen earlier whose path names another file now.
    const NativePath swapped = folder.makeFile("swapped", 100, 0x3C);
    FileIdentity earlier = IdentifyFile(swapped, FileSystem::system()).identity;
    ++earlier.inode;

    const std::vector<std::pair<ChosenFile, std::string>> cases = {
        {missing.native(), shown(missing) + ": the file is no longer there; nothing was written"},
        {directory.native(), shown(directory) + ": not a regular file (a directory); nothing was written"},
        {slash.native(), shown(slash) + ": not a regular file (a directory); nothing was written"},
        {relative.native(), shown(relative) + kNotFullPath},
        {NativePath(), kNotFullPath},
        {linked,
         shown(linked) + ": the file has 1 other name; overwriting it would destroy the contents seen under it "
                         "too; nothing was written"},
        {twice,
         shown(twice) + ": the file has 2 other names; overwriting it would destroy the contents seen under them "
                        "too; nothing was written"},
        {{swapped, earlier}, shown(swapped) + ": the file was replaced after it was chosen; nothing was written"},
    };
    ExpectRefusedUnwritten(cases);
    EXPECT_TRUE(std::filesystem::is_directory(directory));
    for (const NativePath& path : {linked, twice, swapped}) {
        EXPECT_EQ(readWhole(path), std::vector<std::uint8_t>(100, 0x3C)) << DisplayPath(path);
    }
}

// What the file is once opened is checked again on the opened file: whatever happened at its name
// after the inspection, nothing but the inspected file, with one name, on a stored file system, is
// written.
TEST(EngineRefusals, FileChangedBetweenInspectionAndOpenIsRefusedUntouched)
{
    TemporaryFolder folder;
    const std::filesystem::path chosen = folder.path() / "chosen";
    const std::filesystem::path second = folder.path() / "chosen 2";
    const NativePath other = folder.makeFile("other", 7000, 0x5A);
    std::vector<ChangeBeforeOpen> cases = {
        {"a second name given to it",
         [&] { std::filesystem::create_hard_link(chosen, second); },
         ": the file has 1 other name; overwriting it would destroy the contents seen under it too; nothing "
         "was written"},
        {"a kernel interface, as the file itself says",
         nullptr,
         ": a system interface of the kernel (proc), not a stored file; nothing was written"},
    };
    for (ChangeBeforeOpen& change : SystemChangesBeforeOpen(chosen, other)) {
        cases.push_back(std::move(change));
    }
    for (const ChangeBeforeOpen& c : cases) {
        SCOPED_TRACE(c.name);
        folder.makeFile("chosen", 6000, 0xA5);
        ScriptedFileSystem files;
        files.beforeOpen = c.change;
        if (!c.change) {
            files.openedFileType = ClassifyFileSystem(0x9fa0);
        }
        EngineRun run;
        overwrite(run, chosen.native(), kZeros, files);
        EXPECT_EQ(run.result.failure, shown(chosen) + c.failure);
        EXPECT_EQ(readWhole(other), std::vector<std::uint8_t>(7000, 0x5A));
        EXPECT_NE(readWhole(chosen), std::vector<std::uint8_t>(6000, 0));
        std::filesystem::remove(chosen);
        std::filesystem::remove(second);
        std::filesystem::remove(folder.path() / "moved");
    }
}

// A link is refused, never followed. Where the system will not make one here (Wine before version 9
// only pretends to), the file is scripted to say it is one.
TEST(EngineRefusals, SymbolicLinkIsRefusedAndItsTargetUntouched)
{
    TemporaryFolder folder;
    const NativePath target = folder.makeFile("target", 1234, 0x5A);
    const std::filesystem::path link = folder.path() / "link";
    const std::filesystem::path dangling = folder.path() / "dangling";
    std::error_code notMade;
    std::filesystem::create_symlink(target, link, notMade);
    std::filesystem::create_symlink(folder.path() / "nowhere", dangling, notMade);

    std::vector<std::filesystem::path> links = {link, dangling};
    FileSystem* files = &FileSystem::system();
    ScriptedFileSystem reparsePoint;
    reparsePoint.alterFacts = [](FileFacts& facts) { facts.notRegular = kLinkKind.c_str(); };
    if (!::exists(link) || !::exists(dangling)) {
        links = {target};
        files = &reparsePoint;
    }
    for (const std::filesystem::path& path : links) {
        EngineRun run;
        const OverwriteResult result = OverwriteFile(path.native(), kZeros, run.progress, *files);
        EXPECT_EQ(result.failure, shown(path) + ": not a regular file (" + kLinkKind + "); nothing was written");
        EXPECT_EQ(MeasureFile(path.native(), *files).failure, result.failure);
    }
    const auto bytes = readWhole(target);
    EXPECT_EQ(bytes.size(), 1234u);
    EXPECT_TRUE(allBytesAre(bytes, 0x5A));
    EXPECT_FALSE(::exists(folder.path() / "nowhere"));
}

// A file the user may not write to (read-only; on Windows also hidden or system) is made writable
// and overwritten like any other.
TEST(EngineAttributes, ReadOnlyFileIsOverwrittenLikeAnyOther)
{
    TemporaryFolder folder;
    const NativePath path = folder.makeFile("read-only", 7000);
    ASSERT_TRUE(MarkReadOnly(path));
    // A run that writes nothing leaves it as it was (a running program: "Text file busy").
    ScriptedFileSystem busy;
    busy.openError = ScriptedFileSystem::kBusy;
    busy.alterFacts = [](FileFacts& facts) { facts.ownerMayWrite = false; }; // also for root
    EngineRun refused;
    overwrite(refused, path, kZeros, busy);
    EXPECT_FALSE(refused.result.ok());
    EXPECT_TRUE(MarkedReadOnly(path));
    EngineRun run;
    overwrite(run, path, kZeros);
    ASSERT_TRUE(run.result.ok()) << run.result.failure;
    const auto bytes = readWhole(path);
    EXPECT_EQ(bytes.size(), 10000u);
    EXPECT_TRUE(allBytesAre(bytes, 0x00));
    ExpectMadeWritable(path);
    EXPECT_EQ(RemoveFile(run.result, FileSystem::system()), "");
    EXPECT_FALSE(::exists(path));
}

// The disk filling up where the last block would grow the file (the original length is still
// overwritten, and the file kept) and where the file's own length has not been reached (a write
// failure, also when the last block would grow the file); on Linux through the page cache and past it.
TEST(EngineFailures, NoRoomLeftOnTheDisk)
{
    const std::string notExtended =
        ": contents overwritten, but the file could not be extended to a whole block and was not deleted: " +
        ErrorText(kNoSpace);
    const std::string kept = ", and the file was not deleted";
    const std::string restKept = "; the rest of the file was not overwritten" + kept;
    struct Case
    {
        bool direct;
        std::int64_t length;
        std::int64_t room;
        std::string failure; // after the path
    };
    // Windows offers no way past the cache: its "direct" rows go through it.
    const Case cases[] = {
        {false, 12345, 12345, notExtended},
        {false, 3 * kDirectChunk, 8000, ": error writing at offset 8000: " + ErrorText(kNoSpace) + restKept},
        {false, 12345, 8000, ": error writing at offset 8000: " + ErrorText(kNoSpace) + restKept},
        {false, 12345, 0, ": error writing at offset 0: " + ErrorText(kNoSpace) + "; nothing was written" + kept},
        {true, 3 * kDirectChunk + 1234, 3 * kDirectChunk + 1234, notExtended},
        {true,
         3 * kDirectChunk,
         kDirectChunk + 8000,
         ": error writing at offset 2568000: " + ErrorText(kNoSpace) + restKept},
    };
    // A full disk that is asked again and again for the same block would hold the run for ever.
    const HangWatchdog watchdog("a run on a full disk", std::chrono::seconds(30));
    for (const Case& room : cases) {
        SCOPED_TRACE((room.direct ? "direct, room " : "through the page cache, room ") + std::to_string(room.room));
        TemporaryFolder folder;
        const NativePath path = folder.makeFile("full", room.length, 0x77);
        ScriptedFileSystem files;
        files.room = room.room;
        files.direct = room.direct;
        EngineRun run;
        overwrite(run, path, kZeros, files);
        EXPECT_EQ(run.result.failure, DisplayPath(path) + room.failure);
        if (room.room == room.length) {
            EXPECT_EQ(run.result.outcome, Overwrite::NotExtended);
            EXPECT_EQ(files.flushes, 1);
            const auto bytes = readWhole(path);
            EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), room.length);
            EXPECT_TRUE(allBytesAre(bytes, 0x00));
        } else {
            EXPECT_EQ(run.result.outcome, Overwrite::Failed);
        }
    }
}

// The name is deleted only while it still names the file that was overwritten, once; what a second
// attempt says, and whether another file can be put at the path during the run, is each system's own.
TEST(Engine, RemoveFileDeletesOnlyTheOverwrittenFile)
{
    TemporaryFolder folder;
    const NativePath path = folder.makeFile("gone", 10);
    EngineRun run;
    overwrite(run, path, kZeros);
    ASSERT_TRUE(run.result.ok()) << run.result.failure;
    EXPECT_EQ(RemoveFile(run.result, FileSystem::system()), "");
    EXPECT_FALSE(::exists(path));
    EXPECT_EQ(RemoveFile(run.result, FileSystem::system()), RemovedAgain(path));

    // An editor saves by renaming a new file over the old one while the run overwrites it.
    const NativePath saved = folder.makeFile("saved", 10);
    overwrite(run, saved, kZeros);
    ASSERT_TRUE(run.result.ok()) << run.result.failure;
    ExpectRenamedOverDuringTheRun(run.result, folder.makeFile("newcomer", 20, 0x77));
}

// What the file's attributes and its block maps say of where the pass landed, as Windows volumes
// report them (Wine reports no usable map): the maps are scripted, and the attributes added to the
// file's own.
TEST(EnginePlacement, JudgedFromTheAttributesAndTheClusterMaps)
{
    const ExtentMap stays = {{0, 1000, 3, 0}};
    struct Case
    {
        const char* name;
        std::function<void(FileFacts&)> stored;
        std::optional<ExtentMap> before;
        std::string volume;
        Placement placement;
    };
    const Case cases[] = {
        {"in place", nullptr, stays, "NTFS", Placement::InPlace},
        {"compressed", [](FileFacts& facts) { facts.compressed = true; }, stays, "NTFS", Placement::Encoded},
        {"encrypted", [](FileFacts& facts) { facts.encrypted = true; }, stays, "NTFS", Placement::Unconfirmed},
        {"in its record", nullptr, ExtentMap{{0, 0, 0, ExtentFlag::DataInline}}, "NTFS", Placement::Inline},
        {"no map", nullptr, std::nullopt, "NTFS", Placement::InPlace},
        {"no map, copy on write", nullptr, std::nullopt, "ReFS", Placement::Unconfirmed},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        TemporaryFolder folder;
        const NativePath path = folder.makeFile("placed", 12345);
        ScriptedFileSystem files;
        files.alterFacts = row.stored;
        files.extentAnswers = {row.before, row.before};
        files.fileSystemType = ClassifyFileSystemName(row.volume);
        EngineRun run;
        overwrite(run, path, kZeros, files);
        ASSERT_TRUE(run.result.ok()) << run.result.failure;
        EXPECT_EQ(run.result.placement.placement, row.placement);
        EXPECT_TRUE(allBytesAre(readWhole(path), 0x00));
        EXPECT_EQ(files.flushesBeforeWriting, 0);
    }
    // Data still waiting for its place on the disk is given one before the map is trusted.
    TemporaryFolder folder;
    ScriptedFileSystem files;
    files.extentAnswers = {ExtentMap{{0, 0, 16384, ExtentFlag::Delalloc | ExtentFlag::Last}}, stays, stays};
    files.fileSystemType = ClassifyFileSystemName("NTFS");
    EngineRun run;
    overwrite(run, folder.makeFile("waiting", 12345), kZeros, files);
    EXPECT_EQ(files.flushesBeforeWriting, 1);
    EXPECT_EQ(run.result.placement.placement, Placement::InPlace);
}
