// The recent-files lists of GTK (bookmarks cut out of the text, checked with GLib's own reader) and of
// KDE (entries read as KConfig reads them).

#include "traces/RecentFiles.h"

#include "shred/posix/FileDescriptor.h"
#include "traces/TraceFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {
struct GFreeDeleter
{
    void operator()(void* memory) const
    {
        g_free(memory);
    }
};
using GString_ = std::unique_ptr<char, GFreeDeleter>;
using BookmarkFile = std::unique_ptr<GBookmarkFile, decltype(&g_bookmark_file_free)>;

// The URIs GLib's own reader finds in a list, or why it cannot read it.
struct ReadBookmarks
{
    std::multiset<std::string> uris;
    std::string error;
};

ReadBookmarks readBookmarks(const std::string& text)
{
    ReadBookmarks read;
    BookmarkFile bookmarks(g_bookmark_file_new(), &g_bookmark_file_free);
    GError* error = nullptr;
    if (!g_bookmark_file_load_from_data(bookmarks.get(), text.data(), text.size(), &error)) {
        read.error = error ? error->message : "unknown error";
        g_clear_error(&error);
        return read;
    }
    gsize count = 0;
    gchar** uris = g_bookmark_file_get_uris(bookmarks.get(), &count);
    for (gsize i = 0; i < count; ++i) {
        read.uris.insert(uris[i]);
    }
    g_strfreev(uris);
    return read;
}

// XML's entities in an attribute's value undone; nothing for one this reader does not know.
std::optional<std::string> unescapedXml(const std::string& value)
{
    std::string text;
    for (std::size_t at = 0; at < value.size(); ++at) {
        if (value[at] != '&') {
            text += value[at];
            continue;
        }
        const std::size_t end = value.find(';', at);
        if (end == std::string::npos) {
            return std::nullopt;
        }
        const std::string entity = value.substr(at + 1, end - at - 1);
        static const std::pair<const char*, char> kNamed[] = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        const auto named =
            std::find_if(std::begin(kNamed), std::end(kNamed), [&](const auto& pair) { return entity == pair.first; });
        if (named != std::end(kNamed)) {
            text += named->second;
        } else if (entity.size() > 1 && entity[0] == '#') {
            const bool hex = entity[1] == 'x';
            char* rest = nullptr;
            const unsigned long code = std::strtoul(entity.c_str() + (hex ? 2 : 1), &rest, hex ? 16 : 10);
            if (!rest || *rest != '\0' || code == 0 || code > 0x10FFFF) {
                return std::nullopt;
            }
            char utf8[6] = {};
            text.append(utf8, static_cast<std::size_t>(g_unichar_to_utf8(static_cast<gunichar>(code), utf8)));
        } else {
            return std::nullopt;
        }
        at = end;
    }
    return text;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A list as it is now: its bytes and its status, or why it cannot be read.
struct ListNow
{
    OwnedFile file;
    std::optional<std::string> text;
};

ListNow readList(TraceFiles& files, int folder, const std::string& name)
{
    ListNow now{files.openOwned(folder, name), std::nullopt};
    if (now.file.opened() && !(now.text = ReadAll(now.file.fd.get()))) {
        now.file.refused = std::string("it cannot be read: ") + std::strerror(errno);
    }
    return now;
}

// The percent-escapes of a URI's path undone.
std::string percentDecoded(const std::string& text)
{
    const GString_ decoded(g_uri_unescape_string(text.c_str(), nullptr));
    return decoded ? std::string(decoded.get()) : std::string();
}

bool isLocalHost(const std::string& host)
{
    return host.empty() || g_ascii_strcasecmp(host.c_str(), "localhost") == 0;
}
} // namespace

std::string PathOfFileUri(const std::string& uri)
{
    gchar* host = nullptr;
    const GString_ path(g_filename_from_uri(uri.c_str(), &host, nullptr));
    const GString_ hostHeld(host);
    return path && isLocalHost(host ? host : "") ? std::string(path.get()) : std::string();
}

std::optional<std::string> WithoutBookmarks(const std::string& xbel,
                                            const std::function<bool(const std::string&)>& take,
                                            std::vector<std::string>& removed)
{
    std::vector<std::pair<std::size_t, std::size_t>> cuts;
    std::size_t openAt = std::string::npos; // where the bookmark being read began
    bool taken = false;
    std::size_t at = 0;
    while ((at = xbel.find('<', at)) != std::string::npos) {
        // Markup that holds no element is passed over whole.
        static constexpr std::pair<const char*, const char*> kPassed[] = {
            {"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}};
        const auto passed = std::find_if(std::begin(kPassed), std::end(kPassed), [&](const auto& markup) {
            return xbel.compare(at, std::strlen(markup.first), markup.first) == 0;
        });
        if (passed != std::end(kPassed)) {
            const std::size_t end = xbel.find(passed->second, at + std::strlen(passed->first));
            if (end == std::string::npos) {
                return std::nullopt;
            }
            at = end + std::strlen(passed->second);
            continue;
        }
        if (xbel.compare(at, 2, "<!") == 0) { // a document type: its internal subset in brackets
            const std::size_t bracket = xbel.find('[', at);
            const std::size_t close = xbel.find('>', at);
            const std::size_t end = bracket < close ? xbel.find("]>", bracket) : close;
            if (end == std::string::npos) {
                return std::nullopt;
            }
            at = xbel.find('>', end) + 1;
            continue;
        }
        const bool closingTag = xbel.compare(at, 2, "</") == 0;
        std::size_t cursor = at + (closingTag ? 2 : 1);
        std::size_t nameEnd = cursor;
        while (nameEnd < xbel.size() && !isSpace(xbel[nameEnd]) && xbel[nameEnd] != '/' && xbel[nameEnd] != '>') {
            ++nameEnd;
        }
        const std::string element = xbel.substr(cursor, nameEnd - cursor);
        // The attributes, to the tag's end; a quoted value may hold a '>'.
        std::optional<std::string> href;
        cursor = nameEnd;
        bool selfClosing = false;
        for (;;) {
            while (cursor < xbel.size() && isSpace(xbel[cursor])) {
                ++cursor;
            }
            if (cursor >= xbel.size()) {
                return std::nullopt;
            }
            if (xbel[cursor] == '>') {
                break;
            }
            if (xbel.compare(cursor, 2, "/>") == 0) {
                selfClosing = true;
                ++cursor;
                break;
            }
            const std::size_t equals = xbel.find('=', cursor);
            if (equals == std::string::npos) {
                return std::nullopt;
            }
            std::string attribute = xbel.substr(cursor, equals - cursor);
            while (!attribute.empty() && isSpace(attribute.back())) {
                attribute.pop_back();
            }
            std::size_t quote = equals + 1;
            while (quote < xbel.size() && isSpace(xbel[quote])) {
                ++quote;
            }
            if (quote >= xbel.size() || (xbel[quote] != '"' && xbel[quote] != '\'')) {
                return std::nullopt;
            }
            const std::size_t valueEnd = xbel.find(xbel[quote], quote + 1);
            if (valueEnd == std::string::npos) {
                return std::nullopt;
            }
            if (attribute == "href") {
                href = unescapedXml(xbel.substr(quote + 1, valueEnd - quote - 1));
                if (!href) {
                    return std::nullopt;
                }
            }
            cursor = valueEnd + 1;
        }
        const std::size_t tagEnd = cursor + 1;
        if (element == "bookmark" && !closingTag && openAt == std::string::npos) {
            openAt = at;
            taken = href && take(*href);
            if (taken) {
                removed.push_back(*href);
            }
        }
        if (element == "bookmark" && openAt != std::string::npos && (closingTag || selfClosing)) {
            if (taken) {
                cuts.push_back({openAt, tagEnd});
            }
            openAt = std::string::npos;
        }
        at = tagEnd;
    }
    if (openAt != std::string::npos) {
        return std::nullopt;
    }
    std::string kept;
    std::size_t from = 0;
    for (auto [start, end] : cuts) {
        // A bookmark alone on its lines takes them with it: its indent and its line's end.
        std::size_t lineStart = start;
        while (lineStart > from && (xbel[lineStart - 1] == ' ' || xbel[lineStart - 1] == '\t')) {
            --lineStart;
        }
        std::size_t lineEnd = end;
        while (lineEnd < xbel.size() && (xbel[lineEnd] == ' ' || xbel[lineEnd] == '\t' || xbel[lineEnd] == '\r')) {
            ++lineEnd;
        }
        if ((lineStart == 0 || xbel[lineStart - 1] == '\n') && lineEnd < xbel.size() && xbel[lineEnd] == '\n') {
            start = lineStart;
            end = lineEnd + 1;
        }
        kept.append(xbel, from, start - from);
        from = end;
    }
    kept.append(xbel, from, std::string::npos);
    return kept;
}

std::vector<std::string>
ForgetRecentFiles(const std::string& dataHome, const std::vector<DeletedNames>& deleted, TraceFiles& files)
{
    if (dataHome.empty() || deleted.empty()) {
        return {};
    }
    const std::string name = "recently-used.xbel";
    const std::string path = dataHome + (dataHome.back() == '/' ? "" : "/") + name;
    const std::string unchecked = "The list of recent files " + path + " could not be checked: ";
    const std::string named = "The list of recent files " + path + " still names a shredded file: ";
    const FileDescriptor folder(::open(dataHome.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DeletedMatcher matcher(deleted);
    for (int attempt = 0; attempt < kReplaceAttempts; ++attempt) {
        const ListNow list = readList(files, folder.get(), name);
        if (!list.file.refused.empty()) {
            return {unchecked + list.file.refused};
        }
        if (!list.text) {
            return {}; // none: nothing is made
        }
        const ReadBookmarks before = readBookmarks(*list.text);
        if (!before.error.empty()) {
            // Unreadable as a whole: nothing can be told of what it names, and it is not touched.
            return {unchecked + "it cannot be read as a list (" + before.error + "); it was left as it is"};
        }
        std::vector<std::string> removed;
        const std::optional<std::string> text = WithoutBookmarks(
            *list.text, [&](const std::string& uri) { return matcher.names(PathOfFileUri(uri)); }, removed);
        if (text && removed.empty()) {
            return {};
        }
        // What is left must be what GLib reads, less exactly the bookmarks taken out.
        std::multiset<std::string> expected = before.uris;
        for (const std::string& uri : removed) {
            if (const auto one = expected.find(uri); one != expected.end()) {
                expected.erase(one);
            }
        }
        if (!text || readBookmarks(*text).uris != expected) {
            return {named + "its markup could not be followed without changing other bookmarks; it was left as it is"};
        }
        if (list.file.status.st_nlink > 1) {
            return {named +
                    "it has other names (hard links), which a rewrite would part from it; it was left as it is"};
        }
        const int replaced = files.replace(folder.get(), name, *text, list.file.status, *list.text);
        if (replaced == 0) {
            return {};
        }
        if (replaced > 0) {
            return {named + "it could not be replaced: " + std::strerror(replaced)};
        }
    }
    return {named + "another program kept changing it"};
}

std::optional<std::string> UrlOfEntry(const std::string& text)
{
    bool inEntry = false;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string line = text.substr(at, end - at);
        at = end + 1;
        const auto first = line.find_first_not_of(" \t");
        line.erase(0, first == std::string::npos ? line.size() : first);
        if (!line.empty() && line.front() == '[' && line.rfind("[$", 0) != 0) {
            inEntry = line.substr(0, line.find(']') + 1) == "[Desktop Entry]";
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inEntry || line.rfind("URL", 0) != 0 || equals == std::string::npos) {
            continue;
        }
        std::string key = line.substr(0, equals);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) {
            key.pop_back();
        }
        // "URL", or "URL[$e]" and the like: KConfig's options in brackets after a dollar sign.
        if (key != "URL" && !(key.rfind("URL[$", 0) == 0 && key.back() == ']')) {
            continue;
        }
        const bool expand = key.find('e', 3) != std::string::npos;
        std::string raw = line.substr(equals + 1);
        raw.erase(0, std::min(raw.find_first_not_of(" \t"), raw.size()));
        while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\t' || raw.back() == '\r')) {
            raw.pop_back();
        }
        // KConfig's escapes: \s, \t, \n, \r, \\ and \xNN.
        std::string value;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != '\\' || i + 1 == raw.size()) {
                value += raw[i];
                continue;
            }
            const char next = raw[++i];
            switch (next) {
            case 's':
                value += ' ';
                break;
            case 't':
                value += '\t';
                break;
            case 'n':
                value += '\n';
                break;
            case 'r':
                value += '\r';
                break;
            case '\\':
                value += '\\';
                break;
            case 'x':
                if (i + 2 < raw.size() && std::isxdigit(static_cast<unsigned char>(raw[i + 1])) &&
                    std::isxdigit(static_cast<unsigned char>(raw[i + 2]))) {
                    value += static_cast<char>(std::stoi(raw.substr(i + 1, 2), nullptr, 16));
                    i += 2;
                    break;
                }
                [[fallthrough]];
            default:
                value += '\\';
                value += next;
            }
        }
        if (!expand) {
            return value;
        }
        std::string expanded;
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value[i] != '$' || i + 1 == value.size()) {
                expanded += value[i];
                continue;
            }
            const char next = value[i + 1];
            if (next == '$') {
                expanded += '$';
                ++i;
                continue;
            }
            if (next == '(') {
                return std::nullopt; // a command's output, which is never run here
            }
            std::string variable;
            if (next == '{') {
                const std::size_t close = value.find('}', i + 2);
                if (close == std::string::npos) {
                    expanded += value.substr(i);
                    break;
                }
                variable = value.substr(i + 2, close - i - 2);
                i = close;
            } else {
                std::size_t stop = i + 1;
                while (stop < value.size() &&
                       (std::isalnum(static_cast<unsigned char>(value[stop])) || value[stop] == '_')) {
                    ++stop;
                }
                variable = value.substr(i + 1, stop - i - 1);
                if (variable.empty()) {
                    expanded += '$';
                    continue;
                }
                i = stop - 1;
            }
            if (const char* set = std::getenv(variable.c_str())) {
                expanded += set;
            }
        }
        return expanded;
    }
    return std::nullopt;
}

std::string PathOfEntryUrl(const std::string& url)
{
    if (!url.empty() && url.front() == '/') {
        return url;
    }
    if (url.size() < 5 || g_ascii_strncasecmp(url.c_str(), "file:", 5) != 0) {
        return {};
    }
    std::string rest = url.substr(5);
    if (rest.rfind("//", 0) == 0) {
        const std::size_t slash = rest.find('/', 2);
        if (slash == std::string::npos || !isLocalHost(rest.substr(2, slash - 2))) {
            return {};
        }
        rest.erase(0, slash);
    }
    // KDE writes a file's URL as it shows it: letters as they are, a '%' of the name escaped.
    return !rest.empty() && rest.front() == '/' ? percentDecoded(rest) : std::string();
}

std::vector<std::string>
DestroyRecentDocuments(const std::string& dataHome, const std::vector<DeletedNames>& deleted, TraceFiles& files)
{
    std::vector<std::string> lines;
    if (dataHome.empty() || deleted.empty()) {
        return lines;
    }
    const std::string folder = dataHome + (dataHome.back() == '/' ? "" : "/") + "RecentDocuments";
    const FileDescriptor data(::open(dataHome.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    const FileDescriptor fd = files.openUserFolder(data.get(), "RecentDocuments");
    DIR* listing = fd.get() >= 0 ? ::fdopendir(::dup(fd.get())) : nullptr;
    if (!listing) {
        return lines;
    }
    std::vector<std::string> entries;
    while (const dirent* entry = ::readdir(listing)) {
        const std::string name = entry->d_name;
        if (name.size() > 8 && name.compare(name.size() - 8, 8, ".desktop") == 0) {
            entries.push_back(name);
        }
    }
    ::closedir(listing);
    DeletedMatcher matcher(deleted);
    for (const std::string& name : entries) {
        const OwnedFile entry = files.openOwned(fd.get(), name);
        const std::optional<std::string> text = entry.opened() ? ReadAll(entry.fd.get()) : std::nullopt;
        const std::optional<std::string> url = text ? UrlOfEntry(*text) : std::nullopt;
        const std::string path = url ? PathOfEntryUrl(*url) : std::string();
        if (!matcher.names(path)) {
            continue; // another file's, or no entry of the user's own: a link or another user's file
        }
        if (std::string failure = files.destroy(fd.get(), name, folder + "/" + name); !failure.empty()) {
            lines.push_back("A recent-documents entry of " + path + " was not destroyed: " + failure);
        }
    }
    return lines;
}
