#pragma once
// Constants of the recorder's USB HID protocol and memory map.
#include <cstdint>

constexpr std::uint16_t HID_VENDOR_ID = 0x10C4;
constexpr std::uint16_t HID_PRODUCT_ID = 0x8468;
constexpr int MODEL_CODE = 583;

constexpr std::uint8_t FRAME_START = 0x02;
constexpr std::uint8_t ACK_OK = 0xAA;
constexpr int REPORT_OUT_BYTES = 61;   // bytes sent per output report
constexpr int REPORT_IN_BYTES = 64;    // bytes read per input report
constexpr int REPORT_KEPT_BYTES = 61;  // bytes of a reply handed on
constexpr int MEMORY_READ_MAX = 59;    // data bytes one memory read reply carries
constexpr int LINK_TIMEOUT_MS = 2000;

// Command bytes (the two bytes after the length byte).
constexpr std::uint8_t CMD_READ_MEMORY[2] = {0x01, 0x00};
constexpr std::uint8_t CMD_READ_LIVE[2] = {0x01, 0x01};
constexpr std::uint8_t CMD_SET_CLOCK[2] = {0x00, 0x11};
constexpr std::uint8_t CMD_SET_PARAMS[2] = {0x00, 0x22};
constexpr std::uint8_t CMD_SET_PERIODS[2] = {0x00, 0x04};
constexpr std::uint8_t CMD_ERASE_RECORDS[2] = {0x00, 0x08};
// The recorder keeps the year as two BCD digits after 2000.
constexpr bool DeviceClockHolds(int year) { return year >= 2000 && year <= 2099; }
// The erase request as sent: 02 03 00 08 08.
constexpr std::uint8_t ERASE_RECORDS_REQUEST[5] = {0x02, 0x03, 0x00, 0x08, 0x08};

// Memory map.
constexpr std::uint16_t ADDR_MODEL = 2;     // 2 bytes
constexpr std::uint16_t ADDR_CONFIG = 5;    // 10 bytes
constexpr std::uint16_t ADDR_PERIODS = 24;  // 40 bytes: 8 slots of 5
constexpr std::uint16_t ADDR_EXTRA = 64;    // 16 bytes; byte 0 == 0xEF marks the configuration unusable
constexpr std::uint16_t ADDR_MAXMIN = 80;   // 6 bytes
constexpr std::uint8_t EXTRA_UNUSABLE = 0xEF;

// Page ring: 324 pages, numbered by the address of their count byte.
constexpr int PAGE_FIRST = 88;
constexpr int PAGE_LAST = 411;
constexpr int PAGE_COUNT = PAGE_LAST - PAGE_FIRST + 1;
constexpr int PAGE_RECORDS = 64;
constexpr int PAGE_COUNTS_PER_READ = 27;
constexpr int PAGE_RECORDS_PER_READ = 13;
constexpr std::uint16_t ADDR_PAGE_COUNTS = 88;
constexpr std::uint16_t ADDR_PAGE_HEADERS = 412;
constexpr std::uint16_t ADDR_PAGE_DATA = 3328;
constexpr int PageHeaderAddress(int page) { return page * 8 - 292; }
constexpr int PageDataAddress(int page) { return page * 192 - 13568; }

// Reading scales.
constexpr int TEMP_NONE = 0xFFFF;
constexpr int HUMI_NONE = 255;
// Raw device temperature count -> temperature value (TEMP_SCALE: (v - 400) / 10 degrees C).
int TempValueFromRaw(unsigned raw);
// Temperature value -> degrees Celsius. TEMP_NONE is no reading: the caller shows it as such.
constexpr double CelsiusFromTempValue(int value) { return (value - 400) / 10.0; }
// Degrees Celsius in the unit shown: Fahrenheit is Celsius times 1.8 plus 32.
constexpr double TempInUnit(double celsius, bool fahrenheit) { return fahrenheit ? celsius * 1.8 + 32 : celsius; }
// Raw device humidity byte -> humidity value in percent (HUMI_NONE = no reading).
int HumiValueFromRaw(unsigned raw);
// BCD helpers: decode without digit check; encode (n / 10) * 16 + n % 10.
int BcdDecode(std::uint8_t value);
std::uint8_t BcdEncode(int value);
