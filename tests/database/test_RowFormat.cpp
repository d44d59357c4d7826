#include <gtest/gtest.h>

#include "database/RowFormat.h"
#include "platform/OleDateTime.h"

TEST(RowFormat, TemperatureTextAtItsBoundaries)
{
    EXPECT_EQ(TemperatureText(0), " -40.0");
    EXPECT_EQ(TemperatureText(1), " -39.9");
    EXPECT_EQ(TemperatureText(399), " -0.1");
    EXPECT_EQ(TemperatureText(400), " 0.0");  // never minus zero
    EXPECT_EQ(TemperatureText(401), " 0.1");
    EXPECT_EQ(TemperatureText(635), " 23.5");
    EXPECT_EQ(TemperatureText(1000), " 60.0");
    EXPECT_EQ(TemperatureText(1001), "65535");
    EXPECT_EQ(TemperatureText(65535), "65535");
    EXPECT_EQ(TemperatureText(0xFFFFFFFFu), "65535");
}

TEST(RowFormat, HumidityIdAndPageTexts)
{
    EXPECT_EQ(HumidityText(0), "0");
    EXPECT_EQ(HumidityText(45), "45");
    EXPECT_EQ(HumidityText(99), "99");
    EXPECT_EQ(HumidityText(100), "255");
    EXPECT_EQ(HumidityText(255), "255");

    EXPECT_EQ(DeviceIdText(0), "00000000");
    EXPECT_EQ(DeviceIdText(0x0012AB34), "0012AB34");
    EXPECT_EQ(DeviceIdText(0xFFFFFFFF), "FFFFFFFF");

    EXPECT_EQ(PageText(88), "0058");
    EXPECT_EQ(PageText(411), "019B");
}

TEST(RowFormat, DateTimeText)
{
    EXPECT_EQ(DateTimeText(OleDateTime(2024, 2, 1, 9, 5, 3)), "2024-02-01 09:05:03");
    EXPECT_EQ(DateTimeText(OleDateTime(2024, 3, 7, 14, 5, 9)), "2024-03-07 14:05:09");
    // A value that is not valid has no usable fields.
    EXPECT_EQ(DateTimeText(OleDateTime(45000.5, OleDateTime::invalid)), "-1--1--1 -1:-1:-1");
    EXPECT_EQ(DateTimeText(OleDateTime(1e9, OleDateTime::valid)), "-1--1--1 -1:-1:-1");
}
