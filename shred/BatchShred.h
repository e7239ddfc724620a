#pragma once

// The batch shred behind the B-Shred! button.

#include "shred/FileSystem.h"
#include "shred/ShredMode.h"

class DesktopTraces;
class RunProgress;
class ShredView;

// The batch shred behind the B-Shred! button: every checked entry of the list, in list order, is
// overwritten, flushed and deleted under one progress bar. A file that cannot be measured stops the
// run before the confirmation, with nothing written. A file that fails later does not stop the run:
// the count names only the files really shredded, a warning lists each failure and each file whose old
// contents may survive on the disk, and failed files that still exist go back into the list. Only the
// files dropped on the list are ever written or deleted, and then what the desktop keeps of them
// (`traces`). Returns the number of files shredded.
int shredCheckedFiles(ShredMode mode, ShredView& view, RunProgress& progress, FileSystem& files, DesktopTraces& traces);
