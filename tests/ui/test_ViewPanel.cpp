// The painted panel: where texts go by language, the period rule, the mode name, and the picture
// that paints keep between them.
#include <gtest/gtest.h>

#include <QPainter>
#include <QScreen>
#include <QSocketNotifier>
#include <QTextLayout>

#include <mutex>
#include <string>
#include <vector>

#include "app/CQuorvantisApp.h"
#include "app/CQuorvantisView.h"
#include "app/Language.h"
#include "device/CDeviceState.h"
#include "resources/resource.h"
#include "ui/GdiText.h"
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
    for (int& on : failed.config.periodOn)
        on = 1;

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
    if (a.size() != b.size())
        return "another size";
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
            for (std::size_t s = 0; s < states.size(); ++s)
                fresh.push_back(FreshPicture(view, textsOf(s), size));
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
        EXPECT_EQ(watch.paints, painted.isEmpty() ? std::vector<QRegion>() : std::vector<QRegion>{painted})
            << what;
        EXPECT_EQ(Difference(shown(), fresh()), "") << what;
    };
    for (int i = 0; i < 3; ++i)
        tick("nothing new", QRegion());

    CDeviceState& ds = theDeviceState;
    ds.m_dwDeviceID = 0x0A1B2C3D;
    ds.m_nMode = 0;
    ds.m_nTempUnit = 1;
    ds.m_nInterval = 90;
    view.ShowDeviceInfo();
    QRegion values;
    for (const QRect& r : {QRect(150, 40, 180, 35), QRect(150, 68, 180, 37), QRect(150, 124, 180, 24),
                           QRect(150, 152, 180, 18)})
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
