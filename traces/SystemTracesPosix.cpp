// The traces on Linux: thumbnails, the recent-files lists and the trash's records.

#include "traces/ActivityStores.h"
#include "traces/DeletedNames.h"
#include "traces/RecentFiles.h"
#include "traces/SystemTraces.h"
#include "traces/Thumbnails.h"
#include "traces/TraceFile.h"
#include "traces/TrashRecord.h"

namespace {
// How long the activity logs and search indexes may take, all together, after a run.
constexpr std::chrono::seconds kActivityStoresTime(5);
} // namespace

std::vector<std::string>
SystemTraces::destroy(const std::vector<DeletedFile>& deleted, const FillBlock& block, FileSystem& files)
{
    std::vector<std::string> lines;
    const auto add = [&lines](std::vector<std::string> more) {
        lines.insert(lines.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    };
    const std::string data = XdgFolder("XDG_DATA_HOME", ".local/share");
    SystemTraceFiles traceFiles(block, files);
    // Each file's names are worked out before anything of the trash goes: its record tells the path it
    // had before.
    std::vector<DeletedNames> names;
    for (const DeletedFile& file : deleted) {
        names.push_back(NameDeletedFile(file, data, traceFiles));
    }
    for (const DeletedNames& file : names) {
        add(DestroyThumbnails(file, traceFiles));
    }
    add(DestroyTrashRecords(names, traceFiles));
    add(ForgetRecentFiles(data, names, traceFiles));
    add(DestroyRecentDocuments(data, names, traceFiles));
    // Last, as the logs and indexes may have copied what the lists named; a few seconds at the most.
    SessionBus bus(SessionBus::Clock::now() + kActivityStoresTime);
    add(ForgetInActivityStores(bus, data, names));
    return lines;
}
