// The traces on Windows: the shortcuts in Recent Items. Windows keeps its pictures of files in the
// shell's own database, which holds no name.

#include "traces/RecentItems.h"
#include "traces/SystemTraces.h"

std::vector<std::string>
SystemTraces::destroy(const std::vector<NativePath>& deleted, const FillBlock& block, FileSystem& files)
{
    const NativePath recent = RecentItemsFolder();
    return recent.empty() ? std::vector<std::string>{} : DestroyRecentShortcuts(recent, deleted, block, files);
}
