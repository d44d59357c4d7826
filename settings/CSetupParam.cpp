#include "settings/CSetupParam.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTimeEdit>

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "app/CMainFrame.h"
#include "app/CQuorvantisApp.h"
#include "app/CQuorvantisView.h"
#include "device/CDeviceState.h"
#include "platform/MessageBox.h"
#include "platform/NumberText.h"
#include "platform/StringTable.h"
#include "resources/resource.h"
#include "ui/DialogLayout.h"
#include "ui/DialogUnits.h"

namespace {

// String ids of m_strMsg, slot by slot.
constexpr int kMsgIds[28] = {
    IDS_SETUP,
    IDS_TEMPERATURE_UNIT,
    IDS_DATE,
    IDS_TEMP_OFFSET_RANGE_F,
    IDS_DISPLAY,
    IDS_MINUTE,
    IDS_INTERVAL,
    IDS_CANCEL,
    IDS_SAVE,
    IDS_TIME_DISPLAY,
    IDS_MODE,
    IDS_SECONDS,
    IDS_OFFSET_VALUE,
    IDS_TEMP_OFFSET,
    IDS_HUMI_OFFSET,
    IDS_ACYCLIC_MODE,
    IDS_CYCLE_MODE,
    IDS_SEGMENTED_MODE,
    IDS_INTERVAL_TIP,
    IDS_ORIGINAL_VALUE,
    IDS_HUMI_OFFSET_RANGE,
    IDS_TEMP_OFFSET_RANGE_C,
    IDS_AUTO_OFF_NOTE,
    IDS_TEMP_OFFSET_INVALID,
    IDS_HUMI_OFFSET_INVALID,
    IDS_ONE_DECIMAL_PLACE,
    IDS_CHANGE_SETTINGS_FAIL,
    IDS_CHANGE_PERIOD_FAIL,
};
enum MsgSlot {
    MSG_CAPTION = 0,
    MSG_UNIT = 1,
    MSG_DATE = 2,
    MSG_RANGE_F = 3,
    MSG_DISPLAY = 4,
    MSG_MINUTE = 5,
    MSG_INTERVAL = 6,
    MSG_CANCEL = 7,
    MSG_SAVE = 8,
    MSG_TIME_DISPLAY = 9,
    MSG_MODE = 10,
    MSG_SECONDS = 11,
    MSG_OFFSET = 12,
    MSG_TEMP_OFFSET = 13,
    MSG_HUMI_OFFSET = 14,
    MSG_MODE_FIRST = 15,
    MSG_INTERVAL_TIP = 18,
    MSG_ORIGINAL = 19,
    MSG_RANGE_HUMI = 20,
    MSG_RANGE_C = 21,
    MSG_TEMP_INVALID = 23,
    MSG_HUMI_INVALID = 24,
    MSG_ONE_DECIMAL = 25,
};

// Object names of one period's controls.
struct PeriodNames {
    const char *group, *startGroup, *endGroup, *check;
    const char *startDate, *startTime, *endDate, *endTime;
    const char *dateCaption[2], *timeCaption[2];
};
const PeriodNames kPeriodNames[4] = {
    {QV_ID_NAME(IDC_SETUP_PERIOD_GROUP1),
     QV_ID_NAME(IDC_SETUP_START_GROUP1),
     QV_ID_NAME(IDC_SETUP_END_GROUP1),
     QV_ID_NAME(IDC_SETUP_PERIOD1),
     QV_ID_NAME(IDC_SETUP_START_DATE1),
     QV_ID_NAME(IDC_SETUP_START_TIME1),
     QV_ID_NAME(IDC_SETUP_END_DATE1),
     QV_ID_NAME(IDC_SETUP_END_TIME1),
     {QV_ID_NAME(IDC_SETUP_DATE_CAPTION1), QV_ID_NAME(IDC_SETUP_DATE_CAPTION2)},
     {QV_ID_NAME(IDC_SETUP_TIME_CAPTION1), QV_ID_NAME(IDC_SETUP_TIME_CAPTION2)}},
    {QV_ID_NAME(IDC_SETUP_PERIOD_GROUP2),
     QV_ID_NAME(IDC_SETUP_START_GROUP2),
     QV_ID_NAME(IDC_SETUP_END_GROUP2),
     QV_ID_NAME(IDC_SETUP_PERIOD2),
     QV_ID_NAME(IDC_SETUP_START_DATE2),
     QV_ID_NAME(IDC_SETUP_START_TIME2),
     QV_ID_NAME(IDC_SETUP_END_DATE2),
     QV_ID_NAME(IDC_SETUP_END_TIME2),
     {QV_ID_NAME(IDC_SETUP_DATE_CAPTION3), QV_ID_NAME(IDC_SETUP_DATE_CAPTION4)},
     {QV_ID_NAME(IDC_SETUP_TIME_CAPTION3), QV_ID_NAME(IDC_SETUP_TIME_CAPTION4)}},
    {QV_ID_NAME(IDC_SETUP_PERIOD_GROUP3),
     QV_ID_NAME(IDC_SETUP_START_GROUP3),
     QV_ID_NAME(IDC_SETUP_END_GROUP3),
     QV_ID_NAME(IDC_SETUP_PERIOD3),
     QV_ID_NAME(IDC_SETUP_START_DATE3),
     QV_ID_NAME(IDC_SETUP_START_TIME3),
     QV_ID_NAME(IDC_SETUP_END_DATE3),
     QV_ID_NAME(IDC_SETUP_END_TIME3),
     {QV_ID_NAME(IDC_SETUP_DATE_CAPTION5), QV_ID_NAME(IDC_SETUP_DATE_CAPTION6)},
     {QV_ID_NAME(IDC_SETUP_TIME_CAPTION5), QV_ID_NAME(IDC_SETUP_TIME_CAPTION6)}},
    {QV_ID_NAME(IDC_SETUP_PERIOD_GROUP4),
     QV_ID_NAME(IDC_SETUP_START_GROUP4),
     QV_ID_NAME(IDC_SETUP_END_GROUP4),
     QV_ID_NAME(IDC_SETUP_PERIOD4),
     QV_ID_NAME(IDC_SETUP_START_DATE4),
     QV_ID_NAME(IDC_SETUP_START_TIME4),
     QV_ID_NAME(IDC_SETUP_END_DATE4),
     QV_ID_NAME(IDC_SETUP_END_TIME4),
     {QV_ID_NAME(IDC_SETUP_DATE_CAPTION7), QV_ID_NAME(IDC_SETUP_DATE_CAPTION8)},
     {QV_ID_NAME(IDC_SETUP_TIME_CAPTION7), QV_ID_NAME(IDC_SETUP_TIME_CAPTION8)}},
};
constexpr int kPeriodCaptionIds[4] = {IDS_FIRST_TIME, IDS_SECOND_TIME, IDS_THIRD_TIME, IDS_FOURTH_TIME};

// The template: 414 x 404 dialog units; without the period area 8/9 of the width and 21/40 of
// the height remain.
constexpr int kTemplateWidth = 414;
constexpr int kTemplateHeight = 404;
constexpr int kPeriodTop = 212;  // group titles stay below the reduced window
constexpr int kPeriodPitch = 48;

const QString kNoTempOffset = QStringLiteral("--.-");
const QString kNoHumiOffset = QStringLiteral("--");
constexpr int kNoReadingAbove = 1000;

// The seconds list holds 8, 16, ..., 56 seconds.
constexpr int kSecondsStep = 8;
constexpr int kSecondsEntries = 7;

// The list entry of a device interval, or fallback when the list does not hold it.
int SecondsEntry(int interval, int fallback)
{
    return interval >= 1 && interval <= 59 && interval % kSecondsStep == 0 ? interval / kSecondsStep - 1 : fallback;
}

// The minutes edit's text of a device interval, or fallback when it is no whole number of minutes
// from 1 to 240.
QString MinutesText(int interval, const QString& fallback)
{
    return interval >= 60 && interval <= 14400 && interval % 60 == 0 ? QString::number(interval / 60) : fallback;
}

template <class W>
W* Make(QWidget* parent, const char* name, const QRect& rect)
{
    auto* w = new W(parent);
    if (name) w->setObjectName(QLatin1String(name));
    w->setGeometry(rect);
    return w;
}

QString Text(const std::string& s) { return QString::fromStdString(s); }

// printf-style formatting of a loaded text. Qt's formatter writes numbers in the C locale,
// whatever LC_NUMERIC says.
template <class... Args>
QString FormatText(const std::string& format, Args... args)
{
    return QString::asprintf(format.c_str(), args...);
}

bool IsDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

// Picker values: a day at midnight, or an hour and minute on day zero.
OleDateTime DateValue(int year, int month, int day) { return OleDateTime(year, month, day, 0, 0, 0); }
OleDateTime TimeValue(int hour, int minute) { return OleDateTime(1899, 12, 30, hour, minute, 0); }

void ShowDate(QDateEdit* edit, const OleDateTime& value)
{
    OleDateTimeFields f;
    if (value.IsValid() && value.GetFields(f)) edit->setDate(QDate(f.year, f.month, f.day));
}

void ShowTime(QTimeEdit* edit, const OleDateTime& value)
{
    OleDateTimeFields f;
    if (value.IsValid() && value.GetFields(f)) edit->setTime(QTime(f.hour, f.minute));
}

OleDateTime ReadDate(const QDateEdit* edit)
{
    const QDate d = edit->date();
    return DateValue(d.year(), d.month(), d.day());
}

OleDateTime ReadTime(const QTimeEdit* edit)
{
    const QTime t = edit->time();
    return TimeValue(t.hour(), t.minute());
}

// The day of a date value joined with the hour and minute of a time value.
OleDateTime JoinDateTime(const OleDateTime& date, const OleDateTime& time)
{
    OleDateTimeFields d, t;
    if (!date.IsValid() || !time.IsValid() || !date.GetFields(d) || !time.GetFields(t))
        return OleDateTime(0.0, OleDateTime::invalid);
    return OleDateTime(d.year, d.month, d.day, t.hour, t.minute, 0);
}

// Strictly later, and not within the half second that counts as equal.
bool Later(const OleDateTime& a, const OleDateTime& b) { return a > b && a != b; }

CQuorvantisView* ActiveView() { return theApp.m_pMainWnd ? theApp.m_pMainWnd->GetActiveView() : nullptr; }

}  // namespace

CSetupParam::CSetupParam(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral(QV_ID_NAME(IDD_SETUPPARAM)));
    setFont(DialogFont());
    CreateControls();

    const OleDateTime now = OleDateTime::GetCurrentTime();
    for (int k = 0; k < 4; ++k) StartDate(k) = StartTime(k) = EndDate(k) = EndTime(k) = now;
    for (int k = 0; k < 4; ++k) m_dtNewStart[k] = m_dtNewEnd[k] = OleDateTime(0.0, OleDateTime::valid);
}

CSetupParam::~CSetupParam() = default;

void CSetupParam::KeepPeriodTitlesClear(PeriodControls& p)
{
    // The period's frame line passes above the "Start" and "End" titles: the row of the two inner
    // boxes moves down into the room below its pickers (above it lies the reduced window's edge).
    const int overlap = std::max(NestedTitleOverlap(p.group, p.startGroup), NestedTitleOverlap(p.group, p.endGroup));
    if (overlap == 0) return;
    for (QGroupBox* inner : {p.startGroup, p.endGroup})
        inner->setGeometry(inner->geometry().adjusted(0, overlap, 0, 0));
    const std::initializer_list<QWidget*> row = {p.check,          p.startDate,      p.startTime,
                                                 p.endDate,        p.endTime,        p.dateCaption[0],
                                                 p.dateCaption[1], p.timeCaption[0], p.timeCaption[1]};
    for (QWidget* w : row) w->move(w->x(), w->y() + overlap);
}

void CSetupParam::CreateControls()
{
    setFixedSize(DluSize(kTemplateWidth, kTemplateHeight));

    // Group boxes first, so that the controls they frame lie above them.
    m_pDisplayGroup = Make<QGroupBox>(this, QV_ID_NAME(IDC_SETUP_DISPLAY_GROUP), DluRect(7, 4, 178, 66));
    m_pLcdGroup = Make<QGroupBox>(this, nullptr, DluRect(7, 72, 178, 44));
    m_pIntervalGroup = Make<QGroupBox>(this, QV_ID_NAME(IDC_SETUP_INTERVAL_GROUP), DluRect(191, 4, 170, 112));
    m_pOffsetGroup = Make<QGroupBox>(this, QV_ID_NAME(IDC_SETUP_OFFSET_GROUP), DluRect(7, 120, 354, 64));
    for (int k = 0; k < 4; ++k) {
        const PeriodNames& n = kPeriodNames[k];
        const int y = kPeriodTop + kPeriodPitch * k;
        PeriodControls& p = m_period[k];
        p.group = Make<QGroupBox>(this, n.group, DluRect(6, y, 402, 46));
        p.startGroup = Make<QGroupBox>(this, n.startGroup, DluRect(24, y + 9, 188, 33));
        p.endGroup = Make<QGroupBox>(this, n.endGroup, DluRect(216, y + 9, 188, 33));
    }

    // Display and LCD settings.
    m_pUnitLabel = Make<QLabel>(this, QV_ID_NAME(IDC_SETUP_UNIT_LABEL), DluRect(14, 18, 98, 10));
    m_pUnit = Make<QComboBox>(this, QV_ID_NAME(IDC_SETUP_UNIT), DluRect(113, 16, 65, 13));
    m_pDateLabel = Make<QLabel>(this, QV_ID_NAME(IDC_SETUP_DATE_LABEL), DluRect(14, 34, 98, 10));
    m_pDateFormat = Make<QComboBox>(this, QV_ID_NAME(IDC_SETUP_DATE_FORMAT), DluRect(113, 32, 65, 13));
    m_pTimeFormatLabel = Make<QLabel>(this, QV_ID_NAME(IDC_SETUP_TIME_FORMAT_LABEL), DluRect(14, 50, 98, 10));
    m_pTimeFormat = Make<QComboBox>(this, QV_ID_NAME(IDC_SETUP_TIME_FORMAT), DluRect(113, 48, 65, 13));
    m_pModeLabel = Make<QLabel>(this, QV_ID_NAME(IDC_SETUP_MODE_LABEL), DluRect(14, 84, 40, 10));
    m_pMode = Make<QComboBox>(this, QV_ID_NAME(IDC_SETUP_MODE), DluRect(56, 82, 122, 13));
    m_chkAutoOff = Make<QCheckBox>(this, QV_ID_NAME(IDC_SETUP_AUTO_OFF), DluRect(14, 100, 120, 10));
    m_chkAutoOff->setText(QStringLiteral("  AUTO OFF"));

    // Interval: minutes in the edit or seconds from the list, in the same place.
    m_pMinute = Make<QRadioButton>(this, QV_ID_NAME(IDC_SETUP_MINUTE), DluRect(198, 18, 78, 10));
    m_pSecond = Make<QRadioButton>(this, QV_ID_NAME(IDC_SETUP_SECOND), DluRect(280, 18, 78, 10));
    m_pIntervalLabel = Make<QLabel>(this, QV_ID_NAME(IDC_SETUP_INTERVAL_LABEL), DluRect(198, 36, 56, 10));
    m_pInterval = Make<QLineEdit>(this, QV_ID_NAME(IDC_SETUP_INTERVAL), DluRect(256, 34, 40, 13));
    m_pInterval->setMaxLength(3);
    m_pInterval->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_pInterval));
    m_cmbSeconds = Make<QComboBox>(this, QV_ID_NAME(IDC_SETUP_SECONDS_LIST), DluRect(256, 34, 50, 13));
    m_pIntervalTip = Make<QLabel>(this, QV_ID_NAME(IDC_SETUP_INTERVAL_TIP), DluRect(198, 54, 158, 24));
    m_pIntervalTip->setWordWrap(true);
    m_pIntervalTip->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    // Offsets, each with its two hint lines.
    m_pTempOffsetLabel = Make<QLabel>(this, QV_ID_NAME(IDC_SETUP_TEMP_OFFSET_LABEL), DluRect(14, 136, 74, 10));
    m_pTempOffset = Make<QLineEdit>(this, QV_ID_NAME(IDC_SETUP_TEMP_OFFSET), DluRect(90, 134, 40, 13));
    m_pTempOffset->setMaxLength(5);
    m_pTempUnitLabel = Make<QLabel>(this, QV_ID_NAME(IDC_SETUP_TEMP_UNIT_LABEL), DluRect(133, 136, 16, 10));
    m_pTempHint1 = Make<QLabel>(this, QV_ID_NAME(IDC_SETUP_TEMP_HINT1), DluRect(152, 130, 204, 10));
    m_pTempHint2 = Make<QLabel>(this, QV_ID_NAME(IDC_SETUP_TEMP_HINT2), DluRect(152, 140, 204, 10));
    m_pHumiOffsetLabel = Make<QLabel>(this, QV_ID_NAME(IDC_SETUP_HUMI_OFFSET_LABEL), DluRect(14, 162, 74, 10));
    m_pHumiOffset = Make<QLineEdit>(this, QV_ID_NAME(IDC_SETUP_HUMI_OFFSET), DluRect(90, 160, 40, 13));
    m_pHumiOffset->setMaxLength(3);
    m_pHumiUnitLabel = Make<QLabel>(this, QV_ID_NAME(IDC_SETUP_HUMI_UNIT_LABEL), DluRect(133, 162, 16, 10));
    m_pHumiUnitLabel->setText(QStringLiteral("%"));
    m_pHumiHint1 = Make<QLabel>(this, QV_ID_NAME(IDC_SETUP_HUMI_HINT1), DluRect(152, 156, 204, 10));
    m_pHumiHint2 = Make<QLabel>(this, QV_ID_NAME(IDC_SETUP_HUMI_HINT2), DluRect(152, 166, 204, 10));

    m_pSave = Make<QPushButton>(this, QV_ID_NAME(IDC_SETUP_SAVE), DluRect(252, 189, 52, 15));
    m_pExit = Make<QPushButton>(this, QV_ID_NAME(IDC_SETUP_EXIT), DluRect(309, 189, 52, 15));

    // The four periods: check box, then start date and time, end date and time.
    QTimeEdit** startTimes[4] = {&m_ctlStartTime1, &m_ctlStartTime2, &m_ctlStartTime3, &m_ctlStartTime4};
    QTimeEdit** endTimes[4] = {&m_ctlEndTime1, &m_ctlEndTime2, &m_ctlEndTime3, &m_ctlEndTime4};
    for (int k = 0; k < 4; ++k) {
        const PeriodNames& n = kPeriodNames[k];
        const int y = kPeriodTop + kPeriodPitch * k;
        PeriodControls& p = m_period[k];
        p.check = Make<QCheckBox>(this, n.check, DluRect(11, y + 22, 12, 10));
        const char* dates[2] = {n.startDate, n.endDate};
        const char* times[2] = {n.startTime, n.endTime};
        for (int side = 0; side < 2; ++side) {
            const int x = side == 0 ? 24 : 216;
            p.dateCaption[side] = Make<QLabel>(this, n.dateCaption[side], DluRect(x + 4, y + 23, 28, 10));
            QDateEdit* date = CreateDatePicker(this, QLatin1String(dates[side]), DluRect(x + 33, y + 21, 74, 13),
                                               DatePickerStyle::DropDownCalendar);
            p.timeCaption[side] = Make<QLabel>(this, n.timeCaption[side], DluRect(x + 109, y + 23, 31, 10));
            auto* time = Make<QTimeEdit>(this, times[side], DluRect(x + 141, y + 21, 43, 13));
            if (side == 0) {
                p.startDate = date;
                p.startTime = time;
            } else {
                p.endDate = date;
                p.endTime = time;
            }
        }
        *startTimes[k] = p.startTime;
        *endTimes[k] = p.endTime;
    }

    // The message map.
    connect(m_pSave, &QPushButton::clicked, this, &CSetupParam::OnBnClickedSave);
    connect(m_pExit, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_pUnit, &QComboBox::activated, this, &CSetupParam::OnCbnSelchangeUnit);
    connect(m_pSecond, &QRadioButton::clicked, this, &CSetupParam::OnBnClickedSeconds);
    connect(m_pMinute, &QRadioButton::clicked, this, &CSetupParam::OnBnClickedMinute);
    connect(m_pMode, &QComboBox::activated, this, &CSetupParam::OnCbnSelchangeMode);
    connect(m_period[0].check, &QCheckBox::clicked, this, &CSetupParam::OnBnClickedPeriod1);
    connect(m_period[1].check, &QCheckBox::clicked, this, &CSetupParam::OnBnClickedPeriod2);
    connect(m_period[2].check, &QCheckBox::clicked, this, &CSetupParam::OnBnClickedPeriod3);
    connect(m_period[3].check, &QCheckBox::clicked, this, &CSetupParam::OnBnClickedPeriod4);
    m_pTempOffset->installEventFilter(this);
    m_pInterval->installEventFilter(this);
    m_pHumiOffset->installEventFilter(this);
}

OleDateTime& CSetupParam::StartDate(int k)
{
    OleDateTime* v[4] = {&m_dtStartDate1, &m_dtStartDate2, &m_dtStartDate3, &m_dtStartDate4};
    return *v[k];
}
OleDateTime& CSetupParam::StartTime(int k)
{
    OleDateTime* v[4] = {&m_dtStartTime1, &m_dtStartTime2, &m_dtStartTime3, &m_dtStartTime4};
    return *v[k];
}
OleDateTime& CSetupParam::EndDate(int k)
{
    OleDateTime* v[4] = {&m_dtEndDate1, &m_dtEndDate2, &m_dtEndDate3, &m_dtEndDate4};
    return *v[k];
}
OleDateTime& CSetupParam::EndTime(int k)
{
    OleDateTime* v[4] = {&m_dtEndTime1, &m_dtEndTime2, &m_dtEndTime3, &m_dtEndTime4};
    return *v[k];
}

void CSetupParam::setVisible(bool visible)
{
    if (visible && !isVisible()) OnInitDialog();
    QDialog::setVisible(visible);
}

void CSetupParam::DoDataExchange(bool save)
{
    if (save) {
        m_strTempOffset = m_pTempOffset->text();
        m_strInterval = m_pInterval->text();
        m_strHumiOffset = m_pHumiOffset->text();
    } else {
        m_pTempOffset->setText(m_strTempOffset);
        m_pInterval->setText(m_strInterval);
        m_pHumiOffset->setText(m_strHumiOffset);
    }
    // Periods in the order of their declaration: 1, 4, 2, 3, end before start.
    for (int k : {0, 3, 1, 2}) {
        const PeriodControls& p = m_period[k];
        if (save) {
            EndDate(k) = ReadDate(p.endDate);
            EndTime(k) = ReadTime(p.endTime);
            StartDate(k) = ReadDate(p.startDate);
            StartTime(k) = ReadTime(p.startTime);
        } else {
            ShowDate(p.endDate, EndDate(k));
            ShowTime(p.endTime, EndTime(k));
            ShowDate(p.startDate, StartDate(k));
            ShowTime(p.startTime, StartTime(k));
        }
    }
}

void CSetupParam::ResetControls()
{
    // A showing starts from the controls' first state, as a dialog created anew would.
    for (QLabel* hint : {m_pIntervalTip, m_pTempHint1, m_pTempHint2, m_pHumiHint1, m_pHumiHint2}) hint->clear();
    m_pTempOffset->setEnabled(true);
    m_pHumiOffset->setEnabled(true);
    for (QComboBox* combo : {m_pUnit, m_pDateFormat, m_pTimeFormat, m_pMode, m_cmbSeconds}) combo->clear();
    m_pInterval->show();
    m_cmbSeconds->show();
}

QString CSetupParam::TempOffsetText(int offset, int unit)
{
    // An offset in tenths of a degree Celsius plus 100; in Fahrenheit only the scale changes.
    int magnitude = 0;
    QString sign;
    if (offset >= 100) {
        magnitude = offset - 100;
    } else {
        magnitude = 100 - offset;
        sign = QStringLiteral("-");
    }
    const double value = unit == 0 ? magnitude * 1.8 / 10 : magnitude / 10.0;
    return sign + QString::fromStdString(FixedText(value));
}

bool CSetupParam::OnInitDialog()
{
    CDeviceState& ds = theDeviceState;
    ResetControls();
    DoDataExchange(false);
    m_bPeriodsChanged = 0;
    m_bPeriodFlagsChanged = 0;

    // A fresh read of the configuration also refreshes the panel's info lines.
    const bool deviceOpen = ds.m_Link.IsDeviceOpen();
    m_nReadFrom = deviceOpen ? ds.m_Link.OpenSerial() : 0;
    if (deviceOpen && ds.ReadConfig()) {
        if (CQuorvantisView* view = ActiveView()) {
            view->ShowDeviceInfo();
            view->update();
        }
    }
    m_nCurTemp = ds.m_nTemp;
    m_nCurTempRaw = ds.m_nTempRaw;
    m_nCurHumiRaw = ds.m_nHumiRaw;
    const ConfigSnapshot config = ds.GetConfigSnapshot();

    // Period captions.
    const QString start = Text(LoadString(IDS_START));
    const QString end = Text(LoadString(IDS_END));
    const QString date = Text(LoadString(IDS_PERIOD_DATE));
    const QString time = Text(LoadString(IDS_PERIOD_TIME));
    for (int k = 0; k < 4; ++k) {
        PeriodControls& p = m_period[k];
        p.group->setTitle(Text(LoadString(kPeriodCaptionIds[k])));
        p.startGroup->setTitle(start);
        p.endGroup->setTitle(end);
        for (int side = 0; side < 2; ++side) {
            p.dateCaption[side]->setText(date);
            p.timeCaption[side]->setText(time);
        }
        p.check->setChecked(config.periodOn[k] != 0);
        EnablePeriod(k);
        p.startTime->setDisplayFormat(QStringLiteral("HH:mm"));
        p.endTime->setDisplayFormat(QStringLiteral("HH:mm"));
        KeepPeriodTitlesClear(p);
    }

    // Picker values: the stored periods, or a chain of one-hour periods from now when any stored
    // time is unusable.
    bool allValid = true;
    for (const OleDateTime& t : config.period) allValid = allValid && t.IsValid();
    OleDateTime starts[4], ends[4];
    if (allValid) {
        for (int k = 0; k < 4; ++k) {
            starts[k] = config.period[2 * k];
            ends[k] = config.period[2 * k + 1];
        }
    } else {
        const OleDateTime now = OleDateTime::GetCurrentTime();
        for (int k = 0; k < 4; ++k) {
            starts[k] = (k == 0 ? now : ends[k - 1]).AddSeconds(60);
            ends[k] = starts[k].AddSeconds(3600);
        }
    }
    auto split = [](const OleDateTime& value, OleDateTime& dateValue, OleDateTime& timeValue) {
        OleDateTimeFields f;
        if (!value.GetFields(f)) return;
        dateValue = DateValue(f.year, f.month, f.day);
        timeValue = TimeValue(f.hour, f.minute);
    };
    for (int k = 0; k < 4; ++k) {
        split(starts[k], StartDate(k), StartTime(k));
        split(ends[k], EndDate(k), EndTime(k));
    }

    // Texts.
    for (int i = 0; i < 28; ++i) m_strMsg[i] = LoadString(kMsgIds[i]);
    setWindowTitle(Text(m_strMsg[MSG_CAPTION]));
    m_pUnitLabel->setText(Text(m_strMsg[MSG_UNIT]));
    m_pDateLabel->setText(Text(m_strMsg[MSG_DATE]));
    m_pDisplayGroup->setTitle(Text(m_strMsg[MSG_DISPLAY]));
    m_pMinute->setText(Text(m_strMsg[MSG_MINUTE]));
    m_pIntervalGroup->setTitle(Text(m_strMsg[MSG_INTERVAL]));
    m_pIntervalLabel->setText(Text(m_strMsg[MSG_INTERVAL]));
    m_pExit->setText(Text(m_strMsg[MSG_CANCEL]));
    m_pSave->setText(Text(m_strMsg[MSG_SAVE]));
    m_pTimeFormatLabel->setText(Text(m_strMsg[MSG_TIME_DISPLAY]));
    m_pModeLabel->setText(Text(m_strMsg[MSG_MODE]));
    m_pSecond->setText(Text(m_strMsg[MSG_SECONDS]));
    m_pOffsetGroup->setTitle(Text(m_strMsg[MSG_OFFSET]));
    m_pTempOffsetLabel->setText(Text(m_strMsg[MSG_TEMP_OFFSET]));
    m_pHumiOffsetLabel->setText(Text(m_strMsg[MSG_HUMI_OFFSET]));

    // Display settings.
    m_pTimeFormat->addItems({QStringLiteral("12h"), QStringLiteral("24h")});
    const int timeFormat = ds.m_nTimeFormat;
    m_pTimeFormat->setCurrentIndex(timeFormat == 0 || timeFormat == 1 ? timeFormat : -1);

    m_pUnit->addItems({QStringLiteral("°F"), QStringLiteral("°C")});
    const int unit = ds.m_nTempUnit;
    if (unit == 0 || unit == 1) {
        m_pUnit->setCurrentIndex(unit);
        m_pTempUnitLabel->setText(unit == 1 ? QStringLiteral("°C") : QStringLiteral("°F"));
        const int offset = ds.m_nTempOffset;
        m_strTempOffset = offset >= 0 && offset <= 200 ? TempOffsetText(offset, unit) : kNoTempOffset;
    } else {
        m_pUnit->setCurrentIndex(-1);
        m_strTempOffset = kNoTempOffset;
        m_pTempUnitLabel->setText(QStringLiteral("°C"));
        m_pTempOffset->setEnabled(false);
    }

    for (int i = 0; i < 3; ++i) m_pMode->addItem(Text(m_strMsg[MSG_MODE_FIRST + i]));
    const int mode = ds.m_nMode;
    m_pMode->setCurrentIndex(mode >= 0 && mode <= 2 ? mode : -1);

    m_pDateFormat->addItems({QStringLiteral("DM"), QStringLiteral("MD")});
    const int dateFormat = ds.m_nDateFormat;
    m_pDateFormat->setCurrentIndex(dateFormat == 0 || dateFormat == 1 ? dateFormat : -1);

    // Interval: seconds below a minute and above four hours, else whole minutes.
    for (int k = 1; k <= kSecondsEntries; ++k) m_cmbSeconds->addItem(QString::number(kSecondsStep * k));
    const int interval = ds.m_nInterval;
    if (interval < 60 || interval > 14400) {
        m_pSecond->setChecked(true);
        m_cmbSeconds->setCurrentIndex(SecondsEntry(interval, -1));  // else no entry chosen
        m_cmbSeconds->show();
        m_pInterval->hide();
    } else {
        m_pMinute->setChecked(true);
        m_strInterval = MinutesText(interval, QStringLiteral("--"));
        m_cmbSeconds->hide();
        m_pInterval->show();
    }

    m_chkAutoOff->setChecked(ds.m_nAutoOff != 0);

    const int humi = ds.m_nHumiOffset;
    if (humi >= 20 && humi <= 40)
        m_strHumiOffset = QString::number(humi - 20);
    else if (humi >= 0 && humi < 20)
        m_strHumiOffset = QStringLiteral("-") + QString::number(20 - humi);
    else
        m_strHumiOffset = kNoHumiOffset;
    m_pHumiOffset->setEnabled(humi <= 40 || deviceOpen);

    m_pSave->setEnabled(deviceOpen);

    // Full size first: the size read here is the one the mode rules scale.
    setFixedSize(DluSize(kTemplateWidth, kTemplateHeight));
    m_rcWindow = geometry();
    m_nFullHeight = m_rcWindow.height();
    m_nFullWidth = m_rcWindow.width();
    PlaceWindow(mode == 2);

    DoDataExchange(false);
    return true;
}

void CSetupParam::PlaceWindow(bool full)
{
    const int width = full ? m_nFullWidth : m_nFullWidth * 8 / 9;
    const int height = full ? m_nFullHeight : m_nFullHeight * 21 / 40;
    setFixedSize(width, height);
    move((theDeviceState.m_nScreenWidth - width) / 2, (theDeviceState.m_nScreenHeight - height) / 2);
}

void CSetupParam::EnablePeriod(int k)
{
    const PeriodControls& p = m_period[k];
    const bool on = p.check->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{p.startDate, p.startTime, p.endDate, p.endTime})
        w->setEnabled(on);
}

int CSetupParam::StartAfterNowId(int k)
{
    constexpr int ids[4] = {IDS_START1_AFTER_NOW, IDS_START2_AFTER_NOW, IDS_START3_AFTER_NOW, IDS_START4_AFTER_NOW};
    return ids[k];
}

int CSetupParam::EndAfterStartId(int k)
{
    constexpr int ids[4] = {IDS_END1_AFTER_START1, IDS_END2_AFTER_START2, IDS_END3_AFTER_START3, IDS_END4_AFTER_START4};
    return ids[k];
}

int CSetupParam::StartAfterEndId(int k, int previous)
{
    if (k == 1) return IDS_START2_AFTER_END1;
    if (k == 2) return previous == 1 ? IDS_START3_AFTER_END2 : IDS_START3_AFTER_END1;
    if (previous == 2) return IDS_START4_AFTER_END3;
    return previous == 1 ? IDS_START4_AFTER_END2 : IDS_START4_AFTER_END1;
}

void CSetupParam::OnBnClickedSave()
{
    CDeviceState& ds = theDeviceState;
    DoDataExchange(true);

    // Temperature offset: an optional sign, digits, and at most one decimal digit.
    const QString temp = m_strTempOffset;
    bool pointSeen = false;
    for (int i = 0; i < temp.size(); ++i) {
        const QChar c = temp[i];
        if (i == 0) {
            if (c != QLatin1Char('-') && !IsDigit(c)) {
                AfxMessageBox(m_strMsg[MSG_TEMP_INVALID], MsgButtons::Ok);
                return;
            }
            continue;
        }
        if (IsDigit(c)) continue;
        if (c == QLatin1Char('.') && !pointSeen) {
            pointSeen = true;
            if (i != temp.size() - 2) {
                AfxMessageBox(m_strMsg[MSG_ONE_DECIMAL], MsgButtons::Ok);
                return;
            }
            continue;
        }
        AfxMessageBox(m_strMsg[MSG_TEMP_INVALID], MsgButtons::Ok);
        return;
    }

    // Humidity offset: an optional sign and digits.
    const QString humi = m_strHumiOffset;
    for (int i = 0; i < humi.size(); ++i) {
        const QChar c = humi[i];
        if (!IsDigit(c) && !(i == 0 && c == QLatin1Char('-'))) {
            AfxMessageBox(m_strMsg[MSG_HUMI_INVALID], MsgButtons::Ok);
            return;
        }
    }

    m_nNewTimeFormat = m_pTimeFormat->currentIndex() == 0 ? 0 : 1;

    // Settings read from a recorder that went would be compared with, and sent to, whatever is
    // connected now (the device state of a removed one knows no mode).
    if (m_nReadFrom != 0 && (!ds.m_Link.IsDeviceOpen() || ds.m_Link.OpenSerial() != m_nReadFrom)) {
        AfxMessageBox(LoadString(IDS_SETTINGS_DEVICE_GONE), MsgButtons::Ok, MsgIcon::Warning);
        return;
    }

    const int modeIndex = m_pMode->currentIndex();
    if (modeIndex >= 0 && modeIndex <= 2) m_nNewMode = modeIndex;
    if (m_nNewMode != ds.m_nMode) {
        ds.m_bModeChanged = 1;
        if (AfxMessageBox(LoadString(IDS_CONFIRM_MODE_CHANGE), MsgButtons::YesNo) != MsgAnswer::Yes) return;
    } else {
        ds.m_bModeChanged = 0;
    }

    // Tenths of the chosen unit, truncated toward zero.
    const int tenths = static_cast<int>(LeadingDecimal(m_strTempOffset.toStdString()) * 10);
    if (m_pUnit->currentIndex() == 0) {
        m_nNewTempUnit = 0;
        if (tenths < -180 || tenths > 180) {
            AfxMessageBox(m_strMsg[MSG_TEMP_INVALID], MsgButtons::Ok);
            return;
        }
        m_nNewTempOffset = static_cast<int>(tenths / 1.8 + 100);
    } else {
        m_nNewTempUnit = 1;
        if (tenths < -100 || tenths > 100) {
            AfxMessageBox(m_strMsg[MSG_TEMP_INVALID], MsgButtons::Ok);
            return;
        }
        m_nNewTempOffset = tenths + 100;
    }

    m_nNewDateFormat = m_pDateFormat->currentIndex() == 0 ? 0 : 1;

    int interval = 0;
    if (m_pMinute->isChecked()) {
        const std::int64_t minutes = LeadingInteger(m_strInterval.toStdString());
        if (minutes < 1 || minutes > 240) {
            AfxMessageBox(m_strMsg[MSG_INTERVAL_TIP], MsgButtons::Ok);
            return;
        }
        interval = static_cast<int>(minutes) * 60;
    } else {
        // With no entry chosen (a device interval the list does not hold) the device keeps its
        // interval instead of being sent 0 seconds.
        const int index = m_cmbSeconds->currentIndex();
        interval = index >= 0 ? kSecondsStep * (index + 1) : ds.m_nInterval.load();
    }
    m_nNewInterval = interval;
    m_bIntervalChanged = m_nNewInterval != ds.m_nInterval ? 1 : 0;

    m_nNewAutoOff = m_chkAutoOff->isChecked() ? 1 : 0;

    const std::int64_t humiOffset = LeadingInteger(m_strHumiOffset.toStdString());
    if (humiOffset < -20 || humiOffset > 20) {
        AfxMessageBox(m_strMsg[MSG_HUMI_INVALID], MsgButtons::Ok);
        return;
    }
    m_nNewHumiOffset = static_cast<int>(humiOffset) + 20;

    const OleDateTime now = OleDateTime::GetCurrentTime();
    for (int k = 0; k < 4; ++k) {
        m_dtNewStart[k] = JoinDateTime(StartDate(k), StartTime(k));
        m_dtNewEnd[k] = JoinDateTime(EndDate(k), EndTime(k));
    }

    auto end = [this] {
        DoDataExchange(true);
        accept();
    };
    if (m_nNewMode != 2) {
        end();
        return;
    }

    // Segmented mode: the periods.
    const ConfigSnapshot config = ds.GetConfigSnapshot();
    std::vector<int> enabled;
    m_bPeriodFlagsChanged = 0;
    for (int k = 0; k < 4; ++k) {
        m_bNewPeriodOn[k] = m_period[k].check->isChecked() ? 1 : 0;
        if (m_bNewPeriodOn[k] != config.periodOn[k]) m_bPeriodFlagsChanged = 1;
        if (m_bNewPeriodOn[k]) enabled.push_back(k);
    }
    if (enabled.empty()) {
        m_bPeriodsChanged = 0;
        end();
        return;
    }

    bool edited = ds.m_bModeChanged != 0;
    for (int k : enabled)
        edited = edited || m_dtNewStart[k] != config.period[2 * k] || m_dtNewEnd[k] != config.period[2 * k + 1];

    if (edited || m_bPeriodFlagsChanged) {
        for (std::size_t i = 0; i < enabled.size(); ++i) {
            const int k = enabled[i];
            if (i == 0) {
                if (m_dtNewStart[k] < now) {
                    AfxMessageBox(LoadString(StartAfterNowId(k)), MsgButtons::Ok);
                    return;
                }
            } else {
                const int previous = enabled[i - 1];
                if (!Later(m_dtNewStart[k], m_dtNewEnd[previous])) {
                    AfxMessageBox(LoadString(StartAfterEndId(k, previous)), MsgButtons::Ok);
                    return;
                }
            }
            if (!Later(m_dtNewEnd[k], m_dtNewStart[k])) {
                AfxMessageBox(LoadString(EndAfterStartId(k)), MsgButtons::Ok);
                return;
            }
        }
    }

    if (!edited) {
        m_bPeriodsChanged = 0;
        end();
        return;
    }
    m_bPeriodsChanged = 1;
    if (ds.m_bModeChanged == 0 &&
        AfxMessageBox(LoadString(IDS_CONFIRM_PERIOD_CHANGE), MsgButtons::YesNo) != MsgAnswer::Yes)
        return;
    end();
}

void CSetupParam::OnCbnSelchangeUnit()
{
    DoDataExchange(true);
    const int offset = theDeviceState.m_nTempOffset;
    const int index = m_pUnit->currentIndex();
    if (index == 0 || index == 1) {
        m_pTempUnitLabel->setText(index == 1 ? QStringLiteral("°C") : QStringLiteral("°F"));
        // The device's stored offset in the new unit; a typed value is not converted.
        m_strTempOffset = m_nCurTemp > kNoReadingAbove ? kNoTempOffset : TempOffsetText(offset, index);
    }
    DoDataExchange(false);
}

void CSetupParam::OnBnClickedSeconds()
{
    m_cmbSeconds->show();
    m_pInterval->hide();
    m_pIntervalTip->clear();
    const int interval = theDeviceState.m_nInterval;
    m_cmbSeconds->setCurrentIndex(SecondsEntry(interval, 0));  // else the first, 8 s
}

void CSetupParam::OnBnClickedMinute()
{
    m_cmbSeconds->hide();
    m_pInterval->show();
    const int interval = theDeviceState.m_nInterval;
    m_strInterval = MinutesText(interval, QStringLiteral("1"));
    DoDataExchange(false);
}

void CSetupParam::OnEnSetfocusTempOffset()
{
    m_pHumiHint1->clear();
    m_pHumiHint2->clear();
    const int raw = m_nCurTempRaw;
    const bool fahrenheit = m_pUnit->currentIndex() == 0;
    QString value;
    if (raw >= 0 && raw <= kNoReadingAbove) {
        value = CQuorvantisView::TempText(raw, fahrenheit ? 0 : 1);
    } else {
        value = fahrenheit ? QStringLiteral("--.-°F") : QStringLiteral("--.-°C");
    }
    m_pTempHint1->setText(Text(m_strMsg[MSG_ORIGINAL]) + value);
    m_pTempHint2->setText(fahrenheit ? FormatText(m_strMsg[MSG_RANGE_F], -18.0, 18.0)
                                     : FormatText(m_strMsg[MSG_RANGE_C], -10.0, 10.0));
}

void CSetupParam::OnEnSetfocusHumiOffset()
{
    m_pTempHint1->clear();
    m_pTempHint2->clear();
    const int raw = m_nCurHumiRaw;
    const QString value = raw >= 1 && raw <= 119 ? QString::asprintf("%d%%", raw) : QString::asprintf("--%%");
    m_pHumiHint1->setText(Text(m_strMsg[MSG_ORIGINAL]) + value);
    m_pHumiHint2->setText(FormatText(m_strMsg[MSG_RANGE_HUMI], -20, 20));
}

void CSetupParam::OnEnSetfocusInterval() { m_pIntervalTip->setText(Text(m_strMsg[MSG_INTERVAL_TIP])); }

void CSetupParam::OnEnKillfocusHumiOffset()
{
    m_pHumiHint1->clear();
    m_pHumiHint2->clear();
}

void CSetupParam::OnEnKillfocusTempOffset()
{
    m_pTempHint1->clear();
    m_pTempHint2->clear();
}

void CSetupParam::OnEnKillfocusInterval() { m_pIntervalTip->clear(); }

void CSetupParam::OnCbnSelchangeMode() { PlaceWindow(m_pMode->currentIndex() == 2); }

void CSetupParam::OnBnClickedPeriod1() { EnablePeriod(0); }
void CSetupParam::OnBnClickedPeriod2() { EnablePeriod(1); }
void CSetupParam::OnBnClickedPeriod3() { EnablePeriod(2); }
void CSetupParam::OnBnClickedPeriod4() { EnablePeriod(3); }

bool CSetupParam::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::FocusIn || type == QEvent::FocusOut) {
        const bool in = type == QEvent::FocusIn;
        if (watched == m_pTempOffset)
            in ? OnEnSetfocusTempOffset() : OnEnKillfocusTempOffset();
        else if (watched == m_pInterval)
            in ? OnEnSetfocusInterval() : OnEnKillfocusInterval();
        else if (watched == m_pHumiOffset)
            in ? OnEnSetfocusHumiOffset() : OnEnKillfocusHumiOffset();
    }
    return QDialog::eventFilter(watched, event);
}
