// The painted panel: every text in its place in every language, the period rule, and the picture
// that paints keep between them.
#include <gtest/gtest.h>

#include <QPainter>
#include <QScreen>
#include <QSocketNotifier>
#include <QTextLayout>

#include <iterator>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/CQuorvantisApp.h"
#include "app/CQuorvantisView.h"
#include "app/Language.h"
#include "device/CDeviceState.h"
#include "platform/StringTable.h"
#include "resources/resource.h"
#include "support/TempDir.h"
#include "ui/GdiText.h"
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
    s.info = {"00ABCDEF", QStringLiteral("°C"), "1234", "2 Minute", ""};
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
    const std::pair<const char*, int> modes[] = {
        {"0", IDS_ACYCLIC_MODE}, {"1", IDS_CYCLE_MODE}, {"2", IDS_SEGMENTED_MODE}, {kNoValue, 0}, {"3", 0}};
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
                const QString text = id > 0              ? QString::fromStdString(texts.Get(id)) + QLatin1String(p.text)
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
    for (int k = 0; k < 4; ++k) config.periodOn[k] = on[k];
    for (int i = 0; i < 8; ++i) config.period[i] = OleDateTime(2026, 3, 1 + i, 8 + i, 5 * i, 0);
    config.period[5] = OleDateTime(0.0, OleDateTime::invalid);  // end of period 3

    std::array<QString, 8> texts;
    EXPECT_TRUE(CQuorvantisView::PeriodTexts(config, texts));
    EXPECT_EQ(texts[0], "2026/03/01  08:00");
    EXPECT_EQ(texts[1], "2026/03/02  09:05");
    EXPECT_EQ(texts[2], "2026/03/03  10:10");
    EXPECT_EQ(texts[3], "2026/03/04  11:15");
    for (int i = 4; i < 8; ++i) EXPECT_EQ(texts[i], kNoPeriodShown) << i;

    // Outside segmented mode every place shows dashes whatever the device stores.
    config.mode = 1;
    EXPECT_FALSE(CQuorvantisView::PeriodTexts(config, texts));
    for (const QString& t : texts) EXPECT_EQ(t, kNoPeriodShown);
}

namespace {

// A state of the panel: what the threads wrote and the configuration read.
struct PanelState {
    DisplayStrings strings;
    ConfigSnapshot config;
};

// The states the screenshot program pictures (no recorder, a download under way, the download
// done), and the widest texts: in segmented mode with every period set and a failure on every
// status line, and in cycle mode.
std::vector<PanelState> PictureStates(const CQuorvantisView& view)
{
    const QString* res = view.m_strRes;
    const std::vector<DisplayStrings> widest = PanelStates(view);
    PanelState none{widest[0], ConfigSnapshot{}};

    PanelState downloading = none;
    DisplayStrings& d = downloading.strings;
    d.status = {res[44], res[19], res[16], kBlankStatus};
    d.info = {"0A1B2C3D", QStringLiteral("°C"), "500", view.IntervalText(90), "2"};
    d.maxTemp = CQuorvantisView::TempText(860, 1);
    d.minTemp = CQuorvantisView::TempText(560, 1);
    d.maxHumi = CQuorvantisView::HumiText(88);
    d.minHumi = CQuorvantisView::HumiText(52);
    d.temp = CQuorvantisView::TempText(735, 1);
    d.humi = CQuorvantisView::HumiText(65);
    ConfigSnapshot& c = downloading.config;
    c.mode = 2;
    c.periodOn[0] = c.periodOn[1] = 1;
    for (int k = 0; k < 4; ++k) {
        c.period[2 * k] = OleDateTime(2026, 3, 2 + k, 8, 0, 0);
        c.period[2 * k + 1] = OleDateTime(2026, 3, 2 + k, 17, 30, 0);
    }

    PanelState done = downloading;
    done.strings.status[2] = res[17];
    done.strings.info[2] = "2000";

    PanelState failed{widest[3], done.config};
    failed.strings.status = {res[43], res[20], res[42], kBlankStatus};
    for (int& on : failed.config.periodOn) on = 1;

    PanelState cycle{widest[2], done.config};
    cycle.config.mode = 1;
    return {none, downloading, done, failed, cycle};
}

// The panel drawn afresh, all of it, as every paint drew it before paints kept their picture.
QImage FreshPicture(CQuorvantisView& view, const std::vector<PanelText>& texts, const QSize& size)
{
    QImage background(QStringLiteral(":/images/%1.png").arg(IDB_VIEW_BACKGROUND));
    QImage canvas(size, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter p(&canvas);
    p.drawImage(0, 0, background.convertToFormat(QImage::Format_RGB32));
    for (const PanelText& t : texts) {
        QTextLayout layout;
        LayoutGdiText(layout, t.text, t.rect, view.PanelFont(t.title), t.wordBreak);
        p.setPen(t.color);
        p.save();
        p.setClipRect(t.rect);
        layout.draw(&p, QPointF());
        p.restore();
    }
    return canvas;
}

// Empty when both pictures are the same, pixel for pixel; else where they first differ.
std::string Difference(const QImage& shown, const QImage& fresh)
{
    const QImage a = shown.convertToFormat(QImage::Format_RGB32);
    const QImage b = fresh.convertToFormat(QImage::Format_RGB32);
    if (a.size() != b.size()) return "another size";
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                return "differs first at " + std::to_string(x) + "," + std::to_string(y);
    return {};
}

}  // namespace

// The picture a paint keeps, brought from any state to any other (and to another size), is pixel
// for pixel the panel drawn afresh, in every language.
TEST(ViewPanel, KeptPictureIsTheFreshPictureFromEveryStateToEveryOther)
{
    const QImage background =
        QImage(QStringLiteral(":/images/%1.png").arg(IDB_VIEW_BACKGROUND)).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(background.isNull());
    for (int language = 0; language < 5; ++language) {
        ASSERT_TRUE(LoadTestLanguage(language));
        SCOPED_TRACE(kLanguageCodes[language]);
        CQuorvantisView view;
        view.LoadTexts();
        const std::vector<PanelState> states = PictureStates(view);
        auto textsOf = [&](std::size_t state) {
            return view.LayoutPanel(states[state].strings, language, states[state].config);
        };
        const QSize sizes[] = {QSize(700, 500), QSize(820, 610)};  // a view larger than the panel
        for (const QSize& size : sizes) {
            std::vector<QImage> fresh;
            for (std::size_t s = 0; s < states.size(); ++s) fresh.push_back(FreshPicture(view, textsOf(s), size));
            for (std::size_t from = 0; from < states.size(); ++from) {
                PanelCanvas first(background, view.PanelFont(false), view.PanelFont(true));
                EXPECT_EQ(first.Update(textsOf(from), size), QRegion(QRect(QPoint(), size)));
                EXPECT_EQ(Difference(first.Picture(), fresh[from]), "") << "state " << from;
                for (std::size_t to = 0; to < states.size(); ++to) {
                    PanelCanvas kept = first;
                    EXPECT_EQ(kept.Update(textsOf(to), size).isEmpty(), from == to);
                    EXPECT_EQ(Difference(kept.Picture(), fresh[to]), "")
                        << "from state " << from << " to " << to << " at " << size.width();
                }
            }
        }
        PanelCanvas resized(background, view.PanelFont(false), view.PanelFont(true));
        resized.Update(textsOf(2), sizes[0]);
        resized.Update(textsOf(3), sizes[1]);
        EXPECT_EQ(Difference(resized.Picture(), FreshPicture(view, textsOf(3), sizes[1])), "");
    }
}

// The monitor asks for a paint on every tick: without a change the window is not even woken, with
// one it paints the rectangles that changed and nothing else, and the window then shows what a
// fresh paint shows. Strings changed on the UI thread (the settings dialog) show at its next paint.
TEST(ViewPanel, OnlyAChangeWakesTheWindowAndOnlyWhatChangedIsPainted)
{
    ASSERT_TRUE(LoadTestLanguage(0));
    CQuorvantisView view;
    view.LoadTexts();
    view.OnDeviceUnconnect();  // the placeholders
    PaintWatch watch;
    view.installEventFilter(&watch);
    auto* notifier = view.findChild<QSocketNotifier*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_NE(notifier, nullptr);
    int wakes = 0;
    QObject::connect(notifier, &QSocketNotifier::activated, &view, [&] { ++wakes; });
    view.show();
    ASSERT_TRUE(WaitUntil([&] { return !watch.paints.empty(); })) << "the first paint";
    auto shown = [&] { return view.screen()->grabWindow(view.winId()).toImage(); };
    auto fresh = [&] {
        return FreshPicture(view, view.LayoutPanel(view.GetDisplayStrings(), 0, theDeviceState.GetConfigSnapshot()),
                            view.size());
    };
    EXPECT_EQ(Difference(shown(), fresh()), "");
    // The first tick finds the placeholders, which are painted already.
    view.Invalidate();
    ASSERT_TRUE(WaitUntil([&] { return wakes == 1; })) << "the first tick's wake";
    ServeEvents();

    auto tick = [&](const char* what, const QRegion& painted) {
        watch.paints.clear();
        wakes = 0;
        view.Invalidate();
        view.Invalidate();
        if (painted.isEmpty()) {
            ServeEvents();
        } else {
            ASSERT_TRUE(WaitUntil([&] { return !watch.paints.empty(); })) << "the paint of " << what;
            ServeEvents();
        }
        EXPECT_EQ(wakes, painted.isEmpty() ? 0 : 1) << what;
        EXPECT_EQ(watch.paints, painted.isEmpty() ? std::vector<QRegion>() : std::vector<QRegion>{painted}) << what;
        EXPECT_EQ(Difference(shown(), fresh()), "") << what;
    };
    for (int i = 0; i < 3; ++i) tick("nothing new", QRegion());

    CDeviceState& ds = theDeviceState;
    ds.m_dwDeviceID = 0x0A1B2C3D;
    ds.m_nMode = 0;
    ds.m_nTempUnit = 1;
    ds.m_nInterval = 90;
    view.ShowDeviceInfo();
    QRegion values;
    for (const QRect& r :
         {QRect(150, 40, 180, 35), QRect(150, 68, 180, 37), QRect(150, 124, 180, 24), QRect(150, 152, 180, 18)})
        values += r;
    tick("the device's values", values);
    tick("nothing new", QRegion());

    ds.m_nInterval = 120;
    view.ShowDeviceInfo();
    tick("the interval", QRect(150, 124, 180, 24));

    {
        std::lock_guard<std::mutex> lock(ds.m_csConfig);
        ds.m_nMode = 2;
        ds.m_bPeriodOn[0] = 1;
        ds.m_Period[0] = OleDateTime(2026, 3, 1, 8, 0, 0);
        ds.m_Period[1] = OleDateTime(2026, 3, 1, 9, 30, 0);
    }
    tick("the first period", QRegion(300, 260, 195, 20) + QRegion(300, 280, 195, 40));
    tick("nothing new", QRegion());

    // The settings dialog rewrites the values and asks for a paint itself.
    ds.m_nTempUnit = 0;
    view.ShowDeviceInfo();
    watch.paints.clear();
    view.update();
    ASSERT_TRUE(WaitUntil([&] { return !watch.paints.empty(); })) << "the settings dialog's paint";
    EXPECT_EQ(Difference(shown(), fresh()), "") << "the unit";
}
