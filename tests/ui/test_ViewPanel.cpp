// The painted panel's layout: where texts go by language, the period rule, the mode name.
#include <gtest/gtest.h>

#include "app/CQuorvantisApp.h"
#include "app/CQuorvantisView.h"
#include "device/CDeviceState.h"
#include "ui/ViewTestSupport.h"

namespace {

const PanelText* FindText(const std::vector<PanelText>& texts, const QString& text)
{
    for (const PanelText& t : texts)
        if (t.text == text)
            return &t;
    return nullptr;
}

DisplayStrings SampleStrings()
{
    DisplayStrings s;
    s.info = {"00ABCDEF", QStringLiteral("°C"), "1234", "2 Minute", "1"};
    s.maxTemp = QStringLiteral("25.0°C");
    s.minTemp = QStringLiteral("-10.0°C");
    s.maxHumi = "70 %";
    s.minHumi = "20 %";
    s.temp = QStringLiteral("21.5°C");
    s.humi = "45 %";
    s.status = {"a", "b", "c", " "};
    return s;
}

}  // namespace

TEST(ViewPanel, ValueColumnFollowsTheLanguage)
{
    const int expected[] = {150, 135, 160, 210, 210};
    for (int language = 0; language < 5; ++language) {
        ASSERT_TRUE(LoadTestLanguage(language));
        CQuorvantisView view;
        view.LoadTexts();
        const auto texts = view.LayoutPanel(SampleStrings(), language, ConfigSnapshot{});
        ASSERT_EQ(texts.size(), 48u);
        const int x = expected[language];
        // Labels end at the edge (exclusive right), values begin there.
        const PanelText* label = FindText(texts, view.m_strRes[7] + ":");
        ASSERT_NE(label, nullptr) << language;
        EXPECT_EQ(label->rect.left() + label->rect.width(), x) << language;
        for (const QString& value : {QString("00ABCDEF"), QString("1234"), QString("2 Minute")}) {
            const PanelText* t = FindText(texts, value);
            ASSERT_NE(t, nullptr) << language;
            EXPECT_EQ(t->rect.left(), x) << language;
        }
        EXPECT_EQ(FindText(texts, view.m_strRes[40])->rect.left(), x) << "mode name";
        // The title is the same in every language and uses the title font.
        ASSERT_NE(FindText(texts, "Quorvantis 3.2"), nullptr);
        EXPECT_TRUE(FindText(texts, "Quorvantis 3.2")->title);
    }
    // Any other index puts the edge where Portuguese and French have it.
    EXPECT_EQ(CQuorvantisView::ValueColumnX(7), 210);
}

TEST(ViewPanel, ModeNameAndStatusBlock)
{
    ASSERT_TRUE(LoadTestLanguage(0));
    CQuorvantisView view;
    view.LoadTexts();
    DisplayStrings s = SampleStrings();
    for (const char* digit : {"0", "1", "2"}) {
        s.info[4] = digit;
        const auto texts = view.LayoutPanel(s, 0, ConfigSnapshot{});
        const QString name = texts[10].text;
        EXPECT_EQ(name, view.m_strRes[39 + QString(digit).toInt()]);
    }
    for (const QString& other : {QString(kNoValue), QString("3"), QString("")}) {
        s.info[4] = other;
        EXPECT_EQ(view.LayoutPanel(s, 0, ConfigSnapshot{})[10].text, kNoValue);
    }
    const auto texts = view.LayoutPanel(s, 0, ConfigSnapshot{});
    const PanelText& status = texts[46];
    EXPECT_EQ(status.text, "a\nb\nc\n ");
    EXPECT_TRUE(status.wordBreak);
    EXPECT_EQ(status.rect, QRect(370, 100, 280, 102));
    // Colours: maxima red, minima blue, labels grey.
    EXPECT_EQ(FindText(texts, QStringLiteral("25.0°C"))->color, QColor(0xFF, 0x64, 0x64));
    EXPECT_EQ(FindText(texts, QStringLiteral("-10.0°C"))->color, QColor(0x39, 0x50, 0xFF));
    EXPECT_EQ(FindText(texts, "Max Temperature")->color, QColor(0x66, 0x66, 0x66));
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

    // Places: start above end; the end of period 1 is taller.
    ASSERT_TRUE(LoadTestLanguage(0));
    CQuorvantisView view;
    const auto laid = view.LayoutPanel(DisplayStrings{}, 0, config);
    const PanelText* start1 = FindText(laid, "2026/03/01  08:00");
    const PanelText* end1 = FindText(laid, "2026/03/02  09:05");
    const PanelText* start2 = FindText(laid, "2026/03/03  10:10");
    ASSERT_TRUE(start1 && end1 && start2);
    EXPECT_EQ(start1->rect, QRect(300, 260, 195, 20));
    EXPECT_EQ(end1->rect, QRect(300, 280, 195, 40));
    EXPECT_EQ(start2->rect, QRect(300, 320, 195, 20));
    EXPECT_EQ(start1->color, QColor(0xFF, 0x64, 0x64));
    EXPECT_EQ(end1->color, QColor(0x39, 0x50, 0xFF));

    // Outside segmented mode every place shows dashes whatever the device stores.
    config.mode = 1;
    EXPECT_FALSE(CQuorvantisView::PeriodTexts(config, texts));
    for (const QString& t : texts)
        EXPECT_EQ(t, kNoPeriodShown);
}

