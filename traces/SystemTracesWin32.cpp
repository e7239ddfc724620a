// The traces on Windows: the shortcuts in Recent Items. Windows keeps its pictures of files in the
// shell's own database, which holds no name.

#include "traces/RecentItems.h"
#include "traces/SystemTraces.h"

std::vector<std::string>
SystemTraces::destroy(const std::vector<DeletedFile>& deleted, const FillBlock& block, FileSystem& files)
{
    const NativePath recent = RecentItemsFolder();
    std::vector<NativePath> paths;
    for (const DeletedFile& file : deleted) {
        paths.push_back(file.path);
    }
    return recent.empty() ? std::vector<std::string>{} : DestroyRecentShortcuts(recent, paths, block, files);
}
