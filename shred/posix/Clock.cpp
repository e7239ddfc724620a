// The local time of day on Linux (localtime_r).

#include "shred/Clock.h"

std::tm LocalTime(std::time_t seconds)
{
    std::tm local{};
    ::localtime_r(&seconds, &local);
    return local;
}
