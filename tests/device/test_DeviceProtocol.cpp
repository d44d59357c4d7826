#include <gtest/gtest.h>

#include "device/DeviceProtocol.h"

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
