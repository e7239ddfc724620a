// The fill block of each mode: zeros, or pseudo-random bytes from 0x01 to 0xFF.

#include "shred/FillBlock.h"

#include "shred/Clock.h"

#include <bit>
#include <chrono>
#include <cmath>
#include <ctime>
#include <random>

namespace {
// Single-precision values uniform in [0, 1): the top 24 bits of a Mersenne twister draw.
class TimeSeededRandom
{
public:
    explicit TimeSeededRandom(double seed)
    {
        const auto bits = std::bit_cast<std::uint64_t>(seed);
        std::seed_seq sequence{static_cast<std::uint32_t>(bits), static_cast<std::uint32_t>(bits >> 32)};
        m_engine.seed(sequence);
    }

    float next()
    {
        return static_cast<float>(m_engine() >> 8) * 0x1p-24f;
    }

private:
    std::mt19937 m_engine;
};
} // namespace

std::uint8_t fillByte(float r)
{
    // In double, so that the largest r below 1 cannot round up to 256.
    return static_cast<std::uint8_t>(std::floor(static_cast<double>(r) * 255.0 + 1.0));
}

FillBlock BuildFillBlock(ShredMode mode, double secondsSinceMidnight)
{
    FillBlock block{};
    if (isStandardMode(mode)) {
        return block;
    }
    TimeSeededRandom random(secondsSinceMidnight);
    for (std::uint8_t& byte : block) {
        byte = fillByte(random.next());
    }
    return block;
}

FillBlock BuildFillBlock(ShredMode mode)
{
    return BuildFillBlock(mode, secondsSinceMidnight());
}

double secondsSinceMidnight()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const std::tm local = LocalTime(seconds);
    const double fraction = duration<double>(now - system_clock::from_time_t(seconds)).count();
    return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + fraction;
}
