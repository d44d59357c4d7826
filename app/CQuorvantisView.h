#pragma once
// The live panel: one painted surface over a 700 x 500 background, and the owner of the device
// worker threads (monitor, record writer, and the one-shot history and live readers).
#include <QColor>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QRegion>
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
inline constexpr char kNoPeriodShown[] = "----/--/--  --:--";  // a period place without a period
inline constexpr char kBlankStatus[] = " ";

// Everything the worker threads write for the panel; copied as a whole under the view's lock.
struct DisplayStrings {
    QString maxTemp, minTemp, maxHumi, minHumi;
    QString temp, humi;
    std::array<QString, 5> info;  // 0 ID, 1 unit, 2 stored records, 3 interval, 4 mode digit
    std::array<QString, 4> status;
};

// One text of the panel as it is drawn.
struct PanelText {
    QRect rect;  // left, top, width, height (the right and bottom edges are exclusive)
    QColor color;
    bool title = false;      // title font instead of the body font
    bool wordBreak = false;  // wrap at word boundaries inside the rectangle
    QString text;
    bool operator==(const PanelText&) const = default;
};

// The panel's picture between paints: the background with the texts over it. A text that changes
// is drawn again within its rectangle only; the rest of the picture stays as it is.
class PanelCanvas {
public:
    // body and title: the fonts of texts without and with the title flag.
    PanelCanvas(const QImage& background, const QFont& body, const QFont& title);
    // Brings the picture to these texts at this size (the first time, or at another size, all of
    // it) and returns the part that changed.
    QRegion Update(std::vector<PanelText> texts, const QSize& size);
    const QImage& Picture() const { return m_picture; }

private:
    void Draw(const QRegion& area);

    QImage m_background;
    QFont m_body, m_title;
    QImage m_picture;
    std::vector<PanelText> m_texts;  // what m_picture shows
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
    std::vector<PanelText> LayoutPanel(const DisplayStrings& strings, int language, const ConfigSnapshot& config) const;
    // The body font (a 17-pixel cell) or the title font (a 30-pixel cell) of the panel.
    const QFont& PanelFont(bool title);

    // True while none of the worker threads runs (before the initial update and once stopped).
    bool WorkersStopped() const;
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

    // Asks for a paint of what changed in the display strings or the configuration since the last
    // call; callable from any thread. Without a change the UI thread is not woken.
    void Invalidate();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // What the panel shows besides its loaded texts: the display strings and the period texts.
    struct PanelContent {
        std::string maxTemp, minTemp, maxHumi, minHumi, temp, humi;
        std::array<std::string, 5> info;
        std::array<std::string, 4> status;
        std::array<std::string, 8> periods;
        bool operator==(const PanelContent&) const = default;
    };

    void OnDraw(QPainter& painter);
    // Brings the canvas to the current strings and configuration (UI thread); returns what changed.
    QRegion UpdateCanvas();
    // Runs handler on the UI thread and waits until it has run (the monitor's SendMessage).
    void SendToView(int (CQuorvantisView::*handler)());
    // Wakes the UI thread, which then serves Invalidate and SendToView in OnWake.
    void WakeView();
    void OnWake();
    void SetPlaceholders(bool withStatus);
    void SetPlaceholdersLocked(bool withStatus);  // the caller holds m_csDisplay
    PanelContent DisplayLocked() const;           // the display strings; the caller holds m_csDisplay
    // The udev watcher feeding OnDeviceChange.
    void StartDeviceWatcher();
    void StopDeviceWatcher();
    void SetStatus(int line, const QString& text);
    // The monitor's two one-shot starts.
    void StartHistoryThread();
    void StartLiveThread();
    // Asks for an open of the device off the UI thread. One open runs at a time; a request made
    // while one runs is served by another open right after it.
    void RequestDeviceOpen(const std::string& skip = {});
    bool IsOpening() const;

    // The display strings, guarded by m_csDisplay. Held as UTF-8 standard strings, so that no
    // QString buffer written on one thread is read on another: Qt counts its references inside the
    // Qt library, where the thread sanitizer cannot follow them. (The threads read the loaded
    // texts m_strRes too, which nothing writes once they run.)
    mutable std::mutex m_csDisplay;
    std::string m_strMaxTemp, m_strMinTemp, m_strMaxHumi, m_strMinHumi;
    std::string m_strTemp, m_strHumi;
    std::string m_strInfo[5];
    std::string m_strStatus[4];
    PanelContent m_announced;  // what the UI thread was last woken to paint

    std::unique_ptr<std::thread> m_pMonitorThread, m_pLiveThread, m_pHistoryThread, m_pWriterThread;
    std::unique_ptr<std::thread> m_pOpenThread;
    mutable std::mutex m_csOpen;  // guards the two flags below
    bool m_bOpenRunning = false;  // the open thread runs
    bool m_bOpenAgain = false;    // an open was asked for that has not begun yet
    std::string m_strOpenSkip;    // the interface that open leaves out (one just removed)
    std::atomic<int> m_bMonitorRunning{0}, m_bWriterRunning{0};
    std::atomic<int> m_bHistoryRunning{0}, m_bLiveRunning{0};
    int m_wakeFd = -1;                  // eventfd the workers write to wake the UI thread
    std::atomic<int> m_bInvalidate{0};  // a change waits for the UI thread
    mutable std::mutex m_csHandOver;
    std::condition_variable m_cvHandOver;
    int (CQuorvantisView::*m_pHandOver)() = nullptr;  // the handler the monitor waits for
    bool m_bInitialized = false;
    bool m_bStopped = false;
    QImage m_background;
    QFont m_fontBody, m_fontTitle;           // Arial with 17- and 30-pixel cells
    std::unique_ptr<PanelCanvas> m_pCanvas;  // made at the first paint, once the fonts are chosen
    class QDeviceWatcher* m_pWatcher = nullptr;
};
