#include "shred/Clock.h"

std::tm LocalTime(std::time_t seconds)
{
    std::tm local{};
    ::localtime_s(&local, &seconds);
    return local;
}
