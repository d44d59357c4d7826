// The painted panel: every text in its place in every language, the period rule.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <utility>

#include "app/CQuorvantisApp.h"
#include "app/CQuorvantisView.h"
#include "app/Language.h"
#include "device/CDeviceState.h"
#include "platform/StringTable.h"
#include "resources/resource.h"
#include "support/TempDir.h"
#include "ui/ViewTestSupport.h"

namespace {

const QColor kGrey(0x66, 0x66, 0x66), kRed(0xFF, 0x64, 0x64), kBlue(0x39, 0x50, 0xFF);

}  // namespace

TEST(ViewPanel, EveryTextInItsPlaceInEveryLanguage)
{
    // Each place of the panel, in drawing order (left, top, right, bottom): a string-table text
    // by its id (with ":" for a label), or a value as the workers wrote it. kX is the edge between
    // the device block's labels and values: 150, 135, 160 in English, Chinese and German, else 210.
    constexpr int kX = -1, kModeName = -2;
    struct Place {
        int left, top, right, bottom;
        QColor colour;
        int id;            // 0: a value; kModeName: the name of the mode the workers gave as a digit
        const char* text;  // after the id's text, or the value
    };
    const Place places[] = {
        {25, 15, 260, 50, kGrey, IDS_DEVICE_INFORMAT, ""},
        {25, 40, kX, 75, kGrey, IDS_DEVICE_ID, ":"},
        {25, 68, kX, 105, kGrey, IDS_TEMPERATURE_UNIT, ":"},
        {25, 96, kX, 125, kGrey, IDS_DATABASE_RECORDS, ":"},
        {25, 124, kX, 148, kGrey, IDS_INTERVAL, ":"},
        {25, 152, kX, 170, kGrey, IDS_MODE, ":"},
        {kX, 40, 330, 75, kGrey, 0, "00ABCDEF"},
        {kX, 68, 330, 105, kGrey, 0, "°C"},
        {kX, 96, 330, 125, kGrey, 0, "1234"},
        {kX, 124, 330, 148, kGrey, 0, "2 Minute"},
        {kX, 152, 330, 170, kGrey, kModeName, ""},
        {25, 215, 230, 235, kGrey, IDS_MAX_MIN, ""},
        {25, 260, 230, 280, kGrey, IDS_MAX_TEMPERATURE, ""},
        {25, 305, 230, 325, kGrey, IDS_MIN_TEMPERATURE, ""},
        {25, 350, 230, 370, kGrey, IDS_MAX_HUMIDITY, ""},
        {25, 395, 230, 415, kGrey, IDS_MIN_HUMIDITY, ""},
        {25, 280, 230, 300, kRed, 0, "25.0°C"},
        {25, 325, 230, 345, kBlue, 0, "-10.0°C"},
        {25, 370, 230, 390, kRed, 0, "70 %"},
        {25, 415, 230, 435, kBlue, 0, "20 %"},
        {255, 215, 450, 235, kGrey, IDS_TIME_PERIOD, ""},
        {255, 240, 450, 260, kGrey, IDS_FIRST_TIME, ""},
        {255, 260, 450, 280, kRed, IDS_START, ":"},
        {255, 280, 450, 300, kBlue, IDS_END, ":"},
        {255, 300, 450, 320, kGrey, IDS_SECOND_TIME, ""},
        {255, 320, 450, 340, kRed, IDS_START, ":"},
        {255, 340, 450, 360, kBlue, IDS_END, ":"},
        {255, 360, 450, 380, kGrey, IDS_THIRD_TIME, ""},
        {255, 380, 450, 400, kRed, IDS_START, ":"},
        {255, 400, 450, 420, kBlue, IDS_END, ":"},
        {255, 420, 450, 440, kGrey, IDS_FOURTH_TIME, ""},
        {255, 440, 450, 460, kRed, IDS_START, ":"},
        {255, 460, 450, 480, kBlue, IDS_END, ":"},
        {300, 260, 495, 280, kRed, 0, "2026/03/01  08:00"},  // the end of period 1 is taller
        {300, 280, 495, 320, kBlue, 0, "2026/03/02  09:05"},
        {300, 320, 495, 340, kRed, 0, "2026/03/03  10:10"},
        {300, 340, 495, 360, kBlue, 0, "2026/03/04  11:15"},
        {300, 380, 495, 400, kRed, 0, "2026/03/05  12:20"},
        {300, 400, 495, 420, kBlue, 0, "2026/03/06  13:25"},
        {300, 440, 495, 460, kRed, 0, "2026/03/07  14:30"},
        {300, 460, 495, 480, kBlue, 0, "2026/03/08  15:35"},
        {485, 215, 690, 235, kGrey, IDS_REALTIME_DATA, ""},
        {485, 260, 690, 280, kGrey, IDS_TEMPERATURE, ""},
        {485, 350, 690, 370, kGrey, IDS_HUMIDITY, ""},
        {485, 280, 690, 300, kRed, 0, "21.5°C"},
        {485, 370, 690, 390, kRed, 0, "45 %"},
        // The status lines, wrapped; the block reaches down to the frame of its box at y 205, so
        // that three lines of two rows each stay whole.
        {370, 100, 650, 202, kGrey, 0, "a\nb\nc\n "},
        {415, 20, 650, 150, kGrey, 0, "Quorvantis 3.2"},  // in the title font, in every language
    };
    DisplayStrings s;
    s.info = {"00ABCDEF", QStringLiteral("°C"), "1234", "2 Minute", "", "", ""};
    s.maxTemp = QStringLiteral("25.0°C");
    s.minTemp = QStringLiteral("-10.0°C");
    s.maxHumi = "70 %";
    s.minHumi = "20 %";
    s.temp = QStringLiteral("21.5°C");
    s.humi = "45 %";
    s.status = {"a", "b", "c", " "};
    ConfigSnapshot config;
    config.mode = 2;
    for (int k = 0; k < 4; ++k) config.periodOn[k] = 1;
    for (int i = 0; i < 8; ++i) config.period[i] = OleDateTime(2026, 3, 1 + i, 8 + i, 5 * i, 0);
    // The mode digit the workers write, and the mode name it shows (none: the placeholder).
    const std::pair<const char*, int> modes[] = {{"0", IDS_ACYCLIC_MODE}, {"1", IDS_CYCLE_MODE},
                                                 {"2", IDS_SEGMENTED_MODE}, {kNoValue, 0}, {"3", 0}};
    const int edges[5] = {150, 135, 160, 210, 210};

    for (int language = 0; language < 5; ++language) {
        ASSERT_TRUE(LoadTestLanguage(language));
        const StringTable texts = SourceStrings(kLanguageCodes[language]);
        CQuorvantisView view;
        view.LoadTexts();
        for (const auto& [digit, modeId] : modes) {
            SCOPED_TRACE(testing::Message() << "language " << language << ", mode " << digit);
            s.info[4] = QString::fromLatin1(digit);
            const std::vector<PanelText> laid = view.LayoutPanel(s, language, config);
            ASSERT_EQ(laid.size(), std::size(places));
            for (std::size_t i = 0; i < laid.size(); ++i) {
                SCOPED_TRACE(testing::Message() << "place " << i + 1);
                const Place& p = places[i];
                const int left = p.left == kX ? edges[language] : p.left;
                const int right = p.right == kX ? edges[language] : p.right;
                EXPECT_EQ(laid[i].rect, QRect(left, p.top, right - left, p.bottom - p.top));
                EXPECT_EQ(laid[i].color, p.colour);
                const int id = p.id == kModeName ? modeId : p.id;
                const QString text = id > 0 ? QString::fromStdString(texts.Get(id)) + QLatin1String(p.text)
                                   : p.id == kModeName ? QString::fromLatin1(kNoValue)
                                                       : QString::fromUtf8(p.text);
                EXPECT_EQ(laid[i].text, text);
                EXPECT_EQ(laid[i].title, i == std::size(places) - 1);
                EXPECT_EQ(laid[i].wordBreak, i == std::size(places) - 2);
            }
        }
    }
    // Any other language index puts the edge where Portuguese and French have it.
    EXPECT_EQ(CQuorvantisView::ValueColumnX(7), 210);
}

TEST(ViewPanel, PeriodRule)
{
    ConfigSnapshot config;
    config.mode = 2;
    const int on[4] = {1, 1, 1, 2};  // a flag other than 1 counts as disabled
    for (int k = 0; k < 4; ++k)
        config.periodOn[k] = on[k];
    for (int i = 0; i < 8; ++i)
        config.period[i] = OleDateTime(2026, 3, 1 + i, 8 + i, 5 * i, 0);
    config.period[5] = OleDateTime(0.0, OleDateTime::invalid);  // end of period 3

    std::array<QString, 8> texts;
    EXPECT_TRUE(CQuorvantisView::PeriodTexts(config, texts));
    EXPECT_EQ(texts[0], "2026/03/01  08:00");
    EXPECT_EQ(texts[1], "2026/03/02  09:05");
    EXPECT_EQ(texts[2], "2026/03/03  10:10");
    EXPECT_EQ(texts[3], "2026/03/04  11:15");
    for (int i = 4; i < 8; ++i)
        EXPECT_EQ(texts[i], kNoPeriodShown) << i;

    // Outside segmented mode every place shows dashes whatever the device stores.
    config.mode = 1;
    EXPECT_FALSE(CQuorvantisView::PeriodTexts(config, texts));
    for (const QString& t : texts)
        EXPECT_EQ(t, kNoPeriodShown);
}

TEST(ViewPanel, PaintKeepsSegmentedPeriodTextsOnly)
{
    ASSERT_TRUE(LoadTestLanguage(0));
    CQuorvantisView view;
    view.LoadTexts();
    view.resize(CQuorvantisView::kPanelWidth, CQuorvantisView::kPanelHeight);
    {
        std::lock_guard<std::mutex> lock(theDeviceState.m_csConfig);
        theDeviceState.m_nMode = 1;
        theDeviceState.m_bPeriodOn[0] = 1;
        theDeviceState.m_Period[0] = OleDateTime(2026, 3, 1, 8, 0, 0);
        theDeviceState.m_Period[1] = OleDateTime(2026, 3, 1, 9, 30, 0);
    }
    QImage image = view.RenderPanel();
    EXPECT_EQ(image.size(), QSize(700, 500));
    EXPECT_EQ(view.GetDisplayStrings().periodTime[0], "");  // left unchanged

    {
        std::lock_guard<std::mutex> lock(theDeviceState.m_csConfig);
        theDeviceState.m_nMode = 2;
    }
    image = view.RenderPanel();
    const DisplayStrings s = view.GetDisplayStrings();
    EXPECT_EQ(s.periodTime[0], "2026/03/01  08:00");
    EXPECT_EQ(s.periodTime[1], "2026/03/01  09:30");
    EXPECT_EQ(s.periodTime[2], kNoPeriodShown);
}
