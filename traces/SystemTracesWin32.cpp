// The traces on Windows: none that this program removes yet. Windows keeps its pictures of files in
// the shell's own database, and its Recent Items are shortcuts that name the file.

#include "traces/SystemTraces.h"

std::vector<std::string> SystemTraces::destroy(const std::vector<NativePath>&, const FillBlock&, FileSystem&)
{
    return {};
}
