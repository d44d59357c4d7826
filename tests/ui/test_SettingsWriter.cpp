// The settings writer over the simulator: which commands go out in which order, the flags it
// raises, its failure boxes, runs one after the other, and the frame's Setup command and close.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QMessageBox>

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "app/ApplySettingsThread.h"
#include "app/CMainFrame.h"
#include "device/CDeviceState.h"
#include "platform/MessageBox.h"
#include "platform/StringTable.h"
#include "resources/resource.h"
#include "simulator/VT583Simulator.h"
#include "support/DeviceRig.h"
#include "support/TempDir.h"
#include "ui/ModalHelper.h"
#include "ui/QtMessageBoxService.h"
#include "ui/ViewTestSupport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Passes every report on to the simulator, but makes the recorder refuse each attempt of one
// command (its two command bytes).
class RefusingTransport : public HidTransport {
public:
    RefusingTransport(sim::SimulatorTransport& inner, std::uint8_t c0, std::uint8_t c1) : m_inner(inner), m_cmd{c0, c1}
    {}
    std::vector<HidDeviceInfo> Enumerate(std::uint16_t v, std::uint16_t p) override { return m_inner.Enumerate(v, p); }
    std::unique_ptr<HidHandle> Open(const std::string& path) override
    {
        auto handle = m_inner.Open(path);
        if (!handle) return nullptr;
        return std::make_unique<Handle>(std::move(handle), m_inner.Device(path), m_cmd);
    }

private:
    struct Handle : HidHandle {
        Handle(std::unique_ptr<HidHandle> h, std::shared_ptr<sim::VT583Simulator> d, const std::uint8_t* cmd)
            : inner(std::move(h)), dev(std::move(d)), c0(cmd[0]), c1(cmd[1])
        {}
        int Write(const std::uint8_t* data, std::size_t length) override
        {
            if (length > 3 && data[2] == c0 && data[3] == c1) dev->InjectFault(sim::Fault::Refusal);
            return inner->Write(data, length);
        }
        int Read(std::uint8_t* buffer, std::size_t length, int timeoutMs) override
        {
            return inner->Read(buffer, length, timeoutMs);
        }
        std::unique_ptr<HidHandle> inner;
        std::shared_ptr<sim::VT583Simulator> dev;
        std::uint8_t c0, c1;
    };
    sim::SimulatorTransport& m_inner;
    std::uint8_t m_cmd[2];
};

// A device state linked to one simulated recorder, configured, with its database, the record
// writer and the downloads an erase asks for, and an empty request log.
struct Rig {
    TempDir dir;
    sim::SimulatorTransport transport;
    std::shared_ptr<sim::VT583Simulator> dev = transport.Attach("sim-0");
    std::unique_ptr<RefusingTransport> refusing;
    CDeviceState st;
    std::unique_ptr<AcquisitionThreads> threads;

    explicit Rig(const std::uint8_t* refuse = nullptr)
    {
        if (refuse) refusing = std::make_unique<RefusingTransport>(transport, refuse[0], refuse[1]);
        PrepareDeviceState(st, dir, refusing ? static_cast<HidTransport&>(*refusing) : transport);
        EXPECT_TRUE(ReadConfigForDownload(st));
        threads = std::make_unique<AcquisitionThreads>(st);
        st.m_Schedule.m_nRealtimeTicks = 3;
        st.m_nTempOffset = 100;
        st.m_nHumiOffset = 20;
        dev->ClearLog();
    }
    ~Rig()
    {
        threads.reset();
        st.m_Link.Close();
    }
    std::vector<Bytes> Log() const { return dev->RequestLog(); }
};

// The two command bytes of each request that changes the recorder (reads left out: a download
// runs before an erase).
std::vector<int> Commands(const std::vector<Bytes>& log)
{
    std::vector<int> out;
    for (const Bytes& r : log) {
        const int command = r.size() > 3 ? r[2] << 8 | r[3] : -1;
        if (command != (CMD_READ_MEMORY[0] << 8 | CMD_READ_MEMORY[1])) out.push_back(command);
    }
    return out;
}
// The same requests, in full.
std::vector<Bytes> Changes(const std::vector<Bytes>& log)
{
    std::vector<Bytes> out;
    for (const Bytes& r : log)
        if (!(r.size() > 3 && r[2] == CMD_READ_MEMORY[0] && r[3] == CMD_READ_MEMORY[1])) out.push_back(r);
    return out;
}

constexpr int kParams = 0x0022, kPeriods = 0x0004, kErase = 0x0008;

Bytes Prefix(const Bytes& b, std::size_t n) { return Bytes(b.begin(), b.begin() + std::min(n, b.size())); }

SettingsBlock SampleBlock()
{
    SettingsBlock b;
    b.m_nNewTempUnit = 1;
    b.m_nNewDateFormat = 0;
    b.m_nNewTimeFormat = 1;
    b.m_nNewMode = 2;
    b.m_nNewAutoOff = 0;
    b.m_nNewInterval = 120;
    b.m_nNewTempOffset = 105;
    b.m_nNewHumiOffset = 22;
    b.m_bIntervalChanged = 0;
    for (int k = 0; k < 4; ++k) {
        b.m_dtNewStart[k] = OleDateTime(2027, 1 + k, 10, 8, 0, 0);
        b.m_dtNewEnd[k] = OleDateTime(2027, 1 + k, 20, 18, 30, 0);
    }
    b.m_bNewPeriodOn[0] = 1;
    b.m_bNewPeriodOn[2] = 1;
    return b;
}

Bytes PeriodsRequest(const SettingsBlock& b)
{
    OleDateTime times[8];
    for (int k = 0; k < 4; ++k) {
        times[2 * k] = b.m_dtNewStart[k];
        times[2 * k + 1] = b.m_dtNewEnd[k];
    }
    std::uint8_t request[45];
    CDeviceState::BuildPeriodsRequest(times, b.m_bNewPeriodOn, request);
    return Bytes(request, request + 45);
}

class SettingsWriterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(LoadTestLanguage(0)); }
    ScopedMessageBoxRecorder m_boxes;
};

}  // namespace

TEST_F(SettingsWriterTest, WhatGoesOutDependsOnTheModeAndPeriodChanges)
{
    {
        // Neither mode nor periods changed: the parameter command only, then the re-read request.
        Rig rig;
        const SettingsBlock b = SampleBlock();
        EXPECT_EQ(ApplySettings(b, rig.st), 0u);
        const auto log = Changes(rig.Log());
        ASSERT_EQ(Commands(log), std::vector<int>({kParams}));
        EXPECT_EQ(Prefix(log[0], 11), Bytes({0x02, 0x09, 0x00, 0x22, 0x15, 0x00, 0x78, 0x00, 0x69, 0x16, 0x2E}));
        EXPECT_EQ(rig.st.m_nTempOffset, 105);
        EXPECT_EQ(rig.st.m_nHumiOffset, 22);
        EXPECT_EQ(rig.st.m_bReadConfig, 1);
        EXPECT_EQ(rig.st.m_Schedule.m_nRealtimeTicks, 14);
        EXPECT_EQ(rig.st.m_bDeviceErased, 0);
    }
    {
        // A mode change with the periods as they were: parameters, periods, erase, in that order.
        Rig rig;
        SettingsBlock b = SampleBlock();
        b.m_bModeChanged = 1;
        EXPECT_EQ(ApplySettings(b, rig.st), 0u);
        const auto log = Changes(rig.Log());
        ASSERT_EQ(Commands(log), std::vector<int>({kParams, kPeriods, kErase}));
        EXPECT_EQ(Prefix(log[1], 45), PeriodsRequest(b));
        EXPECT_EQ(Prefix(log[2], 5), Bytes(ERASE_RECORDS_REQUEST, ERASE_RECORDS_REQUEST + 5));
        EXPECT_EQ(rig.st.m_bDeviceErased, 1);
        EXPECT_EQ(rig.st.m_bReadConfig, 1);
        EXPECT_EQ(rig.dev->Counters().erases, 1);
    }
    {
        // New periods erase too.
        Rig rig;
        SettingsBlock b = SampleBlock();
        b.m_bPeriodsChanged = 1;
        EXPECT_EQ(ApplySettings(b, rig.st), 0u);
        EXPECT_EQ(Commands(rig.Log()), std::vector<int>({kParams, kPeriods, kErase}));
        EXPECT_EQ(rig.st.m_bDeviceErased, 1);
    }
    {
        // Only the enable flags changed: the periods go out, the records stay.
        Rig rig;
        SettingsBlock b = SampleBlock();
        b.m_bPeriodFlagsChanged = 1;
        EXPECT_EQ(ApplySettings(b, rig.st), 0u);
        EXPECT_EQ(Commands(rig.Log()), std::vector<int>({kParams, kPeriods}));
        EXPECT_EQ(rig.st.m_bDeviceErased, 0);
        EXPECT_EQ(rig.st.m_bReadConfig, 1);
        EXPECT_EQ(rig.st.m_Schedule.m_nRealtimeTicks, 14);
    }
    EXPECT_EQ(m_boxes->Count(), 0u);
}

TEST_F(SettingsWriterTest, FailuresStopTheRunAndSayWhy)
{
    {
        // Device gone: the settings failure, nothing else sent, no flag, offsets unchanged.
        Rig rig;
        rig.transport.Detach("sim-0");
        SettingsBlock b = SampleBlock();
        EXPECT_EQ(ApplySettings(b, rig.st), kApplySettingsFailed);
        EXPECT_EQ(rig.dev->Counters().paramSets + rig.dev->Counters().periodSets + rig.dev->Counters().erases, 0);
        EXPECT_EQ(rig.st.m_bReadConfig, 0);
        EXPECT_EQ(rig.st.m_Schedule.m_nRealtimeTicks, 3);
        EXPECT_EQ(rig.st.m_bDeviceErased, 0);
        EXPECT_EQ(rig.st.m_nTempOffset, 100);
        EXPECT_EQ(rig.st.m_nHumiOffset, 20);
        const auto boxes = m_boxes->Entries();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "Change settings fail");
        EXPECT_EQ(boxes[0].buttons, MsgButtons::Ok);

        // The dialog's own text (the user's language) wins over the table's.
        m_boxes->Clear();
        b.m_strSettingsFail = "Einstellungen fehlgeschlagen";
        EXPECT_EQ(ApplySettings(b, rig.st), kApplySettingsFailed);
        ASSERT_EQ(m_boxes->Count(), 1u);
        EXPECT_EQ(m_boxes->Entries()[0].text, "Einstellungen fehlgeschlagen");

        // A change that erases needs the records first: the download fails, nothing goes out.
        m_boxes->Clear();
        b.m_bModeChanged = 1;
        EXPECT_EQ(ApplySettings(b, rig.st), kApplySettingsFailed);
        EXPECT_EQ(rig.dev->Counters().paramSets, 0);
        ASSERT_EQ(m_boxes->Count(), 1u);
        EXPECT_EQ(m_boxes->Entries()[0].text, LoadString(IDS_SETTINGS_DOWNLOAD_FAILED));
    }
    {
        // Periods refused: their failure, the offsets stay copied, no erase, no re-read request.
        m_boxes->Clear();
        const std::uint8_t refuse[2] = {0x00, 0x04};
        Rig rig(refuse);
        SettingsBlock b = SampleBlock();
        b.m_bPeriodsChanged = 1;
        EXPECT_EQ(ApplySettings(b, rig.st), kApplySettingsFailed);
        const auto cmds = Commands(rig.Log());
        ASSERT_FALSE(cmds.empty());
        EXPECT_EQ(cmds.front(), kParams);
        EXPECT_EQ(std::count(cmds.begin(), cmds.end(), kErase), 0);
        EXPECT_EQ(rig.st.m_nTempOffset, 105);
        EXPECT_EQ(rig.st.m_nHumiOffset, 22);
        EXPECT_EQ(rig.st.m_bReadConfig, 0);
        EXPECT_EQ(rig.st.m_Schedule.m_nRealtimeTicks, 3);
        EXPECT_EQ(rig.st.m_bDeviceErased, 0);
        const auto boxes = m_boxes->Entries();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "Change the time period failed");
    }
    {
        // Erase refused: no box, the flag stays down, the re-read is still requested.
        m_boxes->Clear();
        const std::uint8_t refuse[2] = {0x00, 0x08};
        Rig rig(refuse);
        SettingsBlock b = SampleBlock();
        b.m_bModeChanged = 1;
        EXPECT_EQ(ApplySettings(b, rig.st), 0u);
        const auto cmds = Commands(rig.Log());
        EXPECT_EQ(std::vector<int>(cmds.begin(), cmds.begin() + 2), std::vector<int>({kParams, kPeriods}));
        EXPECT_EQ(cmds.back(), kErase);
        EXPECT_EQ(rig.st.m_bDeviceErased, 0);
        EXPECT_EQ(rig.st.m_bReadConfig, 1);
        EXPECT_EQ(rig.st.m_Schedule.m_nRealtimeTicks, 14);
        EXPECT_EQ(m_boxes->Count(), 0u);
    }
}

TEST_F(SettingsWriterTest, RunsStartedTogetherGoOneAfterTheOther)
{
    Rig rig;
    // Slow exchanges, so that the runs would overlap if nothing kept them apart.
    rig.dev->SetLatencyMs(3);
    SettingsBlock first = SampleBlock();
    first.m_bModeChanged = 1;
    SettingsBlock second = SampleBlock();
    second.m_nNewInterval = 300;
    SettingsBlock third = SampleBlock();
    third.m_bPeriodFlagsChanged = 1;
    third.m_nNewTempOffset = 90;

    CSettingsWriter writer;
    writer.Start(first, rig.st);
    writer.Start(second, rig.st);
    writer.Start(third, rig.st);
    ASSERT_TRUE(WaitUntil([&] { return !writer.IsRunning(); }));
    writer.Join();

    const auto log = Changes(rig.Log());
    ASSERT_EQ(Commands(log), std::vector<int>({kParams, kPeriods, kErase, kParams, kParams, kPeriods}));
    EXPECT_EQ(log[0][6], 120 & 0xFF);
    EXPECT_EQ(log[3][5] << 8 | log[3][6], 300);
    EXPECT_EQ(log[4][8], 90);
    EXPECT_EQ(rig.dev->Counters().interleaved, 0);
    EXPECT_EQ(rig.st.m_nTempOffset, 90);  // the last run's offsets
    EXPECT_EQ(writer.LastExitCode(), 0u);
    EXPECT_EQ(m_boxes->Count(), 0u);
}

// A device state as the program runs it, with a recorder that holds records.
struct StoreRig : RunningDevice {
    // Rows of the recorder's ID, and how many distinct record times they hold.
    std::pair<int, int> Rows()
    {
        return {static_cast<int>(Count("SELECT count(*) FROM Records WHERE ID='00123456'")),
                static_cast<int>(Count("SELECT count(DISTINCT Time) FROM Records WHERE ID='00123456'"))};
    }
};

TEST_F(SettingsWriterTest, AnErasingChangeWaitsForTheDownloadAndItsRecordsToBeStored)
{
    // A download under way: the mode change goes out once the walk has ended and every record it
    // fetched is stored, and only then is the recorder erased.
    StoreRig rig;
    rig.dev->FillRing(0, 2000);
    rig.dev->SetLatencyMs(1);
    ASSERT_TRUE(ReadConfigForDownload(rig.st));
    rig.dev->ClearLog();
    std::thread walk([&] { rig.st.DownloadHistory(); });
    EXPECT_TRUE(WaitFor("the download to be under way", [&] { return rig.dev->Counters().memoryReads >= 20; }));
    SettingsBlock b = SampleBlock();
    b.m_bModeChanged = 1;
    EXPECT_EQ(ApplySettings(b, rig.st), 0u);
    JoinWithin(walk, "the download to end");
    EXPECT_EQ(rig.Rows(), std::make_pair(2000, 2000));
    const std::vector<int> commands = Commands(rig.dev->RequestLog());
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(std::vector<int>(commands.end() - 3, commands.end()), std::vector<int>({kParams, kPeriods, kErase}));
    EXPECT_EQ(std::count(commands.begin(), commands.end(), kParams), 1);
    EXPECT_TRUE(rig.dev->Records().empty());
    EXPECT_EQ(rig.st.m_bDeviceErased, 1);
    EXPECT_EQ(m_boxes->Count(), 0u);
}

TEST_F(SettingsWriterTest, RecordsTheDatabaseRefusesKeepTheRecorderFromBeingChangedAndErased)
{
    // Downloaded records wait because the database refuses them (a full disk). A change of mode
    // sends nothing at all, so the recorder keeps its mode and its records, and says why; a
    // failed deletion of another device's rows leaves the records waiting; once the database
    // takes them, every one is stored.
    StoreRig rig;
    rig.dev->FillRing(0, 500);
    ASSERT_TRUE(ReadConfigForDownload(rig.st));
    rig.Exec("CREATE TRIGGER full BEFORE INSERT ON Records BEGIN SELECT RAISE(FAIL, 'full'); END");
    ASSERT_EQ(rig.st.DownloadHistory(), 1);
    ASSERT_TRUE(rig.st.HasQueuedRecords());
    rig.dev->ClearLog();

    SettingsBlock b = SampleBlock();
    b.m_bModeChanged = 1;
    EXPECT_EQ(ApplySettings(b, rig.st), kApplySettingsFailed);
    EXPECT_TRUE(rig.dev->RequestLog().empty());
    EXPECT_EQ(rig.dev->Records().size(), 500u);
    EXPECT_EQ(rig.st.m_bDeviceErased, 0);
    // Beside the record writer's own box, in either order.
    const auto boxes = m_boxes->Entries();
    EXPECT_EQ(std::count_if(boxes.begin(), boxes.end(),
                            [](const auto& box) {
                                return box.text ==
                                       "The downloaded records cannot be stored in the database, so the new settings "
                                       "were not written: they would erase the device records. Try again once the "
                                       "database stores them.";
                            }),
              1);

    rig.st.BeginRowDeletion("00ABCDEF");
    rig.st.EndRowDeletion(false);
    EXPECT_TRUE(rig.st.HasQueuedRecords());

    rig.Exec("DROP TRIGGER full");
    ASSERT_EQ(rig.st.WaitForQueuedRecords(), 1);
    EXPECT_EQ(rig.Rows(), std::make_pair(500, 500));
}

TEST_F(SettingsWriterTest, AnErasingChangeSendsNothingWhenItsRecorderChangesOrTheProgramClosesMeanwhile)
{
    // The change waits for the download before its erase; meanwhile the user deletes the
    // recorder's database rows, the recorder is replaced, or the program closes. Nothing of the
    // block goes out, the recorder keeps every record, and the user is told why (not for a close).
    struct Case {
        const char* name;
        std::function<void(StoreRig&)> meanwhile;
        std::string box;
    };
    const Case cases[] = {
        {"its rows deleted", [](StoreRig& rig) { rig.DeleteRows("00123456"); },
         LoadString(IDS_SETTINGS_DEVICE_CHANGED)},
        {"another recorder opened", [](StoreRig& rig) { rig.st.OpenDevice(); },
         LoadString(IDS_SETTINGS_DEVICE_CHANGED)},
        {"the program closes", [](StoreRig& rig) { rig.st.RequestQuit(); }, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_boxes->Clear();
        StoreRig rig;
        rig.dev->FillRing(0, 2000);
        ASSERT_TRUE(ReadConfigForDownload(rig.st));
        rig.dev->HoldReplies();  // the download the change asks for waits in an exchange
        SettingsBlock b = SampleBlock();
        b.m_bModeChanged = 1;
        UINT result = 0;
        std::thread run([&] { result = ApplySettings(b, rig.st); });
        ASSERT_TRUE(WaitUntil([&] { return rig.dev->HeldReads() == 1; }));
        if (c.name == std::string("another recorder opened")) rig.dev->ReleaseReplies();
        c.meanwhile(rig);
        rig.dev->ReleaseReplies();
        JoinWithin(run, "the settings run to give up");
        EXPECT_EQ(result, kApplySettingsFailed);
        EXPECT_EQ(rig.dev->Counters().paramSets + rig.dev->Counters().periodSets + rig.dev->Counters().erases, 0);
        EXPECT_EQ(rig.dev->Records().size(), 2000u);
        const auto boxes = m_boxes->Entries();
        if (c.box.empty()) {
            EXPECT_TRUE(boxes.empty());
        } else {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, c.box);
        }
    }
}

// The frame: Setup starts a run with the block as confirmed; the close waits for it, serving
// its failure box on the way.
class FrameSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("QUORVANTIS_DATA_DIR", m_dir.Path().c_str(), 1);
        theDeviceState.InitDataFolder(BuildDir(), m_dir.Path());
        ASSERT_TRUE(LoadTestLanguage(0));
        theDeviceState.m_Link.SetTransport(m_transport.get());
    }
    void TearDown() override { theDeviceState.m_Link.Close(); }
    TempDir m_dir;
    std::unique_ptr<sim::SimulatorTransport> m_transport = std::make_unique<sim::SimulatorTransport>();
};

TEST_F(FrameSettingsTest, SetupStartsTheWriterAndTheCloseWaitsForIt)
{
    ScopedMessageBoxRecorder boxes;
    auto dev = m_transport->Attach("/dev/hidraw3");
    theDeviceState.m_Link.Open();
    ASSERT_TRUE(theDeviceState.m_Link.IsDeviceOpen());

    auto frame = std::make_unique<CMainFrame>();
    frame->m_nCloseNoticeMs = 10;
    EXPECT_EQ(frame->m_dlgUpload.m_strUploadIniDir, BuildDir());

    // Cancelled: nothing is sent.
    dev->ClearLog();
    WhenModal(QString(), [](QWidget* w) { static_cast<QDialog*>(w)->reject(); });
    frame->OnMenuSetup();
    EXPECT_FALSE(frame->m_settingsWriter.IsRunning());
    EXPECT_EQ(dev->Counters().paramSets, 0);

    // Confirmed: a run with the block as it stood at the confirmation.
    dev->SetLatencyMs(20);
    frame->m_dlgSetup.m_nNewInterval = 480;
    frame->m_dlgSetup.m_nNewTempOffset = 110;
    theDeviceState.m_bModeChanged = 0;
    theDeviceState.m_bReadConfig = 0;
    WhenModal(QString(), [](QWidget* w) { static_cast<QDialog*>(w)->accept(); });
    frame->OnMenuSetup();
    frame->m_dlgSetup.m_nNewInterval = 999;  // a later edit does not reach the run under way

    frame->close();  // waits for the run
    EXPECT_FALSE(frame->m_settingsWriter.IsRunning());
    EXPECT_EQ(frame->m_settingsWriter.LastExitCode(), 0u);
    EXPECT_EQ(dev->Interval(), 480);
    EXPECT_EQ(theDeviceState.m_nTempOffset, 110);
    EXPECT_EQ(theDeviceState.m_bReadConfig, 1);
    EXPECT_EQ(boxes->Count(), 0u);
    frame.reset();
}

TEST_F(FrameSettingsTest, ClosingWhileARunShowsItsFailureDoesNotHang)
{
    QtMessageBoxService service;
    IMessageBoxService* previous = SetMessageBoxService(&service);

    auto frame = std::make_unique<CMainFrame>();
    frame->m_nCloseNoticeMs = 10;
    ASSERT_FALSE(theDeviceState.m_Link.IsDeviceOpen());  // nothing attached

    QString shown;
    WhenModal(QString(), [](QWidget* w) { static_cast<QDialog*>(w)->accept(); });
    frame->OnMenuSetup();
    // The run's box is handed to this thread while the close waits; answer it there.
    WhenModal(QStringLiteral("MessageBox"), [&shown](QWidget* w) {
        shown = static_cast<QMessageBox*>(w)->text();
        static_cast<QMessageBox*>(w)->accept();
    });
    frame->close();
    EXPECT_FALSE(frame->m_settingsWriter.IsRunning());
    EXPECT_EQ(frame->m_settingsWriter.LastExitCode(), kApplySettingsFailed);
    EXPECT_EQ(shown, QStringLiteral("Change settings fail"));
    frame.reset();
    SetMessageBoxService(previous);
}
