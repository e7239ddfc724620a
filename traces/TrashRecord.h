#pragma once

// The trash's record of a destroyed file. By the freedesktop.org trash rules a file in a trash's
// files/ folder has a record info/NAME.trashinfo, which holds where it was and when it was deleted,
// and the trash's directorysizes file may have a line for it.

#include "traces/DeletedNames.h"
#include "traces/TraceFile.h"

#include <string>
#include <vector>

// Destroys the record of each of `deleted` that was an entry of a trash's files/ folder, the way the
// file was destroyed, in the trash it was found in, and removes its line from that trash's
// directorysizes. A file inside a trashed folder leaves the folder's record. Returns a line for each
// record that exists and was not destroyed.
std::vector<std::string> DestroyTrashRecords(const std::vector<DeletedNames>& deleted, TraceFiles& files);
