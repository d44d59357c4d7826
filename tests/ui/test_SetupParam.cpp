// The device settings dialog: what it shows on opening, Save's checks and the settings block it
// fills, and the control handlers. The device's configuration is set in theDeviceState directly;
// only the tests of an open device use the simulator.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimeEdit>

#include <cstdlib>
#include <functional>
#include <memory>

#include "app/CMainFrame.h"
#include "app/CQuorvantisApp.h"
#include "app/CQuorvantisView.h"
#include "app/Language.h"
#include "device/CDeviceState.h"
#include "platform/MessageBox.h"
#include "platform/StringTable.h"
#include "resources/resource.h"
#include "settings/CSetupParam.h"
#include "simulator/VT583Simulator.h"
#include "support/TempDir.h"
#include "ui/DialogUnits.h"
#include "ui/ModalHelper.h"
#include "ui/ViewTestSupport.h"

namespace {

OleDateTime At(const QDate& day, int hour, int minute)
{
    return OleDateTime(day.year(), day.month(), day.day(), hour, minute, 0);
}

class SetupParamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("QUORVANTIS_DATA_DIR", m_dir.Path().c_str(), 1);
        theDeviceState.InitDataFolder(BuildDir(), m_dir.Path());
        ASSERT_TRUE(LoadTestLanguage(0));
        CDeviceState& ds = theDeviceState;
        ds.m_nTempUnit = 1;
        ds.m_nTempOffset = 100;
        ds.m_nHumiOffset = 20;
        ds.m_nInterval = 600;
        ds.m_nTimeFormat = 1;
        ds.m_nDateFormat = 0;
        ds.m_nAutoOff = 0;
        ds.m_nTemp = 650;
        ds.m_nTempRaw = 650;
        ds.m_nHumiRaw = 45;
        ds.m_nScreenWidth = 1920;
        ds.m_nScreenHeight = 1080;
        SetDevicePeriods(1, {}, {0, 0, 0, 0});
        m_dlg = std::make_unique<CSetupParam>();
    }

    // Mode, the eight stored period times (none: all invalid) and the four enable flags.
    static void SetDevicePeriods(int mode, std::vector<OleDateTime> times, std::array<int, 4> on)
    {
        CDeviceState& ds = theDeviceState;
        std::lock_guard<std::mutex> lock(ds.m_csConfig);
        ds.m_nMode = mode;
        for (int i = 0; i < 8; ++i)
            ds.m_Period[i] = i < static_cast<int>(times.size()) ? times[i] : OleDateTime(0.0, OleDateTime::invalid);
        for (int k = 0; k < 4; ++k) ds.m_bPeriodOn[k] = on[k];
    }

    void Open()
    {
        m_dlg->hide();
        m_dlg->setResult(0);
        m_dlg->show();
    }

    // Presses Save; true when the dialog ended with Accepted.
    bool Save()
    {
        m_dlg->setResult(0);
        m_dlg->OnBnClickedSave();
        return m_dlg->result() == QDialog::Accepted && !m_dlg->isVisible();
    }

    template <class W>
    W* Ctl(const char* name) const
    {
        W* w = m_dlg->findChild<W*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QLineEdit* Edit(const char* name) const { return Ctl<QLineEdit>(name); }
    QComboBox* Combo(const char* name) const { return Ctl<QComboBox>(name); }
    QString LabelText(const char* name) const { return Ctl<QLabel>(name)->text(); }

    void SetText(const char* name, const QString& text) { Edit(name)->setText(text); }
    void Choose(const char* combo, int index) { Combo(combo)->setCurrentIndex(index); }

    static void Focus(QWidget* w, bool in)
    {
        QFocusEvent event(in ? QEvent::FocusIn : QEvent::FocusOut);
        QApplication::sendEvent(w, &event);
    }

    // The last box shown, or "" when none was.
    std::string LastBox()
    {
        const auto entries = m_rec->Entries();
        return entries.empty() ? std::string() : entries.back().text;
    }

    // A simulated recorder (ID 0A1B2C3D), opened as the monitor would open it.
    std::shared_ptr<sim::VT583Simulator> ConnectRecorder()
    {
        theDeviceState.m_Link.SetTransport(&m_transport);
        auto rec = m_transport.Attach("/dev/hidraw5");
        rec->SetDeviceId(0x0A1B2C3D);
        theDeviceState.m_Link.Open();
        return rec;
    }

    TempDir m_dir;
    sim::SimulatorTransport m_transport;
    ScopedMessageBoxRecorder m_rec;
    std::unique_ptr<CSetupParam> m_dlg;
};

TEST_F(SetupParamTest, IntervalOnOpening)
{
    struct Case {
        int seconds;
        bool minutes;
        QString edit;
        int listIndex;
    };
    const Case cases[] = {
        {600, true, "10", -1}, {90, true, "--", -1}, {40, false, "", 4}, {30, false, "", -1}, {20000, false, "", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        theDeviceState.m_nInterval = c.seconds;
        m_dlg->m_strInterval.clear();
        Open();
        EXPECT_EQ(Ctl<QRadioButton>("IDC_SETUP_MINUTE")->isChecked(), c.minutes);
        EXPECT_EQ(Ctl<QRadioButton>("IDC_SETUP_SECOND")->isChecked(), !c.minutes);
        EXPECT_EQ(Edit("IDC_SETUP_INTERVAL")->isVisible(), c.minutes);
        EXPECT_EQ(Combo("IDC_SETUP_SECONDS_LIST")->isVisible(), !c.minutes);
        if (c.minutes)
            EXPECT_EQ(Edit("IDC_SETUP_INTERVAL")->text(), c.edit);
        else
            EXPECT_EQ(Combo("IDC_SETUP_SECONDS_LIST")->currentIndex(), c.listIndex);
        EXPECT_EQ(Combo("IDC_SETUP_SECONDS_LIST")->count(), 7);
    }
}

TEST_F(SetupParamTest, OffsetsAndSettingsOnOpening)
{
    CDeviceState& ds = theDeviceState;
    struct Case {
        int unit, offset;
        QString text, label;
    };
    const Case cases[] = {
        {1, 95, "-0.5", "°C"},  {0, 105, "0.9", "°F"}, {1, 250, "--.-", "°C"},
        {1, 200, "10.0", "°C"}, {0, 0, "-18.0", "°F"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        ds.m_nTempUnit = c.unit;
        ds.m_nTempOffset = c.offset;
        Open();
        EXPECT_EQ(Edit("IDC_SETUP_TEMP_OFFSET")->text(), c.text);
        EXPECT_EQ(LabelText("IDC_SETUP_TEMP_UNIT_LABEL"), c.label);
        EXPECT_EQ(Combo("IDC_SETUP_UNIT")->currentIndex(), c.unit);
        EXPECT_TRUE(Edit("IDC_SETUP_TEMP_OFFSET")->isEnabled());
    }
    ds.m_nHumiOffset = 15;
    Open();
    EXPECT_EQ(Edit("IDC_SETUP_HUMI_OFFSET")->text(), "-5");
    EXPECT_TRUE(Edit("IDC_SETUP_HUMI_OFFSET")->isEnabled());
    ds.m_nHumiOffset = 60;
    Open();
    EXPECT_EQ(Edit("IDC_SETUP_HUMI_OFFSET")->text(), "--");
    EXPECT_FALSE(Edit("IDC_SETUP_HUMI_OFFSET")->isEnabled());  // no device open

    // The settings writer's failure texts are loaded; Save needs a device.
    EXPECT_EQ(m_dlg->m_strMsg[26], "Change settings fail");
    EXPECT_EQ(m_dlg->m_strMsg[27], "Change the time period failed");
    EXPECT_FALSE(Ctl<QPushButton>("IDC_SETUP_SAVE")->isEnabled());

    // A reset device: nothing known, the offset edit locked.
    ds.Reset();
    Open();
    EXPECT_EQ(Combo("IDC_SETUP_UNIT")->currentIndex(), -1);
    EXPECT_EQ(Combo("IDC_SETUP_MODE")->currentIndex(), -1);
    EXPECT_EQ(Combo("IDC_SETUP_TIME_FORMAT")->currentIndex(), -1);
    EXPECT_EQ(Edit("IDC_SETUP_TEMP_OFFSET")->text(), "--.-");
    EXPECT_FALSE(Edit("IDC_SETUP_TEMP_OFFSET")->isEnabled());
    EXPECT_EQ(LabelText("IDC_SETUP_TEMP_UNIT_LABEL"), "°C");
    EXPECT_EQ(Edit("IDC_SETUP_HUMI_OFFSET")->text(), "--");
    EXPECT_TRUE(Edit("IDC_SETUP_HUMI_OFFSET")->isEnabled());  // locked only above 40
}

// The date format, time format and automatic switch-off as a recorder's flag byte gives them.
TEST_F(SetupParamTest, DisplaySettingsOfARecorderOnOpening)
{
    CDeviceState& ds = theDeviceState;
    auto rec = ConnectRecorder();
    ASSERT_TRUE(ds.m_Link.IsDeviceOpen());
    struct Case {
        std::uint8_t flags;  // bit 0 Celsius, bit 1 MD, bit 2 24h, bit 5 automatic switch-off
        const char *unit, *date, *time;
        bool autoOff;
    };
    for (const Case& c : {Case{0x01, "°C", "DM", "12h", false}, Case{0x27, "°C", "MD", "24h", true},
                          Case{0x22, "°F", "MD", "12h", true}, Case{0x04, "°F", "DM", "24h", false}}) {
        SCOPED_TRACE(c.flags);
        rec->SetFlagByte(c.flags);
        Open();
        EXPECT_EQ(Combo("IDC_SETUP_UNIT")->currentText(), QString::fromUtf8(c.unit));
        EXPECT_EQ(Combo("IDC_SETUP_DATE_FORMAT")->currentText(), QLatin1String(c.date));
        EXPECT_EQ(Combo("IDC_SETUP_TIME_FORMAT")->currentText(), QLatin1String(c.time));
        EXPECT_EQ(Ctl<QCheckBox>("IDC_SETUP_AUTO_OFF")->isChecked(), c.autoOff);
    }
    ds.m_Link.Close();
}

TEST_F(SetupParamTest, WindowSizeByMode)
{
    const QSize full = DluSize(414, 404);
    const QSize reduced(full.width() * 8 / 9, full.height() * 21 / 40);
    auto centred = [](const QSize& s) { return QPoint((1920 - s.width()) / 2, (1080 - s.height()) / 2); };
    for (int mode : {0, 1, -1}) {
        SCOPED_TRACE(mode);
        SetDevicePeriods(mode, {}, {0, 0, 0, 0});
        Open();
        EXPECT_EQ(m_dlg->size(), reduced);
        EXPECT_EQ(m_dlg->pos(), centred(reduced));
        EXPECT_EQ(m_dlg->m_nFullWidth, full.width());
        EXPECT_EQ(m_dlg->m_nFullHeight, full.height());
    }
    // After a reduced showing the next one still starts from the full size.
    SetDevicePeriods(2, {}, {0, 0, 0, 0});
    Open();
    EXPECT_EQ(m_dlg->size(), full);
    EXPECT_EQ(m_dlg->pos(), centred(full));

    // Changing the mode resizes around the same centre; hidden pickers keep their values.
    QTimeEdit* time = Ctl<QTimeEdit>("IDC_SETUP_END_TIME4");
    time->setTime(QTime(7, 45));
    Choose("IDC_SETUP_MODE", 0);
    m_dlg->OnCbnSelchangeMode();
    EXPECT_EQ(m_dlg->size(), reduced);
    EXPECT_EQ(m_dlg->pos(), centred(reduced));
    Choose("IDC_SETUP_MODE", 2);
    m_dlg->OnCbnSelchangeMode();
    EXPECT_EQ(m_dlg->size(), full);
    EXPECT_EQ(m_dlg->pos(), centred(full));
    EXPECT_EQ(time->time(), QTime(7, 45));
    EXPECT_EQ(time->displayFormat(), "HH:mm");
}

TEST_F(SetupParamTest, PeriodPickersOnOpening)
{
    // Stored periods show as they are, with the pickers of disabled periods locked.
    const QDate day(2031, 5, 6);
    SetDevicePeriods(2,
                     {At(day, 8, 0), At(day, 9, 30), At(day, 10, 0), At(day, 11, 0), At(day, 12, 0), At(day, 13, 0),
                      At(day, 14, 15), At(day, 23, 59)},
                     {1, 0, 1, 0});
    Open();
    EXPECT_EQ(Ctl<QDateEdit>("IDC_SETUP_START_DATE1")->date(), day);
    EXPECT_EQ(Ctl<QTimeEdit>("IDC_SETUP_END_TIME1")->time(), QTime(9, 30));
    EXPECT_EQ(Ctl<QTimeEdit>("IDC_SETUP_START_TIME4")->time(), QTime(14, 15));
    EXPECT_EQ(Ctl<QTimeEdit>("IDC_SETUP_END_TIME4")->time(), QTime(23, 59));
    EXPECT_TRUE(Ctl<QCheckBox>("IDC_SETUP_PERIOD1")->isChecked());
    EXPECT_FALSE(Ctl<QCheckBox>("IDC_SETUP_PERIOD2")->isChecked());
    EXPECT_TRUE(Ctl<QDateEdit>("IDC_SETUP_END_DATE1")->isEnabled());
    EXPECT_FALSE(Ctl<QDateEdit>("IDC_SETUP_END_DATE2")->isEnabled());
    EXPECT_FALSE(Ctl<QTimeEdit>("IDC_SETUP_START_TIME2")->isEnabled());
    EXPECT_EQ(LabelText("IDC_SETUP_TIME_CAPTION8"), "Time");
    EXPECT_EQ(Ctl<QGroupBox>("IDC_SETUP_PERIOD_GROUP3")->title(), "The three time");

    // Ticking a period unlocks its pickers.
    Ctl<QCheckBox>("IDC_SETUP_PERIOD2")->click();
    EXPECT_TRUE(Ctl<QDateEdit>("IDC_SETUP_END_DATE2")->isEnabled());
    EXPECT_TRUE(Ctl<QTimeEdit>("IDC_SETUP_START_TIME2")->isEnabled());

    // One unusable stored time: a chain of one-hour periods a minute apart, from now + 1 minute.
    SetDevicePeriods(2,
                     {At(day, 8, 0), At(day, 9, 30), OleDateTime(0.0, OleDateTime::invalid), At(day, 11, 0),
                      At(day, 12, 0), At(day, 13, 0), At(day, 14, 15), At(day, 23, 59)},
                     {1, 0, 1, 0});
    const QDateTime before = QDateTime::currentDateTime();
    Open();
    const QDateTime after = QDateTime::currentDateTime();
    auto picked = [&](const char* date, const char* time) {
        return QDateTime(Ctl<QDateEdit>(date)->date(), Ctl<QTimeEdit>(time)->time());
    };
    auto minute = [](const QDateTime& t) { return QDateTime(t.date(), QTime(t.time().hour(), t.time().minute())); };
    const QDateTime start1 = picked("IDC_SETUP_START_DATE1", "IDC_SETUP_START_TIME1");
    EXPECT_GE(start1, minute(before.addSecs(60)));
    EXPECT_LE(start1, minute(after.addSecs(60)));
    EXPECT_EQ(picked("IDC_SETUP_END_DATE1", "IDC_SETUP_END_TIME1"), start1.addSecs(3600));
    EXPECT_EQ(picked("IDC_SETUP_START_DATE2", "IDC_SETUP_START_TIME2"), start1.addSecs(3660));
    EXPECT_EQ(picked("IDC_SETUP_END_DATE4", "IDC_SETUP_END_TIME4"), start1.addSecs(4 * 3600 + 3 * 60));
}

TEST_F(SetupParamTest, OffsetTexts)
{
    struct Case {
        const char* text;
        int unit;     // combo index: 0 °F, 1 °C; -1: the text goes to the humidity offset
        int message;  // 0: accepted
        int offset;
    };
    const Case cases[] = {
        {"", 1, 0, 100},
        {"-", 1, 0, 100},
        {"1.5", 1, 0, 115},
        {"1.55", 1, IDS_ONE_DECIMAL_PLACE, 0},
        {"1.", 1, IDS_ONE_DECIMAL_PLACE, 0},
        {"1.5.", 1, IDS_ONE_DECIMAL_PLACE, 0},
        {"1..", 1, IDS_TEMP_OFFSET_INVALID, 0},
        {".5", 1, IDS_TEMP_OFFSET_INVALID, 0},
        {"-.5", 1, 0, 95},
        {"--.-", 1, IDS_TEMP_OFFSET_INVALID, 0},
        {"1a", 1, IDS_TEMP_OFFSET_INVALID, 0},
        {"20", -1, 0, 40},
        {"-20", -1, 0, 0},
        {"", -1, 0, 20},
        {"21", -1, IDS_HUMI_OFFSET_INVALID, 0},
        {"1.5", -1, IDS_HUMI_OFFSET_INVALID, 0},
        {"--", -1, IDS_HUMI_OFFSET_INVALID, 0},
        {"5-", -1, IDS_HUMI_OFFSET_INVALID, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Open();
        m_rec->Clear();
        const char* edit = c.unit < 0 ? "IDC_SETUP_HUMI_OFFSET" : "IDC_SETUP_TEMP_OFFSET";
        if (c.unit >= 0) Choose("IDC_SETUP_UNIT", c.unit);
        SetText(edit, QString::fromUtf8(c.text));
        const bool accepted = Save();
        if (c.message == 0) {
            EXPECT_TRUE(accepted);
            EXPECT_EQ(m_rec->Count(), 0u);
            EXPECT_EQ(c.unit < 0 ? m_dlg->m_nNewHumiOffset : m_dlg->m_nNewTempOffset, c.offset);
            if (c.unit >= 0) {
                EXPECT_EQ(m_dlg->m_nNewTempUnit, c.unit);
            }
        } else {
            EXPECT_FALSE(accepted);
            ASSERT_EQ(m_rec->Count(), 1u);
            EXPECT_EQ(LastBox(), LoadString(c.message));
            EXPECT_EQ(m_rec->Entries().back().buttons, MsgButtons::Ok);
            // The controls stay as the user left them.
            EXPECT_EQ(Edit(edit)->text(), QString::fromUtf8(c.text));
        }
    }
}

TEST_F(SetupParamTest, TemperatureOffsetAtEveryTenth)
{
    // Tenths n of the unit chosen: in degrees F the recorder gets the integer part of
    // n / 1.8 + 100, which is (5n + 900) / 9 in integer arithmetic (never negative from -18.0 on);
    // in degrees C n + 100. A tenth beyond either end is refused.
    struct Unit {
        int index, limit;
        int (*offset)(int n);
    } const units[] = {{0, 180, [](int n) { return (5 * n + 900) / 9; }}, {1, 100, [](int n) { return n + 100; }}};
    Open();
    for (const Unit& u : units) {
        for (int n = -u.limit - 1; n <= u.limit + 1; ++n) {
            const QString text =
                QStringLiteral("%1%2.%3").arg(n < 0 ? "-" : "").arg(std::abs(n) / 10).arg(std::abs(n) % 10);
            SCOPED_TRACE(text.toStdString() + (u.index == 0 ? " F" : " C"));
            m_rec->Clear();
            Choose("IDC_SETUP_UNIT", u.index);
            SetText("IDC_SETUP_TEMP_OFFSET", text);
            const bool accepted = Save();
            if (std::abs(n) > u.limit) {
                EXPECT_FALSE(accepted);
                EXPECT_EQ(LastBox(), LoadString(IDS_TEMP_OFFSET_INVALID));
                continue;
            }
            ASSERT_TRUE(accepted) << LastBox();
            EXPECT_EQ(m_dlg->m_nNewTempUnit, u.index);
            EXPECT_EQ(m_dlg->m_nNewTempOffset, u.offset(n));
        }
    }
}

TEST_F(SetupParamTest, IntervalOnSave)
{
    struct Case {
        const char* minutes;
        int seconds;  // -1: refused with 1102
    };
    for (const Case& c :
         {Case{"0", -1}, Case{"241", -1}, Case{"", -1}, Case{"240", 14400}, Case{"1", 60}, Case{"10", 600}}) {
        SCOPED_TRACE(c.minutes);
        Open();
        m_rec->Clear();
        SetText("IDC_SETUP_INTERVAL", QString::fromUtf8(c.minutes));
        const bool accepted = Save();
        if (c.seconds < 0) {
            EXPECT_FALSE(accepted);
            EXPECT_EQ(LastBox(), "Tip: Value range is 1 to 240");
        } else {
            EXPECT_TRUE(accepted);
            EXPECT_EQ(m_dlg->m_nNewInterval, c.seconds);
            EXPECT_EQ(m_dlg->m_bIntervalChanged, c.seconds != 600 ? 1 : 0);
        }
    }
    // A device interval that is no whole number of minutes shows "--", which Save refuses.
    theDeviceState.m_nInterval = 90;
    Open();
    EXPECT_FALSE(Save());
    EXPECT_EQ(LastBox(), "Tip: Value range is 1 to 240");

    // The seconds list: entry 6 is 56 s.
    theDeviceState.m_nInterval = 40;
    Open();
    Choose("IDC_SETUP_SECONDS_LIST", 6);
    ASSERT_TRUE(Save());
    EXPECT_EQ(m_dlg->m_nNewInterval, 56);
    EXPECT_EQ(m_dlg->m_bIntervalChanged, 1);

    // A device interval the list does not hold leaves it without a choice: the interval stays as
    // it is instead of becoming 0 seconds.
    for (int seconds : {30, 20000}) {
        theDeviceState.m_nInterval = seconds;
        Open();
        ASSERT_EQ(Combo("IDC_SETUP_SECONDS_LIST")->currentIndex(), -1);
        ASSERT_TRUE(Save());
        EXPECT_EQ(m_dlg->m_nNewInterval, seconds);
        EXPECT_EQ(m_dlg->m_bIntervalChanged, 0);
    }
}

TEST_F(SetupParamTest, SettingsBlockAndModeChange)
{
    CDeviceState& ds = theDeviceState;
    ds.m_nTimeFormat = 0;
    ds.m_nDateFormat = 1;
    Open();
    Choose("IDC_SETUP_TIME_FORMAT", 1);
    Choose("IDC_SETUP_DATE_FORMAT", 0);
    Ctl<QCheckBox>("IDC_SETUP_AUTO_OFF")->setChecked(true);
    ASSERT_TRUE(Save());
    EXPECT_EQ(m_dlg->m_nNewTimeFormat, 1);
    EXPECT_EQ(m_dlg->m_nNewDateFormat, 0);
    EXPECT_EQ(m_dlg->m_nNewAutoOff, 1);
    EXPECT_EQ(m_dlg->m_nNewMode, 1);
    EXPECT_EQ(m_dlg->m_nNewTempUnit, 1);
    EXPECT_EQ(ds.m_bModeChanged.load(), 0);
    EXPECT_EQ(m_rec->Count(), 0u);

    // A mode change answered No keeps the dialog open with the flag raised.
    Open();
    m_rec->Clear();
    Choose("IDC_SETUP_MODE", 0);
    m_rec->PushAnswer(MsgAnswer::No);
    EXPECT_FALSE(Save());
    EXPECT_EQ(LastBox(), "Change the mode, will clear history record");
    EXPECT_EQ(m_rec->Entries().back().buttons, MsgButtons::YesNo);
    EXPECT_EQ(ds.m_bModeChanged.load(), 1);

    // Yes, then a failing range check: still open, flag still raised.
    m_rec->PushAnswer(MsgAnswer::Yes);
    SetText("IDC_SETUP_HUMI_OFFSET", "30");
    EXPECT_FALSE(Save());
    EXPECT_EQ(LastBox(), "Humidity is not valid offset range");
    EXPECT_EQ(ds.m_bModeChanged.load(), 1);

    // Yes and valid values: accepted; outside segmented mode the check boxes are not read.
    m_rec->Clear();
    m_rec->PushAnswer(MsgAnswer::Yes);
    SetText("IDC_SETUP_HUMI_OFFSET", "3");
    m_dlg->m_bNewPeriodOn[2] = 1;
    Ctl<QCheckBox>("IDC_SETUP_PERIOD1")->setChecked(true);
    ASSERT_TRUE(Save());
    EXPECT_EQ(m_rec->Count(), 1u);
    EXPECT_EQ(m_dlg->m_nNewMode, 0);
    EXPECT_EQ(m_dlg->m_nNewHumiOffset, 23);
    EXPECT_EQ(m_dlg->m_bNewPeriodOn[0], 0);
    EXPECT_EQ(m_dlg->m_bNewPeriodOn[2], 1);
    EXPECT_EQ(m_dlg->m_bPeriodFlagsChanged, 0);
    EXPECT_EQ(m_dlg->m_bPeriodsChanged, 0);
    // The period times are built on every Save that gets that far.
    const QDate d = Ctl<QDateEdit>("IDC_SETUP_START_DATE3")->date();
    const QTime t = Ctl<QTimeEdit>("IDC_SETUP_START_TIME3")->time();
    EXPECT_TRUE(m_dlg->m_dtNewStart[2] == At(d, t.hour(), t.minute()));
}

TEST_F(SetupParamTest, PeriodChecks)
{
    CDeviceState& ds = theDeviceState;
    const QDate past(2020, 1, 2);
    const QDate next = QDate::currentDate().addDays(1);

    // Unchanged periods and flags: no check runs, even with a start in the past.
    SetDevicePeriods(2,
                     {At(past, 8, 0), At(past, 9, 0), At(past, 10, 0), At(past, 11, 0), At(past, 12, 0),
                      At(past, 13, 0), At(past, 14, 0), At(past, 15, 0)},
                     {1, 0, 1, 0});
    Open();
    ASSERT_TRUE(Save());
    EXPECT_EQ(m_rec->Count(), 0u);
    EXPECT_EQ(m_dlg->m_bPeriodsChanged, 0);
    EXPECT_EQ(m_dlg->m_bPeriodFlagsChanged, 0);
    EXPECT_EQ(m_dlg->m_bNewPeriodOn[2], 1);

    // Only the flags changed: the checks run over the enabled periods (4 alone, in the past).
    Open();
    Ctl<QCheckBox>("IDC_SETUP_PERIOD1")->setChecked(false);
    Ctl<QCheckBox>("IDC_SETUP_PERIOD3")->setChecked(false);
    Ctl<QCheckBox>("IDC_SETUP_PERIOD4")->setChecked(true);
    EXPECT_FALSE(Save());
    EXPECT_EQ(LastBox(), "The fourth start time should be after the current time");
    EXPECT_EQ(m_dlg->m_bPeriodFlagsChanged, 1);

    // Periods 1 and 3 in the future; start 3 equal to end 1 fails with the pair message.
    SetDevicePeriods(2,
                     {At(next, 8, 0), At(next, 9, 0), At(next, 10, 0), At(next, 11, 0), At(next, 10, 0),
                      At(next, 11, 0), At(next, 14, 0), At(next, 15, 0)},
                     {1, 0, 1, 0});
    Open();
    m_rec->Clear();
    Ctl<QTimeEdit>("IDC_SETUP_START_TIME3")->setTime(QTime(9, 0));
    EXPECT_FALSE(Save());
    EXPECT_EQ(LastBox(), "The three start time should be after the first end time");
    // End before start.
    Ctl<QTimeEdit>("IDC_SETUP_START_TIME3")->setTime(QTime(9, 30));
    Ctl<QTimeEdit>("IDC_SETUP_END_TIME3")->setTime(QTime(9, 30));
    EXPECT_FALSE(Save());
    EXPECT_EQ(LastBox(), "The three end time should be after three start time");
    // Valid edit: asks 1107; No keeps it open with the flag set.
    Ctl<QTimeEdit>("IDC_SETUP_END_TIME3")->setTime(QTime(9, 31));
    m_rec->PushAnswer(MsgAnswer::No);
    EXPECT_FALSE(Save());
    EXPECT_EQ(LastBox(), "Change the time period, will clear history record");
    EXPECT_EQ(m_dlg->m_bPeriodsChanged, 1);
    // No period enabled: ends with the periods unchanged.
    Ctl<QCheckBox>("IDC_SETUP_PERIOD1")->setChecked(false);
    Ctl<QCheckBox>("IDC_SETUP_PERIOD3")->setChecked(false);
    ASSERT_TRUE(Save());
    EXPECT_EQ(m_dlg->m_bPeriodsChanged, 0);
    EXPECT_EQ(m_dlg->m_bPeriodFlagsChanged, 1);
    // Yes to 1107 ends it.
    Open();
    Ctl<QTimeEdit>("IDC_SETUP_END_TIME1")->setTime(QTime(9, 15));
    m_rec->PushAnswer(MsgAnswer::Yes);
    ASSERT_TRUE(Save());
    EXPECT_EQ(m_dlg->m_bPeriodsChanged, 1);
    EXPECT_TRUE(m_dlg->m_dtNewEnd[0] == At(next, 9, 15));
    EXPECT_TRUE(m_dlg->m_dtNewStart[2] == At(next, 10, 0));

    // Every other order message, each the first failing check of its period; the pair messages
    // name the enabled period before it, also when periods are skipped.
    struct Order {
        std::array<int, 4> on;
        std::function<void()> edit;
        int message;
    };
    auto setTime = [this](const char* picker, int hour, int minute = 0) {
        return [=, this] { Ctl<QTimeEdit>(picker)->setTime(QTime(hour, minute)); };
    };
    auto setPast = [this](const char* picker) {
        return [=, this] { Ctl<QDateEdit>(picker)->setDate(QDate(2020, 1, 2)); };
    };
    const Order orders[] = {
        {{1, 0, 0, 0}, setTime("IDC_SETUP_END_TIME1", 8), IDS_END1_AFTER_START1},
        {{0, 1, 0, 0}, setTime("IDC_SETUP_END_TIME2", 10), IDS_END2_AFTER_START2},
        {{0, 0, 0, 1}, setTime("IDC_SETUP_END_TIME4", 13), IDS_END4_AFTER_START4},
        {{0, 1, 0, 0}, setPast("IDC_SETUP_START_DATE2"), IDS_START2_AFTER_NOW},
        {{0, 0, 1, 0}, setPast("IDC_SETUP_START_DATE3"), IDS_START3_AFTER_NOW},
        {{0, 1, 1, 0}, setTime("IDC_SETUP_START_TIME3", 10), IDS_START3_AFTER_END2},
        {{1, 1, 0, 0}, setTime("IDC_SETUP_START_TIME2", 8, 30), IDS_START2_AFTER_END1},
        {{1, 0, 0, 1}, setTime("IDC_SETUP_START_TIME4", 8, 30), IDS_START4_AFTER_END1},
        {{0, 1, 0, 1}, setTime("IDC_SETUP_START_TIME4", 10, 30), IDS_START4_AFTER_END2},
        {{0, 0, 1, 1}, setTime("IDC_SETUP_START_TIME4", 10, 30), IDS_START4_AFTER_END3},
    };
    for (const Order& o : orders) {
        SCOPED_TRACE(o.message);
        SetDevicePeriods(2,
                         {At(next, 8, 0), At(next, 9, 0), At(next, 10, 0), At(next, 11, 0), At(next, 12, 0),
                          At(next, 13, 0), At(next, 14, 0), At(next, 15, 0)},
                         o.on);
        Open();
        o.edit();
        EXPECT_FALSE(Save());
        EXPECT_EQ(LastBox(), LoadString(o.message));
    }

    // A change to segmented mode runs the checks and, once they pass, does not ask 1107.
    SetDevicePeriods(1,
                     {At(past, 8, 0), At(past, 9, 0), At(next, 10, 0), At(next, 11, 0), At(next, 12, 0),
                      At(next, 13, 0), At(next, 14, 0), At(next, 15, 0)},
                     {1, 0, 0, 0});
    Open();
    m_rec->Clear();
    Choose("IDC_SETUP_MODE", 2);
    m_rec->PushAnswer(MsgAnswer::Yes);
    EXPECT_FALSE(Save());
    EXPECT_EQ(LastBox(), "The first start time should be after the current time");
    Ctl<QDateEdit>("IDC_SETUP_START_DATE1")->setDate(next);
    Ctl<QDateEdit>("IDC_SETUP_END_DATE1")->setDate(next);
    m_rec->Clear();
    m_rec->PushAnswer(MsgAnswer::Yes);
    ASSERT_TRUE(Save());
    ASSERT_EQ(m_rec->Count(), 1u);
    EXPECT_EQ(LastBox(), "Change the mode, will clear history record");
    EXPECT_EQ(ds.m_bModeChanged.load(), 1);
    EXPECT_EQ(m_dlg->m_bPeriodsChanged, 1);
    EXPECT_EQ(m_dlg->m_nNewMode, 2);
}

TEST_F(SetupParamTest, UnitSwitchShowsStoredOffset)
{
    CDeviceState& ds = theDeviceState;
    ds.m_nTempOffset = 110;
    Open();
    EXPECT_EQ(Edit("IDC_SETUP_TEMP_OFFSET")->text(), "1.0");
    SetText("IDC_SETUP_TEMP_OFFSET", "3.0");
    SetText("IDC_SETUP_HUMI_OFFSET", "7");
    Choose("IDC_SETUP_UNIT", 0);
    m_dlg->OnCbnSelchangeUnit();
    EXPECT_EQ(Edit("IDC_SETUP_TEMP_OFFSET")->text(), "1.8");
    EXPECT_EQ(LabelText("IDC_SETUP_TEMP_UNIT_LABEL"), "°F");
    EXPECT_EQ(Edit("IDC_SETUP_HUMI_OFFSET")->text(), "7");  // other edits keep what was typed
    Choose("IDC_SETUP_UNIT", 1);
    m_dlg->OnCbnSelchangeUnit();
    EXPECT_EQ(Edit("IDC_SETUP_TEMP_OFFSET")->text(), "1.0");
    EXPECT_EQ(LabelText("IDC_SETUP_TEMP_UNIT_LABEL"), "°C");

    // A stored offset outside 0..200 is shown by the same formula once the unit is switched.
    for (const auto& [offset, unit, text] :
         {std::tuple{250, 1, "15.0"}, std::tuple{250, 0, "27.0"}, std::tuple{201, 1, "10.1"}}) {
        SCOPED_TRACE(offset);
        ds.m_nTempOffset = offset;
        Open();
        EXPECT_EQ(Edit("IDC_SETUP_TEMP_OFFSET")->text(), "--.-");
        Choose("IDC_SETUP_UNIT", unit);
        m_dlg->OnCbnSelchangeUnit();
        EXPECT_EQ(Edit("IDC_SETUP_TEMP_OFFSET")->text(), text);
    }

    // Without a live temperature at opening the offset is not shown.
    ds.m_nTemp = 0xFFFF;
    Open();
    Choose("IDC_SETUP_UNIT", 0);
    m_dlg->OnCbnSelchangeUnit();
    EXPECT_EQ(Edit("IDC_SETUP_TEMP_OFFSET")->text(), "--.-");
}

TEST_F(SetupParamTest, FocusHints)
{
    CDeviceState& ds = theDeviceState;
    ds.m_nTempRaw = 300;
    ds.m_nHumiRaw = 45;
    Open();
    QLineEdit* temp = Edit("IDC_SETUP_TEMP_OFFSET");
    QLineEdit* humi = Edit("IDC_SETUP_HUMI_OFFSET");
    Focus(temp, true);
    EXPECT_EQ(LabelText("IDC_SETUP_TEMP_HINT1"), "Original value: -10.0°C");
    EXPECT_EQ(LabelText("IDC_SETUP_TEMP_HINT2"), "Offset value range is -10.0°C to 10.0°C");
    Focus(temp, false);
    EXPECT_EQ(LabelText("IDC_SETUP_TEMP_HINT1"), "");
    EXPECT_EQ(LabelText("IDC_SETUP_TEMP_HINT2"), "");
    Choose("IDC_SETUP_UNIT", 0);
    Focus(temp, true);
    EXPECT_EQ(LabelText("IDC_SETUP_TEMP_HINT1"), "Original value: 14.0°F");
    EXPECT_EQ(LabelText("IDC_SETUP_TEMP_HINT2"), "Offset value range is -18.0°F to 18.0°F");

    // Focus on the humidity offset takes the temperature hint away.
    Focus(humi, true);
    EXPECT_EQ(LabelText("IDC_SETUP_TEMP_HINT1"), "");
    EXPECT_EQ(LabelText("IDC_SETUP_HUMI_HINT1"), "Original value: 45%");
    EXPECT_EQ(LabelText("IDC_SETUP_HUMI_HINT2"), "Offset value range is -20% to 20%");
    Focus(humi, false);
    EXPECT_EQ(LabelText("IDC_SETUP_HUMI_HINT1"), "");

    Focus(Edit("IDC_SETUP_INTERVAL"), true);
    EXPECT_EQ(LabelText("IDC_SETUP_INTERVAL_TIP"), "Tip: Value range is 1 to 240");
    Focus(Edit("IDC_SETUP_INTERVAL"), false);
    EXPECT_EQ(LabelText("IDC_SETUP_INTERVAL_TIP"), "");

    // -30.0 °C is -22.0 °F; no readings show dashes.
    ds.m_nTempRaw = 100;
    ds.m_nHumiRaw = 255;
    Open();
    Focus(temp, true);
    EXPECT_EQ(LabelText("IDC_SETUP_TEMP_HINT1"), "Original value: -30.0°C");
    Choose("IDC_SETUP_UNIT", 0);
    Focus(temp, true);
    EXPECT_EQ(LabelText("IDC_SETUP_TEMP_HINT1"), "Original value: -22.0°F");
    Focus(humi, true);
    EXPECT_EQ(LabelText("IDC_SETUP_HUMI_HINT1"), "Original value: --%");
    ds.m_nTempRaw = 0xFFFF;
    Open();
    Focus(temp, true);
    EXPECT_EQ(LabelText("IDC_SETUP_TEMP_HINT1"), "Original value: --.-°C");
}

TEST_F(SetupParamTest, IntervalRadios)
{
    CDeviceState& ds = theDeviceState;
    struct Case {
        int device;
        int listIndex;
    };
    for (const Case& c : {Case{30, 0}, Case{40, 4}, Case{600, 0}}) {
        SCOPED_TRACE(c.device);
        ds.m_nInterval = c.device;
        Open();
        Focus(Edit("IDC_SETUP_INTERVAL"), true);
        Ctl<QRadioButton>("IDC_SETUP_SECOND")->click();
        EXPECT_EQ(Combo("IDC_SETUP_SECONDS_LIST")->currentIndex(), c.listIndex);
        EXPECT_TRUE(Combo("IDC_SETUP_SECONDS_LIST")->isVisible());
        EXPECT_FALSE(Edit("IDC_SETUP_INTERVAL")->isVisible());
        EXPECT_EQ(LabelText("IDC_SETUP_INTERVAL_TIP"), "");
    }
    for (const auto& [device, text] : {std::pair{90, "1"}, std::pair{30, "1"}, std::pair{7200, "120"}}) {
        SCOPED_TRACE(device);
        ds.m_nInterval = device;
        Open();
        SetText("IDC_SETUP_TEMP_OFFSET", "2.5");
        Ctl<QRadioButton>("IDC_SETUP_MINUTE")->click();
        EXPECT_EQ(Edit("IDC_SETUP_INTERVAL")->text(), text);
        EXPECT_TRUE(Edit("IDC_SETUP_INTERVAL")->isVisible());
        EXPECT_FALSE(Combo("IDC_SETUP_SECONDS_LIST")->isVisible());
        // The edits go back to their member values.
        EXPECT_EQ(Edit("IDC_SETUP_TEMP_OFFSET")->text(), "0.0");
    }
}

// With a recorder connected: Save is enabled, the opening reads the configuration again and
// refreshes the panel's info lines, and each exec() starts with a fresh opening.
TEST_F(SetupParamTest, OpenDeviceThroughExec)
{
    CDeviceState& ds = theDeviceState;
    auto rec = ConnectRecorder();
    rec->SetInterval(900);
    rec->SetMode(1);
    rec->SetOffsets(95, 25);
    ASSERT_TRUE(ds.m_Link.IsDeviceOpen());
    ds.m_nInterval = 5;  // stale until the opening reads again

    auto frame = std::make_unique<CMainFrame>();
    theApp.m_pMainWnd = frame.get();
    CQuorvantisView* view = frame->GetActiveView();
    view->LoadTexts();

    WhenModal(QStringLiteral("IDD_SETUPPARAM"), [](QWidget* w) {
        auto* save = w->findChild<QPushButton*>(QStringLiteral("IDC_SETUP_SAVE"));
        EXPECT_TRUE(save->isEnabled());
        save->click();
    });
    EXPECT_EQ(m_dlg->exec(), QDialog::Accepted);
    EXPECT_EQ(m_dlg->m_nNewInterval, 900);
    EXPECT_EQ(m_dlg->m_bIntervalChanged, 0);
    EXPECT_EQ(m_dlg->m_nNewTempOffset, 95);
    EXPECT_EQ(m_dlg->m_nNewHumiOffset, 25);
    EXPECT_EQ(m_dlg->m_nNewMode, 1);
    const DisplayStrings shown = view->GetDisplayStrings();
    EXPECT_EQ(shown.info[0], "0A1B2C3D");
    EXPECT_EQ(shown.info[3], "15 Minute");
    EXPECT_EQ(shown.info[4], "1");

    // The second showing opens afresh; Exit ends it with Rejected.
    rec->SetInterval(48);
    WhenModal(QStringLiteral("IDD_SETUPPARAM"), [](QWidget* w) {
        auto* list = w->findChild<QComboBox*>(QStringLiteral("IDC_SETUP_SECONDS_LIST"));
        EXPECT_EQ(list->currentText(), "48");
        w->findChild<QPushButton*>(QStringLiteral("IDC_SETUP_EXIT"))->click();
    });
    EXPECT_EQ(m_dlg->exec(), QDialog::Rejected);
    EXPECT_EQ(view->GetDisplayStrings().info[3], "48 Seconds");

    // The recorder is unplugged, or another one opened, while the dialog is open: Save says so,
    // asks about no mode change, and the dialog stays open.
    for (const bool another : {false, true}) {
        SCOPED_TRACE(another ? "another recorder" : "unplugged");
        m_rec->Clear();
        ds.m_Link.Open();
        bool stayed = false;
        WhenModal(QStringLiteral("IDD_SETUPPARAM"), [&](QWidget* w) {
            if (another) {
                ds.OpenDevice();
            } else {
                ds.m_Link.CloseHandles();
                ds.Reset();
            }
            w->findChild<QPushButton*>(QStringLiteral("IDC_SETUP_SAVE"))->click();
            stayed = w->isVisible();
            w->findChild<QPushButton*>(QStringLiteral("IDC_SETUP_EXIT"))->click();
        });
        EXPECT_EQ(m_dlg->exec(), QDialog::Rejected);
        EXPECT_TRUE(stayed);
        EXPECT_EQ(LastBox(), LoadString(IDS_SETTINGS_DEVICE_GONE));
        EXPECT_EQ(m_rec->Count(), 1u);
        EXPECT_EQ(ds.m_bModeChanged, 0);
    }
    theApp.m_pMainWnd = nullptr;
    ds.m_Link.Close();
}

}  // namespace
