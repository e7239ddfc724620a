// The engine suites' fixture: temporary folders, a recording progress display and view.

#include "tests/engine/EngineFixture.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>

namespace {
// Where another user's step can reach its folder: the temporary folder, unless a folder on its way is
// closed to others (a session's private one), and then the shared one every system has.
std::filesystem::path baseFolder(TemporaryFolder::Reach reach)
{
    const std::filesystem::path temporary = std::filesystem::temp_directory_path();
    if (reach == TemporaryFolder::Reach::Owner) {
        return temporary;
    }
    for (std::filesystem::path folder = temporary; folder != folder.root_path(); folder = folder.parent_path()) {
        std::error_code error;
        const auto permissions = std::filesystem::status(folder, error).permissions();
        if (error || (permissions & std::filesystem::perms::others_exec) == std::filesystem::perms::none) {
            return "/tmp";
        }
    }
    return temporary;
}
} // namespace

TemporaryFolder::TemporaryFolder(Reach reach)
{
    // A new folder with a random name: create_directory fails rather than reuse one that exists.
    std::random_device random;
    const std::filesystem::path base = baseFolder(reach);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = "zorvik-engine-" + std::to_string(random()) + std::to_string(random());
        if (std::filesystem::create_directory(base / name)) {
            m_path = base / name;
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

bool exists(const std::filesystem::path& path)
{
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
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

std::vector<ListedFile> RecordingView::listEntries()
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

std::vector<std::string>
RecordingTraces::destroy(const std::vector<DeletedFile>& deleted, const FillBlock&, FileSystem&)
{
    std::vector<NativePath> paths;
    for (const DeletedFile& file : deleted) {
        paths.push_back(file.path);
    }
    runs.push_back(paths);
    return {};
}
