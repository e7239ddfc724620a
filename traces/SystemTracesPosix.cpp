// The traces on Linux: thumbnails, the recent-files lists and the trash's records.

#include "traces/RecentFiles.h"
#include "traces/SystemTraces.h"
#include "traces/Thumbnails.h"
#include "traces/TraceFile.h"
#include "traces/TrashRecord.h"

std::vector<std::string>
SystemTraces::destroy(const std::vector<NativePath>& deleted, const FillBlock& block, FileSystem& files)
{
    std::vector<std::string> lines;
    const auto add = [&lines](std::vector<std::string> more) {
        lines.insert(lines.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    };
    for (const NativePath& path : deleted) {
        add(DestroyThumbnails(path, block, files));
    }
    const std::string data = XdgFolder("XDG_DATA_HOME", ".local/share");
    add(DestroyTrashRecords(data, deleted, block, files));
    add(ForgetRecentFiles(data, deleted));
    add(DestroyRecentDocuments(data, deleted, block, files));
    return lines;
}
