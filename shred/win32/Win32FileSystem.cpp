// The file contract on Windows: pins, writes, flushes and deletion through file handles.

#include "shred/win32/Win32FileSystem.h"

#include "shred/FilePath.h"
#include "shred/win32/FileHandle.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <utility>
#include <vector>
// clang-format off
#include <windows.h>
#include <winioctl.h>
// clang-format on

FileHandle::FileHandle(void* handle)
    : m_handle(handle == INVALID_HANDLE_VALUE ? nullptr : handle)
{
}

FileHandle::FileHandle(FileHandle&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr))
{
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept
{
    if (this != &other) {
        close();
        m_handle = std::exchange(other.m_handle, nullptr);
    }
    return *this;
}

FileHandle::~FileHandle()
{
    close();
}

std::uint32_t FileHandle::close()
{
    if (!m_handle) {
        return 0;
    }
    const BOOL closed = ::CloseHandle(std::exchange(m_handle, nullptr));
    return closed ? 0 : ::GetLastError();
}

std::string DisplayPath(const NativePath& path)
{
    if (path.empty()) {
        return {};
    }
    const int wide = static_cast<int>(path.size());
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, path.data(), wide, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, path.data(), wide, text.data(), bytes, nullptr, nullptr);
    return text;
}

namespace {
// The error of the last call, as a system error.
SystemError lastError()
{
    return static_cast<SystemError>(::GetLastError());
}

// What the attributes say is not a plain file, or null.
const char* kindOf(DWORD attributes)
{
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return "a symbolic link, a junction or another reparse point";
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return "a directory";
    }
    if (attributes & FILE_ATTRIBUTE_DEVICE) {
        return "a device";
    }
    return nullptr;
}

constexpr DWORD kHiddenAway = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// GetFileInformationByHandle's answer as the engine reads it. NTFS file indexes carry a sequence
// number, so a reused index is told apart already. Devices without the attribute are told by
// GetFileType before their facts are read, which they may refuse.
SystemError factsOf(HANDLE file, FileFacts& facts)
{
    facts = {};
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        facts.notRegular = "a device";
        return 0;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info)) {
        return lastError();
    }
    facts.notRegular = kindOf(info.dwFileAttributes);
    facts.links = info.nNumberOfLinks;
    facts.identity.device = info.dwVolumeSerialNumber;
    facts.identity.inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    facts.length = static_cast<std::int64_t>((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
    facts.ownerMayWrite = (info.dwFileAttributes & kHiddenAway) == 0;
    facts.compressed = (info.dwFileAttributes & FILE_ATTRIBUTE_COMPRESSED) != 0;
    facts.encrypted = (info.dwFileAttributes & FILE_ATTRIBUTE_ENCRYPTED) != 0;
    return 0;
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

struct FileSystemType typeOf(HANDLE file)
{
    FILE_REMOTE_PROTOCOL_INFO protocol{};
    protocol.StructureVersion = 1;
    protocol.StructureSize = sizeof protocol;
    if (::GetFileInformationByHandleEx(file, FileRemoteProtocolInfo, &protocol, sizeof protocol)) {
        return {0, "a network share", FileSystemKind::OutOfSight};
    }
    wchar_t name[MAX_PATH + 1] = {};
    if (!::GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, nullptr, name, MAX_PATH + 1)) {
        return ClassifyFileSystemName({});
    }
    return ClassifyFileSystemName(DisplayPath(name));
}
} // namespace

PinCapacity Win32FileSystem::pinCapacity(const std::vector<NativePath>& paths)
{
    // One handle a file; a process may hold millions.
    return {paths.size(), std::nullopt};
}

SystemError Win32FileSystem::pin(const NativePath& path, PinnedFile& pinned, FileFacts& facts)
{
    pinned.file = openForInspection(path, FILE_READ_ATTRIBUTES);
    if (!pinned.file) {
        return lastError();
    }
    return describePinned(pinned, facts);
}

SystemError Win32FileSystem::describePinned(const PinnedFile& pinned, FileFacts& facts)
{
    // The pin holds the file itself: it is the file it was, whatever its path names by now.
    return factsOf(pinned.file.get(), facts);
}

struct FileSystemType Win32FileSystem::fileSystemOf(const PinnedFile& pinned)
{
    return typeOf(pinned.file.get());
}

namespace {
// The pinned file itself opened again with `access`: never through its path, so that whatever was put
// at that path since is not what is opened.
FileHandle reopen(const PinnedFile& pinned, DWORD access, DWORD share, DWORD flags)
{
    return FileHandle(::ReOpenFile(pinned.file.get(), access, share, flags));
}

// Sets the attributes of the pinned file, while it is still the file `expected`. Returns 0 or the
// error, and the attributes it had in `before`.
SystemError setAttributes(const PinnedFile& pinned, const FileIdentity& expected, DWORD attributes, DWORD& before)
{
    FileHandle handle =
        reopen(pinned, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll, FILE_FLAG_OPEN_REPARSE_POINT);
    if (!handle) {
        return lastError();
    }
    FileFacts facts;
    if (const SystemError error = factsOf(handle.get(), facts); error != 0) {
        return error;
    }
    FILE_BASIC_INFO basic{}; // times of 0 are left as they are
    if (!facts.identity.sameFileAs(expected) || facts.notRegular ||
        !::GetFileInformationByHandleEx(handle.get(), FileBasicInfo, &basic, sizeof basic)) {
        return ERROR_FILE_INVALID;
    }
    before = basic.FileAttributes;
    FILE_BASIC_INFO changed{};
    changed.FileAttributes = attributes;
    if (!::SetFileInformationByHandle(handle.get(), FileBasicInfo, &changed, sizeof changed)) {
        return lastError();
    }
    if (const SystemError error = factsOf(handle.get(), facts); error != 0) {
        return error;
    }
    return facts.ownerMayWrite || attributes != FILE_ATTRIBUTE_NORMAL ? 0 : ERROR_ACCESS_DENIED;
}
} // namespace

SystemError Win32FileSystem::makeWritable(PinnedFile& pinned, const FileIdentity& expected)
{
    DWORD before = 0;
    const SystemError error = setAttributes(pinned, expected, FILE_ATTRIBUTE_NORMAL, before);
    if (error == 0) {
        pinned.attributesBeforeWritable = before;
    }
    return error;
}

SystemError Win32FileSystem::restoreWritability(PinnedFile& pinned, const FileIdentity& expected)
{
    if (pinned.attributesBeforeWritable == 0) {
        return 0;
    }
    DWORD now = 0;
    const SystemError error = setAttributes(pinned, expected, pinned.attributesBeforeWritable, now);
    pinned.attributesBeforeWritable = 0;
    return error;
}

SystemError Win32FileSystem::open(const PinnedFile& pinned, OpenedFile& file)
{
    // Held with the right to delete it: from here on no one can rename it, delete it or put another
    // file at its path, and only programs that allow all that can open it. Those may still write,
    // which the engine's growth rounds answer.
    file.file = reopen(pinned,
                       GENERIC_READ | GENERIC_WRITE | DELETE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE,
                       FILE_FLAG_OPEN_REPARSE_POINT);
    return file.file ? 0 : lastError();
}

SystemError Win32FileSystem::describe(const OpenedFile& file, FileFacts& facts)
{
    return factsOf(file.file.get(), facts);
}

struct FileSystemType Win32FileSystem::fileSystemOf(const OpenedFile& file)
{
    return typeOf(file.file.get());
}

SystemError Win32FileSystem::writeAt(
    OpenedFile& file, const WritePiece* pieces, int count, std::int64_t offset, std::int64_t& written)
{
    const void* data = pieces[0].data;
    std::size_t length = pieces[0].length;
    if (count > 1) {
        // A pass's whole calls all come in the same pieces: they are laid end to end once, not again
        // for every call.
        const std::vector<WritePiece> layout(pieces, pieces + count);
        const auto same = [](const WritePiece& a, const WritePiece& b) {
            return a.data == b.data && a.length == b.length;
        };
        if (!std::equal(layout.begin(), layout.end(), file.gatheredFrom.begin(), file.gatheredFrom.end(), same)) {
            file.gathered.clear();
            for (const WritePiece& piece : layout) {
                const auto* bytes = static_cast<const std::uint8_t*>(piece.data);
                file.gathered.insert(file.gathered.end(), bytes, bytes + piece.length);
            }
            file.gatheredFrom = layout;
        }
        data = file.gathered.data();
        length = file.gathered.size();
    }
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    DWORD done = 0;
    if (!::WriteFile(file.file.get(), data, static_cast<DWORD>(length), &done, &at)) {
        return lastError();
    }
    written = done;
    return done == 0 ? ERROR_DISK_FULL : 0;
}

SystemError Win32FileSystem::flush(OpenedFile& file)
{
    return ::FlushFileBuffers(file.file.get()) ? 0 : lastError();
}

SystemError Win32FileSystem::flushAll(OpenedFile& file)
{
    return flush(file);
}

namespace {
// The file's clusters (FSCTL_GET_RETRIEVAL_POINTERS), in clusters; none when they cannot be read or
// what is read does not add up. A file with data but no clusters keeps it in its own record in the
// file system's table.
std::optional<ExtentMap> clustersOf(HANDLE file)
{
    // Answers come a buffer at a time; each names the virtual cluster its extents start at.
    union Answer {
        RETRIEVAL_POINTERS_BUFFER pointers;
        char bytes[16384];
    };
    std::vector<Answer> answer(1);
    ExtentMap extents;
    STARTING_VCN_INPUT_BUFFER from{};
    for (;;) {
        DWORD got = 0;
        const BOOL ok = ::DeviceIoControl(
            file, FSCTL_GET_RETRIEVAL_POINTERS, &from, sizeof from, answer.data(), sizeof(Answer), &got, nullptr);
        const DWORD error = ok ? 0 : ::GetLastError();
        if (error == ERROR_HANDLE_EOF) {
            return extents; // no clusters
        }
        if (error != 0 && error != ERROR_MORE_DATA) {
            return std::nullopt;
        }
        const RETRIEVAL_POINTERS_BUFFER& pointers = answer.front().pointers;
        if (got < offsetof(RETRIEVAL_POINTERS_BUFFER, Extents) ||
            pointers.StartingVcn.QuadPart != from.StartingVcn.QuadPart || pointers.ExtentCount == 0) {
            return std::nullopt;
        }
        std::int64_t vcn = pointers.StartingVcn.QuadPart;
        for (DWORD i = 0; i < pointers.ExtentCount; ++i) {
            const std::int64_t next = pointers.Extents[i].NextVcn.QuadPart;
            const std::int64_t lcn = pointers.Extents[i].Lcn.QuadPart;
            if (next <= vcn) {
                return std::nullopt; // a map that does not add up is no map
            }
            Extent extent{static_cast<std::uint64_t>(vcn),
                          lcn < 0 ? 0 : static_cast<std::uint64_t>(lcn),
                          static_cast<std::uint64_t>(next - vcn),
                          lcn < 0 ? ExtentFlag::Unwritten : 0};
            extents.push_back(extent);
            vcn = next;
        }
        if (error == 0) {
            return extents;
        }
        from.StartingVcn.QuadPart = vcn;
    }
}
} // namespace

std::optional<ExtentMap> Win32FileSystem::readExtents(const OpenedFile& file, bool)
{
    std::optional<ExtentMap> extents = clustersOf(file.file.get());
    FileFacts facts;
    if (extents && extents->empty() && factsOf(file.file.get(), facts) == 0 && facts.length > 0) {
        // The data lives in the file's own record, where a longer overwrite cannot follow it.
        extents->push_back({0, 0, 0, ExtentFlag::DataInline});
    }
    return extents;
}

SystemError Win32FileSystem::finishWriting(OpenedFile& file, PinnedFile& pinned)
{
    // The file stays open, held against replacement, until it is deleted through this handle.
    pinned.file = std::move(file.file);
    return 0;
}

std::vector<SystemError> Win32FileSystem::flushRemovals(const std::vector<const PinnedFile*>& removed)
{
    // A deletion through the handle reaches the file system's log only when it writes the log back:
    // each folder is flushed, once. Flushing a folder takes the right to add files to it; where the
    // user lacks it, or the file system cannot flush a folder, the log is written back in its time.
    std::map<std::wstring, SystemError> flushed;
    std::vector<SystemError> errors;
    for (const PinnedFile* pinned : removed) {
        const std::wstring folder = std::filesystem::path(pinned->path).parent_path().wstring();
        const auto [entry, fresh] = flushed.try_emplace(folder, 0);
        if (fresh && !folder.empty()) {
            FileHandle handle(::CreateFileW(folder.c_str(),
                                            GENERIC_WRITE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr,
                                            OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS,
                                            nullptr));
            const bool done = handle && ::FlushFileBuffers(handle.get());
            const SystemError error = done ? 0 : lastError();
            entry->second =
                error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ? 0
                                                                                                                : error;
        }
        errors.push_back(entry->second);
    }
    return errors;
}

SystemError Win32FileSystem::remove(PinnedFile& pinned)
{
    // The handle names the file, not the path: whatever the path names by now, only the file that was
    // overwritten goes, once its last handle closes.
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    const bool marked =
        ::SetFileInformationByHandle(pinned.file.get(), FileDispositionInfo, &disposition, sizeof disposition);
    const SystemError error = marked ? 0 : lastError();
    const SystemError closing = static_cast<SystemError>(pinned.file.close());
    return error != 0 ? error : closing;
}

// Windows has no switch for writing past the cache on an open file, nor a hint for writing back, and
// the holes of sparse files are not looked for: a full disk inside the file fails the pass.
WriteTuning* Win32FileSystem::tuning()
{
    return nullptr;
}

FileSystem& FileSystem::system()
{
    static Win32FileSystem real;
    return real;
}

namespace {
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
} // namespace

std::string PathRefusal(const NativePath& path)
{
    if (isDeviceNamespace(path)) {
        return DisplayPath(path) + ": a device path (\\\\.\\ or \\\\?\\), not a file on a drive; nothing was written";
    }
    if (namesAStream(path)) {
        return DisplayPath(path) + ": names a data stream of a file, not the file itself; nothing was written";
    }
    if (!std::filesystem::path(path).is_absolute()) {
        // A relative path would be resolved against the program's working folder, which the user
        // never sees.
        return DisplayPath(path) + ": not a full path (it must start with a drive such as C:\\ or a share such "
                                   "as \\\\server\\share); nothing was written";
    }
    return {};
}

bool IsBadBlock(SystemError error)
{
    return error == ERROR_IO_DEVICE || error == ERROR_CRC || error == ERROR_SECTOR_NOT_FOUND;
}

bool IsMissing(SystemError error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool IsOutOfRoom(SystemError error)
{
    constexpr SystemError kDiskQuotaExceeded = 1295; // ERROR_DISK_QUOTA_EXCEEDED, missing from some headers
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL || error == ERROR_FILE_TOO_LARGE ||
           error == kDiskQuotaExceeded;
}

bool IsInterrupted(SystemError)
{
    return false;
}

bool IsMisalignedWrite(SystemError)
{
    return false;
}

bool IsUnsupported(SystemError)
{
    return false;
}

// On one line and without the closing full stop, like the other parts of a failure line.
std::string ErrorText(SystemError code)
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

bool Win32FileSystem::exists(const NativePath& path)
{
    // Like lstat: a link, dangling or not, is there.
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
