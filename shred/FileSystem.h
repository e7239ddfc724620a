#pragma once

// The seam through which the engine makes its system calls, and how an overwritten file is held for
// its deletion: each system has its own, in shred/posix or shred/win32, which the build puts on the
// include path.
#include "NativeFileSystem.h"
