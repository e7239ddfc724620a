#pragma once

// The single-file shred behind the Shred! button.

#include "shred/FileSystem.h"
#include "shred/OverwriteEngine.h"
#include "shred/ShredMode.h"

#include <string>

class DesktopTraces;
class RunProgress;
class ShredView;

// The single-file shred behind the Shred! button: checks the path, asks for confirmation, overwrites
// the file, flushes, deletes it and reports. Every failing step is reported with the file, the step
// and the reason, and the file is never called shredded unless it was overwritten in place, flushed
// and deleted: a file whose old blocks may survive is deleted all the same, with a warning that says
// why. Only the chosen file is ever written or deleted, and then what the desktop keeps of it (`traces`).
// Returns true when it was shredded.
bool shredSingleFile(const ChosenFile& file,
                     ShredMode mode,
                     ShredView& view,
                     RunProgress& progress,
                     FileSystem& files,
                     DesktopTraces& traces);
