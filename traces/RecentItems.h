#pragma once

// Windows' Recent Items: the shortcuts the shell keeps in the user's Recent folder to files opened
// from Explorer, each holding the file's name and its full path.

#include "shred/FilePath.h"
#include "shred/FileSystem.h"
#include "shred/FillBlock.h"

#include <string>
#include <vector>

// Destroys every shortcut directly in `folder` whose target is one of the `deleted` files, as the file
// was: overwritten with `block`, flushed and deleted through `files`. Only shortcuts of the user's own
// are touched; shortcuts to other files, and files that are no shortcut, are left as they are. Returns
// a line for each shortcut to a deleted file that was left, naming it and why.
std::vector<std::string> DestroyRecentShortcuts(const NativePath& folder,
                                                const std::vector<NativePath>& deleted,
                                                const FillBlock& block,
                                                FileSystem& files);

// The user's Recent folder; empty when the shell does not tell it.
NativePath RecentItemsFolder();
