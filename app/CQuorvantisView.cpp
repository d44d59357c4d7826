#include "app/CQuorvantisView.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFont>
#include <QMetaObject>
#include <QPaintEvent>
#include <QPainter>
#include <QSocketNotifier>
#include <QTextLayout>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>

#include <sys/eventfd.h>
#include <unistd.h>

#include "app/CMainFrame.h"
#include "app/CQuorvantisApp.h"
#include "app/QDeviceWatcher.h"
#include "database/RowFormat.h"
#include "device/CDeviceState.h"
#include "device/RecordNode.h"
#include "platform/NumberText.h"
#include "platform/StringTable.h"
#include "platform/TextCompare.h"
#include "resources/resource.h"
#include "ui/GdiText.h"
#include "ui/UiWait.h"

namespace {

// String ids of m_strRes, by slot.
constexpr int kResIds[CQuorvantisView::kResCount] = {IDS_DEVICE_INFORMAT,
                                                     IDS_UPDATE_TIME,
                                                     IDS_RECORD_TIME,
                                                     IDS_TEMPERATURE,
                                                     IDS_HUMIDITY,
                                                     IDS_INTERVAL,
                                                     IDS_DATABASE_RECORDS,
                                                     IDS_DEVICE_ID,
                                                     IDS_MAX_TEMPERATURE,
                                                     IDS_MIN_TEMPERATURE,
                                                     IDS_MAX_HUMIDITY,
                                                     IDS_MIN_HUMIDITY,
                                                     IDS_TEMPERATURE_UNIT,
                                                     IDS_YESTERDAY,
                                                     IDS_HISTORY,
                                                     IDS_MAX_MIN,
                                                     IDS_PROCESSING_RECORDS,
                                                     IDS_HISTORY_COMPLETE,
                                                     IDS_SYNCRONIZING,
                                                     IDS_SYNC_SUCCESS,
                                                     IDS_SYNC_FAILED,
                                                     IDS_OBTAINING_DATA,
                                                     IDS_PROCESSING_RECORDS,
                                                     IDS_ACCESS_NEW_DEVICE,
                                                     IDS_READING,
                                                     IDS_READING_CONFIG,
                                                     IDS_MINUTE,
                                                     IDS_SECONDS,
                                                     IDS_TEMP_OFFSET,
                                                     IDS_HUMI_OFFSET,
                                                     IDS_MODE,
                                                     IDS_REALTIME_DATA,
                                                     IDS_TIME_PERIOD,
                                                     IDS_FIRST_TIME,
                                                     IDS_SECOND_TIME,
                                                     IDS_THIRD_TIME,
                                                     IDS_FOURTH_TIME,
                                                     IDS_START,
                                                     IDS_END,
                                                     IDS_ACYCLIC_MODE,
                                                     IDS_CYCLE_MODE,
                                                     IDS_SEGMENTED_MODE,
                                                     IDS_PROCESSING_FAILED,
                                                     IDS_READ_CONFIG_FAILED,
                                                     IDS_READ_CONFIG_SUCCESS};

// Slots the threads and the panel use.
enum ResSlot {
    RES_DEVICE_INFO = 0,
    RES_TEMPERATURE = 3,
    RES_HUMIDITY = 4,
    RES_INTERVAL = 5,
    RES_DB_RECORDS = 6,
    RES_DEVICE_ID = 7,
    RES_MAX_TEMP = 8,
    RES_MIN_TEMP = 9,
    RES_MAX_HUMI = 10,
    RES_MIN_HUMI = 11,
    RES_TEMP_UNIT = 12,
    RES_MAX_MIN = 15,
    RES_PROCESSING = 16,
    RES_HISTORY_DONE = 17,
    RES_SYNCING = 18,
    RES_SYNC_OK = 19,
    RES_SYNC_FAILED = 20,
    RES_READING_CONFIG = 25,
    RES_MINUTE = 26,
    RES_SECONDS = 27,
    RES_MODE = 30,
    RES_REALTIME = 31,
    RES_TIME_PERIOD = 32,
    RES_PERIOD_1 = 33,
    RES_START = 37,
    RES_END = 38,
    RES_MODE_ACYCLIC = 39,
    RES_HISTORY_FAILED = 42,
    RES_CONFIG_FAILED = 43,
    RES_CONFIG_OK = 44,
};

const QColor kGrey(0x66, 0x66, 0x66);
const QColor kRed(0xFF, 0x64, 0x64);
const QColor kBlue(0x39, 0x50, 0xFF);

constexpr auto kMonitorTick = std::chrono::milliseconds(500);
constexpr auto kConfigRetryPause = std::chrono::milliseconds(50);

// Texts are drawn from a 256-character buffer.
QString Clip255(const QString& s) { return s.size() > 255 ? s.left(255) : s; }

QRect Ltrb(int l, int t, int r, int b) { return QRect(l, t, r - l, b - t); }

}  // namespace

CQuorvantisView::CQuorvantisView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("IDD_QUORVANTIS_FORM"));
    // Every paint covers the whole view, so Qt need not erase it first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_background.load(QStringLiteral(":/images/%1.png").arg(IDB_VIEW_BACKGROUND));
    if (!m_background.isNull()) m_background = m_background.convertToFormat(QImage::Format_RGB32);
    resize(kPanelWidth, kPanelHeight);

    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd >= 0) {
        auto* notifier = new QSocketNotifier(m_wakeFd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &CQuorvantisView::OnWake);
    }
}

CQuorvantisView::~CQuorvantisView()
{
    StopWorkerThreads();
    if (m_wakeFd >= 0) ::close(m_wakeFd);
}

void CQuorvantisView::OnInitialUpdate()
{
    if (m_bInitialized)  // the set-up runs once per view
        return;
    m_bInitialized = true;

    LoadTexts();
    SetPlaceholders(true);

    CDeviceState& ds = theDeviceState;
    {
        std::lock_guard<std::mutex> lock(ds.m_csQueue);
        if (!ds.m_pQueueHead) {
            RecordNode* head = AllocRecordNode();
            if (!head) {
                std::fputs("内存分配失败\n", stdout);
                std::fflush(stdout);
                std::exit(EXIT_FAILURE);
            }
            head->pNext = nullptr;
            ds.m_pQueueHead = head;
        }
    }

    RequestDeviceOpen();
    StartDeviceWatcher();

    m_bMonitorRunning = 1;
    m_pMonitorThread = std::make_unique<std::thread>(DeviceMonitorThreadProc, this);
    m_bWriterRunning = 1;
    m_pWriterThread = std::make_unique<std::thread>(RecordWriterThreadProc, this);
}

void CQuorvantisView::LoadTexts()
{
    for (int i = 0; i < kResCount; ++i)  // a missing id leaves its slot empty
        m_strRes[i] = QString::fromStdString(AppStrings().Get(kResIds[i]));
}

void CQuorvantisView::StartDeviceWatcher()
{
    m_pWatcher = new QDeviceWatcher([this](int event, const std::string& path) { OnDeviceChange(event, path); }, this);
}

void CQuorvantisView::StopDeviceWatcher()
{
    delete m_pWatcher;
    m_pWatcher = nullptr;
}

void CQuorvantisView::StopWorkerThreads()
{
    if (!m_bInitialized || m_bStopped) return;
    m_bStopped = true;
    StopDeviceWatcher();  // no device events while shutting down
    CDeviceState& ds = theDeviceState;
    ds.RequestQuit();
    // Without the device every exchange ends at its next attempt, and a slow recorder holds the
    // stop up by the attempt under way at most. Closing never waits for the link itself.
    ds.m_Link.CloseHandles();

    // The monitor may be blocked in a hand-over to this thread: keep dispatching until it is out.
    // Once it is, nothing starts a one-shot thread any more.
    WaitServingHandOvers([this] { return !m_bMonitorRunning && !m_bWriterRunning; });
    WaitServingHandOvers([this] { return !m_bHistoryRunning && !m_bLiveRunning && !IsOpening(); });
    for (auto* t : {&m_pMonitorThread, &m_pWriterThread, &m_pHistoryThread, &m_pLiveThread, &m_pOpenThread})
        if (*t && (*t)->joinable()) (*t)->join();
    // An open that began before the stop may have found the device after the close above.
    ds.m_Link.CloseHandles();
}

// ---------------------------------------------------------------------------------------------
// Display strings

void CQuorvantisView::SetPlaceholders(bool withStatus)
{
    std::lock_guard<std::mutex> lock(m_csDisplay);
    SetPlaceholdersLocked(withStatus);
}

void CQuorvantisView::SetPlaceholdersLocked(bool withStatus)
{
    if (withStatus)
        for (auto& s : m_strStatus) s = kBlankStatus;
    m_strMaxTemp = m_strMinTemp = m_strMaxHumi = m_strMinHumi = kNoValue;
    for (int i = 0; i < 5; ++i) m_strInfo[i] = kNoValue;
    m_strTemp = m_strHumi = kNoValue;
}

void CQuorvantisView::SetStatus(int line, const QString& text)
{
    std::string utf8 = text.toStdString();
    std::lock_guard<std::mutex> lock(m_csDisplay);
    m_strStatus[line] = std::move(utf8);
}

CQuorvantisView::PanelContent CQuorvantisView::DisplayLocked() const
{
    PanelContent c;
    c.maxTemp = m_strMaxTemp;
    c.minTemp = m_strMinTemp;
    c.maxHumi = m_strMaxHumi;
    c.minHumi = m_strMinHumi;
    c.temp = m_strTemp;
    c.humi = m_strHumi;
    std::copy(std::begin(m_strInfo), std::end(m_strInfo), c.info.begin());
    std::copy(std::begin(m_strStatus), std::end(m_strStatus), c.status.begin());
    return c;
}

DisplayStrings CQuorvantisView::GetDisplayStrings() const
{
    PanelContent c;
    {
        std::lock_guard<std::mutex> lock(m_csDisplay);
        c = DisplayLocked();
    }
    auto q = [](const std::string& s) { return QString::fromStdString(s); };
    DisplayStrings d;
    d.maxTemp = q(c.maxTemp);
    d.minTemp = q(c.minTemp);
    d.maxHumi = q(c.maxHumi);
    d.minHumi = q(c.minHumi);
    d.temp = q(c.temp);
    d.humi = q(c.humi);
    std::transform(c.info.begin(), c.info.end(), d.info.begin(), q);
    std::transform(c.status.begin(), c.status.end(), d.status.begin(), q);
    return d;
}

QString CQuorvantisView::TempText(int value, int unit)
{
    if (value == TEMP_NONE) return unit == 0 ? QStringLiteral(" -- °F") : QStringLiteral(" -- °C");
    const bool fahrenheit = unit == 0;
    return QString::fromStdString(FixedText(TempInUnit(CelsiusFromTempValue(value), fahrenheit))) +
           (fahrenheit ? QStringLiteral("°F") : QStringLiteral("°C"));
}

QString CQuorvantisView::HumiText(int value)
{
    if (value == HUMI_NONE) return QStringLiteral(" -- %");
    return QString::asprintf("%d %%", value);
}

QString CQuorvantisView::IntervalText(int seconds) const
{
    if (seconds % 60 == 0) return QString::number(seconds / 60) + QLatin1Char(' ') + m_strRes[RES_MINUTE];
    return QString::number(seconds) + QLatin1Char(' ') + m_strRes[RES_SECONDS];
}

void CQuorvantisView::ShowDeviceInfo()
{
    const CDeviceState& ds = theDeviceState;
    const std::string id = DeviceIdText(ds.m_dwDeviceID.load());
    const std::string mode = std::to_string(ds.m_nMode.load());
    const std::string unit = ds.m_nTempUnit == 0 ? "°F" : "°C";
    const std::string interval = IntervalText(ds.m_nInterval.load()).toStdString();
    std::lock_guard<std::mutex> lock(m_csDisplay);
    m_strInfo[0] = id;
    m_strInfo[4] = mode;
    m_strInfo[1] = unit;
    m_strInfo[3] = interval;
}

// ---------------------------------------------------------------------------------------------
// Hand-overs to the UI thread

// Worker threads reach the UI thread through an eventfd watched by a socket notifier; what they
// hand over lies in members guarded by std::mutex. No Qt object crosses threads, so the ordering
// is visible to the thread sanitizer as well.
void CQuorvantisView::WakeView()
{
    if (m_wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    } else {
        QMetaObject::invokeMethod(this, &CQuorvantisView::OnWake, Qt::QueuedConnection);
    }
}

void CQuorvantisView::OnWake()
{
    if (m_wakeFd >= 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &count, sizeof count);
    }
    if (m_bInvalidate.exchange(0)) {
        const QRegion changed = UpdateCanvas();
        if (!changed.isEmpty()) update(changed);
    }
    int (CQuorvantisView::*handler)() = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_csHandOver);
        handler = m_pHandOver;
    }
    if (handler) {
        (this->*handler)();
        {
            std::lock_guard<std::mutex> lock(m_csHandOver);
            m_pHandOver = nullptr;
        }
        // Told once the lock is free, so that the monitor wakes once and not again for the lock.
        m_cvHandOver.notify_all();
    }
}

bool CQuorvantisView::IsHandOverPending() const
{
    std::lock_guard<std::mutex> lock(m_csHandOver);
    return m_pHandOver != nullptr;
}

void CQuorvantisView::Invalidate()
{
    // The monitor asks on every tick: only a change wakes the UI thread, which then paints no more
    // than the texts that changed.
    std::array<QString, 8> periods;
    PeriodTexts(theDeviceState.GetConfigSnapshot(), periods);
    {
        std::lock_guard<std::mutex> lock(m_csDisplay);
        PanelContent now = DisplayLocked();
        std::transform(periods.begin(), periods.end(), now.periods.begin(),
                       [](const QString& p) { return p.toStdString(); });
        if (now == m_announced) return;
        m_announced = std::move(now);
    }
    if (!m_bInvalidate.exchange(1)) WakeView();
}

void CQuorvantisView::SendToView(int (CQuorvantisView::*handler)())
{
    {
        std::lock_guard<std::mutex> lock(m_csHandOver);
        m_pHandOver = handler;
    }
    WakeView();
    std::unique_lock<std::mutex> lock(m_csHandOver);
    m_cvHandOver.wait(lock, [this] { return m_pHandOver == nullptr; });
}

int CQuorvantisView::OnDeviceConnect()
{
    if (auto* frame = qobject_cast<CMainFrame*>(window())) frame->SetStatusConnected();
    return 0;
}

int CQuorvantisView::OnDeviceUnconnect()
{
    if (auto* frame = qobject_cast<CMainFrame*>(window())) frame->SetStatusUnconnected();
    SetPlaceholders(false);
    theDeviceState.Reset();
    return 0;
}

int CQuorvantisView::IsOpenDevicePath(const std::string& path) const
{
    return EqualsNoCase(path, theDeviceState.m_Link.DevicePath()) ? 1 : 0;
}

bool CQuorvantisView::OnDeviceChange(int event, const std::string& path)
{
    CHidLink& link = theDeviceState.m_Link;
    if (event == DBT_DEVICEARRIVAL) {
        if (!link.IsDeviceOpen()) {
            RequestDeviceOpen();
        } else if (IsOpenDevicePath(path)) {
            // The open device's interface came again: give it time to settle, then re-open.
            // A timer instead of a sleep keeps the window responsive meanwhile.
            QTimer::singleShot(m_nReopenDelayMs, this, [this] { RequestDeviceOpen(); });
        }
    } else if (event == DBT_DEVICEREMOVECOMPLETE && IsOpenDevicePath(path)) {
        link.CloseHandles();
        // Forgotten at once, not on the next tick: a recorder plugged in meanwhile is another one
        // until its configuration says otherwise, and nothing of the old walk may be stored.
        theDeviceState.Reset();
        // Another recorder may be plugged in already.
        RequestDeviceOpen(path);
    }
    return true;
}

void CQuorvantisView::RequestDeviceOpen(const std::string& skip)
{
    if (m_bStopped || theDeviceState.m_bQuit) return;
    {
        std::lock_guard<std::mutex> lock(m_csOpen);
        m_bOpenAgain = true;
        m_strOpenSkip = skip;
        if (m_bOpenRunning) return;
        m_bOpenRunning = true;
    }
    if (m_pOpenThread && m_pOpenThread->joinable()) m_pOpenThread->join();  // it has ended: m_bOpenRunning was down
    m_pOpenThread = std::make_unique<std::thread>(DeviceOpenThreadProc, this);
}

bool CQuorvantisView::IsOpening() const
{
    std::lock_guard<std::mutex> lock(m_csOpen);
    return m_bOpenRunning;
}

bool CQuorvantisView::WorkersStopped() const
{
    return !m_bMonitorRunning && !m_bWriterRunning && !m_bHistoryRunning && !m_bLiveRunning && !IsOpening();
}

int CQuorvantisView::DeviceOpenThreadProc(CQuorvantisView* view)
{
    for (;;) {
        std::string skip;
        {
            std::lock_guard<std::mutex> lock(view->m_csOpen);
            if (!view->m_bOpenAgain || theDeviceState.m_bQuit) {
                view->m_bOpenRunning = false;
                return 0;
            }
            view->m_bOpenAgain = false;
            skip = std::move(view->m_strOpenSkip);
        }
        theDeviceState.OpenDevice(skip);
    }
}

// ---------------------------------------------------------------------------------------------
// Worker threads

void CQuorvantisView::StartHistoryThread()
{
    if (m_pHistoryThread && m_pHistoryThread->joinable())
        m_pHistoryThread->join();  // it has ended: m_bHistoryRunning is down
    // Cleared here, not only in the thread, so this tick does not count the new download as done.
    theDeviceState.m_bHistoryDone = 0;
    m_bHistoryRunning = 1;
    m_pHistoryThread = std::make_unique<std::thread>(HistoryReadThreadProc, this);
}

void CQuorvantisView::StartLiveThread()
{
    if (m_pLiveThread && m_pLiveThread->joinable()) m_pLiveThread->join();
    theDeviceState.m_bRealtimeDone = 0;
    m_bLiveRunning = 1;
    m_pLiveThread = std::make_unique<std::thread>(LiveReadThreadProc, this);
}

int CQuorvantisView::DeviceMonitorThreadProc(CQuorvantisView* view)
{
    CDeviceState& ds = theDeviceState;
    const QString* res = view->m_strRes;
    const QString clockOutOfRange = QString::fromStdString(LoadString(IDS_CLOCK_OUT_OF_RANGE));

    while (!ds.m_bQuit) {
        if (!ds.m_Link.IsDeviceOpen()) {
            {
                std::lock_guard<std::mutex> lock(view->m_csDisplay);
                for (auto& s : view->m_strStatus) s = kBlankStatus;
            }
            view->SendToView(&CQuorvantisView::OnDeviceUnconnect);
            view->Invalidate();
            ds.SleepUnlessQuit(kMonitorTick);
            continue;
        }
        view->SendToView(&CQuorvantisView::OnDeviceConnect);
        if (ds.m_bReadConfig) {
            view->SetStatus(0, res[RES_READING_CONFIG]);
            view->Invalidate();
            const auto read = ds.ReadConfigAndSetClock([view, res](CDeviceState::ConfigRead) {
                view->SetStatus(0, res[RES_CONFIG_OK]);
                view->ShowDeviceInfo();
                view->SetStatus(1, res[RES_SYNCING]);
                view->Invalidate();
            });
            using ConfigRead = CDeviceState::ConfigRead;
            switch (read) {
            case ConfigRead::Failed: {
                {
                    std::lock_guard<std::mutex> lock(view->m_csDisplay);
                    view->SetPlaceholdersLocked(true);
                    view->m_strStatus[0] = res[RES_CONFIG_FAILED].toStdString();
                }
                view->Invalidate();
                ds.SleepUnlessQuit(kConfigRetryPause);
                continue;  // read again at once
            }
            case ConfigRead::ClockFailed:
                view->SetStatus(1, res[RES_SYNC_FAILED]);
                continue;  // read and set again at once
            case ConfigRead::NoDeviceId: {
                std::lock_guard<std::mutex> lock(view->m_csDisplay);
                view->m_strStatus[0] = kBlankStatus;
                view->m_strInfo[4] = kNoValue;
                break;
            }
            case ConfigRead::ClockNotHeld: view->SetStatus(1, clockOutOfRange); break;
            default: view->SetStatus(1, res[RES_SYNC_OK]); break;
            }
            view->Invalidate();
            // Nothing starts for a recorder without an ID, or one removed or swapped meanwhile: it
            // is read again on the next tick.
            if (read != ConfigRead::ClockSet && read != ConfigRead::ClockNotHeld) {
                ds.SleepUnlessQuit(kMonitorTick);
                continue;
            }
        }
        const DownloadSchedule::Actions start = ds.m_Schedule.Tick({
            view->m_bHistoryRunning != 0,
            ds.DownloadRequested(),
            ds.m_bHistoryDone != 0,
            ds.m_eLastOutcome.load(),
            view->m_bLiveRunning != 0,
            ds.m_bRealtimeDone != 0,
            ds.m_nInterval,
        });
        if (start.startDownload) view->StartHistoryThread();
        if (start.startLive) view->StartLiveThread();
        view->Invalidate();
        ds.SleepUnlessQuit(kMonitorTick);
    }
    view->m_bMonitorRunning = 0;
    return 0;
}

int CQuorvantisView::HistoryReadThreadProc(CQuorvantisView* view)
{
    CDeviceState& ds = theDeviceState;
    const QString* res = view->m_strRes;
    ds.m_bHistoryDone = 0;
    view->SetStatus(2, res[RES_PROCESSING]);
    // Complete only once what the walk fetched is in the database; a walk that was overtaken or
    // held off is followed by another one.
    const DownloadOutcome outcome = ds.Download();
    ds.m_eLastOutcome = outcome;
    ds.m_bHistoryDone = 1;
    if (outcome == DownloadOutcome::Complete)
        view->SetStatus(2, res[RES_HISTORY_DONE]);
    else if (IsDownloadFailure(outcome))
        view->SetStatus(2, res[RES_HISTORY_FAILED]);
    else
        view->SetStatus(2, res[RES_PROCESSING]);
    view->Invalidate();
    view->m_bHistoryRunning = 0;
    return 0;
}

int CQuorvantisView::LiveReadThreadProc(CQuorvantisView* view)
{
    CDeviceState& ds = theDeviceState;
    ds.m_bRealtimeDone = 0;
    if (ds.ReadMaxMin()) {
        const int unit = ds.m_nTempUnit;
        const std::string maxT = TempText(ds.m_nMaxTemp, unit).toStdString();
        const std::string minT = TempText(ds.m_nMinTemp, unit).toStdString();
        const std::string maxH = HumiText(ds.m_nMaxHumi).toStdString();
        const std::string minH = HumiText(ds.m_nMinHumi).toStdString();
        std::lock_guard<std::mutex> lock(view->m_csDisplay);
        view->m_strMaxTemp = maxT;
        view->m_strMinTemp = minT;
        view->m_strMaxHumi = maxH;
        view->m_strMinHumi = minH;
    }
    if (ds.ReadRealtime()) {
        const std::string t = TempText(ds.m_nTemp, ds.m_nTempUnit).toStdString();
        const std::string h = HumiText(ds.m_nHumi).toStdString();
        std::lock_guard<std::mutex> lock(view->m_csDisplay);
        view->m_strTemp = t;
        view->m_strHumi = h;
    }
    ds.m_bRealtimeDone = 1;
    view->m_bLiveRunning = 0;
    return 0;
}

int CQuorvantisView::RecordWriterThreadProc(CQuorvantisView* view)
{
    theDeviceState.RunRecordWriter([view](int count) {
        std::string text = std::to_string(count);
        std::lock_guard<std::mutex> lock(view->m_csDisplay);
        view->m_strInfo[2] = std::move(text);
    });
    view->m_bWriterRunning = 0;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Painting

int CQuorvantisView::ValueColumnX(int language)
{
    switch (language) {
    case 0: return 150;
    case 1: return 135;
    case 2: return 160;
    default: return 210;
    }
}

bool CQuorvantisView::PeriodTexts(const ConfigSnapshot& config, std::array<QString, 8>& texts)
{
    texts.fill(QString::fromLatin1(kNoPeriodShown));
    if (config.mode != 2) return false;
    for (int k = 0; k < 4; ++k) {
        const OleDateTime& start = config.period[2 * k];
        const OleDateTime& end = config.period[2 * k + 1];
        OleDateTimeFields fs, fe;
        if (config.periodOn[k] == 1 && start.IsValid() && end.IsValid() && start.GetFields(fs) && end.GetFields(fe)) {
            texts[2 * k] =
                QString::asprintf("%04d/%02d/%02d  %02d:%02d", fs.year, fs.month, fs.day, fs.hour, fs.minute);
            texts[2 * k + 1] =
                QString::asprintf("%04d/%02d/%02d  %02d:%02d", fe.year, fe.month, fe.day, fe.hour, fe.minute);
        }
    }
    return true;
}

std::vector<PanelText> CQuorvantisView::LayoutPanel(const DisplayStrings& s, int language,
                                                    const ConfigSnapshot& config) const
{
    const int x = ValueColumnX(language);
    const QString* res = m_strRes;
    const QString colon = QStringLiteral(":");
    std::vector<PanelText> out;
    out.reserve(48);
    auto add = [&out](QRect r, const QColor& c, const QString& text) {
        out.push_back(PanelText{r, c, false, false, Clip255(text)});
    };

    // Device block.
    add(Ltrb(25, 15, 260, 50), kGrey, res[RES_DEVICE_INFO]);
    add(Ltrb(25, 40, x, 75), kGrey, res[RES_DEVICE_ID] + colon);
    add(Ltrb(25, 68, x, 105), kGrey, res[RES_TEMP_UNIT] + colon);
    add(Ltrb(25, 96, x, 125), kGrey, res[RES_DB_RECORDS] + colon);
    add(Ltrb(25, 124, x, 148), kGrey, res[RES_INTERVAL] + colon);
    add(Ltrb(25, 152, x, 170), kGrey, res[RES_MODE] + colon);
    add(Ltrb(x, 40, 330, 75), kGrey, s.info[0]);
    add(Ltrb(x, 68, 330, 105), kGrey, s.info[1]);
    add(Ltrb(x, 96, 330, 125), kGrey, s.info[2]);
    add(Ltrb(x, 124, 330, 148), kGrey, s.info[3]);
    QString mode = QString::fromLatin1(kNoValue);
    if (s.info[4] == QLatin1String("0"))
        mode = res[RES_MODE_ACYCLIC];
    else if (s.info[4] == QLatin1String("1"))
        mode = res[RES_MODE_ACYCLIC + 1];
    else if (s.info[4] == QLatin1String("2"))
        mode = res[RES_MODE_ACYCLIC + 2];
    add(Ltrb(x, 152, 330, 170), kGrey, mode);

    // Max/min column.
    add(Ltrb(25, 215, 230, 235), kGrey, res[RES_MAX_MIN]);
    add(Ltrb(25, 260, 230, 280), kGrey, res[RES_MAX_TEMP]);
    add(Ltrb(25, 305, 230, 325), kGrey, res[RES_MIN_TEMP]);
    add(Ltrb(25, 350, 230, 370), kGrey, res[RES_MAX_HUMI]);
    add(Ltrb(25, 395, 230, 415), kGrey, res[RES_MIN_HUMI]);
    add(Ltrb(25, 280, 230, 300), kRed, s.maxTemp);
    add(Ltrb(25, 325, 230, 345), kBlue, s.minTemp);
    add(Ltrb(25, 370, 230, 390), kRed, s.maxHumi);
    add(Ltrb(25, 415, 230, 435), kBlue, s.minHumi);

    // Period column: labels, then start and end of each period.
    add(Ltrb(255, 215, 450, 235), kGrey, res[RES_TIME_PERIOD]);
    for (int k = 0; k < 4; ++k) {
        const int top = 240 + 60 * k;
        add(Ltrb(255, top, 450, top + 20), kGrey, res[RES_PERIOD_1 + k]);
        add(Ltrb(255, top + 20, 450, top + 40), kRed, res[RES_START] + colon);
        add(Ltrb(255, top + 40, 450, top + 60), kBlue, res[RES_END] + colon);
    }
    std::array<QString, 8> periods;
    PeriodTexts(config, periods);
    for (int k = 0; k < 4; ++k) {
        const int top = 260 + 60 * k;
        add(Ltrb(300, top, 495, top + 20), kRed, periods[2 * k]);
        add(Ltrb(300, top + 20, 495, k == 0 ? 320 : top + 40), kBlue, periods[2 * k + 1]);
    }

    // Real-time column.
    add(Ltrb(485, 215, 690, 235), kGrey, res[RES_REALTIME]);
    add(Ltrb(485, 260, 690, 280), kGrey, res[RES_TEMPERATURE]);
    add(Ltrb(485, 350, 690, 370), kGrey, res[RES_HUMIDITY]);
    add(Ltrb(485, 280, 690, 300), kRed, s.temp);
    add(Ltrb(485, 370, 690, 390), kRed, s.humi);

    // Status block and title. The block reaches down into the status box of the background (its
    // frame is at y 205): three status lines of two rows each stay whole; a rectangle ending at
    // y 180 cut the download's line, the warning not to close the program, in most languages.
    out.push_back(PanelText{Ltrb(370, 100, 650, 202), kGrey, false, true,
                            Clip255(s.status[0] + '\n' + s.status[1] + '\n' + s.status[2] + '\n' + s.status[3])});
    out.push_back(PanelText{Ltrb(415, 20, 650, 150), kGrey, true, false, QStringLiteral("Quorvantis 3.2")});
    return out;
}

const QFont& CQuorvantisView::PanelFont(bool title)
{
    if (m_fontBody.pixelSize() <= 0) {  // chosen once: the metrics search is not free
        m_fontBody = CellHeightFont(17);
        m_fontTitle = CellHeightFont(30);
    }
    return title ? m_fontTitle : m_fontBody;
}

PanelCanvas::PanelCanvas(const QImage& background, const QFont& body, const QFont& title)
    : m_background(background), m_body(body), m_title(title)
{}

QRegion PanelCanvas::Update(std::vector<PanelText> texts, const QSize& size)
{
    QRegion changed;
    if (m_picture.size() != size || m_texts.size() != texts.size()) {
        m_picture = QImage(size, QImage::Format_RGB32);
        changed = QRect(QPoint(0, 0), size);
    } else {
        for (std::size_t i = 0; i < texts.size(); ++i)
            if (!(texts[i] == m_texts[i])) {
                changed += m_texts[i].rect;
                changed += texts[i].rect;
            }
    }
    m_texts = std::move(texts);
    if (!changed.isEmpty()) Draw(changed);
    return changed;
}

void PanelCanvas::Draw(const QRegion& area)
{
    // The area is drawn again from the background up, with every text that reaches into it, in
    // drawing order: texts that overlap another keep what lies over what.
    QPainter p(&m_picture);
    p.setClipRegion(area);
    p.fillRect(m_picture.rect(), Qt::white);
    if (!m_background.isNull()) p.drawImage(0, 0, m_background);
    for (const PanelText& t : m_texts) {
        if (!area.intersects(t.rect)) continue;
        QTextLayout layout;
        LayoutGdiText(layout, t.text, t.rect, t.title ? m_title : m_body, t.wordBreak);
        p.setPen(t.color);
        p.save();
        p.setClipRect(t.rect, Qt::IntersectClip);
        layout.draw(&p, QPointF());
        p.restore();
    }
}

QRegion CQuorvantisView::UpdateCanvas()
{
    if (!m_pCanvas) m_pCanvas = std::make_unique<PanelCanvas>(m_background, PanelFont(false), PanelFont(true));
    return m_pCanvas->Update(LayoutPanel(GetDisplayStrings(), theApp.m_nLanguage, theDeviceState.GetConfigSnapshot()),
                             size().expandedTo(QSize(kPanelWidth, kPanelHeight)));
}

void CQuorvantisView::OnDraw(QPainter& painter)
{
    // The picture is kept between paints and reaches the window in one copy: no flicker.
    painter.drawImage(0, 0, m_pCanvas->Picture());
}

void CQuorvantisView::paintEvent(QPaintEvent* event)
{
    // Strings changed on this thread (a removal, the settings dialog) show at the next paint; what
    // they changed outside this paint is painted after it.
    const QRegion changed = UpdateCanvas();
    QPainter painter(this);
    OnDraw(painter);
    const QRegion outside = changed - event->region();
    if (!outside.isEmpty()) update(outside);
}
