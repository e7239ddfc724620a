#pragma once

// The desktop's pictures of a file. File managers keep one for every photo, video and document they
// have shown, by the freedesktop Thumbnail Managing Standard: in the user's cache, and in a folder's
// shared repository, each named by the MD5 of the file's URI. The largest is close to the whole
// picture, so a shredded file's thumbnails are destroyed with it.

#include "shred/FilePath.h"
#include "shred/FileSystem.h"
#include "shred/FillBlock.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The URI file managers hash for the file at the absolute `path` (its bytes, UTF-8 or not):
// "file://" and the path escaped as GLib escapes it. Bytes that are letters, digits or one of
// -._~!$&'()*+,=:@/ stay; every other becomes %XX.
std::string ThumbnailUri(const std::string& path);
// The same URI in the form Qt's QUrl::toEncoded gives, which KDE programs hash: it keeps ; [ and ].
std::string QtThumbnailUri(const std::string& path);
// The URI of a file named `name` in its folder's shared repository: "./" and the escaped name.
std::string SharedThumbnailUri(const std::string& name);
// The thumbnail's file name for a URI: the MD5 of the URI in lower-case hex, and ".png".
std::string ThumbnailName(const std::string& uri);
// The URI a thumbnail says it shows (its Thumb::URI text), if it says one.
std::optional<std::string> UriShownBy(const std::vector<std::uint8_t>& png);

struct DeletedNames;
class TraceFiles;

// Destroys the thumbnails of the deleted file under every name it had, as the file itself was destroyed: each is
// overwritten in place with `block`, flushed and deleted. Only regular files with one name that the user owns are
// touched, reached without following a link at their names; one whose Thumb::URI names another file
// is not this file's and stays. Nothing is created, and a missing cache is no error. Returns a line
// for each thumbnail that exists but was not destroyed, naming it and why.
std::vector<std::string> DestroyThumbnails(const DeletedNames& deleted, TraceFiles& files);
