#include "database/RowFormat.h"

#include "platform/OleDateTime.h"

#include <cstdio>

std::string DeviceIdText(std::uint32_t id)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(id));
    return buf;
}

std::string PageText(int page)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(page));
    return buf;
}

std::string DateTimeText(const OleDateTime& t) { return t.FormatChecked(); }

// Tenths are printed from integers so that no value ever rounds the wrong way or shows as -0.0.
std::string TemperatureText(unsigned value)
{
    if (value > 1000) return "65535";
    char buf[16];
    if (value >= 400) {
        const unsigned tenths = value - 400;
        std::snprintf(buf, sizeof buf, " %u.%u", tenths / 10, tenths % 10);
    } else {
        const unsigned tenths = 400 - value;
        std::snprintf(buf, sizeof buf, " -%u.%u", tenths / 10, tenths % 10);
    }
    return buf;
}

std::string HumidityText(unsigned value)
{
    if (value > 99) return "255";
    return std::to_string(value);
}
