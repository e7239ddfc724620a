#pragma once

// Paths in the system's own spelling, as they travel from the window to the system calls.

#include <filesystem>
#include <string>

// A path spelled the way the system takes it: a Linux file name's bytes, a Windows name's UTF-16 code
// units. Paths travel from the window to the system call in this form, so that no name is changed on
// the way, not even one that is not valid text.
using NativePath = std::filesystem::path::string_type;

// The path as UTF-8 text for the lines a run shows. On Windows a lone surrogate shows as U+FFFD; the
// path itself is never rebuilt from this text.
#ifdef _WIN32
std::string DisplayPath(const NativePath& path);
#else
inline const std::string& DisplayPath(const std::string& path)
{
    return path;
}
#endif
