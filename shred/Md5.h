#pragma once

// MD5 digests for naming thumbnails.

#include <string>
#include <string_view>

// The MD5 digest of `bytes` in lower-case hex (RFC 1321). Only for naming, as the thumbnail standard
// does: MD5 protects nothing.
std::string Md5Hex(std::string_view bytes);
