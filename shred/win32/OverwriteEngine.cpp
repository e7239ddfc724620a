#include "shred/OverwriteEngine.h"

#include "shred/PassRounds.h"
#include "shred/Refusals.h"
#include "shred/RunProgress.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>
// clang-format off
#include <windows.h>
// clang-format on

// On one line and without the closing full stop, like the other parts of a failure line.
std::string ErrorText(int code)
{
    const auto error = static_cast<DWORD>(code);
    wchar_t* text = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr,
                         error,
                         0,
                         reinterpret_cast<wchar_t*>(&text),
                         0,
                         nullptr);
    std::string reason = length > 0 ? DisplayPath(NativePath(text, length)) : "error " + std::to_string(error);
    ::LocalFree(text);
    std::replace(reason.begin(), reason.end(), '\n', ' ');
    while (!reason.empty() && (reason.back() == ' ' || reason.back() == '\r' || reason.back() == '.')) {
        reason.pop_back();
    }
    std::erase(reason, '\r');
    return reason;
}

namespace {
std::string failureLine(const NativePath& path, const std::string& step, DWORD error)
{
    return FailureLine(DisplayPath(path), step, static_cast<int>(error));
}

std::string refusal(const NativePath& path, const char* kind)
{
    return NotRegularFile(DisplayPath(path), kind);
}

// NTFS file indexes carry a sequence number, so a reused index is told apart already.
FileIdentity identityOf(const FileFacts& facts)
{
    FileIdentity identity;
    identity.device = facts.volume;
    identity.inode = facts.index;
    return identity;
}

// Paths in the \\.\ and \\?\ namespaces name devices and volumes as well as files, past the checks a
// drive path goes through.
bool isDeviceNamespace(const NativePath& path)
{
    if (path.size() < 4) {
        return false;
    }
    const auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    return separator(path[0]) && separator(path[1]) && (path[2] == L'.' || path[2] == L'?') && separator(path[3]);
}

// A colon past the drive names one data stream of a file ("notes.txt:extra"): overwriting and deleting
// that stream would leave the file's own data where it was.
bool namesAStream(const NativePath& path)
{
    const std::size_t drive = path.size() >= 2 && path[1] == L':' ? 2 : 0;
    return path.find(L':', drive) != NativePath::npos;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Opens what the path names without following a symbolic link or a junction, folders included, with
// `access` only.
FileHandle openForInspection(const NativePath& path, DWORD access)
{
    return FileHandle(::CreateFileW(path.c_str(),
                                    access,
                                    kShareAll,
                                    nullptr,
                                    OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
}

// What the attributes say is not a plain file, or null. Devices without the attribute are told by
// GetFileType before their facts are read, which they may refuse.
const char* kindOf(const FileFacts& facts)
{
    if (facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return "a symbolic link, a junction or another reparse point";
    }
    if (facts.attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return "a directory";
    }
    if (facts.attributes & FILE_ATTRIBUTE_DEVICE) {
        return "a device";
    }
    return nullptr;
}

// The chosen file, opened for reading its attributes and checked before anything is opened for
// writing.
struct Inspection
{
    FileHandle handle;
    FileFacts facts;
    std::string failure;
};

// `step` names what failed when the file cannot be found.
Inspection inspect(const ChosenFile& chosen, FileSystem& files, const char* step, bool allowOtherNames = false)
{
    const NativePath& path = chosen.path;
    Inspection found;
    if (isDeviceNamespace(path)) {
        found.failure = DisplayPath(path) + ": a device path (\\\\.\\ or \\\\?\\), not a file on a drive; nothing was "
                                            "written";
        return found;
    }
    if (namesAStream(path)) {
        found.failure = DisplayPath(path) + ": names a data stream of a file, not the file itself; nothing was written";
        return found;
    }
    if (!std::filesystem::path(path).is_absolute()) {
        // A relative path would be resolved against the program's working folder, which the user
        // never sees.
        found.failure = DisplayPath(path) + ": not a full path (it must start with a drive such as C:\\ or a share "
                                            "such as \\\\server\\share); nothing was written";
        return found;
    }
    found.handle = openForInspection(path, FILE_READ_ATTRIBUTES);
    if (!found.handle) {
        found.failure = failureLine(path, step, ::GetLastError());
        return found;
    }
    if (::GetFileType(found.handle.get()) != FILE_TYPE_DISK) {
        found.failure = refusal(path, "a device");
    } else if (const DWORD error = files.describe(found.handle.get(), found.facts); error != 0) {
        found.failure = failureLine(path, step, error);
    } else if (const char* kind = kindOf(found.facts)) {
        found.failure = refusal(path, kind);
    } else if (chosen.identity && !chosen.identity->sameFileAs(identityOf(found.facts))) {
        found.failure = ReplacedSinceChosen(DisplayPath(path));
    } else if (!allowOtherNames && found.facts.links > 1) {
        found.failure = HasOtherNames(DisplayPath(path), found.facts.links);
    }
    return found;
}

constexpr DWORD kHiddenAway = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Sets a read-only, hidden or system file's attributes to normal, through a handle of the same file
// so that a link put in its place meanwhile is never followed. Returns 0 or the error.
DWORD makeNormal(const NativePath& path, const Inspection& found, FileSystem& files)
{
    FileHandle handle = openForInspection(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    if (!handle) {
        return ::GetLastError();
    }
    FileFacts facts;
    if (const DWORD error = files.describe(handle.get(), facts); error != 0) {
        return error;
    }
    if (!identityOf(facts).sameFileAs(identityOf(found.facts)) || kindOf(facts)) {
        return ERROR_FILE_INVALID;
    }
    FILE_BASIC_INFO basic{}; // times of 0 are left as they are
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(handle.get(), FileBasicInfo, &basic, sizeof basic)) {
        return ::GetLastError();
    }
    if (const DWORD error = files.describe(handle.get(), facts); error != 0) {
        return error;
    }
    return facts.attributes & kHiddenAway ? ERROR_ACCESS_DENIED : 0;
}

// <windows.h> names FileSystemType as a kind of service too: the struct is spelled out below.

bool isOutOfRoom(DWORD error)
{
    constexpr DWORD kDiskQuotaExceeded = 1295; // ERROR_DISK_QUOTA_EXCEEDED, missing from some headers
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL || error == ERROR_FILE_TOO_LARGE ||
           error == kDiskQuotaExceeded;
}

constexpr std::int64_t kCallSpan = std::int64_t{kBlocksPerWrite} * kBlockSize;

// One pass over an open file: writes the fill block up to a limit in calls of 512 blocks at their own
// offsets, stepping the progress after every whole block, and flushes.
class Pass
{
public:
    Pass(void* file, const FillBlock& block, RunProgress& progress, FileSystem& files)
        : m_file(file)
        , m_progress(progress)
        , m_files(files)
        , m_blocks(static_cast<std::size_t>(kCallSpan + kBlockSize))
    {
        // One block more than a call, so that a call may start anywhere inside a block.
        for (std::size_t at = 0; at < m_blocks.size(); at += kBlockSize) {
            std::memcpy(m_blocks.data() + at, block.data(), std::min<std::size_t>(kBlockSize, m_blocks.size() - at));
        }
    }

    // Writes from where the pass stands up to `limit`. Returns 0, or the error with position() at the
    // offset that failed.
    DWORD writeUpTo(std::int64_t limit)
    {
        while (m_pos < limit) {
            const std::int64_t end = std::min(limit, (m_pos / kCallSpan + 1) * kCallSpan);
            std::uint32_t written = 0;
            const DWORD error = m_files.writeAt(m_file,
                                                m_blocks.data() + m_pos % kBlockSize,
                                                static_cast<std::uint32_t>(end - m_pos),
                                                static_cast<std::uint64_t>(m_pos),
                                                written);
            if (error != 0 || written == 0) {
                return error != 0 ? error : ERROR_DISK_FULL;
            }
            m_pos += written;
            for (; (m_stepped + 1) * kBlockSize <= m_pos; ++m_stepped) {
                m_progress.StepProgress();
            }
        }
        return 0;
    }

    DWORD flush()
    {
        return m_files.flush(m_file);
    }

    std::int64_t position() const
    {
        return m_pos;
    }

    // Holes of sparse files are not looked for: a full disk inside the file fails the pass.
    bool skipHole(std::int64_t)
    {
        return false;
    }

private:
    void* m_file;
    RunProgress& m_progress;
    FileSystem& m_files;
    std::vector<std::uint8_t> m_blocks;
    std::int64_t m_pos = 0;
    std::int64_t m_stepped = 0;
};

struct FileSystemType fileSystemOf(void* file, FileSystem& files)
{
    if (files.isRemote(file)) {
        return {0, "a network share", FileSystemKind::OutOfSight};
    }
    return ClassifyFileSystemName(files.fileSystemName(file));
}

// Whether the pass landed where the old contents lay. The map in clusters says it for most files;
// what the file's attributes say comes first, since the map does not show it.
PlacementVerdict placementOf(const FileFacts& facts,
                             const std::optional<ExtentMap>& before,
                             const std::optional<ExtentMap>& after,
                             const struct FileSystemType& type)
{
    if (facts.attributes & FILE_ATTRIBUTE_COMPRESSED) {
        return {Placement::Encoded, type.name + " stores the file compressed, never rewritten in place"};
    }
    if (facts.attributes & FILE_ATTRIBUTE_ENCRYPTED) {
        return {Placement::Unconfirmed,
                type.name + " encrypts the file, and its encryption may keep earlier copies of the data elsewhere"};
    }
    if (facts.length > 0 && before && before->empty()) {
        // A small file's data lives in its own record in the file system's table, where the longer
        // overwrite cannot follow it.
        return {Placement::Inline, type.name + " keeps the file's data inside its own metadata"};
    }
    return JudgePlacement(before, after, type);
}
} // namespace

FileLength IdentifyFile(const NativePath& path)
{
    const Inspection found = inspect(ChosenFile(path), FileSystem::system(), "cannot read the file's length", true);
    if (!found.failure.empty()) {
        return {0, {}, found.failure};
    }
    return {found.facts.length, identityOf(found.facts), {}};
}

FileLength MeasureFile(const ChosenFile& file, FileSystem& files)
{
    const Inspection found = inspect(file, files, "cannot read the file's length");
    if (!found.failure.empty()) {
        return {0, {}, found.failure};
    }
    return {found.facts.length, identityOf(found.facts), {}};
}

OverwriteResult
OverwriteFile(const ChosenFile& chosen, const FillBlock& block, RunProgress& progress, FileSystem& files)
{
    const NativePath& path = chosen.path;
    progress.showActivity("Shredding: " + DisplayPath(path));
    const auto failed = [](std::string line) {
        OverwriteResult result;
        result.outcome = Overwrite::Failed;
        result.failure = std::move(line);
        return result;
    };

    const Inspection found = inspect(chosen, files, "cannot read the file's attributes");
    if (!found.failure.empty()) {
        return failed(found.failure);
    }
    if (found.facts.attributes & kHiddenAway) {
        if (const DWORD error = makeNormal(path, found, files); error != 0) {
            return failed(failureLine(path, "cannot set the file's attributes to normal", error));
        }
    }
    // Held with the right to delete it: from here on no one can rename it, delete it or put another
    // file at its path, and only programs that allow all that can open it. Those may still write, so
    // the growth rounds below apply here too.
    FileHandle file(files.openForWriting(path));
    if (!file) {
        return failed(failureLine(path, "cannot open for writing", ::GetLastError()));
    }

    // Everything from here on is about the file actually opened, which must be the one inspected.
    FileFacts opened;
    if (const DWORD error = files.describe(file.get(), opened); error != 0) {
        return failed(failureLine(path, "cannot read the file's length", error));
    }
    if (const char* kind = kindOf(opened)) {
        return failed(refusal(path, kind));
    }
    if (!identityOf(opened).sameFileAs(identityOf(found.facts))) {
        return failed(ReplacedSinceChosen(DisplayPath(path)));
    }
    if (opened.links > 1) {
        return failed(HasOtherNames(DisplayPath(path), opened.links));
    }
    const struct FileSystemType type = fileSystemOf(file.get(), files);
    const std::optional<ExtentMap> extentsBefore = files.readExtents(file.get());

    const std::int64_t length = opened.length;
    Pass pass(file.get(), block, progress, files);
    const PassRounds rounds = RunPassRounds(
        pass,
        length,
        DisplayPath(path),
        [&](std::int64_t& now) {
            FileFacts facts;
            const DWORD error = files.describe(file.get(), facts);
            now = facts.length;
            return error;
        },
        [&path](const std::string& step, DWORD error) { return failureLine(path, step, error); },
        isOutOfRoom);
    if (rounds.outcome == Overwrite::Failed) {
        return failed(rounds.failure);
    }
    const std::optional<ExtentMap> extentsAfter = files.readExtents(file.get());

    OverwriteResult result;
    result.outcome = rounds.outcome;
    result.failure = rounds.failure;
    result.placement = placementOf(opened, extentsBefore, extentsAfter, type);
    result.path = path;
    result.identity = identityOf(opened);
    result.held.file = std::move(file);
    return result;
}

bool PathExists(const NativePath& path)
{
    // Like lstat: a link, dangling or not, is there.
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string RemoveFile(OverwriteResult& overwritten, FileSystem& files)
{
    const NativePath& path = overwritten.path;
    if (!overwritten.held.file) {
        return NotOverwrittenSoNotRemoved(DisplayPath(path));
    }
    // The handle names the file, not the path: whatever the path names by now, only the file that was
    // overwritten goes.
    if (const DWORD error = files.markForDeletion(overwritten.held.file.get()); error != 0) {
        overwritten.held.file.close();
        return NotDeleted(DisplayPath(path), overwritten.placement, static_cast<int>(error));
    }
    if (const DWORD error = overwritten.held.file.close(); error != 0) {
        return failureLine(path, "failed to remove", error);
    }
    return {};
}
