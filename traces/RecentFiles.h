#pragma once

// The recent-files lists that name a destroyed file. GTK programs record every file they open in
// $XDG_DATA_HOME/recently-used.xbel, an XBEL bookmark file shared by every running GTK program; KDE
// programs write one RecentDocuments/<name>.desktop file for each, whose URL line names it.

#include "traces/DeletedNames.h"
#include "traces/TraceFile.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Removes every bookmark that names one of `deleted` from the GTK list in `dataHome`, by cutting its
// element out of the text: every other byte stays as it was. The list is replaced at once, with its
// mode, and read again when another program changed it meanwhile. A list that cannot be read as one,
// or that has other names, is left as it is. Nothing is created where nothing was. Returns a line for
// each list that could not be checked, or names a file and was not rewritten.
std::vector<std::string>
ForgetRecentFiles(const std::string& dataHome, const std::vector<DeletedNames>& deleted, TraceFiles& files);

// Destroys the KDE entries in `dataHome`/RecentDocuments whose URL names one of `deleted`, the way the
// file was destroyed. Returns a line for each entry that names one and was not destroyed.
std::vector<std::string>
DestroyRecentDocuments(const std::string& dataHome, const std::vector<DeletedNames>& deleted, TraceFiles& files);

// The local path a file URI names, unescaped, in either GLib's or Qt's escaping; empty for anything
// else, a file on another computer included.
std::string PathOfFileUri(const std::string& uri);

// The URL of a KDE entry as KConfig reads it: the URL key of its [Desktop Entry] group, KConfig's
// escapes undone and, for a key marked [$e], the environment's variables expanded and "$$" made "$".
// Nothing when it has none, or asks for a command's output.
std::optional<std::string> UrlOfEntry(const std::string& text);

// The local path a KDE entry's URL names: "file:" and a path, "file://" and a URI, or a bare path;
// empty for anything else.
std::string PathOfEntryUrl(const std::string& url);

// `xbel` without the <bookmark> elements whose href (its entities undone) passes `take`, each with the
// line it stood on when it stood alone there; every other byte kept. `removed` gets their hrefs.
// Nothing when the markup cannot be followed to its end.
std::optional<std::string> WithoutBookmarks(const std::string& xbel,
                                            const std::function<bool(const std::string&)>& take,
                                            std::vector<std::string>& removed);
