#pragma once

// The 5000-byte fill block every pass writes.

#include "shred/ShredMode.h"

#include <array>
#include <cstdint>

// Every file is overwritten with one pass of the same 5000-byte fill block, written whole at offsets
// 0, 5000, 10000 and so on. A run builds its block once, before it asks the user to confirm.
inline constexpr std::int64_t kBlockSize = 5000;

using FillBlock = std::array<std::uint8_t, kBlockSize>;
static_assert(sizeof(FillBlock) == kBlockSize);

// Standard mode: 5000 zero bytes. Enhanced mode: the generator is re-seeded from the time of day and
// each byte is floor(r * 255 + 1) for the next r in [0, 1), so every byte lies in 0x01..0xFF.
FillBlock BuildFillBlock(ShredMode mode);

// The same, seeded from the given number of seconds since midnight.
FillBlock BuildFillBlock(ShredMode mode, double secondsSinceMidnight);

// Local time of day in seconds, with fraction.
double secondsSinceMidnight();

// The fill byte for one draw r in [0, 1): 1..255.
std::uint8_t fillByte(float r);
