#pragma once

// What each system decides for itself beside the shared engine table: its words for a full disk, a
// link and a path that is not whole, and a name that is not plain text. Each system's file
// (posix/EngineCasesPosix.cpp, win32/EngineCasesWin32.cpp) defines them beside its own cases.

#include "shred/OverwriteEngine.h"

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

extern const SystemError kNoSpace;
extern const std::string kLinkKind;
extern const std::string kNotFullPath; // after the path
// A name that reaches the system exactly as the desktop spelled it, though it is not plain text: bytes
// that are not UTF-8 on Linux, a pair of surrogates on Windows. (Wine cannot store a lone surrogate.)
extern const std::filesystem::path kNotPlainText;

// The path as the failure lines show it.
inline std::string shown(const std::filesystem::path& path)
{
    return DisplayPath(path.native());
}

// Each file is refused with its line, before a byte is written, by the overwrite and by the measuring.
void ExpectRefusedUnwritten(const std::vector<std::pair<ChosenFile, std::string>>& cases);

// Takes the owner's right to write the file away (on Windows also marks it hidden and a system file).
bool MarkReadOnly(const NativePath& path);
// Whether the file still says the owner may not write it, as MarkReadOnly left it.
bool MarkedReadOnly(const NativePath& path);
// Checks that the run made the file writable where the system needed that for it to be written.
void ExpectMadeWritable(const NativePath& path);

// What a second RemoveFile of the file at `path`, already deleted, says.
std::string RemovedAgain(const NativePath& path);
// Renames `newcomer`, 20 bytes of 0x77, over the file `overwritten` is about to delete, and checks
// what the system lets happen: on Linux the newcomer is left alone, neither overwritten nor deleted;
// on Windows the run holds its file against replacement and deletes it through its handle.
void ExpectRenamedOverDuringTheRun(OverwriteResult& overwritten, const NativePath& newcomer);

// A change at the chosen name between the inspection and the open, and the failure line after the path.
struct ChangeBeforeOpen
{
    const char* name;
    std::function<void()> change;
    std::string failure;
};
// The changes whose outcome only this system's pin decides (on Windows a moved file is written where it
// lies), or only this system lets a test make (Wine before version 9 only pretends to make links).
std::vector<ChangeBeforeOpen> SystemChangesBeforeOpen(const std::filesystem::path& chosen, const NativePath& other);
