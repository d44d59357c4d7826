#pragma once
// The text forms in which values are written into the record database.
#include <cstdint>
#include <string>

class OleDateTime;

std::string DeviceIdText(std::uint32_t id);      // "%08X"
std::string PageText(int page);                  // "%04X"
std::string DateTimeText(const OleDateTime& t);  // "%d-%02d-%02d %02d:%02d:%02d", -1 fields when unusable
                                                 // (out of range, or the value is not valid)
std::string TemperatureText(unsigned value);     // " %0.1f" / " -%0.1f" / "65535"
std::string HumidityText(unsigned value);        // "%d" / "255"
