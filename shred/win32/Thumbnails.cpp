// Thumbnails on Windows: the desktop keeps none that this program removes.

#include "shred/Thumbnails.h"

// Windows keeps its pictures of files in the shell's own database, which this standard does not name.
std::vector<std::string> DestroyThumbnails(const NativePath&, const FillBlock&, FileSystem&)
{
    return {};
}
