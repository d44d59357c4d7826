#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

#include "device/CDeviceState.h"
#include "device/RecordNode.h"
#include "platform/MessageBox.h"
#include "simulator/VT583Simulator.h"
#include "support/TempDir.h"

namespace {

// A device state talking to one simulated recorder.
struct SimDevice {
    sim::SimulatorTransport transport;
    std::shared_ptr<sim::VT583Simulator> dev = transport.Attach("sim-0");
    CDeviceState st;
    SimDevice()
    {
        st.m_Link.SetTransport(&transport);
        st.m_Link.Open();
    }
    // The last request the recorder saw.
    std::vector<std::uint8_t> LastRequest() const
    {
        const auto log = dev->RequestLog();
        return log.empty() ? std::vector<std::uint8_t>{} : log.back();
    }
};

std::vector<std::uint8_t> Prefix(const std::vector<std::uint8_t>& bytes, std::size_t n)
{
    return std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + std::min(n, bytes.size()));
}

}  // namespace

TEST(DeviceState, ResetSetsExactlyItsMembers)
{
    SimDevice s;  // an open device: Reset leaves the link's handles alone
    CDeviceState& st = s.st;

    // Every integer member Reset sets, with its value afterwards, and those it must keep (kKept).
    constexpr long long kKept = LLONG_MIN;
    struct Field {
        const char* name;
        std::function<void(long long)> set;
        std::function<long long()> get;
        long long afterReset;
    };
    auto field = [](const char* name, auto& member, long long afterReset) {
        return Field{name,
                     [&member](long long v) { member = static_cast<std::remove_reference_t<decltype(member)>>(v); },
                     [&member] { return static_cast<long long>(member); }, afterReset};
    };
    auto atomicField = [](const char* name, auto& member, long long afterReset) {
        using Value = typename std::remove_reference_t<decltype(member)>::value_type;
        return Field{name, [&member](long long v) { member = static_cast<Value>(v); },
                     [&member] { return static_cast<long long>(member.load()); }, afterReset};
    };
    std::vector<Field> fields = {
        atomicField("m_bDeviceErased", st.m_bDeviceErased, 0),
        atomicField("m_bDbCleared", st.m_bDbCleared, 0),
        atomicField("m_bRestart", st.m_bRestart, 0),
        atomicField("m_bReadConfig", st.m_bReadConfig, 1),
        atomicField("m_bDeviceKnown", st.m_bDeviceKnown, 0),
        atomicField("m_bHistoryDone", st.m_bHistoryDone, 0),
        atomicField("m_bLiveBusy", st.m_Link.m_bLiveBusy, 0),
        atomicField("m_bCmdBusy", st.m_Link.m_bCmdBusy, 0),
        atomicField("m_nHistoryTicks", st.m_Schedule.m_nHistoryTicks, 0),
        atomicField("m_nRealtimeTicks", st.m_Schedule.m_nRealtimeTicks, 0),
        atomicField("m_nRecTemp", st.m_nRecTemp, TEMP_NONE),
        atomicField("m_nMaxTemp", st.m_nMaxTemp, TEMP_NONE),
        atomicField("m_nMinTemp", st.m_nMinTemp, TEMP_NONE),
        atomicField("m_nTempRaw", st.m_nTempRaw, TEMP_NONE),
        atomicField("m_nDateFormat", st.m_nDateFormat, -1),
        atomicField("m_nHumiOffset", st.m_nHumiOffset, -1),
        atomicField("m_nTempOffset", st.m_nTempOffset, -1),
        atomicField("m_nTempUnit", st.m_nTempUnit, -1),
        atomicField("m_nTimeFormat", st.m_nTimeFormat, -1),
        atomicField("m_nMode", st.m_nMode, -1),
        atomicField("m_nRecHumi", st.m_nRecHumi, HUMI_NONE),
        atomicField("m_nMaxHumi", st.m_nMaxHumi, HUMI_NONE),
        atomicField("m_nMinHumi", st.m_nMinHumi, HUMI_NONE),
        atomicField("m_nHumiRaw", st.m_nHumiRaw, HUMI_NONE),
        atomicField("m_dwDeviceID", st.m_dwDeviceID, 0),
        atomicField("m_nAutoOff", st.m_nAutoOff, 0),
        atomicField("m_nInterval", st.m_nInterval, 0),
        atomicField("m_bQuit", st.m_bQuit, kKept),
        atomicField("m_bRealtimeDone", st.m_bRealtimeDone, kKept),
        atomicField("m_bModeChanged", st.m_bModeChanged, kKept),
        atomicField("m_nTemp", st.m_nTemp, kKept),
        atomicField("m_nHumi", st.m_nHumi, kKept),
        atomicField("m_nLastPage", st.m_nLastPage, kKept),
        atomicField("m_nLastRecord", st.m_nLastRecord, kKept),
        field("m_nPageInterval", st.m_nPageInterval, kKept),
        field("m_nPageCount[5]", st.m_nPageCount[5], kKept),
        atomicField("m_nScreenWidth", st.m_nScreenWidth, kKept),
        atomicField("m_nScreenHeight", st.m_nScreenHeight, kKept),
    };
    for (int k = 0; k < 4; ++k) fields.push_back(field("m_bPeriodOn", st.m_bPeriodOn[k], 0));

    // Construction resets.
    {
        CDeviceState fresh;
        EXPECT_EQ(fresh.m_nTempUnit, -1);
        EXPECT_EQ(fresh.m_nMode, -1);
        EXPECT_EQ(fresh.m_nMaxHumi, HUMI_NONE);
        EXPECT_EQ(fresh.m_bReadConfig, 1);
        EXPECT_EQ(fresh.m_pQueueHead, nullptr);
    }

    // Every member holds a value that no reset gives it.
    constexpr long long kSet = 77;
    for (const Field& f : fields) f.set(kSet);
    const OleDateTime when(2026, 10, 15, 8, 30, 0);
    for (OleDateTime& p : st.m_Period) p = when;
    st.m_LastTime = when;
    st.m_PageTime = when;
    st.m_strDbPath = "/x/Quorvantis.db";
    st.m_pQueueHead = AllocRecordNode();
    st.QueueRecord(0x123456, 0, 88, 60, 500, 40, 1, when);
    ASSERT_NE(st.m_pQueueHead->pNext, nullptr);
    const unsigned generation = st.m_nGeneration;
    ASSERT_TRUE(st.m_Link.IsDeviceOpen());

    st.Reset();

    for (const Field& f : fields) EXPECT_EQ(f.get(), f.afterReset == kKept ? kSet : f.afterReset) << f.name;
    for (const OleDateTime& p : st.m_Period) EXPECT_FALSE(p.IsValid());
    const ConfigSnapshot snap = st.GetConfigSnapshot();
    EXPECT_EQ(snap.mode, -1);
    EXPECT_FALSE(snap.period[3].IsValid());
    EXPECT_TRUE(st.m_LastTime == when);
    EXPECT_TRUE(st.m_PageTime == when);
    EXPECT_EQ(st.m_strDbPath, "/x/Quorvantis.db");
    // A new generation: the record queued for the device that went is dropped, never stored.
    EXPECT_NE(st.m_nGeneration, generation);
    EXPECT_EQ(st.m_pQueueHead->pNext, nullptr);
    EXPECT_TRUE(st.m_Link.IsDeviceOpen());
}

TEST(DeviceState, InitDataFolderCopiesOnlyMissingFiles)
{
    TempDir app, data;
    WriteFile(app.File("Quorvantis.db"), "shipped-db");
    WriteFile(app.File("Main.ini"), "[Language]\nLanguage=0\n");

    // A data folder that does not exist yet: created, both files copied.
    const std::string fresh = data.File("sub/Quorvantis3.2");
    {
        CDeviceState st;
        st.InitDataFolder(app.Path(), fresh);
        EXPECT_EQ(st.m_strAppDir, app.Path());
        EXPECT_EQ(st.m_strDbPath, fresh + "/Quorvantis.db");
        EXPECT_EQ(st.m_strIniPath, fresh + "/Main.ini");
        EXPECT_EQ(ReadFile(st.m_strDbPath), "shipped-db");
        EXPECT_EQ(ReadFile(st.m_strIniPath), "[Language]\nLanguage=0\n");
    }

    // Folder present, database present with the user's data, Main.ini missing; what a run that
    // died while copying or writing a profile left behind goes (no process has that number).
    WriteFile(data.File("Quorvantis.db"), "user-records");
    const std::string leftovers[] = {data.File("Quorvantis.db.copy-k3Jx9Q"), data.File("Main.ini.copy-Q0aZ1b"),
                                     data.File("Main.ini.tmp.999999999.4")};
    for (const std::string& left : leftovers) WriteFile(left, "half");
    {
        CDeviceState st;
        st.InitDataFolder(app.Path(), data.Path());
        EXPECT_EQ(ReadFile(data.File("Quorvantis.db")), "user-records");
        EXPECT_EQ(ReadFile(data.File("Main.ini")), "[Language]\nLanguage=0\n");
        for (const std::string& left : leftovers) EXPECT_EQ(ReadFile(left), "") << left;
    }

    // Without the program's folder nothing is set.
    CDeviceState st;
    st.InitDataFolder("", data.Path());
    EXPECT_TRUE(st.m_strAppDir.empty());
    EXPECT_TRUE(st.m_strDbPath.empty());
    EXPECT_TRUE(st.m_strIniPath.empty());
}

TEST(DeviceState, InitDataFolderUsesTheEnvironmentsDataFolder)
{
    TempDir data;
    const char* old = std::getenv("QUORVANTIS_DATA_DIR");
    const std::string saved = old ? old : "";
    setenv("QUORVANTIS_DATA_DIR", data.Path().c_str(), 1);
    CDeviceState st;
    st.InitDataFolder();
    EXPECT_EQ(st.m_strDbPath, data.File("Quorvantis.db"));
    EXPECT_EQ(st.m_strIniPath, data.File("Main.ini"));
    EXPECT_FALSE(st.m_strAppDir.empty());
    if (old)
        setenv("QUORVANTIS_DATA_DIR", saved.c_str(), 1);
    else
        unsetenv("QUORVANTIS_DATA_DIR");
}

TEST(DeviceCommands, ReadConfigDecodesTheBlocks)
{
    SimDevice s;
    s.dev->WriteBytes(ADDR_CONFIG, {0x00, 0x12, 0x34, 0x56, 0x29, 0x00, 0x3C, 0x00, 0x64, 0x14});
    std::uint8_t periods[40];
    std::fill(std::begin(periods), std::end(periods), 0xFF);
    const std::uint8_t first[5] = {0x26, 0x3A, 0x15, 0x08, 0x30};  // periods 1 and 2 enabled
    const std::uint8_t second[5] = {0x26, 0x0A, 0x15, 0x08, 0x30};
    const std::uint8_t month13[5] = {0x26, 0x0D, 0x01, 0x00, 0x00};
    std::copy(first, first + 5, periods);
    std::copy(second, second + 5, periods + 5);
    std::copy(month13, month13 + 5, periods + 10);
    s.dev->SetPeriodBlock(periods);

    ASSERT_EQ(s.st.ReadConfig(), 1);
    EXPECT_EQ(s.st.m_dwDeviceID, 0x00123456u);
    EXPECT_EQ(s.st.m_nTempUnit, 1);
    EXPECT_EQ(s.st.m_nDateFormat, 0);
    EXPECT_EQ(s.st.m_nTimeFormat, 0);
    EXPECT_EQ(s.st.m_nMode, 1);
    EXPECT_EQ(s.st.m_nAutoOff, 1);
    EXPECT_EQ(s.st.m_nInterval, 60);
    EXPECT_EQ(s.st.m_nTempOffset, 100);
    EXPECT_EQ(s.st.m_nHumiOffset, 20);

    const ConfigSnapshot snap = s.st.GetConfigSnapshot();
    EXPECT_EQ(snap.mode, 1);
    EXPECT_EQ(snap.periodOn[0], 1);
    EXPECT_EQ(snap.periodOn[1], 1);
    EXPECT_EQ(snap.periodOn[2], 0);
    EXPECT_EQ(snap.periodOn[3], 0);
    EXPECT_TRUE(snap.period[0] == OleDateTime(2026, 10, 15, 8, 30, 0));
    EXPECT_TRUE(snap.period[1] == OleDateTime(2026, 10, 15, 8, 30, 0));
    EXPECT_FALSE(snap.period[2].IsValid());
    EXPECT_FALSE(snap.period[7].IsValid());  // erased slot

    // Flag byte 0x18 is segmented mode; bit 7 of the interval's high byte is ignored.
    s.dev->WriteBytes(ADDR_CONFIG + 4, {0x18, 0x80, 0x3C});
    ASSERT_EQ(s.st.ReadConfig(), 1);
    EXPECT_EQ(s.st.m_nMode, 2);
    EXPECT_EQ(s.st.m_nInterval, 60);

    // The unusable marker fails the read.
    s.dev->SetExtraMarker(EXTRA_UNUSABLE);
    EXPECT_EQ(s.st.ReadConfig(), 0);
}

TEST(DeviceCommands, ParametersRequest)
{
    std::uint8_t request[11];
    CDeviceState::BuildParametersRequest(1, 0, 1, 2, 0, 120, 105, 22, 0, request);
    EXPECT_EQ(std::vector<std::uint8_t>(request, request + 11),
              (std::vector<std::uint8_t>{0x02, 0x09, 0x00, 0x22, 0x15, 0x00, 0x78, 0x00, 0x69, 0x16, 0x2E}));
    CDeviceState::BuildParametersRequest(1, 0, 1, 2, 0, 60, 105, 22, 1, request);
    EXPECT_EQ(request[5], 0x80);
    EXPECT_EQ(request[6], 0x3C);

    // Sent as built, and the recorder's new configuration reads back.
    SimDevice s;
    ASSERT_EQ(s.st.SetParameters(1, 0, 1, 2, 0, 120, 105, 22, 0), 1);
    EXPECT_EQ(Prefix(s.LastRequest(), 11),
              (std::vector<std::uint8_t>{0x02, 0x09, 0x00, 0x22, 0x15, 0x00, 0x78, 0x00, 0x69, 0x16, 0x2E}));
    ASSERT_EQ(s.st.ReadConfig(), 1);
    EXPECT_EQ(s.st.m_nMode, 2);
    EXPECT_EQ(s.st.m_nInterval, 120);
    EXPECT_EQ(s.st.m_nTempOffset, 105);
    EXPECT_EQ(s.st.m_nHumiOffset, 22);
}

TEST(DeviceCommands, PeriodsRequest)
{
    OleDateTime slots[8];
    for (OleDateTime& slot : slots) slot = OleDateTime(0.0, OleDateTime::invalid);
    slots[0] = OleDateTime(2026, 10, 15, 8, 30, 0);
    slots[1] = OleDateTime(2026, 12, 31, 23, 59, 0);
    const int flags[4] = {1, 1, 0, 0};
    std::uint8_t request[45];
    CDeviceState::BuildPeriodsRequest(slots, flags, request);
    EXPECT_EQ(std::vector<std::uint8_t>(request, request + 14),
              (std::vector<std::uint8_t>{0x02, 0x2B, 0x00, 0x04, 0x26, 0x3A, 0x15, 0x08, 0x30, 0x26, 0x0C, 0x31, 0x23,
                                         0x59}));
    for (int k = 2; k < 8; ++k)
        EXPECT_EQ(std::vector<std::uint8_t>(request + 4 + 5 * k, request + 9 + 5 * k),
                  (std::vector<std::uint8_t>{0x7F, 0xFF, 0xFF, 0xFF, 0xFF}));
    unsigned sum = 0;
    for (int i = 2; i < 44; ++i) sum += request[i];
    EXPECT_EQ(request[44], sum & 0xFF);

    // An invalid first slot: the flags overflow with the 0xFF month.
    slots[0] = OleDateTime(0.0, OleDateTime::invalid);
    const int first[4] = {1, 0, 0, 0};
    CDeviceState::BuildPeriodsRequest(slots, first, request);
    EXPECT_EQ(request[5], 0x0F);

    // What is sent reads back as the same periods.
    SimDevice s;
    slots[0] = OleDateTime(2027, 1, 2, 3, 4, 0);
    const int on[4] = {0, 1, 0, 1};
    ASSERT_EQ(s.st.SetPeriods(slots, on), 1);
    ASSERT_EQ(s.st.ReadConfig(), 1);
    const ConfigSnapshot snap = s.st.GetConfigSnapshot();
    EXPECT_TRUE(snap.period[0] == slots[0]);
    EXPECT_TRUE(snap.period[1] == slots[1]);
    EXPECT_FALSE(snap.period[2].IsValid());
    EXPECT_EQ(snap.periodOn[0], 0);
    EXPECT_EQ(snap.periodOn[1], 1);
    EXPECT_EQ(snap.periodOn[3], 1);
}

TEST(DeviceCommands, LiveReadingAndExtremes)
{
    SimDevice s;
    s.dev->SetOffsets(110, 20);
    s.dev->SetLive(65, 500);
    s.dev->SetMaxMin(1099, 119, 100, 20);
    ASSERT_EQ(s.st.ReadConfig(), 1);
    ASSERT_EQ(s.st.ReadRealtime(), 1);
    EXPECT_EQ(s.st.m_nTemp, 400);
    EXPECT_EQ(s.st.m_nTempRaw, 390);
    EXPECT_EQ(s.st.m_nHumi, 45);
    EXPECT_EQ(s.st.m_nHumiRaw, 45);
    ASSERT_EQ(s.st.ReadMaxMin(), 1);
    EXPECT_EQ(s.st.m_nMaxTemp, 999);
    EXPECT_EQ(s.st.m_nMaxHumi, 99);
    EXPECT_EQ(s.st.m_nMinTemp, 0);
    EXPECT_EQ(s.st.m_nMinHumi, 1);

    // No reading, and the members keep their values when the read fails.
    s.dev->SetLive(0, 1201);
    ASSERT_EQ(s.st.ReadRealtime(), 1);
    EXPECT_EQ(s.st.m_nTemp, TEMP_NONE);
    EXPECT_EQ(s.st.m_nTempRaw, TEMP_NONE);
    EXPECT_EQ(s.st.m_nHumi, HUMI_NONE);
    s.dev->Unplug();
    EXPECT_EQ(s.st.ReadMaxMin(), 0);
    EXPECT_EQ(s.st.m_nMaxTemp, 999);
}
