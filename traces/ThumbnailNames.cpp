// The thumbnail standard's names of a file: the MD5 of its URI.

#include "shred/Md5.h"
#include "traces/Thumbnails.h"

#include <cstring>
#include <string_view>

namespace {
// Percent-escapes every byte of `text` but letters, digits and those in `kept`.
std::string escaped(const std::string& text, std::string_view kept)
{
    constexpr char kHex[] = "0123456789ABCDEF";
    std::string result;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9');
        if (plain || (byte != 0 && kept.find(c) != std::string_view::npos)) {
            result += c;
        } else {
            result += '%';
            result += kHex[byte >> 4];
            result += kHex[byte & 0xF];
        }
    }
    return result;
}

constexpr std::string_view kGlibKept = "-._~!$&'()*+,=:@/";
constexpr std::string_view kQtKept = "-._~!$&'()*+,=:@/;[]";

std::uint32_t bigEndian(const std::uint8_t* bytes)
{
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 | std::uint32_t{bytes[2]} << 8 | bytes[3];
}
} // namespace

std::string ThumbnailUri(const std::string& path)
{
    return "file://" + escaped(path, kGlibKept);
}

std::string QtThumbnailUri(const std::string& path)
{
    return "file://" + escaped(path, kQtKept);
}

std::string SharedThumbnailUri(const std::string& name)
{
    return "./" + escaped(name, kGlibKept);
}

std::string ThumbnailName(const std::string& uri)
{
    return Md5Hex(uri) + ".png";
}

std::optional<std::string> UriShownBy(const std::vector<std::uint8_t>& png)
{
    // The signature, then chunks: length, type, data, checksum. Thumb::URI is a tEXt chunk (or an
    // uncompressed iTXt one): the key, a zero byte, and the text.
    constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (png.size() < sizeof kSignature || std::memcmp(png.data(), kSignature, sizeof kSignature) != 0) {
        return std::nullopt;
    }
    constexpr std::string_view kKey = "Thumb::URI";
    for (std::size_t at = sizeof kSignature; at + 12 <= png.size();) {
        const std::size_t length = bigEndian(&png[at]);
        if (length > png.size() - at - 12) {
            return std::nullopt;
        }
        const std::string_view type(reinterpret_cast<const char*>(&png[at + 4]), 4);
        const std::string_view data(reinterpret_cast<const char*>(&png[at + 8]), length);
        if ((type == "tEXt" || type == "iTXt") && data.size() > kKey.size() && data.starts_with(kKey) &&
            data[kKey.size()] == '\0') {
            std::string_view text = data.substr(kKey.size() + 1);
            if (type == "iTXt") {
                // Compression flag and method, then a language tag and a translated key, each ended by
                // a zero byte.
                if (text.size() < 2 || text[0] != 0) {
                    return std::nullopt;
                }
                text.remove_prefix(2);
                for (int field = 0; field < 2; ++field) {
                    const std::size_t end = text.find('\0');
                    if (end == std::string_view::npos) {
                        return std::nullopt;
                    }
                    text.remove_prefix(end + 1);
                }
            }
            return std::string(text);
        }
        if (type == "IEND") {
            break;
        }
        at += 12 + length;
    }
    return std::nullopt;
}
