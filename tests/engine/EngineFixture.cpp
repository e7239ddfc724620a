#include "tests/engine/EngineFixture.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/vfs.h>

TemporaryFolder::TemporaryFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "zorvik-engine-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    m_path = pattern;
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

std::string TemporaryFolder::makeFile(const std::string& name, std::int64_t length, std::uint8_t fill) const
{
    const std::string path = (m_path / name).string();
    std::ofstream out(path, std::ios::binary);
    const std::vector<char> chunk(1 << 16, static_cast<char>(fill));
    for (std::int64_t left = length; left > 0;) {
        const auto now = std::min<std::int64_t>(left, static_cast<std::int64_t>(chunk.size()));
        out.write(chunk.data(), now);
        left -= now;
    }
    return path;
}

std::vector<std::uint8_t> readWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string pathOf(int folder, const char* name)
{
    const std::filesystem::path folderPath = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(folder));
    return (folderPath / name).string();
}

bool exists(const std::string& path)
{
    struct stat status
    {
    };
    return ::lstat(path.c_str(), &status) == 0;
}

ssize_t ScriptedFileSystem::pwritev(int fd, const iovec* vectors, int count, off_t offset)
{
    if (beforeWrite) {
        beforeWrite(offset);
    }
    std::int64_t length = 0;
    for (int i = 0; i < count; ++i) {
        length += static_cast<std::int64_t>(vectors[i].iov_len);
    }
    const bool isDirect = (::fcntl(fd, F_GETFL) & O_DIRECT) != 0;
    if (isDirect && ++m_directCalls == refuseDirectWrite) {
        errno = EINVAL;
        return -1;
    }
    writes.push_back({offset, length, isDirect});
    return FileSystem::pwritev(fd, vectors, count, offset);
}

int ScriptedFileSystem::directWrites() const
{
    return static_cast<int>(
        std::count_if(writes.begin(), writes.end(), [](const Write& write) { return write.direct; }));
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
    if (result == 0 && fileSystemMagic) {
        status->f_type = static_cast<decltype(status->f_type)>(*fileSystemMagic);
    }
    return result;
}

std::optional<ExtentMap> ScriptedFileSystem::readExtents(int fd)
{
    if (extentAnswers.empty()) {
        return FileSystem::readExtents(fd);
    }
    std::optional<ExtentMap> answer = extentAnswers.front();
    extentAnswers.erase(extentAnswers.begin());
    return answer;
}

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
