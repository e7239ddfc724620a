#pragma once

#include <ctime>

// The local time of day at `seconds`, by the system's thread-safe call.
std::tm LocalTime(std::time_t seconds);
