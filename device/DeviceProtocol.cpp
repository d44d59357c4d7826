#include "device/DeviceProtocol.h"

int TempValueFromRaw(unsigned raw)
{
    if (raw > 1200) return TEMP_NONE;
    if (raw >= 1100) return 999;
    if (raw > 100) return static_cast<int>(raw) - 100;
    return 0;
}

int HumiValueFromRaw(unsigned raw)
{
    if (raw == 0 || raw >= 140) return HUMI_NONE;
    if (raw <= 20) return 1;
    if (raw <= 118) return static_cast<int>(raw) - 20;
    return 99;
}

int BcdDecode(std::uint8_t value) { return (value >> 4) * 10 + (value & 0x0F); }

std::uint8_t BcdEncode(int value) { return static_cast<std::uint8_t>((value / 10) * 16 + value % 10); }
