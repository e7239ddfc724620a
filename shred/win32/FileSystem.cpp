#include "shred/FileSystem.h"

#include "shred/FilePath.h"
#include "shred/win32/FileHandle.h"

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

void* FileSystem::openForWriting(const NativePath& path)
{
    const HANDLE file = ::CreateFileW(path.c_str(),
                                      GENERIC_READ | GENERIC_WRITE | DELETE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr,
                                      OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

std::uint32_t
FileSystem::writeAt(void* file, const void* data, std::uint32_t length, std::uint64_t offset, std::uint32_t& written)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD done = 0;
    const BOOL ok = ::WriteFile(file, data, length, &done, &at);
    written = done;
    return ok ? 0 : ::GetLastError();
}

std::uint32_t FileSystem::flush(void* file)
{
    return ::FlushFileBuffers(file) ? 0 : ::GetLastError();
}

std::uint32_t FileSystem::describe(void* file, FileFacts& facts)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info)) {
        return ::GetLastError();
    }
    facts.attributes = info.dwFileAttributes;
    facts.links = info.nNumberOfLinks;
    facts.volume = info.dwVolumeSerialNumber;
    facts.index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    facts.length = static_cast<std::int64_t>((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
    return 0;
}

std::optional<ExtentMap> FileSystem::readExtents(void* file)
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
            return extents; // no clusters: empty, or the data lives in the file's own record
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

std::string FileSystem::fileSystemName(void* file)
{
    wchar_t name[MAX_PATH + 1] = {};
    if (!::GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, nullptr, name, MAX_PATH + 1)) {
        return {};
    }
    return DisplayPath(name);
}

bool FileSystem::isRemote(void* file)
{
    FILE_REMOTE_PROTOCOL_INFO protocol{};
    protocol.StructureVersion = 1;
    protocol.StructureSize = sizeof protocol;
    return ::GetFileInformationByHandleEx(file, FileRemoteProtocolInfo, &protocol, sizeof protocol) != 0;
}

std::uint32_t FileSystem::markForDeletion(void* file)
{
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) ? 0
                                                                                                     : ::GetLastError();
}

FileSystem& FileSystem::system()
{
    static FileSystem real;
    return real;
}
