// MD5 (RFC 1321), for the thumbnail names alone.

#include "shred/Md5.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {
constexpr std::array<std::uint32_t, 64> kShifts = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                                   5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                                   4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                                   6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

// floor(2^32 * |sin(i + 1)|), the standard's table.
std::array<std::uint32_t, 64> sineTable()
{
    std::array<std::uint32_t, 64> table{};
    for (std::size_t i = 0; i < table.size(); ++i) {
        table[i] =
            static_cast<std::uint32_t>(std::floor(std::abs(std::sin(static_cast<double>(i + 1))) * 4294967296.0));
    }
    return table;
}
} // namespace

std::string Md5Hex(std::string_view bytes)
{
    static const std::array<std::uint32_t, 64> kSine = sineTable();
    std::vector<std::uint8_t> message(bytes.begin(), bytes.end());
    const std::uint64_t bits = static_cast<std::uint64_t>(message.size()) * 8;
    message.push_back(0x80);
    while (message.size() % 64 != 56) {
        message.push_back(0);
    }
    for (int i = 0; i < 8; ++i) {
        message.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    }

    std::array<std::uint32_t, 4> state = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    for (std::size_t chunk = 0; chunk < message.size(); chunk += 64) {
        std::array<std::uint32_t, 16> words{};
        for (std::size_t i = 0; i < 16; ++i) {
            for (std::size_t b = 0; b < 4; ++b) {
                words[i] |= static_cast<std::uint32_t>(message[chunk + 4 * i + b]) << (8 * b);
            }
        }
        auto [a, b, c, d] = state;
        for (std::uint32_t i = 0; i < 64; ++i) {
            std::uint32_t mixed = 0;
            std::uint32_t word = 0;
            if (i < 16) {
                mixed = (b & c) | (~b & d);
                word = i;
            } else if (i < 32) {
                mixed = (d & b) | (~d & c);
                word = (5 * i + 1) % 16;
            } else if (i < 48) {
                mixed = b ^ c ^ d;
                word = (3 * i + 5) % 16;
            } else {
                mixed = c ^ (b | ~d);
                word = (7 * i) % 16;
            }
            const std::uint32_t rotated = std::rotl(a + mixed + kSine[i] + words[word], static_cast<int>(kShifts[i]));
            a = d;
            d = c;
            c = b;
            b += rotated;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
    }

    constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const std::uint32_t word : state) {
        for (int i = 0; i < 4; ++i) {
            const auto byte = static_cast<std::uint8_t>(word >> (8 * i));
            hex += kHex[byte >> 4];
            hex += kHex[byte & 0xF];
        }
    }
    return hex;
}
