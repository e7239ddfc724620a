#include "tests/engine/EngineFixture.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#ifdef _WIN32
// clang-format off
#include <windows.h>
// clang-format on
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#endif

TemporaryFolder::TemporaryFolder()
{
    // A new folder with a random name: create_directory fails rather than reuse one that exists.
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = "zorvik-engine-" + std::to_string(random()) + std::to_string(random());
        if (std::filesystem::create_directory(std::filesystem::temp_directory_path() / name)) {
            m_path = std::filesystem::temp_directory_path() / name;
            std::filesystem::permissions(m_path, std::filesystem::perms::owner_all);
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TemporaryFolder::~TemporaryFolder()
{
    std::error_code ignored;
    // Tests may leave read-only folders behind: make them removable first.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_path, ignored)) {
        if (entry.is_directory(ignored) && !entry.is_symlink(ignored)) {
            std::filesystem::permissions(
                entry.path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
        }
    }
    std::filesystem::permissions(
        m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_path, ignored);
}

NativePath TemporaryFolder::makeFile(const std::filesystem::path& name, std::int64_t length, std::uint8_t fill) const
{
    const std::filesystem::path path = m_path / name;
    std::ofstream out(path, std::ios::binary);
    const std::vector<char> chunk(1 << 16, static_cast<char>(fill));
    for (std::int64_t left = length; left > 0;) {
        const auto now = std::min<std::int64_t>(left, static_cast<std::int64_t>(chunk.size()));
        out.write(chunk.data(), now);
        left -= now;
    }
    return path.native();
}

std::vector<std::uint8_t> readWhole(const std::filesystem::path& path)
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

bool exists(const std::filesystem::path& path)
{
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

#ifdef _WIN32
void* ScriptedFileSystem::openForWriting(const NativePath& path)
{
    if (beforeOpen) {
        beforeOpen();
    }
    return FileSystem::openForWriting(path);
}

std::uint32_t ScriptedFileSystem::writeAt(
    void* file, const void* data, std::uint32_t length, std::uint64_t offset, std::uint32_t& written)
{
    if (beforeWrite) {
        beforeWrite(offset);
    }
    if (room >= 0) {
        const std::int64_t allowed = std::max<std::int64_t>(0, room - static_cast<std::int64_t>(offset));
        if (allowed == 0) {
            written = 0;
            return ERROR_DISK_FULL;
        }
        length = static_cast<std::uint32_t>(std::min<std::int64_t>(length, allowed));
    }
    return FileSystem::writeAt(file, data, length, offset, written);
}

std::uint32_t ScriptedFileSystem::flush(void* file)
{
    ++flushes;
    return FileSystem::flush(file);
}

std::uint32_t ScriptedFileSystem::describe(void* file, FileFacts& facts)
{
    const std::uint32_t error = FileSystem::describe(file, facts);
    facts.attributes |= addedAttributes;
    return error;
}

std::optional<ExtentMap> ScriptedFileSystem::readExtents(void* file)
{
    if (extentAnswers.empty()) {
        return FileSystem::readExtents(file);
    }
    std::optional<ExtentMap> answer = extentAnswers.front();
    extentAnswers.erase(extentAnswers.begin());
    return answer;
}

std::string ScriptedFileSystem::fileSystemName(void* file)
{
    return volumeFileSystem.value_or(FileSystem::fileSystemName(file));
}
#else
std::string pathOf(int folder, const char* name)
{
    const std::filesystem::path folderPath = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(folder));
    return (folderPath / name).string();
}

ssize_t ScriptedFileSystem::pwritev(int fd, const iovec* vectors, int count, off_t offset)
{
    if (beforeWrite) {
        beforeWrite(offset);
    }
    std::int64_t length = 0;
    bool fromBlock = block != nullptr;
    for (int i = 0; i < count; ++i) {
        length += static_cast<std::int64_t>(vectors[i].iov_len);
        const auto* base = static_cast<const std::uint8_t*>(vectors[i].iov_base);
        fromBlock = fromBlock && base >= block->data() && base + vectors[i].iov_len <= block->data() + kBlockSize;
    }
    const bool isDirect = (::fcntl(fd, F_GETFL) & O_DIRECT) != 0;
    writes.push_back({offset, length, -1, count, fromBlock, isDirect});
    const auto refuse = [](int error) {
        errno = error;
        return ssize_t{-1};
    };
    if (interruptions > 0) {
        --interruptions;
        return refuse(EINTR);
    }
    if (isDirect && ++m_directCalls == refuseDirectWrite) {
        return refuse(EINVAL);
    }
    if (failAtOffset >= 0 && offset >= failAtOffset) {
        return refuse(EIO);
    }
    if (diskFull && (::lseek(fd, offset, SEEK_DATA) != offset || offset + length > ::lseek(fd, offset, SEEK_HOLE))) {
        // Refused whole, as by a kernel that caches the file in pages larger than the part with room.
        return refuse(ENOSPC);
    }
    // Only what fits is written, as a nearly full disk does; nothing at all once it is full.
    std::int64_t allowed = std::min(length, maxPerCall);
    if (room >= 0) {
        allowed = std::min(allowed, room - offset);
    }
    if (isDirect && m_directCalls == 1 && shortFirstDirectWrite > 0) {
        allowed = std::min(allowed, shortFirstDirectWrite);
    }
    if (allowed <= 0) {
        return refuse(ENOSPC);
    }
    std::vector<iovec> fitting;
    for (std::int64_t left = allowed; left > 0 && fitting.size() < static_cast<std::size_t>(count);) {
        const iovec& vector = vectors[fitting.size()];
        fitting.push_back({vector.iov_base, std::min<std::size_t>(vector.iov_len, static_cast<std::size_t>(left))});
        left -= static_cast<std::int64_t>(fitting.back().iov_len);
    }
    const ssize_t written = pretend ? static_cast<ssize_t>(allowed)
                                    : FileSystem::pwritev(fd, fitting.data(), static_cast<int>(fitting.size()), offset);
    writes.back().written = written;
    return written;
}

int ScriptedFileSystem::openAt(int folder, const char* name, int flags)
{
    if (beforeOpen) {
        beforeOpen();
    }
    return FileSystem::openAt(folder, name, flags);
}

int ScriptedFileSystem::startWriteback(int fd, off_t offset, off_t length)
{
    ++writebacks;
    if (refuseWriteback) {
        errno = ENOSYS;
        return -1;
    }
    return FileSystem::startWriteback(fd, offset, length);
}

int ScriptedFileSystem::fdatasync(int fd)
{
    if (writes.empty()) {
        ++flushesBeforeWriting;
        return FileSystem::fdatasync(fd);
    }
    ++flushes;
    if (flushError != 0) {
        errno = flushError;
        return -1;
    }
    return FileSystem::fdatasync(fd);
}

int ScriptedFileSystem::fsync(int fd)
{
    ++fullFlushes;
    return FileSystem::fsync(fd);
}

int ScriptedFileSystem::unlinkat(int folder, const char* name)
{
    const std::string path = pathOf(folder, name);
    contentBeforeDelete[path] = readWhole(path);
    if (undeletable.count(path)) {
        errno = EBUSY;
        return -1;
    }
    return FileSystem::unlinkat(folder, name);
}

int ScriptedFileSystem::directWrites() const
{
    return static_cast<int>(std::count_if(
        writes.begin(), writes.end(), [](const Write& write) { return write.direct && write.written > 0; }));
}

bool ScriptedFileSystem::preferDirect(std::int64_t bytes)
{
    return direct.value_or(FileSystem::preferDirect(bytes));
}

int ScriptedFileSystem::setDirect(int fd, bool on)
{
    if (on && refuseDirect) {
        errno = EINVAL;
        return -1;
    }
    return FileSystem::setDirect(fd, on);
}

void* ScriptedFileSystem::mapHugeBuffer(std::size_t size)
{
    if (noHugePages) {
        return nullptr;
    }
    if (void* huge = FileSystem::mapHugeBuffer(size)) {
        return huge;
    }
    // Where the machine has no huge pages, an aligned buffer of small ones writes the same bytes.
    constexpr std::size_t kAlignment = std::size_t{2} << 20;
    m_smallPageBuffer = std::aligned_alloc(kAlignment, (size + kAlignment - 1) / kAlignment * kAlignment);
    return m_smallPageBuffer;
}

void ScriptedFileSystem::unmapBuffer(void* buffer, std::size_t size)
{
    if (buffer == m_smallPageBuffer) {
        std::free(buffer);
        m_smallPageBuffer = nullptr;
        return;
    }
    FileSystem::unmapBuffer(buffer, size);
}

int ScriptedFileSystem::fstatfs(int fd, struct statfs* status)
{
    const int result = FileSystem::fstatfs(fd, status);
    struct stat file
    {
    };
    const bool isFile = ::fstat(fd, &file) == 0 && S_ISREG(file.st_mode);
    if (result == 0 && (fileSystemMagic || (isFile && fileMagic))) {
        status->f_type = static_cast<decltype(status->f_type)>(isFile && fileMagic ? *fileMagic : *fileSystemMagic);
    }
    return result;
}

std::optional<ExtentMap> ScriptedFileSystem::readExtents(int fd, bool settled)
{
    if (extentAnswers.empty()) {
        return FileSystem::readExtents(fd, settled);
    }
    std::optional<ExtentMap> answer = extentAnswers.front();
    extentAnswers.erase(extentAnswers.begin());
    return answer;
}

#endif

std::vector<std::string> RecordingDisplay::stepTexts() const
{
    std::vector<std::string> texts;
    for (const Update& update : updates) {
        if (update.activity.rfind("Shredding: ", 0) == 0 && !update.mustShow) {
            texts.push_back(update.percentText);
        }
    }
    return texts;
}

void RecordingView::tell(Notice notice)
{
    events.push_back(notice == Notice::SelectFile    ? "tell: select a file"
                     : notice == Notice::SelectFiles ? "tell: select files"
                                                     : "tell: invalid file");
}

bool RecordingView::confirmShred()
{
    events.push_back("confirm");
    return answerYes;
}

void RecordingView::warn(const std::string& text)
{
    events.push_back("warn: " + text);
}

void RecordingView::reportShredded(const std::string& text)
{
    events.push_back("report: " + text);
}

void RecordingView::clearPath()
{
    events.push_back("clear path");
}

std::vector<ShredView::ListEntry> RecordingView::listEntries()
{
    return list;
}

void RecordingView::refillList(const std::vector<ChosenFile>& files)
{
    events.push_back("refill list");
    list.clear();
    for (const ChosenFile& file : files) {
        list.push_back({file.path, false, file.identity});
    }
}

void RecordingView::reportBatchShredded(int count)
{
    events.push_back("report: " + std::to_string(count) + " shredded");
}

void overwrite(EngineRun& run, const NativePath& path, const FillBlock& block, FileSystem& files)
{
    run.progress.StartProgress();
    run.progress.setMaximum(static_cast<std::int64_t>(std::filesystem::file_size(path)) + kBlockSize);
    run.result = OverwriteFile(path, block, run.progress, files);
}

bool allBytesAre(const std::vector<std::uint8_t>& bytes, std::uint8_t value)
{
    return std::all_of(bytes.begin(), bytes.end(), [value](std::uint8_t b) { return b == value; });
}

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
