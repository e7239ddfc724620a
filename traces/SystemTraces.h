#pragma once

// What the running system's desktop keeps of a destroyed file, destroyed after each run. On Linux: its
// thumbnails, its entries in the recent-files lists of GTK and KDE programs, and its record in the
// trash; on Windows, its shortcuts in Recent Items.

#include "shred/DesktopTraces.h"

class SystemTraces final : public DesktopTraces
{
public:
    std::vector<std::string>
    destroy(const std::vector<DeletedFile>& deleted, const FillBlock& block, FileSystem& files) override;
};
