#pragma once

// The recent-files lists that name a destroyed file. GTK programs record every file they open in
// $XDG_DATA_HOME/recently-used.xbel, an XBEL bookmark file shared by every running GTK program; KDE
// programs write one RecentDocuments/<name>.desktop file for each, whose URL line names it.

#include "shred/FilePath.h"
#include "shred/FileSystem.h"
#include "shred/FillBlock.h"

#include <functional>
#include <string>
#include <vector>

// Removes every bookmark whose URI, unescaped, names one of `deleted` from the GTK list in `dataHome`.
// Every other bookmark keeps all it holds; the list is replaced at once, with its mode, and read again
// when another program changed it meanwhile. A list that cannot be read as one is left as it is. Nothing
// is created where nothing was. Returns a line for each list that names a file and was not rewritten.
// `meanwhile` runs between each reading and the writing, where another program may write the list.
std::vector<std::string> ForgetRecentFiles(const std::string& dataHome,
                                           const std::vector<NativePath>& deleted,
                                           const std::function<void()>& meanwhile = nullptr);

// Destroys the KDE entries in `dataHome`/RecentDocuments whose URL names one of `deleted`, the way the
// file was destroyed. Returns a line for each entry that names one and was not destroyed.
std::vector<std::string> DestroyRecentDocuments(const std::string& dataHome,
                                                const std::vector<NativePath>& deleted,
                                                const FillBlock& block,
                                                FileSystem& files);

// The local path a file URI names, unescaped, in either GLib's or Qt's escaping; empty for anything
// else.
std::string PathOfFileUri(const std::string& uri);
