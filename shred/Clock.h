#pragma once

// The local time of day, from which the Enhanced mode's fill block is seeded.

#include <ctime>

// The local time of day at `seconds`, by the system's thread-safe call.
std::tm LocalTime(std::time_t seconds);
