#pragma once

// The trash's record of a destroyed file. By the freedesktop.org trash rules a file in a trash's
// files/ folder has a record info/NAME.trashinfo, which holds where it was and when it was deleted,
// and the trash's directorysizes file may have a line for it.

#include "shred/FilePath.h"
#include "shred/FileSystem.h"
#include "shred/FillBlock.h"

#include <string>
#include <vector>

// The trash folder that holds the file at `path` directly in its files/ folder: the user's own in
// `dataHome` (Trash), or one at the top of another disk (.Trash-UID, or .Trash/UID); empty when
// the file lies in no trash.
std::string TrashOf(const NativePath& path, const std::string& dataHome);

// Destroys the record of each of `deleted` that lay in a trash, the way the file was destroyed, and
// removes its line from that trash's directorysizes. Only a record in the same trash, for the same
// name, is touched. Returns a line for each record that exists and was not destroyed.
std::vector<std::string> DestroyTrashRecords(const std::string& dataHome,
                                             const std::vector<NativePath>& deleted,
                                             const FillBlock& block,
                                             FileSystem& files);
