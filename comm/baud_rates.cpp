#include "comm/baud_rates.h"

#include <termios.h>

#include <algorithm>
#include <array>

namespace zelvo::comm {

namespace {

struct Rate {
    uint32_t baud;
    speed_t code;
};

constexpr std::array<Rate, 30> kRates = {{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

constexpr std::array<uint32_t, kRates.size()> kBauds = [] {
    std::array<uint32_t, kRates.size()> a{};
    for (size_t i = 0; i < kRates.size(); ++i)
        a[i] = kRates[i].baud;
    return a;
}();

} // namespace

std::span<const uint32_t> StandardBaudRates()
{
    return kBauds;
}

bool IsStandardBaud(uint32_t baud)
{
    return SpeedCodeOf(baud) != 0;
}

unsigned SpeedCodeOf(uint32_t baud)
{
    for (const auto& r : kRates)
        if (r.baud == baud)
            return r.code;
    return 0;
}

uint32_t BaudOfSpeedCode(unsigned code)
{
    for (const auto& r : kRates)
        if (r.code == code)
            return r.baud;
    return 0;
}

bool BaudRateClose(uint32_t requested, uint32_t actual)
{
    const uint64_t diff = requested > actual ? requested - actual : actual - requested;
    return diff * 100 <= uint64_t(requested) * BaudTolerancePercent;
}

} // namespace zelvo::comm
