#pragma once

// Paths between Qt and the engine, keeping every name's exact bytes or code units. Each system spells
// them in its own file, NativePathsPosix.cpp or NativePathsWin32.cpp.

#include "shred/FilePath.h"

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QUrl>

#include <string>

// Paths between Qt and the engine, unchanged either way: a Linux file name's own bytes, which need
// not be valid text, and a Windows name's UTF-16 code units, which may hold a lone surrogate. The
// file list keeps each path in a QByteArray of exactly those bytes or units.
namespace NativePaths {

// A path typed into the path box or picked in the open-file dialog, and whether it names one file: a
// name shown with U+FFFD for bytes that are not text stands for the one entry of its folder that
// shows that way, and for none when no entry or several do.
struct TextPath
{
    NativePath path;
    bool unique = true;
};
TextPath fromText(const QString& path);
// A path the list keeps, and back.
NativePath fromHeld(const QByteArray& held);
QByteArray held(const NativePath& path);
// The local file a dropped URL names, as the list keeps it; empty for anything else, a file URL
// included whose path is not this computer's or decodes to other names than it spells.
QByteArray heldFromUrl(const QUrl& url);
// A path as the windows show it.
QString shown(const NativePath& path);
// A line the engine wrote, paths in it included.
QString engineLine(const std::string& line);

// Whether the URL's path decodes to the names it spells: an encoded NUL would cut a name short in the
// system call, and an encoded separator (one of `separators`) would split one name into folders, so
// either makes the path another file than the one the URL names.
bool DecodesToItsOwnNames(const QUrl& url, QStringView separators);

} // namespace NativePaths
