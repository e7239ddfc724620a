// The local time of day on Windows (localtime_s).

#include "shred/Clock.h"

std::tm LocalTime(std::time_t seconds)
{
    std::tm local{};
    ::localtime_s(&local, &seconds);
    return local;
}
