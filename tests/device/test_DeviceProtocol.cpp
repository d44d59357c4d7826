#include <gtest/gtest.h>

#include "device/DeviceProtocol.h"
#include "platform/NumberText.h"

TEST(ReadingScales, TemperatureAndHumidityBoundaries)
{
    EXPECT_EQ(TempValueFromRaw(0), 0);
    EXPECT_EQ(TempValueFromRaw(100), 0);
    EXPECT_EQ(TempValueFromRaw(101), 1);
    EXPECT_EQ(TempValueFromRaw(1099), 999);
    EXPECT_EQ(TempValueFromRaw(1100), 999);
    EXPECT_EQ(TempValueFromRaw(1150), 999);
    EXPECT_EQ(TempValueFromRaw(1200), 999);
    EXPECT_EQ(TempValueFromRaw(1201), TEMP_NONE);

    EXPECT_EQ(HumiValueFromRaw(0), HUMI_NONE);
    EXPECT_EQ(HumiValueFromRaw(20), 1);
    EXPECT_EQ(HumiValueFromRaw(21), 1);
    EXPECT_EQ(HumiValueFromRaw(22), 2);
    EXPECT_EQ(HumiValueFromRaw(65), 45);
    EXPECT_EQ(HumiValueFromRaw(118), 98);
    EXPECT_EQ(HumiValueFromRaw(119), 99);
    EXPECT_EQ(HumiValueFromRaw(139), 99);
    EXPECT_EQ(HumiValueFromRaw(140), HUMI_NONE);
}

TEST(ReadingScales, BcdAndMemoryAddresses)
{
    EXPECT_EQ(BcdDecode(0x26), 26);
    EXPECT_EQ(BcdDecode(0xFF), 165);  // nibbles are not validated
    EXPECT_EQ(BcdEncode(59), 0x59);
    EXPECT_EQ(PageHeaderAddress(PAGE_FIRST), 412);
    EXPECT_EQ(PageHeaderAddress(PAGE_LAST), 2996);
    EXPECT_EQ(PageDataAddress(PAGE_FIRST), 3328);
    EXPECT_EQ(PageDataAddress(PAGE_LAST) + 192, 65536);
}

TEST(ReadingScales, TemperatureTextsInEachUnit)
{
    // A value v is (v - 400) / 10 degrees Celsius, shown to a tenth; Fahrenheit is Celsius times
    // 1.8 plus 32. 999 (over range) shows as the value it is.
    struct Case {
        int value;
        const char* celsius;
        const char* fahrenheit;
    };
    for (const Case& c : {Case{0, "-40.0", "-40.0"}, Case{395, "-0.5", "31.1"}, Case{399, "-0.1", "31.8"},
                          Case{400, "0.0", "32.0"}, Case{401, "0.1", "32.2"}, Case{653, "25.3", "77.5"},
                          Case{999, "59.9", "139.8"}, Case{1000, "60.0", "140.0"}}) {
        SCOPED_TRACE(c.value);
        const double celsius = CelsiusFromTempValue(c.value);
        EXPECT_EQ(FixedText(TempInUnit(celsius, false)), c.celsius);
        EXPECT_EQ(FixedText(TempInUnit(celsius, true)), c.fahrenheit);
    }
}
