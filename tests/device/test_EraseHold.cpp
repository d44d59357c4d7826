// The erase of the recorder: when it may go out, and everything that keeps it back.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/CDeviceState.h"
#include "platform/MessageBox.h"
#include "simulator/VT583Simulator.h"
#include "support/BoundedWait.h"
#include "support/DeviceRig.h"
#include "support/TempDir.h"

namespace {

// The erase's own wait, bounded.
EraseReadiness WaitReady(EraseHold& erase)
{
    HangGuard guard("the erase to be ready or refused");
    return erase.WaitReady();
}

// A configured recorder with records, its database, and the program's writer and downloads.
struct Rig : RunningDevice {
    explicit Rig(int records)
    {
        dev->FillRing(0, records);
        EXPECT_TRUE(ReadConfigForDownload(st));
    }
    long long Rows() { return Count("SELECT count(*) FROM Records"); }
    long long DistinctRows() { return Count("SELECT count(*) FROM (SELECT DISTINCT PagAddr, Time FROM Records)"); }
};

}  // namespace

TEST(EraseHold, GoesOutOnceADownloadBegunAfterItHasStoredEverythingTheRecorderHeld)
{
    // A download runs when the user confirms; the recorder records on meanwhile. The erase waits
    // for that download, then for one begun after the confirmation, and only when that one has
    // committed every record does the erase go out: the database holds all the recorder held.
    ScopedMessageBoxRecorder boxes;
    Rig rig(3000);
    rig.dev->SetLatencyMs(1);
    rig.st.m_bDbCleared = 1;  // a download under way when the user confirms
    // It has read the count bytes of the ring's last used pages (those after 114).
    ASSERT_TRUE(WaitFor("the download to pass page 115", [&] { return rig.Rows() > 27 * 64 + 64; }));
    rig.dev->HoldReplies();
    ASSERT_TRUE(WaitFor("the download to wait in an exchange", [&] { return rig.dev->HeldReads() == 1; }));
    EraseHold erase(rig.st);
    EXPECT_EQ(erase.Readiness(), EraseReadiness::Waiting);
    rig.dev->TakeRecords(200);  // records the download under way will not see
    rig.dev->ReleaseReplies();
    ASSERT_EQ(WaitReady(erase), EraseReadiness::Ready);
    const auto held = rig.dev->Records();
    int acknowledged = 0;
    EXPECT_EQ(erase.Erase(acknowledged), EraseReadiness::Ready);
    EXPECT_EQ(acknowledged, 1);
    EXPECT_TRUE(rig.dev->Records().empty());
    EXPECT_EQ(rig.dev->Counters().erases, 1);
    EXPECT_EQ(rig.Rows(), static_cast<long long>(held.size()));
    EXPECT_EQ(rig.DistinctRows(), static_cast<long long>(held.size()));
    EXPECT_EQ(rig.Rows(), 3200);
    EXPECT_EQ(boxes->Count(), 0u);
}

TEST(EraseHold, NothingIsErasedUnlessEverythingIsStoredForTheRecorderConfirmedInItsGeneration)
{
    // While the erase waits for its download (held in the middle of an exchange), something
    // happens: the erase never goes out, and the answer says why.
    struct Case {
        const char* name;
        std::function<void(Rig&)> meanwhile;
        EraseReadiness answer;
    };
    const Case cases[] = {
        {"the recorder stops answering", [](Rig& rig) { rig.dev->InjectFault(sim::Fault::NoReply, 1000); },
         EraseReadiness::DownloadFailed},
        {"removed", [](Rig& rig) { rig.st.Reset(); }, EraseReadiness::DeviceChanged},
        {"unplugged and plugged in again",
         [](Rig& rig) {
             rig.transport.Detach("sim-0");
             rig.dev->ReleaseReplies();
             rig.st.m_Link.CloseHandles();
             rig.st.Reset();
             rig.transport.Attach("sim-0", rig.dev);
             rig.st.OpenDevice();
             EXPECT_TRUE(ReadConfigForDownload(rig.st));
         },
         EraseReadiness::DeviceChanged},
        {"its rows deleted", [](Rig& rig) { rig.DeleteRows("00123456"); }, EraseReadiness::DeviceChanged},
        {"the database refuses the records",
         [](Rig& rig) {
             rig.Exec("CREATE TRIGGER full BEFORE INSERT ON Records BEGIN SELECT RAISE(FAIL, 'full'); END");
         },
         EraseReadiness::StoreFailed},
        {"the program closes", [](Rig& rig) { rig.st.RequestQuit(); }, EraseReadiness::Quit},
    };
    {
        // A recorder without an ID is never downloaded: its erase is refused at once.
        Rig rig(100);
        rig.dev->SetDeviceId(0);
        ASSERT_TRUE(ReadConfigForDownload(rig.st));
        EraseHold erase(rig.st);
        EXPECT_EQ(WaitReady(erase), EraseReadiness::DownloadFailed);
        EXPECT_EQ(rig.dev->Counters().erases, 0);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedMessageBoxRecorder boxes;
        Rig rig(1000);
        EraseHold erase(rig.st);
        rig.dev->HoldReplies();
        ASSERT_TRUE(WaitFor("the download to wait in an exchange",
                            [&] { return rig.dev->HeldReads() == 1; }));  // its download waits
        EXPECT_EQ(erase.Readiness(), EraseReadiness::Waiting);
        c.meanwhile(rig);
        rig.dev->ReleaseReplies();
        EXPECT_EQ(WaitReady(erase), c.answer);
        int acknowledged = 0;
        EXPECT_NE(erase.Erase(acknowledged), EraseReadiness::Ready);
        EXPECT_EQ(acknowledged, 0);
        EXPECT_EQ(rig.dev->Counters().erases, 0);
        EXPECT_EQ(rig.dev->Records().size(), 1000u);
    }
}

TEST(EraseHold, AReadyEraseGoesOnlyToTheRecorderOpenedWhenItWasConfirmed)
{
    // Everything is stored, and another recorder is opened under the same path just before the
    // command goes out: it gets nothing.
    ScopedMessageBoxRecorder boxes;
    Rig rig(500);
    EraseHold erase(rig.st);
    ASSERT_EQ(WaitReady(erase), EraseReadiness::Ready);
    rig.st.m_Link.Open();  // a new open, without the reset the open thread would do
    int acknowledged = 0;
    EXPECT_EQ(erase.Erase(acknowledged), EraseReadiness::DeviceChanged);
    EXPECT_EQ(rig.dev->Counters().erases, 0);
    EXPECT_EQ(rig.dev->Records().size(), 500u);
    EXPECT_EQ(rig.Rows(), 500);
}
