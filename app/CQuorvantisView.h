#pragma once
// The live panel: one painted surface over a 700 x 500 background, and the owner of the device
// worker threads (monitor, record writer, and the one-shot history and live readers).
#include <QColor>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QString>
#include <QWidget>

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ConfigSnapshot;
class QPainter;

// Device-change events as the watcher delivers them (the values of the Windows notification).
constexpr int DBT_DEVICEARRIVAL = 0x8000;
constexpr int DBT_DEVICEREMOVECOMPLETE = 0x8004;

// Placeholders of the display.
inline constexpr char kNoValue[] = " -- ";
inline constexpr char kNoPeriod[] = " ----/--/--  --:-- ";     // a period text without a period
inline constexpr char kNoPeriodShown[] = "----/--/--  --:--";  // what the panel shows then
inline constexpr char kBlankStatus[] = " ";

// Everything the worker threads write for the panel; copied as a whole under the view's lock.
struct DisplayStrings {
    QString maxTemp, minTemp, maxHumi, minHumi;
    std::array<QString, 8> periodTime;
    QString temp, humi;
    std::array<QString, 7> info;  // 0 ID, 1 unit, 2 stored records, 3 interval, 4 mode digit
    std::array<QString, 4> status;
};

// One text of the panel as it is drawn.
struct PanelText {
    QRect rect;  // left, top, width, height (the right and bottom edges are exclusive)
    QColor color;
    bool title = false;      // title font instead of the body font
    bool wordBreak = false;  // wrap at word boundaries inside the rectangle
    QString text;
};

class CQuorvantisView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kResCount = 45;
    static constexpr int kPanelWidth = 700;
    static constexpr int kPanelHeight = 500;

    explicit CQuorvantisView(QWidget* parent = nullptr);
    ~CQuorvantisView() override;

    // Loads the texts, sets the placeholders, allocates the record-queue head, opens the device and
    // starts the monitor and record-writer threads. Runs once per view.
    void OnInitialUpdate();
    // Loads the 45 texts of m_strRes from the string table of the application's language.
    void LoadTexts();

    // Sets the stop flag and waits, still dispatching the monitor's blocking hand-overs, until every
    // worker thread (one-shot ones included) has ended. Safe to call more than once.
    void StopWorkerThreads();

    // Handlers of the monitor's two hand-overs (UI thread).
    int OnDeviceConnect();
    int OnDeviceUnconnect();
    // Arrival or removal of a HID interface (UI thread). Always true. The opens it asks for run
    // on a thread of their own: a slow or silent recorder never holds up the window.
    bool OnDeviceChange(int event, const std::string& path);
    int IsOpenDevicePath(const std::string& path) const;
    // The monitor waits for this thread to serve a hand-over (tests force schedules with it).
    bool IsHandOverPending() const;

    // Info entries 0, 1, 3 and 4 from the configuration theDeviceState holds (ID, unit, interval,
    // mode digit). Used by the monitor after a configuration read and by the settings dialog.
    void ShowDeviceInfo();

    // A consistent copy of the display strings.
    DisplayStrings GetDisplayStrings() const;

    // Value texts of the panel.
    static QString TempText(int value, int unit);
    static QString HumiText(int value);
    QString IntervalText(int seconds) const;
    // Where the device block's values begin, by language index.
    static int ValueColumnX(int language);
    // The eight period texts a paint shows; false (and all dashes) when the mode is not segmented.
    static bool PeriodTexts(const ConfigSnapshot& config, std::array<QString, 8>& texts);
    // The texts of one paint in drawing order, for the given strings, language and configuration.
    std::vector<PanelText> LayoutPanel(const DisplayStrings& strings, int language,
                                       const ConfigSnapshot& config) const;
    // Renders the panel as a paint would (also used for the paint itself).
    QImage RenderPanel();
    // The body font (a 17-pixel cell) or the title font (a 30-pixel cell) of the panel.
    const QFont& PanelFont(bool title);

    std::atomic<int> m_bThreadExited{0};
    // Pause before re-opening a device whose interface arrives again while it is open (ms).
    int m_nReopenDelayMs = 1500;

    QString m_strRes[kResCount];

    // Thread procedures; each takes the view and returns 0.
    static int DeviceMonitorThreadProc(CQuorvantisView* view);
    static int HistoryReadThreadProc(CQuorvantisView* view);
    static int LiveReadThreadProc(CQuorvantisView* view);
    static int RecordWriterThreadProc(CQuorvantisView* view);
    // Opens the device (model check included) for as long as opens are asked for.
    static int DeviceOpenThreadProc(CQuorvantisView* view);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void OnDraw(QPainter& painter);
    // Marks the whole view for repaint; callable from any thread.
    void Invalidate();
    // Runs handler on the UI thread and waits until it has run (the monitor's SendMessage).
    void SendToView(int (CQuorvantisView::*handler)());
    // Wakes the UI thread, which then serves Invalidate and SendToView in OnWake.
    void WakeView();
    void OnWake();
    void SetPlaceholders(bool withStatus);
    void SetPlaceholdersLocked(bool withStatus);  // the caller holds m_csDisplay
    // The udev watcher feeding OnDeviceChange.
    void StartDeviceWatcher();
    void StopDeviceWatcher();
    void SetStatus(int line, const QString& text);
    // The monitor's two one-shot starts.
    void StartHistoryThread();
    void StartLiveThread();
    // Asks for an open of the device off the UI thread. One open runs at a time; a request made
    // while one runs is served by another open right after it.
    void RequestDeviceOpen();
    bool IsOpening() const;

    // The display strings, guarded by m_csDisplay: the workers write them, the UI thread paints
    // them. Held as UTF-8 standard strings, so that none of them shares a QString buffer between
    // threads: Qt counts its references inside the Qt library, where the thread sanitizer cannot
    // follow them. The QStrings the workers read, m_strRes, are shared: they are loaded before the
    // workers start and only read while they run.
    mutable std::mutex m_csDisplay;
    std::string m_strMaxTemp, m_strMinTemp, m_strMaxHumi, m_strMinHumi;
    std::string m_strPeriodTime[8];
    std::string m_strTemp, m_strHumi;
    std::string m_strInfo[7];
    std::string m_strStatus[4];

    std::unique_ptr<std::thread> m_pMonitorThread, m_pLiveThread, m_pHistoryThread, m_pWriterThread;
    std::unique_ptr<std::thread> m_pOpenThread;
    mutable std::mutex m_csOpen;  // guards the two flags below
    bool m_bOpenRunning = false;  // the open thread runs
    bool m_bOpenAgain = false;    // an open was asked for that has not begun yet
    std::atomic<int> m_bMonitorRunning{0}, m_bWriterRunning{0};
    std::atomic<int> m_bHistoryRunning{0}, m_bLiveRunning{0};
    int m_wakeFd = -1;  // eventfd the workers write to wake the UI thread
    std::atomic<int> m_bInvalidate{0};
    mutable std::mutex m_csHandOver;
    std::condition_variable m_cvHandOver;
    int (CQuorvantisView::*m_pHandOver)() = nullptr;  // the handler the monitor waits for
    bool m_bInitialized = false;
    bool m_bStopped = false;
    QImage m_background;
    QFont m_fontBody, m_fontTitle;  // Arial with 17- and 30-pixel cells
    class QDeviceWatcher* m_pWatcher = nullptr;
};
