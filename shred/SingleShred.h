#pragma once

#include "shred/FileSystem.h"
#include "shred/ShredMode.h"

#include <string>

class RunProgress;
class ShredView;

// The single-file shred behind the Shred! button: checks the path, asks for confirmation, overwrites
// the file, flushes, deletes it and reports. Every failing step is reported with the file, the step
// and the reason, and the file is never called shredded unless it was overwritten, flushed and
// deleted. Returns true when it was.
bool shredSingleFile(const std::string& path,
                     ShredMode mode,
                     ShredView& view,
                     RunProgress& progress,
                     FileSystem& files = FileSystem::system());
