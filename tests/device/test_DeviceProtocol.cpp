#include <gtest/gtest.h>

#include <cstdint>

#include "device/CDeviceState.h"
#include "device/DeviceProtocol.h"
#include "platform/NumberText.h"
#include "simulator/VT583Simulator.h"

TEST(ReadingScales, EveryReadingPathAtTheBoundaries)
{
    // A temperature value v means (v - 400) / 10 degrees C; the live reading also gives the value
    // without the recorder's own offset, no reading outside 0 .. 1000 (-40.0 .. 60.0 degrees C).
    constexpr int N = TEMP_NONE, H = HUMI_NONE;
    struct Case {
        std::uint16_t t;
        std::uint8_t h;
        int tempOffset, humiOffset;  // biased: 100 and 20 mean none
        int temp, tempRaw, humi, humiRaw;
    } const cases[] = {
        {0, 0, 100, 20, 0, N, H, H},         // below the scale: -40.0 degrees C; no humidity
        {99, 1, 100, 20, 0, N, 1, H},        // -40.0 degrees C less the offset: under the live scale
        {100, 20, 100, 20, 0, 0, 1, H},      // -40.0 degrees C; 0 % without the offset
        {101, 21, 100, 20, 1, 1, 1, 1},      // -39.9 degrees C; 1 %
        {500, 22, 110, 20, 400, 390, 2, 2},  // 0.0 degrees C, -1.0 without the +1.0 offset
        {500, 65, 90, 25, 400, 410, 45, 40},
        {1099, 118, 100, 20, 999, 999, 98, 98},   // 59.9 degrees C
        {1100, 119, 100, 20, 999, 1000, 99, 99},  // over range; 60.0 live degrees C, the top
        {1101, 120, 100, 20, 999, N, 99, H},      // 60.1 live degrees C: no reading
        {1000, 139, 0, 40, 900, 1000, 99, 99},    // -10.0 offset: 60.0 degrees C without it
        {1001, 139, 0, 39, 901, N, 99, H},
        {1200, 140, 100, 20, 999, N, H, H},
        {1201, 255, 100, 20, N, N, H, H},  // no reading
        {65535, 200, 100, 20, N, N, H, H},
    };
    sim::SimulatorTransport transport;
    const auto recorder = transport.Attach("sim-0");
    CDeviceState st;
    st.m_Link.SetTransport(&transport);
    st.m_Link.Open();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "temperature " << c.t << " humidity " << int(c.h) << " offsets "
                                        << c.tempOffset << ", " << c.humiOffset);
        // The record path converts with these two.
        EXPECT_EQ(TempValueFromRaw(c.t), c.temp);
        EXPECT_EQ(HumiValueFromRaw(c.h), c.humi);

        recorder->SetOffsets(c.tempOffset, c.humiOffset);
        recorder->SetLive(c.h, c.t);
        recorder->SetMaxMin(c.t, c.h, c.t, c.h);
        ASSERT_EQ(st.ReadConfig(), 1);
        ASSERT_EQ(st.ReadRealtime(), 1);
        EXPECT_EQ(st.m_nTemp, c.temp);
        EXPECT_EQ(st.m_nTempRaw, c.tempRaw);
        EXPECT_EQ(st.m_nHumi, c.humi);
        EXPECT_EQ(st.m_nHumiRaw, c.humiRaw);
        ASSERT_EQ(st.ReadMaxMin(), 1);
        EXPECT_EQ(st.m_nMaxTemp, c.temp);
        EXPECT_EQ(st.m_nMinTemp, c.temp);
        EXPECT_EQ(st.m_nMaxHumi, c.humi);
        EXPECT_EQ(st.m_nMinHumi, c.humi);
    }
    st.m_Link.Close();
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
