// What Windows decides for itself beside the shared engine table: its words, the device paths, data
// streams and reserved names, attributes, a file held against replacement, and files other programs
// hold open.

#include "tests/engine/EngineFixture.h"
#include "tests/engine/SystemCases.h"
#include "traces/RecentItems.h"

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
// clang-format on

namespace {
constexpr DWORD kUnwritable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// A shortcut at `link` to `target`, saved by the shell's own shortcut object as Explorer saves one.
void MakeShortcut(const NativePath& link, const NativePath& target)
{
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW* shortcut = nullptr;
    IPersistFile* file = nullptr;
    ASSERT_EQ(::CoCreateInstance(
                  CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, reinterpret_cast<void**>(&shortcut)),
              S_OK);
    EXPECT_EQ(shortcut->SetPath(target.c_str()), S_OK);
    EXPECT_EQ(shortcut->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)), S_OK);
    EXPECT_EQ(file->Save(link.c_str(), TRUE), S_OK);
    file->Release();
    shortcut->Release();
}
} // namespace

const SystemError kNoSpace = ERROR_DISK_FULL;
const std::string kLinkKind = "a symbolic link, a junction or another reparse point";
const std::string kNotFullPath = ": not a full path (it must start with a drive such as C:\\ or a share such as "
                                 "\\\\server\\share); nothing was written";
const std::filesystem::path kNotPlainText = std::wstring{L'n', 0xD83D, 0xDE00, L'\u00e9'};

bool MarkReadOnly(const NativePath& path)
{
    return ::SetFileAttributesW(path.c_str(), kUnwritable) != 0;
}

bool MarkedReadOnly(const NativePath& path)
{
    return (::GetFileAttributesW(path.c_str()) & kUnwritable) == kUnwritable;
}

void ExpectMadeWritable(const NativePath& path)
{
    EXPECT_EQ(::GetFileAttributesW(path.c_str()) & kUnwritable, 0u);
}

std::string RemovedAgain(const NativePath& path)
{
    return DisplayPath(path) + ": not overwritten, so not removed";
}

void ExpectRenamedOverDuringTheRun(OverwriteResult& overwritten, const NativePath& newcomer)
{
    const NativePath saved = overwritten.pinned.path;
    std::error_code refused;
    std::filesystem::rename(newcomer, saved, refused);
    EXPECT_TRUE(refused) << "the file being shredded was replaced";
    EXPECT_EQ(RemoveFile(overwritten, FileSystem::system()), "");
    EXPECT_FALSE(::exists(saved));
    EXPECT_EQ(readWhole(newcomer), std::vector<std::uint8_t>(20, 0x77));
}

std::vector<ChangeBeforeOpen> SystemChangesBeforeOpen(const std::filesystem::path&, const NativePath&)
{
    return {}; // Wine before version 9 only pretends to make links
}

// The pin holds the file, not its name: a file moved away after it was chosen, with another put at its
// name, is written where it lies now, and the newcomer is not touched. Wine opens a handle again by
// the name it was opened with, so there the run meets the newcomer and refuses it.
TEST(EnginePin, FileMovedAwayIsWrittenWhereItLiesAndTheNewcomerUntouched)
{
    TemporaryFolder folder;
    const std::filesystem::path chosen = folder.path() / "chosen";
    const std::filesystem::path moved = folder.path() / "moved";
    folder.makeFile("chosen", 6000, 0xA5);
    const NativePath other = folder.makeFile("other", 7000, 0x5A);
    ScriptedFileSystem files;
    files.beforeOpen = [&] {
        std::filesystem::rename(chosen, moved);
        std::filesystem::copy_file(other, chosen);
    };
    EngineRun run;
    overwrite(run, chosen.native(), kZeros, files);
    EXPECT_EQ(readWhole(chosen.native()), std::vector<std::uint8_t>(7000, 0x5A));
    const bool wine = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    if (wine) {
        EXPECT_EQ(run.result.failure,
                  shown(chosen) + ": the file was replaced after it was chosen; nothing was written");
        EXPECT_EQ(readWhole(moved.native()), std::vector<std::uint8_t>(6000, 0xA5));
    } else {
        EXPECT_TRUE(run.result.ok()) << run.result.failure;
        EXPECT_EQ(readWhole(moved.native()), std::vector<std::uint8_t>(6000, 0));
    }
}

// Deletions are flushed folder by folder, each once; a folder that cannot be opened is named.
TEST(EngineRemovals, EachFolderIsFlushedAndOneThatCannotBeIsNamed)
{
    TemporaryFolder folder;
    FileSystem& system = FileSystem::system();
    PinnedFile first;
    PinnedFile second;
    PinnedFile lost;
    FileFacts facts;
    ASSERT_EQ(system.pin(folder.makeFile("first", 10), first, facts), 0);
    ASSERT_EQ(system.pin(folder.makeFile("second", 10), second, facts), 0);
    lost.path = (folder.path() / "no such folder" / "file").native();
    const std::vector<SystemError> errors = system.flushRemovals({&first, &second, &lost});
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[0], 0);
    EXPECT_EQ(errors[1], 0);
    EXPECT_EQ(errors[2], static_cast<SystemError>(ERROR_FILE_NOT_FOUND));
}

// Devices, by their own namespace and by a reserved name that names one in every folder, and a data
// stream of a file are refused.
TEST(EngineRefusals, DevicesAndStreamsAreRefused)
{
    TemporaryFolder folder;
    const NativePath file = folder.makeFile("file", 100, 0x3C);
    const NativePath deviceNamespace = L"\\\\.\\NUL";
    const NativePath stream = file + L":extra";
    const std::filesystem::path reserved = folder.path() / "NUL";
    ExpectRefusedUnwritten({
        {deviceNamespace,
         shown(deviceNamespace) + ": a device path (\\\\.\\ or \\\\?\\), not a file on a drive; nothing was written"},
        {stream, shown(stream) + ": names a data stream of a file, not the file itself; nothing was written"},
        {reserved.native(), shown(reserved) + ": not a regular file (a device); nothing was written"},
    });
    EXPECT_EQ(readWhole(file), std::vector<std::uint8_t>(100, 0x3C));
}

// Another program with the file open: one that does not let it be deleted keeps the run from opening
// it, with nothing written; one that does may still add to it, and what it adds is overwritten too.
TEST(EngineSharing, FileOpenElsewhereIsRefusedOrOverwrittenToItsNewEnd)
{
    for (const bool sharesDeletion : {false, true}) {
        SCOPED_TRACE(sharesDeletion ? "shares deletion" : "does not share deletion");
        TemporaryFolder folder;
        const NativePath path = folder.makeFile("log", 6000, 0x4C);
        const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | (sharesDeletion ? FILE_SHARE_DELETE : 0);
        const HANDLE other = ::CreateFileW(
            path.c_str(), FILE_APPEND_DATA, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(other, INVALID_HANDLE_VALUE);
        ScriptedFileSystem files;
        bool appended = false;
        files.beforeWrite = [&](std::uint64_t) {
            const std::string line(6000, 'L');
            DWORD written = 0;
            appended = appended || ::WriteFile(other, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        };
        EngineRun run;
        overwrite(run, path, kZeros, files);
        if (sharesDeletion) {
            ASSERT_TRUE(run.result.ok()) << run.result.failure;
            EXPECT_TRUE(appended);
            EXPECT_EQ(readWhole(path), std::vector<std::uint8_t>(15000, 0)); // 12,000 bytes, all overwritten
        } else {
            EXPECT_EQ(run.result.failure,
                      DisplayPath(path) + ": cannot open for writing: " + ErrorText(ERROR_SHARING_VIOLATION));
            EXPECT_EQ(readWhole(path), std::vector<std::uint8_t>(6000, 0x4C));
        }
        ::CloseHandle(other);
    }
}

// The shortcuts Recent Items keeps: one to the shredded file goes as the file went, one to a file of a
// like name and a file that only looks like a shortcut stay as they were.
TEST(EngineTraces, RecentItemsShortcutToTheShreddedFileGoes)
{
    TemporaryFolder folder;
    const NativePath shredded = folder.makeFile("report.txt", 100);
    const NativePath alike = folder.makeFile("report.txt.old", 100);
    std::filesystem::create_directory(folder.path() / "Recent");
    const NativePath toShredded = (folder.path() / "Recent" / "report.txt.lnk").native();
    const NativePath toAlike = (folder.path() / "Recent" / "report.txt.old.lnk").native();
    MakeShortcut(toShredded, shredded);
    MakeShortcut(toAlike, alike);
    const struct
    {
        const char* name;
        NativePath shortcut;
        bool destroyed;
    } rows[] = {
        {"to the shredded file", toShredded, true},
        {"to a file of a like name", toAlike, false},
        {"garbage bytes", folder.makeFile(std::filesystem::path("Recent") / "garbage.lnk", 300, 0x4C), false},
    };
    std::filesystem::remove(shredded);
    std::map<NativePath, std::vector<std::uint8_t>> before;
    for (const auto& row : rows) {
        before[row.shortcut] = readWhole(row.shortcut);
    }
    ScriptedFileSystem files;
    EXPECT_EQ(DestroyRecentShortcuts((folder.path() / "Recent").native(), {shredded}, kZeros, files),
              std::vector<std::string>{});
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.destroyed) {
            EXPECT_FALSE(::exists(row.shortcut));
            const std::vector<std::uint8_t>& last = files.contentBeforeDelete[row.shortcut];
            EXPECT_TRUE(last.size() >= before[row.shortcut].size() && allBytesAre(last, 0));
        } else {
            EXPECT_EQ(readWhole(row.shortcut), before[row.shortcut]);
        }
    }
}
