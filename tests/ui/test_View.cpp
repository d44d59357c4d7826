// The live panel with the simulator as the recorder: connection, configuration, download, removal,
// the worker threads' texts and the painted layout. The runner gives each test a fresh
// theDeviceState and theApp.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "app/CMainFrame.h"
#include "app/CQuorvantisApp.h"
#include "app/CQuorvantisView.h"
#include "device/CDeviceState.h"
#include "history/DeleteHistory.h"
#include "platform/MessageBox.h"
#include "platform/StringTable.h"
#include "resources/resource.h"
#include "simulator/VT583Simulator.h"
#include "support/TempDir.h"
#include "ui/ModalHelper.h"
#include "ui/QtMessageBoxService.h"
#include "ui/ViewTestSupport.h"

namespace {

constexpr const char* kPath = "/dev/hidraw7";

class ViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("QUORVANTIS_DATA_DIR", m_dir.Path().c_str(), 1);
        theDeviceState.InitDataFolder(BuildDir(), m_dir.Path());
        ASSERT_TRUE(LoadTestLanguage(0));
        theDeviceState.m_Link.SetTransport(m_transport.get());
        theDeviceState.m_nNewDeviceWaitMs = 0;
    }

    void TearDown() override
    {
        if (m_frame) {
            m_view->StopWorkerThreads();
            EXPECT_TRUE(m_view->WorkersStopped());
            m_frame.reset();
        }
        theDeviceState.m_Link.Close();
    }

    void Start()
    {
        m_frame = std::make_unique<CMainFrame>();
        m_view = m_frame->GetActiveView();
        ASSERT_NE(m_view, nullptr);
        m_view->m_nReopenDelayMs = 20;
        m_view->OnInitialUpdate();
        m_frame->show();
    }

    QString PaneText() const
    {
        for (QLabel* label : m_frame->statusBar()->findChildren<QLabel*>())
            if (!label->text().isEmpty()) return label->text();
        return {};
    }

    DisplayStrings Shown() const { return m_view->GetDisplayStrings(); }

    TempDir m_dir;
    std::unique_ptr<sim::SimulatorTransport> m_transport = std::make_unique<sim::SimulatorTransport>();
    std::unique_ptr<CMainFrame> m_frame;
    CQuorvantisView* m_view = nullptr;
};

// The integer columns of a query's first row (empty when it fails or finds nothing).
std::vector<long long> QueryInts(const std::string& dbPath, const std::string& sql)
{
    sqlite3* db = nullptr;
    std::vector<long long> values;
    if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 2000);
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
            for (int i = 0; i < sqlite3_column_count(st); ++i) values.push_back(sqlite3_column_int64(st, i));
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return values;
}

long long CountRows(const std::string& dbPath, const std::string& deviceId)
{
    const auto n = QueryInts(dbPath, "SELECT COUNT(*) FROM Records WHERE ID = '" + deviceId + "'");
    return n.empty() ? -1 : n[0];
}

// Keeps the event loop running for a while, so that the monitor's ticks are served meanwhile.
void ProcessEventsFor(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
}

void ExecSql(const std::string& dbPath, const std::string& sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dbPath.c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 5000);  // the record writer may be in a transaction
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

const PanelText* FindText(const std::vector<PanelText>& texts, const QString& text)
{
    for (const PanelText& t : texts)
        if (t.text == text) return &t;
    return nullptr;
}

}  // namespace

TEST_F(ViewTest, RecorderAttachedWhileRunningIsShownDownloadedAndForgottenOnRemoval)
{
    Start();
    ASSERT_TRUE(WaitUntil([&] { return PaneText() == "Unconnect"; }));
    EXPECT_EQ(Shown().info[0], kNoValue);

    auto rec = m_transport->Attach(kPath);
    rec->SetDeviceId(0x00ABCDEF);
    rec->SetInterval(120);
    rec->SetFlagByte(0x05);            // degrees C, acyclic
    rec->SetMaxMin(750, 90, 400, 40);  // values 650 and 300, 70 % and 20 %
    rec->FillRing(0, 100);
    m_view->OnDeviceChange(DBT_DEVICEARRIVAL, kPath);

    ASSERT_TRUE(WaitUntil([&] { return PaneText() == "Connect"; }));
    ASSERT_TRUE(WaitUntil([&] {
        const DisplayStrings s = Shown();
        return s.info[0] == "00ABCDEF" && s.status[2] == "Complete historical record deal" && s.info[2] == "100";
    }));
    DisplayStrings s = Shown();
    EXPECT_EQ(s.info[1], QStringLiteral("°C"));
    EXPECT_EQ(s.info[3], "2 Minute");
    EXPECT_EQ(s.info[4], "0");
    EXPECT_EQ(s.status[0], "Read Device ID and Configuration success");
    EXPECT_EQ(s.status[1], "To successful synchronization device time.");
    EXPECT_EQ(CountRows(theDeviceState.m_strDbPath, "00ABCDEF"), 100);
    ASSERT_TRUE(WaitUntil([&] { return Shown().maxTemp == QStringLiteral("25.0°C"); }));
    EXPECT_EQ(Shown().maxHumi, "70 %");

    // The panel shows what the threads wrote: the mode name and the count in the value column.
    const auto texts = m_view->LayoutPanel(Shown(), 0, theDeviceState.GetConfigSnapshot());
    ASSERT_NE(FindText(texts, "Acyclic mode"), nullptr);
    EXPECT_EQ(FindText(texts, "Acyclic mode")->rect.left(), 150);
    ASSERT_NE(FindText(texts, "100"), nullptr);

    // A removal of another interface leaves the device open.
    m_view->OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, "/dev/hidraw9");
    EXPECT_TRUE(theDeviceState.m_Link.IsDeviceOpen());

    // The path compares without regard to case.
    EXPECT_EQ(m_view->IsOpenDevicePath("/DEV/HIDRAW7"), 1);

    m_transport->Detach(kPath);
    m_view->OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, kPath);
    EXPECT_FALSE(theDeviceState.m_Link.IsDeviceOpen());
    ASSERT_TRUE(WaitUntil([&] { return PaneText() == "Unconnect"; }));
    ASSERT_TRUE(WaitUntil([&] { return Shown().info[0] == kNoValue; }));
    s = Shown();
    EXPECT_EQ(s.maxTemp, kNoValue);
    EXPECT_EQ(s.temp, kNoValue);
    EXPECT_EQ(s.info[4], kNoValue);
    for (const QString& line : s.status) EXPECT_EQ(line, kBlankStatus);
    EXPECT_EQ(theDeviceState.m_nMode.load(), -1);
}

TEST_F(ViewTest, RecorderWithIdZeroIsNeverDownloaded)
{
    auto rec = m_transport->Attach(kPath);
    rec->SetDeviceId(0);
    rec->FillRing(0, 20);
    Start();
    ASSERT_TRUE(WaitUntil([&] { return PaneText() == "Connect"; }));
    // Each tick reads the configuration again; wait for a few of them.
    ASSERT_TRUE(WaitUntil([&] { return rec->Counters().memoryReads >= 3 * 2; }));
    const sim::SimCounters c = rec->Counters();
    EXPECT_EQ(c.clockSets, 0);
    EXPECT_EQ(c.liveReads, 0);
    const DisplayStrings s = Shown();
    EXPECT_EQ(s.status[0], kBlankStatus);
    EXPECT_EQ(s.info[4], kNoValue);
    EXPECT_EQ(theDeviceState.m_bReadConfig.load(), 1);
    EXPECT_EQ(CountRows(theDeviceState.m_strDbPath, "00000000"), 0);
}

TEST_F(ViewTest, FailedConfigurationReadShowsItsStatusAndRetries)
{
    auto rec = m_transport->Attach(kPath);
    rec->SetExtraMarker(EXTRA_UNUSABLE);
    Start();
    ASSERT_TRUE(WaitUntil([&] { return Shown().status[0] == "Read the device ID or configuration failure"; }));
    const int reads = rec->Counters().memoryReads;
    ASSERT_TRUE(WaitUntil([&] { return rec->Counters().memoryReads > reads; }));
    EXPECT_EQ(rec->Counters().clockSets, 0);
    EXPECT_EQ(Shown().info[0], kNoValue);

    // Once the configuration reads, the device is synchronised and shown.
    rec->SetExtraMarker(0);
    ASSERT_TRUE(WaitUntil([&] { return Shown().info[0] == "00123456"; }));
    ASSERT_TRUE(WaitUntil([&] { return rec->Counters().clockSets >= 1; }));
}

TEST(ViewTexts, ValueTexts)
{
    ASSERT_TRUE(LoadTestLanguage(0));
    CQuorvantisView view;
    view.LoadTexts();
    EXPECT_EQ(view.IntervalText(120), "2 Minute");
    EXPECT_EQ(view.IntervalText(90), "90 Seconds");
    EXPECT_EQ(view.IntervalText(300), "5 Minute");
    EXPECT_EQ(CQuorvantisView::TempText(650, 1), QStringLiteral("25.0°C"));
    EXPECT_EQ(CQuorvantisView::TempText(650, 0), QStringLiteral("77.0°F"));
    EXPECT_EQ(CQuorvantisView::TempText(650, -1), QStringLiteral("25.0°C"));
    EXPECT_EQ(CQuorvantisView::TempText(0xFFFF, 1), QStringLiteral(" -- °C"));
    EXPECT_EQ(CQuorvantisView::TempText(0xFFFF, 0), QStringLiteral(" -- °F"));
    EXPECT_EQ(CQuorvantisView::TempText(350, 1), QStringLiteral("-5.0°C"));
    EXPECT_EQ(CQuorvantisView::HumiText(45), "45 %");
    EXPECT_EQ(CQuorvantisView::HumiText(255), " -- %");
}

// Once the download is done and the values are shown, the monitor's ticks wake the window for
// their hand-over only: nothing unchanged is painted again, neither the panel nor the status bar.
TEST_F(ViewTest, IdleWindowIsNotPaintedAgain)
{
    auto rec = m_transport->Attach(kPath);
    rec->SetInterval(3600);
    rec->FillRing(0, 20);
    Start();
    ASSERT_TRUE(WaitUntil([&] {
        const DisplayStrings s = Shown();
        return s.status[2] == "Complete historical record deal" && s.info[2] == "20" && s.temp != kNoValue &&
               s.maxTemp != kNoValue;
    }));
    PaintWatch watch;
    qApp->installEventFilter(&watch);
    auto* notifier = m_view->findChild<QSocketNotifier*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_NE(notifier, nullptr);
    int wakes = 0;
    QObject::connect(notifier, &QSocketNotifier::activated, m_view, [&] { ++wakes; });
    // Two ticks for the last texts to be painted, then four with nothing new.
    ASSERT_TRUE(WaitUntil([&] { return wakes >= 2; })) << "two ticks";
    ServeEvents();
    watch.paints.clear();
    wakes = 0;
    ASSERT_TRUE(WaitUntil([&] { return wakes >= 4; })) << "four more ticks";
    qApp->removeEventFilter(&watch);
    EXPECT_TRUE(watch.paints.empty()) << watch.paints.size() << " paints";
}

TEST_F(ViewTest, ArrivalOpensTheDeviceAndReopensTheOpenOneAfterADelay)
{
    Start();
    ASSERT_TRUE(WaitUntil([&] { return PaneText() == "Unconnect"; }));
    auto rec = m_transport->Attach(kPath);
    // Any arrival opens when no device is open, whatever its path.
    m_view->OnDeviceChange(DBT_DEVICEARRIVAL, "/dev/hidraw1");
    ASSERT_TRUE(WaitUntil([] { return theDeviceState.m_Link.IsDeviceOpen(); }));
    const int opens = m_transport->OpenCount();
    // Another interface arriving while the device is open is ignored; the open device's own path
    // arriving again re-opens it after the pause, not at once.
    m_view->OnDeviceChange(DBT_DEVICEARRIVAL, "/dev/hidraw1");
    m_view->OnDeviceChange(DBT_DEVICEARRIVAL, kPath);
    EXPECT_EQ(m_transport->OpenCount(), opens);
    ASSERT_TRUE(WaitUntil([&] { return m_transport->OpenCount() > opens; }));
    // Both pauses have long run out: exactly the one re-open.
    ProcessEventsFor(10 * m_view->m_nReopenDelayMs);
    EXPECT_EQ(m_transport->OpenCount(), opens + 1);
    EXPECT_TRUE(theDeviceState.m_Link.IsDeviceOpen());
    ASSERT_TRUE(WaitUntil([&] { return PaneText() == "Connect"; }));
}

// Runs call on this thread; true when it returned while the recorder still held its replies back.
// A call that waits for the recorder gets it released after a bound, so that the test fails
// instead of hanging.
bool ReturnsWithoutTheRecorder(sim::VT583Simulator& rec, const std::function<void()>& call)
{
    std::mutex mutex;
    std::condition_variable cv;
    bool returned = false, released = false;
    std::thread breaker([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!cv.wait_for(lock, std::chrono::seconds(20), [&] { return returned; })) {
            released = true;
            rec.ReleaseReplies();
        }
    });
    call();
    {
        std::lock_guard<std::mutex> lock(mutex);
        returned = true;
    }
    cv.notify_all();
    breaker.join();
    return !released;
}

TEST_F(ViewTest, SlowRecorderNeverHoldsUpTheWindow)
{
    // A recorder that has not answered yet: the open's model read waits for it.
    auto rec = m_transport->Attach(kPath);
    rec->HoldReplies();
    struct Release {
        std::shared_ptr<sim::VT583Simulator> rec;
        ~Release() { rec->ReleaseReplies(); }
    } release{rec};

    // At start-up the window comes up and serves its events while the open waits.
    ASSERT_TRUE(ReturnsWithoutTheRecorder(*rec, [&] { Start(); }));
    ASSERT_TRUE(WaitUntil([&] { return rec->HeldReads() == 1; }));
    ASSERT_TRUE(WaitUntil([&] { return PaneText() == "Unconnect"; }));
    bool served = false;
    QTimer::singleShot(0, [&] { served = true; });
    ASSERT_TRUE(WaitUntil([&] { return served; }));
    EXPECT_EQ(rec->HeldReads(), 1);
    EXPECT_FALSE(theDeviceState.m_Link.IsDeviceOpen());
    // Once it answers it is accepted, configured and shown.
    rec->ReleaseReplies();
    ASSERT_TRUE(WaitUntil([&] { return PaneText() == "Connect" && Shown().info[0] == "00123456"; }));

    // The same on an arrival: unplugged, then plugged in again without answering at first.
    m_transport->Detach(kPath);
    m_view->OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, kPath);
    ASSERT_TRUE(WaitUntil([&] { return PaneText() == "Unconnect"; }));
    rec->HoldReplies();
    m_transport->Attach(kPath, rec);
    ASSERT_TRUE(ReturnsWithoutTheRecorder(*rec, [&] { m_view->OnDeviceChange(DBT_DEVICEARRIVAL, kPath); }));
    ASSERT_TRUE(WaitUntil([&] { return rec->HeldReads() == 1; }));
    served = false;
    QTimer::singleShot(0, [&] { served = true; });
    ASSERT_TRUE(WaitUntil([&] { return served; }));
    EXPECT_FALSE(theDeviceState.m_Link.IsDeviceOpen());
    rec->ReleaseReplies();
    ASSERT_TRUE(WaitUntil([&] { return PaneText() == "Connect" && Shown().info[0] == "00123456"; }));
}

TEST_F(ViewTest, RemovalAndCloseNeverWaitForTheLink)
{
    auto rec = m_transport->Attach(kPath);
    struct Release {
        std::shared_ptr<sim::VT583Simulator> rec;
        ~Release() { rec->ReleaseReplies(); }
    } release{rec};
    Start();
    ASSERT_TRUE(WaitUntil([&] { return PaneText() == "Connect"; }));

    // The recorder stops answering in the middle of an exchange (the monitor's next configuration
    // read), as a slow one (1.9 s a report) keeps the link for most of the time. A removal
    // returns at once and the device is gone.
    rec->HoldReplies();
    theDeviceState.m_bReadConfig = 1;
    ASSERT_TRUE(WaitUntil([&] { return rec->HeldReads() == 1; }));
    ASSERT_TRUE(ReturnsWithoutTheRecorder(*rec, [&] { m_view->OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, kPath); }));
    EXPECT_FALSE(theDeviceState.m_Link.IsDeviceOpen());
    EXPECT_EQ(rec->HeldReads(), 1);
    // The exchange under way ends; nothing after it reaches the recorder.
    rec->ReleaseReplies();
    ASSERT_TRUE(WaitUntil([&] { return rec->HeldReads() == 0 && PaneText() == "Unconnect"; }));
    const int writes = rec->Counters().writes;
    ProcessEventsFor(100);
    EXPECT_EQ(rec->Counters().writes, writes);

    // Plugged in again, it stops answering again (the monitor's next configuration read waits):
    // the close shows its notice and the window goes while the exchange still waits.
    m_view->OnDeviceChange(DBT_DEVICEARRIVAL, kPath);
    ASSERT_TRUE(WaitUntil([&] { return PaneText() == "Connect"; }));
    rec->HoldReplies();
    theDeviceState.m_bReadConfig = 1;
    ASSERT_TRUE(WaitUntil([&] { return rec->HeldReads() == 1; }));
    m_frame->m_nCloseNoticeMs = 10;
    bool noticeWhileHeld = false, goneWhileHeld = false;
    WhenModal(QStringLiteral("IDD_CLOSEDIALO"), [&](QWidget*) {
        noticeWhileHeld = rec->HeldReads() == 1;
        goneWhileHeld = WaitUntil([&] { return !m_frame->isVisible(); }) && rec->HeldReads() == 1;
        rec->ReleaseReplies();
    });
    ASSERT_TRUE(ReturnsWithoutTheRecorder(*rec, [&] { m_frame->close(); }));
    EXPECT_TRUE(noticeWhileHeld);
    EXPECT_TRUE(goneWhileHeld);
    EXPECT_TRUE(m_view->WorkersStopped());
}

TEST_F(ViewTest, PcClockOutsideTheRecordersYearsIsNotSentAndSaidSo)
{
    auto rec = m_transport->Attach(kPath);
    rec->FillRing(0, 100);
    theDeviceState.m_Link.m_fnNow = [] { return OleDateTime(1995, 6, 1, 12, 0, 0); };
    Start();
    // Told on the status line; configured and downloaded all the same.
    ASSERT_TRUE(WaitUntil([&] {
        return Shown().status[1] == QString::fromStdString(LoadString(IDS_CLOCK_OUT_OF_RANGE)) &&
               Shown().status[2] == "Complete historical record deal";
    })) << Shown().status[1].toStdString();
    EXPECT_EQ(Shown().info[0], "00123456");
    EXPECT_EQ(rec->Counters().clockSets, 0);
    EXPECT_EQ(CountRows(theDeviceState.m_strDbPath, "00123456"), 100);
}

TEST_F(ViewTest, RepeatedAndRequestedDownloadsStoreEveryRecordOnce)
{
    auto rec = m_transport->Attach(kPath);
    rec->SetInterval(8);
    rec->FillRing(1, 1500);
    // An interval of 0 makes a download due again every other tick.
    rec->SetInterval(0);
    rec->SetLatencyMs(4);
    Start();
    ASSERT_TRUE(WaitUntil([&] { return Shown().info[2].toInt() >= 200; }));

    // A request while the running download waits for a reply slower than a tick: the new download
    // must wait for the running one, which stops at the request, instead of running beside it.
    rec->SetLatencyMs(600);
    ProcessEventsFor(50);  // the running download is inside a slow exchange now
    theDeviceState.m_bDeviceErased = 1;
    ProcessEventsFor(1500);  // ticks pass while it waits
    rec->SetLatencyMs(4);
    ASSERT_TRUE(WaitUntil(
        [&] { return Shown().status[2] == "Complete historical record deal" && Shown().info[2].toInt() >= 1500; }));
    // Two more scheduled downloads find nothing new.
    const int reads = rec->Counters().memoryReads;
    ASSERT_TRUE(WaitUntil([&] { return rec->Counters().memoryReads > reads + 6; }));
    EXPECT_EQ(CountRows(theDeviceState.m_strDbPath, "00123456"), 1500);
}

TEST_F(ViewTest, FahrenheitRecorderShowsFahrenheitTexts)
{
    auto rec = m_transport->Attach(kPath);
    rec->SetFlagByte(0x04);  // degrees F, 24 h, acyclic
    rec->SetInterval(90);
    rec->SetMaxMin(750, 90, 0xFFFF, 40);  // maximum 650, no minimum
    Start();
    ASSERT_TRUE(WaitUntil([&] { return Shown().maxTemp == QStringLiteral("77.0°F"); }));
    const DisplayStrings s = Shown();
    EXPECT_EQ(s.info[1], QStringLiteral("°F"));
    EXPECT_EQ(s.info[3], "90 Seconds");
    EXPECT_EQ(s.minTemp, QStringLiteral(" -- °F"));
    EXPECT_NE(s.temp, kNoValue);
}

TEST_F(ViewTest, StoppingWhileTheMonitorWaitsForTheWindowDoesNotDeadlock)
{
    auto rec = m_transport->Attach(kPath);
    Start();
    ASSERT_TRUE(WaitUntil([&] { return PaneText() == "Connect"; }));
    // The UI thread stops serving events for longer than a tick: the monitor blocks in its
    // hand-over, and the stop must still complete it.
    QThread::msleep(700);
    m_view->StopWorkerThreads();
    EXPECT_TRUE(m_view->WorkersStopped());
    // Once stopped nothing runs any more: a second stop returns at once.
    m_view->StopWorkerThreads();
}

TEST_F(ViewTest, DamagedDatabaseShowsOneBoxWhileTheWindowKeepsWorking)
{
    // The real boxes, answered as a user would: OK on each one that appears.
    QtMessageBoxService service;
    IMessageBoxService* previous = SetMessageBoxService(&service);
    QStringList shown;
    QTimer answerer;
    answerer.setInterval(5);
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        shown << box->text();
        box->button(QMessageBox::Ok)->click();
    });
    answerer.start();

    const std::string good = ReadFile(theDeviceState.m_strDbPath);
    WriteFile(theDeviceState.m_strDbPath, std::string(4096, 'x'));
    auto rec = m_transport->Attach(kPath);
    rec->FillRing(0, 20);
    rec->SetInterval(0);  // a download on every tick
    Start();
    ASSERT_TRUE(WaitUntil([&] { return Shown().info[0] == "00123456"; }));
    // Records downloaded before the damage still wait: the writer tries them again and again.
    for (int k = 1; k <= 3; ++k)
        theDeviceState.QueueRecord(0x00123456, 0, 88, 60, 635, 45, k, OleDateTime(2026, 3, 1, 10, 0, 0));
    // Several drains have failed, and two downloads one after the other.
    const QString failed = QStringLiteral("Processing data failed");
    ASSERT_TRUE(WaitUntil([&] { return theDeviceState.m_nDrains >= 6 && Shown().status[2] == failed; }));
    ASSERT_TRUE(WaitUntil([&] { return Shown().status[2] != failed; }));
    ASSERT_TRUE(WaitUntil([&] { return Shown().status[2] == failed; }));
    ASSERT_EQ(shown.size(), 1) << shown.join(QStringLiteral(" | ")).toStdString();
    EXPECT_EQ(shown[0], "file is not a database");

    // The menu works: the history dialog opens (its failed open says nothing new) and closes.
    bool opened = false;
    WhenModal(QString(), [&](QWidget* w) {
        if (qobject_cast<QMessageBox*>(w)) return;
        opened = true;
        static_cast<QDialog*>(w)->reject();
    });
    m_frame->findChild<QAction*>(QStringLiteral("ID_MENU_HISTORY"))->trigger();
    EXPECT_TRUE(opened);
    EXPECT_EQ(shown.size(), 1) << shown.join(QStringLiteral(" | ")).toStdString();

    // Repaired: the waiting records are stored, none lost.
    WriteFile(theDeviceState.m_strDbPath, good);
    ASSERT_TRUE(WaitUntil([&] { return CountRows(theDeviceState.m_strDbPath, "00123456") >= 3; }));

    // And the window closes.
    m_frame->m_nCloseNoticeMs = 10;
    m_frame->close();
    EXPECT_TRUE(m_view->WorkersStopped());
    EXPECT_EQ(shown.size(), 1) << shown.join(QStringLiteral(" | ")).toStdString();
    SetMessageBoxService(previous);
}

TEST_F(ViewTest, DownloadIsCompleteOnlyOnceItsRecordsAreStored)
{
    ScopedMessageBoxRecorder boxes;
    const std::string& db = theDeviceState.m_strDbPath;
    // A database that takes no record, as a full disk would.
    ExecSql(db, "CREATE TRIGGER full BEFORE INSERT ON Records BEGIN "
                "SELECT RAISE(FAIL, 'database or disk is full'); END");
    auto rec = m_transport->Attach(kPath);
    rec->FillRing(0, 100);
    rec->SetInterval(0);
    Start();
    bool sawComplete = false;
    ASSERT_TRUE(WaitUntil([&] {
        const QString status = Shown().status[2];
        sawComplete = sawComplete || status == "Complete historical record deal";
        return theDeviceState.m_nDrains >= 3 && status == "Processing data failed";
    }));
    EXPECT_FALSE(sawComplete);
    EXPECT_EQ(CountRows(db, "00123456"), 0);
    ASSERT_EQ(boxes->Count(), 1u);
    EXPECT_EQ(boxes->Entries()[0].text, AppStrings().Get(IDS_RECORDS_NOT_STORED) + "\ndatabase or disk is full");

    // Room again: the waiting records are stored, and only then is the download complete.
    ExecSql(db, "DROP TRIGGER full");
    ASSERT_TRUE(
        WaitUntil([&] { return Shown().status[2] == "Complete historical record deal" && Shown().info[2] == "100"; }));
    EXPECT_EQ(CountRows(db, "00123456"), 100);
    EXPECT_EQ(boxes->Count(), 1u);
}

namespace {

// Rows of one ID, and how many distinct record times they hold.
std::vector<long long> RowsAndTimes(const std::string& dbPath, const std::string& deviceId)
{
    return QueryInts(dbPath, "SELECT count(*), count(DISTINCT Time) FROM Records WHERE ID='" + deviceId + "'");
}

// Page and record number of a device's row in table Device; empty without one.
std::vector<long long> ResumePoint(const std::string& dbPath, const std::string& deviceId)
{
    return QueryInts(dbPath, "SELECT DevLastPag, DevLastPagnRecords FROM Device WHERE DevID='" + deviceId + "'");
}

// Where the k-th record (from 1) of an acyclic ring filled from its start lies: page, record.
std::vector<long long> RecordPlace(long long k)
{
    return {PAGE_FIRST + (k - 1) / PAGE_RECORDS, (k - 1) % PAGE_RECORDS + 1};
}

}  // namespace

TEST_F(ViewTest, EraseDuringADownloadWaitsForItThenEveryRecordIsStoredOnce)
{
    ScopedMessageBoxRecorder boxes;
    auto rec = m_transport->Attach(kPath);
    rec->FillRing(0, 6000);
    rec->SetLatencyMs(1);
    const std::string& db = theDeviceState.m_strDbPath;
    Start();
    ASSERT_TRUE(WaitUntil([&] { return CountRows(db, "00123456") > 0; }));  // under way

    // Delete device records, confirmed: the dialog waits, and the user sees it wait.
    bool sawWaiting = false;
    QTimer watcher;
    watcher.setInterval(5);
    {
        DeleteHistory dlg;
        auto* button = dlg.findChild<QPushButton*>(QStringLiteral(QV_ID_NAME(IDC_MANAGE_DELETE_DEVICE)));
        auto* line = dlg.findChild<QLabel*>(QStringLiteral(QV_ID_NAME(IDC_MANAGE_ERASE_WAIT)));
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            const QCursor* cursor = QGuiApplication::overrideCursor();
            sawWaiting = sawWaiting ||
                         (!button->isEnabled() && cursor && cursor->shape() == Qt::BusyCursor && line->isVisible() &&
                          line->text() == QString::fromStdString(LoadString(IDS_ERASE_WAITING)));
        });
        watcher.start();
        boxes->PushAnswer(MsgAnswer::Ok);
        bool closed = false;
        QTimer::singleShot(0, &dlg, [&] {
            button->click();
            closed = !dlg.isVisible();
            if (!closed) dlg.reject();
        });
        dlg.exec();
        watcher.stop();
        EXPECT_TRUE(closed);
    }
    EXPECT_TRUE(sawWaiting);
    ASSERT_EQ(boxes->Count(), 2u);
    EXPECT_EQ(boxes->Entries()[1].text, "Successfully Delete device records");
    EXPECT_TRUE(rec->Records().empty());
    // Everything the recorder held is stored, once each.
    EXPECT_EQ(RowsAndTimes(db, "00123456"), std::vector<long long>({6000, 6000}));
    EXPECT_EQ(ResumePoint(db, "00123456"), RecordPlace(6000));
}

TEST_F(ViewTest, RecordersSwappedBetweenTwoTicksKeepTheirOwnRecords)
{
    // Recorder A is unplugged and B, another ID, plugged in on the same path while its download
    // runs, all between two ticks of the monitor: the monitor waits meanwhile in a hand-over to
    // this thread, which it began with A open.
    auto a = m_transport->Attach(kPath);
    a->SetDeviceId(0x00AAAAAA);
    a->FillRing(0, 3000);
    a->SetLatencyMs(1);
    const std::string& db = theDeviceState.m_strDbPath;
    Start();
    ASSERT_TRUE(WaitUntil([&] { return CountRows(db, "00AAAAAA") > 0; }));
    // Without serving events: the hand-over stays pending.
    ASSERT_TRUE(WaitFor("the monitor to wait in a hand-over", [&] { return m_view->IsHandOverPending(); }));
    ASSERT_TRUE(theDeviceState.m_Link.IsDeviceOpen());

    m_transport->Detach(kPath);
    m_view->OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, kPath);
    auto b = std::make_shared<sim::VT583Simulator>();
    b->SetDeviceId(0x00BBBBBB);
    b->SetClock({2026, 3, 1, 8, 0, 0});
    b->FillRing(0, 700);
    m_transport->Attach(kPath, b);
    m_view->OnDeviceChange(DBT_DEVICEARRIVAL, kPath);
    ASSERT_TRUE(WaitFor("B to be opened", [] { return theDeviceState.m_Link.IsDeviceOpen(); }));
    EXPECT_TRUE(m_view->IsHandOverPending());  // no tick has passed

    ASSERT_TRUE(WaitUntil(
        [&] { return Shown().info[0] == "00BBBBBB" && Shown().status[2] == "Complete historical record deal"; }));
    // B's records under B's ID, with B's resume point; A's rows and resume point are A's own.
    EXPECT_EQ(RowsAndTimes(db, "00BBBBBB"), std::vector<long long>({700, 700}));
    EXPECT_EQ(ResumePoint(db, "00BBBBBB"), RecordPlace(700));
    const auto rowsAndTimesA = RowsAndTimes(db, "00AAAAAA");
    ASSERT_EQ(rowsAndTimesA.size(), 2u);
    const long long rowsA = rowsAndTimesA[0];
    EXPECT_EQ(rowsAndTimesA[1], rowsA);
    EXPECT_LT(rowsA, 3000);
    EXPECT_EQ(ResumePoint(db, "00AAAAAA"), RecordPlace(rowsA));
    EXPECT_EQ(CountRows(db, "00123456"), 0);
}

namespace {

// Presses "Delete device records" in a management dialog, confirms, and runs until the press
// has been handled; during the wait, duringWait may act on the dialog once its wait line shows.
// True when the dialog closed itself.
bool EraseFromManagement(RecordingMessageBoxService& boxes, const std::function<void(DeleteHistory&)>& duringWait = {})
{
    DeleteHistory dlg;
    auto* button = dlg.findChild<QPushButton*>(QStringLiteral(QV_ID_NAME(IDC_MANAGE_DELETE_DEVICE)));
    auto* line = dlg.findChild<QLabel*>(QStringLiteral(QV_ID_NAME(IDC_MANAGE_ERASE_WAIT)));
    QTimer watcher;
    bool acted = false;
    if (duringWait) {
        watcher.setInterval(5);
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            if (!acted && line->isVisible()) {
                acted = true;
                duringWait(dlg);
            }
        });
        watcher.start();
    }
    boxes.PushAnswer(MsgAnswer::Ok);
    bool closed = true;
    QTimer::singleShot(0, &dlg, [&] {
        button->click();
        if (dlg.isVisible()) {
            closed = false;
            dlg.done(QDialog::Rejected);
        }
    });
    dlg.exec();
    if (duringWait) {
        EXPECT_TRUE(acted);
    }
    return closed;
}

}  // namespace

TEST_F(ViewTest, EraseRightAfterAFailedFullRingDownloadStoresEveryRecordFirst)
{
    // A full ring; the recorder stops answering part way through the download ("Processing data
    // failed"), answers again, and the user erases it at once: the erase waits for the download
    // it asks for, and the database holds every record once.
    ScopedMessageBoxRecorder boxes;
    auto rec = m_transport->Attach(kPath);
    rec->FillRing(0, 324 * 64);
    rec->SetLatencyMs(1);
    const std::string& db = theDeviceState.m_strDbPath;
    Start();
    ASSERT_TRUE(WaitUntil([&] { return CountRows(db, "00123456") >= 2048; }));
    rec->InjectFault(sim::Fault::NoReply, 1000000);
    ASSERT_TRUE(WaitUntil([&] { return Shown().status[2] == "Processing data failed"; }));
    const long long stored = CountRows(db, "00123456");
    EXPECT_LT(stored, 324 * 64);
    rec->ClearFaults();
    rec->SetLatencyMs(0);
    EXPECT_TRUE(EraseFromManagement(*boxes));
    ASSERT_EQ(boxes->Count(), 2u);
    EXPECT_EQ(boxes->Entries()[1].text, "Successfully Delete device records");
    EXPECT_TRUE(rec->Records().empty());
    EXPECT_EQ(RowsAndTimes(db, "00123456"), std::vector<long long>({324 * 64, 324 * 64}));
}

TEST_F(ViewTest, AWaitingEraseSaysWhatItWaitsForAndCanBeGivenUp)
{
    // The wait line in every language, and the three ways a user gives the erase up: Cancel,
    // Escape, the close button. Nothing is sent; the download goes on and stores everything.
    auto rec = m_transport->Attach(kPath);
    rec->FillRing(0, 4000);
    rec->SetLatencyMs(2);
    const std::string& db = theDeviceState.m_strDbPath;
    Start();
    ASSERT_TRUE(WaitUntil([&] { return CountRows(db, "00123456") > 0; }));
    const std::function<void(DeleteHistory&)> giveUp[] = {
        [](DeleteHistory& dlg) {
            QTest::mouseClick(dlg.findChild<QPushButton*>(QStringLiteral(QV_ID_NAME(IDC_MANAGE_ERASE_CANCEL))),
                              Qt::LeftButton);
        },
        [](DeleteHistory& dlg) { QTest::keyClick(&dlg, Qt::Key_Escape); },
        [](DeleteHistory& dlg) { dlg.close(); },
    };
    for (const auto& way : giveUp) {
        ScopedMessageBoxRecorder boxes;
        EXPECT_TRUE(EraseFromManagement(*boxes, [&](DeleteHistory& dlg) {
            const QString line = dlg.findChild<QLabel*>(QStringLiteral(QV_ID_NAME(IDC_MANAGE_ERASE_WAIT)))->text();
            EXPECT_EQ(line.toStdString(), LoadString(IDS_ERASE_WAITING));
            way(dlg);
        }));
        EXPECT_EQ(boxes->Count(), 1u);  // the confirmation only
        EXPECT_EQ(rec->Counters().erases, 0);
    }
    for (int language = 0; language < 5; ++language) {
        ASSERT_TRUE(LoadTestLanguage(language));
        EXPECT_FALSE(LoadString(IDS_ERASE_WAITING).empty()) << language;
    }
    ASSERT_TRUE(LoadTestLanguage(0));
    ASSERT_TRUE(WaitUntil([&] { return Shown().status[2] == "Complete historical record deal"; }));
    EXPECT_EQ(RowsAndTimes(db, "00123456"), std::vector<long long>({4000, 4000}));
}

namespace {

// Holds the user's reading of the deletion's failure box for a while, serving the window meanwhile.
class SlowReader : public RecordingMessageBoxService {
public:
    MsgAnswer Show(const std::string& text, const std::string& caption, MsgButtons buttons, MsgIcon icon) override
    {
        if (text.rfind("Processing data failed", 0) == 0) ProcessEventsFor(1500);
        return RecordingMessageBoxService::Show(text, caption, buttons, icon);
    }
};

}  // namespace

TEST_F(ViewTest, ADeletionThatFailsDuringADownloadLeavesNoGap)
{
    // The database refuses the deletion of the connected recorder's rows while its download runs,
    // and the user reads the error box: no record is lost, none is stored twice.
    SlowReader reader;
    IMessageBoxService* previous = SetMessageBoxService(&reader);
    auto rec = m_transport->Attach(kPath);
    rec->FillRing(0, 8000);
    rec->SetLatencyMs(2);
    const std::string& db = theDeviceState.m_strDbPath;
    Start();
    ASSERT_TRUE(WaitUntil([&] { return CountRows(db, "00123456") > 500; }));
    ExecSql(db, "CREATE TRIGGER keep BEFORE DELETE ON Records BEGIN SELECT RAISE(ABORT, 'disk I/O error'); END");
    {
        DeleteHistory dlg;
        dlg.m_cbDevice->setCurrentIndex(dlg.m_cbDevice->findText(QStringLiteral("00123456")));
        reader.PushAnswer(MsgAnswer::Ok);
        auto* button = dlg.findChild<QPushButton*>(QStringLiteral(QV_ID_NAME(IDC_MANAGE_DELETE_DATABASE)));
        QTimer::singleShot(0, &dlg, [&] {
            button->click();
            if (dlg.isVisible()) dlg.reject();
        });
        dlg.exec();
    }
    ASSERT_GE(reader.Count(), 2u);
    ASSERT_TRUE(WaitUntil(
        [&] { return Shown().status[2] == "Complete historical record deal" && CountRows(db, "00123456") == 8000; }));
    EXPECT_EQ(RowsAndTimes(db, "00123456"), std::vector<long long>({8000, 8000}));
    SetMessageBoxService(previous);
}

TEST_F(ViewTest, AFailedDownloadIsTriedAgainWithinSeconds)
{
    // A recorder that records every 240 minutes: its download fails in a link stall, and the next
    // try comes after a pause of seconds (2 s, then 4 s ...), not after the normal schedule.
    auto rec = m_transport->Attach(kPath);
    rec->SetInterval(240 * 60);
    rec->FillRing(0, 3000);
    rec->SetLatencyMs(1);
    const std::string& db = theDeviceState.m_strDbPath;
    Start();
    ASSERT_TRUE(WaitUntil([&] { return CountRows(db, "00123456") > 0; }));
    rec->InjectFault(sim::Fault::NoReply, 1000000);
    ASSERT_TRUE(WaitUntil([&] { return Shown().status[2] == "Processing data failed"; }));
    rec->ClearFaults();
    ASSERT_TRUE(WaitUntil([&] { return Shown().status[2] == "Complete historical record deal"; }));
    EXPECT_EQ(RowsAndTimes(db, "00123456"), std::vector<long long>({3000, 3000}));
}

TEST_F(ViewTest, APathThatArrivesAgainWithAnotherRecorderIsANewDevice)
{
    // The open recorder's interface arrives again without a removal before it, with another
    // recorder behind the same path: that one is read afresh and its records stored under its
    // own ID.
    auto a = m_transport->Attach(kPath);
    a->SetDeviceId(0x00AAAAAA);
    a->FillRing(0, 2000);
    a->SetLatencyMs(1);
    const std::string& db = theDeviceState.m_strDbPath;
    Start();
    ASSERT_TRUE(WaitUntil([&] { return CountRows(db, "00AAAAAA") > 0; }));
    auto b = std::make_shared<sim::VT583Simulator>();
    b->SetDeviceId(0x00BBBBBB);
    b->FillRing(0, 500);
    m_transport->Detach(kPath);
    m_transport->Attach(kPath, b);
    m_view->OnDeviceChange(DBT_DEVICEARRIVAL, kPath);
    ASSERT_TRUE(WaitUntil([&] {
        return Shown().info[0] == "00BBBBBB" && Shown().status[2] == "Complete historical record deal" &&
               CountRows(db, "00BBBBBB") == 500;
    }));
    EXPECT_EQ(RowsAndTimes(db, "00BBBBBB"), std::vector<long long>({500, 500}));
    const auto rowsA = RowsAndTimes(db, "00AAAAAA");
    ASSERT_EQ(rowsA.size(), 2u);
    EXPECT_EQ(rowsA[0], rowsA[1]);
    EXPECT_EQ(ResumePoint(db, "00AAAAAA"), RecordPlace(rowsA[0]));
    EXPECT_EQ(CountRows(db, "00000000"), 0);
}

TEST_F(ViewTest, WhenTheOpenRecorderIsUnpluggedAnotherPresentOneIsOpened)
{
    auto a = m_transport->Attach(kPath);
    a->SetDeviceId(0x00AAAAAA);
    auto b = m_transport->Attach("/dev/hidraw8");
    b->SetDeviceId(0x00BBBBBB);
    b->FillRing(0, 100);
    Start();
    ASSERT_TRUE(WaitUntil([&] { return Shown().info[0] == "00AAAAAA"; }));
    m_transport->Detach(kPath);
    m_view->OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, kPath);
    // No other event comes: the removal itself looks for another recorder.
    ASSERT_TRUE(WaitUntil([&] {
        return Shown().info[0] == "00BBBBBB" && Shown().status[2] == "Complete historical record deal" &&
               CountRows(theDeviceState.m_strDbPath, "00BBBBBB") == 100;
    }));
}
