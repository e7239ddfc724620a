#pragma once

// Standard or Enhanced: the overwrite mode the main window keeps.

#include <cstdint>

// The overwrite mode the main window keeps for the life of the process. It is stored as a 16-bit
// true/false flag: true (all bits set, -1) is Standard mode, and every other value counts as
// Enhanced mode. The mode menu writes 0 for Enhanced mode.
using ShredMode = std::int16_t;

inline constexpr ShredMode kStandardMode = -1;
inline constexpr ShredMode kEnhancedMode = 0;

constexpr bool isStandardMode(ShredMode mode)
{
    return mode == kStandardMode;
}
