// The scripted stand-in for the system's file calls.

#include "tests/fakes/ScriptedFileSystem.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <new>
#ifdef _WIN32
// clang-format off
#include <windows.h>
// clang-format on
const SystemError ScriptedFileSystem::kInterrupted = ERROR_OPERATION_ABORTED;
const SystemError ScriptedFileSystem::kInputOutput = ERROR_IO_DEVICE;
const SystemError ScriptedFileSystem::kNoRoom = ERROR_DISK_FULL;
const SystemError ScriptedFileSystem::kBusy = ERROR_SHARING_VIOLATION;
const SystemError ScriptedFileSystem::kMisaligned = ERROR_INVALID_PARAMETER;
const SystemError ScriptedFileSystem::kNotOffered = ERROR_NOT_SUPPORTED;
#else
#include <cerrno>
const SystemError ScriptedFileSystem::kInterrupted = EINTR;
const SystemError ScriptedFileSystem::kInputOutput = EIO;
const SystemError ScriptedFileSystem::kNoRoom = ENOSPC;
const SystemError ScriptedFileSystem::kBusy = EBUSY;
const SystemError ScriptedFileSystem::kMisaligned = EINVAL;
const SystemError ScriptedFileSystem::kNotOffered = ENOSYS;
#endif

std::vector<std::uint8_t> readWhole(const NativePath& path)
{
#ifdef _WIN32
    // A file the engine holds may be opened only by those who let it be deleted meanwhile.
    const HANDLE file = ::CreateFileW(path.c_str(),
                                      GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr,
                                      OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr);
    std::vector<std::uint8_t> bytes;
    if (file == INVALID_HANDLE_VALUE) {
        return bytes;
    }
    std::uint8_t chunk[65536];
    for (DWORD got = 0; ::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0;) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    ::CloseHandle(file);
    return bytes;
#else
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
#endif
}

ScriptedFileSystem::ScriptedFileSystem(FileSystem& real)
    : ForwardingFileSystem(real)
{
}

SystemError ScriptedFileSystem::pin(const NativePath& path, PinnedFile& pinned, FileFacts& facts)
{
    return altered(ForwardingFileSystem::pin(path, pinned, facts), facts);
}

SystemError ScriptedFileSystem::describePinned(const PinnedFile& pinned, FileFacts& facts)
{
    return altered(ForwardingFileSystem::describePinned(pinned, facts), facts);
}

struct FileSystemType ScriptedFileSystem::fileSystemOf(const PinnedFile& pinned)
{
    return fileSystemType.value_or(ForwardingFileSystem::fileSystemOf(pinned));
}

SystemError ScriptedFileSystem::open(const PinnedFile& pinned, OpenedFile& file)
{
    if (beforeOpen) {
        beforeOpen();
    }
    m_directOn = false;
    m_openedPaths[&file] = pinned.path;
    return openError != 0 ? openError : ForwardingFileSystem::open(pinned, file);
}

NativePath ScriptedFileSystem::pathOf(const OpenedFile& file) const
{
    const auto found = m_openedPaths.find(&file);
    return found == m_openedPaths.end() ? NativePath() : found->second;
}

SystemError ScriptedFileSystem::describe(const OpenedFile& file, FileFacts& facts)
{
    return altered(ForwardingFileSystem::describe(file, facts), facts);
}

SystemError ScriptedFileSystem::altered(SystemError error, FileFacts& facts) const
{
    if (error == 0 && alterFacts) {
        alterFacts(facts);
    }
    return error;
}

struct FileSystemType ScriptedFileSystem::fileSystemOf(const OpenedFile& file)
{
    if (openedFileType) {
        return *openedFileType;
    }
    return fileSystemType.value_or(ForwardingFileSystem::fileSystemOf(file));
}

SystemError ScriptedFileSystem::writeAt(
    OpenedFile& file, const WritePiece* pieces, int count, std::int64_t offset, std::int64_t& written)
{
    if (beforeWrite) {
        beforeWrite(offset);
    }
    std::int64_t length = 0;
    bool fromBlock = block != nullptr;
    for (int i = 0; i < count; ++i) {
        length += static_cast<std::int64_t>(pieces[i].length);
        const auto* base = static_cast<const std::uint8_t*>(pieces[i].data);
        fromBlock = fromBlock && base >= block->data() && base + pieces[i].length <= block->data() + kBlockSize;
    }
    writes.push_back({offset, length, -1, count, fromBlock, m_directOn});
    if (const NativePath path = pathOf(file); m_unflushed.insert(path).second) {
        steps.push_back("write " + DisplayPath(path));
    }
    if (interruptions > 0) {
        --interruptions;
        return kInterrupted;
    }
    if (m_directOn && ++m_directCalls == refuseDirectWrite) {
        return kMisaligned;
    }
    if (failAtOffset >= 0 && offset + length > failAtOffset && offset < failUntilOffset) {
        return kInputOutput;
    }
    if (diskFull && (!realTuning() || nextData(file, offset) != offset || offset + length > nextHole(file, offset))) {
        // Refused whole, as by a kernel that caches the file in pages larger than the part with room.
        return kNoRoom;
    }
    // Only what fits is written, as a nearly full disk does; nothing at all once it is full.
    std::int64_t allowed = std::min(length, maxPerCall);
    if (room >= 0) {
        allowed = std::min(allowed, room - offset);
    }
    if (m_directOn && m_directCalls == 1 && shortFirstDirectWrite > 0) {
        allowed = std::min(allowed, shortFirstDirectWrite);
    }
    if (allowed <= 0) {
        return kNoRoom;
    }
    std::vector<WritePiece> fitting;
    for (std::int64_t left = allowed; left > 0 && fitting.size() < static_cast<std::size_t>(count);) {
        const WritePiece& piece = pieces[fitting.size()];
        fitting.push_back({piece.data, std::min<std::size_t>(piece.length, static_cast<std::size_t>(left))});
        left -= static_cast<std::int64_t>(fitting.back().length);
    }
    SystemError error = 0;
    if (pretend) {
        written = allowed;
    } else {
        error = ForwardingFileSystem::writeAt(file, fitting.data(), static_cast<int>(fitting.size()), offset, written);
    }
    writes.back().written = error == 0 ? written : -1;
    return error;
}

SystemError ScriptedFileSystem::flush(OpenedFile& file)
{
    if (writes.empty()) {
        ++flushesBeforeWriting;
        return ForwardingFileSystem::flush(file);
    }
    ++flushes;
    const NativePath path = pathOf(file);
    steps.push_back("flush " + DisplayPath(path));
    const auto scripted = flushErrorFor.find(path);
    const SystemError error = scripted != flushErrorFor.end() ? scripted->second
                              : flushError != 0               ? flushError
                                                              : ForwardingFileSystem::flush(file);
    if (error == 0) {
        m_unflushed.erase(path);
    }
    return error;
}

SystemError ScriptedFileSystem::flushAll(OpenedFile& file)
{
    ++fullFlushes;
    return ForwardingFileSystem::flushAll(file);
}

std::optional<ExtentMap> ScriptedFileSystem::readExtents(const OpenedFile& file, bool settled)
{
    if (auto scripted = extentAnswersFor.find(pathOf(file));
        scripted != extentAnswersFor.end() && !scripted->second.empty()) {
        std::optional<ExtentMap> answer = scripted->second.front();
        scripted->second.erase(scripted->second.begin());
        return answer;
    }
    if (extentAnswers.empty()) {
        return ForwardingFileSystem::readExtents(file, settled);
    }
    std::optional<ExtentMap> answer = extentAnswers.front();
    extentAnswers.erase(extentAnswers.begin());
    return answer;
}

SystemError ScriptedFileSystem::remove(PinnedFile& pinned)
{
    contentBeforeDelete[pinned.path] = readWhole(pinned.path);
    steps.push_back("remove " + DisplayPath(pinned.path));
    removalsBeforeTheirFlush += static_cast<int>(m_unflushed.count(pinned.path));
    if (beforeDelete) {
        beforeDelete(pinned.path);
    }
    if (undeletable.count(pinned.path)) {
        return kBusy;
    }
    return ForwardingFileSystem::remove(pinned);
}

std::vector<SystemError> ScriptedFileSystem::flushRemovals(const std::vector<const PinnedFile*>& removed)
{
    removalFlushes += static_cast<int>(removed.size());
    return removalFlushError != 0 ? std::vector<SystemError>(removed.size(), removalFlushError)
                                  : ForwardingFileSystem::flushRemovals(removed);
}

int ScriptedFileSystem::directWrites() const
{
    return static_cast<int>(std::count_if(
        writes.begin(), writes.end(), [](const Write& write) { return write.direct && write.written > 0; }));
}

bool ScriptedFileSystem::preferDirect(std::int64_t bytes)
{
    return direct.value_or(ForwardingFileSystem::preferDirect(bytes));
}

SystemError ScriptedFileSystem::setDirect(OpenedFile& file, bool on)
{
    if (on && refuseDirect) {
        return kMisaligned;
    }
    const SystemError error = ForwardingFileSystem::setDirect(file, on);
    if (error == 0) {
        m_directOn = on;
    }
    return error;
}

void* ScriptedFileSystem::mapHugeBuffer(std::size_t size)
{
    if (noHugePages) {
        return nullptr;
    }
    if (void* huge = ForwardingFileSystem::mapHugeBuffer(size)) {
        return huge;
    }
    // Where the machine has no huge pages, an aligned buffer of small ones writes the same bytes.
    constexpr std::size_t kAlignment = std::size_t{2} << 20;
    m_smallPageBuffer = ::operator new (size, std::align_val_t{kAlignment});
    return m_smallPageBuffer;
}

void ScriptedFileSystem::unmapBuffer(void* buffer, std::size_t size)
{
    if (buffer == m_smallPageBuffer) {
        ::operator delete (buffer, std::align_val_t{std::size_t{2} << 20});
        m_smallPageBuffer = nullptr;
        return;
    }
    ForwardingFileSystem::unmapBuffer(buffer, size);
}

SystemError ScriptedFileSystem::startWriteback(OpenedFile& file, std::int64_t offset, std::int64_t length)
{
    ++writebacks;
    return refuseWriteback ? kNotOffered : ForwardingFileSystem::startWriteback(file, offset, length);
}
