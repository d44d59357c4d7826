#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "device/CHidLink.h"
#include "platform/OleDateTime.h"
#include "simulator/VT583Simulator.h"
#include "support/BoundedWait.h"

using sim::Fault;
using sim::SimulatorTransport;
using sim::VT583Simulator;

namespace {

struct LinkFixture : ::testing::Test {
    SimulatorTransport transport;
    std::shared_ptr<VT583Simulator> dev;
    CHidLink link;

    void SetUp() override
    {
        dev = transport.Attach("/dev/hidraw0");
        link.SetTransport(&transport);
        link.Open();
        ASSERT_TRUE(link.IsDeviceOpen());
        dev->ClearLog();
    }
    int Writes() const { return static_cast<int>(dev->RequestLog().size()); }
    int Erase() { return link.SendShortCommand(ERASE_RECORDS_REQUEST); }
};

}  // namespace

TEST_F(LinkFixture, RequestGoesOutAsOneZeroFilledReportAndAckIsAccepted)
{
    EXPECT_EQ(Erase(), 1);
    const auto log = dev->RequestLog();
    ASSERT_EQ(log.size(), 1u);
    ASSERT_EQ(log[0].size(), 61u);
    const std::vector<std::uint8_t> head(log[0].begin(), log[0].begin() + 5);
    EXPECT_EQ(head, (std::vector<std::uint8_t>{0x02, 0x03, 0x00, 0x08, 0x08}));
    for (std::size_t i = 5; i < 61; ++i) EXPECT_EQ(log[0][i], 0) << "byte " << i;

    // The recorder's acknowledgement as it arrives: 02 02 AA AA.
    auto handle = transport.Open("/dev/hidraw0");
    std::uint8_t report[64] = {};
    ASSERT_EQ(handle->Write(ERASE_RECORDS_REQUEST, 5), 5);
    ASSERT_EQ(handle->Read(report, 64, 0), 64);
    EXPECT_EQ(report[0], 0x02);
    EXPECT_EQ(report[1], 0x02);
    EXPECT_EQ(report[2], 0xAA);
    EXPECT_EQ(report[3], 0xAA);
    EXPECT_EQ(CHidLink::Checksum(report, 3), 0xAA);
    EXPECT_EQ(CHidLink::Checksum(report, 2), 0);
}

TEST_F(LinkFixture, EachKindOfReplyFailureIsRetriedOnce)
{
    // Length byte 0 or above 64: a failed read; 60..64 or a wrong checksum: a checksum failure.
    for (Fault f : {Fault::LengthZero, Fault::LengthOver64, Fault::NoReply, Fault::LengthOver59, Fault::BadChecksum,
                    Fault::Refusal}) {
        dev->ClearLog();
        dev->InjectFault(f);
        EXPECT_EQ(Erase(), 1) << static_cast<int>(f);
        EXPECT_EQ(Writes(), 2) << static_cast<int>(f);

        dev->ClearLog();
        dev->InjectFault(f, 2);
        EXPECT_EQ(Erase(), 0) << static_cast<int>(f);
        EXPECT_EQ(Writes(), 2) << static_cast<int>(f);
    }
    // A read failure of one form and one of the other count as the same kind.
    dev->ClearLog();
    dev->InjectFault(Fault::NoReply);
    dev->InjectFault(Fault::LengthZero);
    int h = 0, t = 0;
    EXPECT_EQ(link.ReadLive(h, t), 0);
    EXPECT_EQ(Writes(), 2);
    // 60..64 and a bad checksum are the same kind too.
    dev->ClearLog();
    dev->InjectFault(Fault::LengthOver59);
    dev->InjectFault(Fault::BadChecksum);
    std::uint8_t buf[64];
    EXPECT_EQ(link.ReadMemory(ADDR_MODEL, buf, 2), 0);
    EXPECT_EQ(Writes(), 2);
}

TEST_F(LinkFixture, ReplyShorterThanAskedIsRetriedLikeABadChecksum)
{
    struct Case {
        std::vector<Fault> faults;
        int count;   // bytes asked for
        int result;  // of the read
        int writes;  // attempts
    };
    const Case cases[] = {
        {{Fault::ShortReply}, 10, 1, 2},
        {{Fault::ShortReply}, 1, 1, 2},  // 02 01 00: no body at all
        {{Fault::ShortReply, Fault::ShortReply}, 10, 0, 2},
        {{Fault::ShortReply, Fault::BadChecksum}, 10, 0, 2},  // one kind
        {{Fault::ShortReply, Fault::NoReply}, 10, 1, 3},      // two kinds
        {{Fault::LongReply}, 10, 1, 1},                       // more than asked is fine
    };
    const std::vector<std::uint8_t> config = dev->ReadBytes(ADDR_CONFIG, 10);
    for (const Case& c : cases) {
        dev->ClearLog();
        for (Fault f : c.faults) dev->InjectFault(f);
        std::uint8_t out[64] = {};
        EXPECT_EQ(link.ReadMemory(ADDR_CONFIG, out, c.count), c.result) << c.faults.size();
        EXPECT_EQ(Writes(), c.writes) << static_cast<int>(c.faults[0]) << " " << c.count;
        if (c.result == 1) {
            EXPECT_EQ(std::vector<std::uint8_t>(out, out + c.count),
                      std::vector<std::uint8_t>(config.begin(), config.begin() + c.count));
        }
        dev->ClearFaults();
    }

    // A live reading without its three bytes is no reading either.
    dev->SetLive(65, 1099);
    dev->ClearLog();
    dev->InjectFault(Fault::ShortReply);
    int h = 0, t = 0;
    ASSERT_EQ(link.ReadLive(h, t), 1);
    EXPECT_EQ(Writes(), 2);
    EXPECT_EQ(h, 65);
    EXPECT_EQ(t, 1099);
}

TEST_F(LinkFixture, AtMostFourAttemptsAndAFailedWriteEndsAtOnce)
{
    dev->InjectFault(Fault::NoReply);
    dev->InjectFault(Fault::BadChecksum);
    dev->InjectFault(Fault::Refusal);
    EXPECT_EQ(Erase(), 1);
    EXPECT_EQ(Writes(), 4);

    dev->ClearLog();
    dev->InjectFault(Fault::NoReply);
    dev->InjectFault(Fault::BadChecksum);
    dev->InjectFault(Fault::Refusal);
    dev->InjectFault(Fault::LengthZero);
    EXPECT_EQ(Erase(), 0);
    EXPECT_EQ(Writes(), 4);

    // The reads have no refusal test: three attempts at most.
    dev->ClearLog();
    dev->InjectFault(Fault::NoReply);
    dev->InjectFault(Fault::BadChecksum);
    dev->InjectFault(Fault::NoReply);
    int h = 0, t = 0;
    EXPECT_EQ(link.ReadLive(h, t), 0);
    EXPECT_EQ(Writes(), 3);
    dev->ClearFaults();

    // A failed write is never retried, on whichever attempt it happens.
    dev->ClearLog();
    dev->InjectFault(Fault::WriteFail);
    EXPECT_EQ(Erase(), 0);
    EXPECT_EQ(Writes(), 1);
    dev->ClearLog();
    dev->InjectFault(Fault::NoReply);
    dev->InjectFault(Fault::BadChecksum);
    dev->InjectFault(Fault::WriteFail);
    EXPECT_EQ(Erase(), 0);
    EXPECT_EQ(Writes(), 3);
    EXPECT_EQ(link.m_bCmdBusy.load(), 0);
    EXPECT_EQ(link.m_bLiveBusy.load(), 0);
    EXPECT_EQ(Erase(), 1);  // the link is still usable
}

TEST_F(LinkFixture, BusyFlagsLetCommandsThenLiveReadingsGoBeforeMemoryReads)
{
    // A flag held by another exchange between two of its attempts: which operations wait for it.
    // An acknowledged command waits for nothing but the lock; a live reading waits for a command;
    // a memory read waits for both.
    enum Op { Command, Live, Memory };
    struct Case {
        std::atomic<int> CHidLink::*held;
        Op op;
        bool waits;
    } cases[] = {
        {&CHidLink::m_bCmdBusy, Live, true},     {&CHidLink::m_bCmdBusy, Memory, true},
        {&CHidLink::m_bLiveBusy, Memory, true},  {&CHidLink::m_bLiveBusy, Command, false},
        {&CHidLink::m_bCmdBusy, Command, false},
    };
    for (const Case& c : cases) {
        const char* const names[] = {"command", "live reading", "memory read"};
        SCOPED_TRACE(testing::Message() << names[c.op] << " while a "
                                        << names[c.held == &CHidLink::m_bCmdBusy ? Command : Live] << " is busy");
        dev->ClearLog();
        link.*c.held = 1;
        auto run = std::async(std::launch::async, [this, op = c.op] {
            int h = 0, t = 0;
            std::uint8_t out[64];
            return op == Command ? Erase() : op == Live ? link.ReadLive(h, t) : link.ReadMemory(ADDR_CONFIG, out, 10);
        });
        // One that waits is given room for a wrong send: nothing may reach the recorder while the
        // flag is up. One that goes ends at once (the bound only guards against a hang).
        const auto bound = c.waits ? std::chrono::milliseconds(50) : std::chrono::milliseconds(10000);
        const bool ended = run.wait_for(bound) == std::future_status::ready;
        EXPECT_EQ(ended, !c.waits);
        EXPECT_EQ(Writes(), c.waits ? 0 : 1);
        link.*c.held = 0;
        EXPECT_EQ(run.get(), 1);
        EXPECT_EQ(Writes(), 1);
    }
}

TEST_F(LinkFixture, ReadsAndCommandsOverTheSimulator)
{
    dev->SetLive(65, 1099);
    int h = 0, t = 0;
    ASSERT_EQ(link.ReadLive(h, t), 1);
    EXPECT_EQ(h, 65);
    EXPECT_EQ(t, 1099);
    EXPECT_EQ(dev->RequestLog().back()[4], 0x02);

    std::uint8_t out[64] = {};
    ASSERT_EQ(link.ReadMemory(ADDR_CONFIG, out, 10), 1);
    EXPECT_EQ(out[0], 0x00);
    EXPECT_EQ(out[1], 0x12);
    EXPECT_EQ(out[2], 0x34);
    EXPECT_EQ(out[3], 0x56);
    const auto req = dev->RequestLog().back();
    EXPECT_EQ(std::vector<std::uint8_t>(req.begin(), req.begin() + 8),
              (std::vector<std::uint8_t>{0x02, 0x06, 0x01, 0x00, 0x00, 0x05, 0x0A, 0x10}));
    // A read at a 16-bit address, 39 bytes of page data.
    dev->FillRing(0, 20);
    ASSERT_EQ(link.ReadMemory(PageDataAddress(88), out, 39), 1);
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + 39), dev->ReadBytes(PageDataAddress(88), 39));

    // Parameters: the flag byte and the interval as sent, bit 7 of IH dropped when stored.
    const std::uint8_t params[11] = {0x02, 0x09, 0x00, 0x22, 0x15, 0x80, 0x78, 0x00, 0x69, 0x16, 0xAE};
    ASSERT_EQ(link.SendSetParams(params), 1);
    EXPECT_EQ(dev->ReadBytes(ADDR_CONFIG + 4, 6), (std::vector<std::uint8_t>{0x15, 0x00, 0x78, 0x00, 0x69, 0x16}));
    EXPECT_EQ(dev->Mode(), 2);
    EXPECT_EQ(dev->Interval(), 120);

    std::uint8_t periods[45] = {0x02, 0x2B, 0x00, 0x04};
    for (int i = 0; i < 40; ++i) periods[4 + i] = static_cast<std::uint8_t>(i + 1);
    periods[44] = CHidLink::Checksum(periods, 44);
    ASSERT_EQ(link.SendSetPeriods(periods), 1);
    EXPECT_EQ(dev->ReadBytes(ADDR_PERIODS, 40), std::vector<std::uint8_t>(periods + 4, periods + 44));

    // A request the recorder does not know gets no reply: a time-out, retried once.
    dev->ClearLog();
    const std::uint8_t unknown[5] = {0x02, 0x03, 0x00, 0x33, 0x33};
    EXPECT_EQ(link.SendShortCommand(unknown), 0);
    EXPECT_EQ(Writes(), 2);
    EXPECT_EQ(dev->Counters().unknownRequests, 2);
}

TEST_F(LinkFixture, ClockRequestHasBcdFieldsAndABinaryMonth)
{
    const OleDateTimeFields t{2026, 12, 8, 9, 5, 7};
    std::uint8_t request[11];
    CHidLink::BuildClockRequest(t, request);
    EXPECT_EQ(std::vector<std::uint8_t>(request, request + 11),
              (std::vector<std::uint8_t>{0x02, 0x09, 0x00, 0x11, 0x26, 0x0C, 0x08, 0x09, 0x05, 0x07, 0x60}));

    ASSERT_EQ(link.SetClock(t), 1);
    const OleDateTimeFields c = dev->Clock();
    EXPECT_EQ(c.year, 2026);
    EXPECT_EQ(c.month, 12);
    EXPECT_EQ(c.day, 8);
    EXPECT_EQ(c.hour, 9);
    EXPECT_EQ(c.minute, 5);
    EXPECT_EQ(c.second, 7);

    // Without a time given, the local time now.
    ASSERT_EQ(link.SetClock(), 1);
    OleDateTimeFields now;
    ASSERT_TRUE(OleDateTime::GetCurrentTime().GetFields(now));
    EXPECT_LE(std::abs(dev->ClockSeconds() - VT583Simulator::SecondsFromFields(now)), 2);
}

TEST_F(LinkFixture, ClockOutsideTheRecordersYearsIsNeverSent)
{
    // The year goes out as two BCD digits after 2000: 1995 would be 0xFB.
    const struct {
        OleDateTimeFields time;
        int result;
    } cases[] = {
        {{1995, 6, 1, 12, 0, 0}, 0},     {{1999, 12, 31, 23, 59, 59}, 0}, {{2000, 1, 1, 0, 0, 0}, 1},
        {{2099, 12, 31, 23, 59, 59}, 1}, {{2100, 1, 1, 0, 0, 0}, 0},      {{2150, 3, 1, 8, 0, 0}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.time.year);
        dev->ClearLog();
        EXPECT_EQ(link.SetClock(c.time), c.result);
        EXPECT_EQ(Writes(), c.result);
    }
    // The PC's clock as the link reads it.
    link.m_fnNow = [] { return OleDateTime(1995, 6, 1, 12, 0, 0); };
    dev->ClearLog();
    EXPECT_EQ(link.SetClock(), 0);
    EXPECT_EQ(Writes(), 0);
}

TEST_F(LinkFixture, CloseNeverWaitsForAnExchangeUnderWay)
{
    // The recorder does not answer (as a slow one keeps the link for up to its time-out).
    dev->HoldReplies();
    std::uint8_t buffer[MEMORY_READ_MAX + 5];
    int result = -1;
    std::thread reader([&] { result = link.ReadMemory(ADDR_CONFIG, buffer, 10); });
    EXPECT_TRUE(WaitFor("the read to wait for the recorder's reply", [&] { return dev->HeldReads() == 1; }));
    // Returns while the reader holds the link (the bound only keeps a failure from hanging);
    // the device counts as gone at once.
    auto closed = std::async(std::launch::async, [&] { link.CloseHandles(); });
    const bool returned = closed.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    EXPECT_TRUE(returned);
    EXPECT_FALSE(link.IsDeviceOpen());
    EXPECT_EQ(dev->HeldReads(), returned ? 1 : 0);
    // The attempt under way ends, and no retry reaches the recorder.
    dev->ReleaseReplies();
    {
        HangGuard guard("the close and the read to end once the recorder answers");
        closed.wait();
        reader.join();
    }
    EXPECT_EQ(result, 1);
    const int writes = Writes();
    EXPECT_EQ(link.ReadMemory(ADDR_CONFIG, buffer, 10), 0);
    EXPECT_EQ(Writes(), writes);
    EXPECT_EQ(link.m_hRead, nullptr);
    // A new open finds the device again.
    link.Open();
    EXPECT_TRUE(link.IsDeviceOpen());
    EXPECT_EQ(link.ReadMemory(ADDR_CONFIG, buffer, 10), 1);
}

TEST(HidLinkOpen, ModelCheckAndEnumerationOrder)
{
    SimulatorTransport transport;
    CHidLink link;
    link.SetTransport(&transport);

    link.Open();  // nothing attached
    EXPECT_FALSE(link.IsDeviceOpen());
    EXPECT_EQ(link.m_hDevice, nullptr);

    auto other = transport.Attach("/dev/hidraw0", 0x046D, 0xC52B);  // not a recorder
    auto wrong = transport.Attach("/dev/hidraw1");
    wrong->SetModel(582);
    link.Open();
    EXPECT_FALSE(link.IsDeviceOpen());
    EXPECT_EQ(link.m_hDevice, nullptr);
    EXPECT_EQ(link.m_strDevicePath, "/dev/hidraw1");
    EXPECT_EQ(other->Counters().writes, 0);
    // Nothing talks to a device that failed the model check.
    std::uint8_t out[64];
    EXPECT_EQ(link.ReadMemory(ADDR_MODEL, out, 2), 0);
    EXPECT_EQ(wrong->Counters().writes, 1);

    ASSERT_TRUE(transport.Detach("/dev/hidraw1"));
    auto first = transport.Attach("/dev/hidraw2");
    auto second = transport.Attach("/dev/hidraw3");
    link.Open();
    ASSERT_TRUE(link.IsDeviceOpen());
    EXPECT_EQ(link.m_strDevicePath, "/dev/hidraw2");
    EXPECT_EQ(link.m_hDevice, link.m_hRead);
    EXPECT_EQ(link.m_hDevice, link.m_hWrite);
    EXPECT_EQ(first->Counters().memoryReads, 1);
    EXPECT_EQ(second->Counters().writes, 0);

    // An interface that cannot be opened is passed over.
    transport.SetOpenFails("/dev/hidraw2", true);
    link.Open();
    ASSERT_TRUE(link.IsDeviceOpen());
    EXPECT_EQ(link.m_strDevicePath, "/dev/hidraw3");

    // Without any openable interface the path names the last one tried.
    transport.SetOpenFails("/dev/hidraw3", true);
    link.Open();
    EXPECT_FALSE(link.IsDeviceOpen());
    EXPECT_EQ(link.m_strDevicePath, "/dev/hidraw3");

    link.Close();
    EXPECT_TRUE(link.m_strDevicePath.empty());
    EXPECT_EQ(link.m_hRead, nullptr);
}

TEST_F(LinkFixture, UnplugFailsExchangesCleanly)
{
    // Unplugged at a write: that exchange and the next fail without retries.
    dev->InjectFault(Fault::Unplug);
    EXPECT_EQ(Erase(), 0);
    EXPECT_EQ(Writes(), 1);
    int h = 0, t = 0;
    EXPECT_EQ(link.ReadLive(h, t), 0);
    EXPECT_EQ(dev->Counters().failedWrites, 2);

    // The removal path closes the handles but keeps the path; exchanges then fail without I/O.
    link.CloseHandles();
    EXPECT_FALSE(link.IsDeviceOpen());
    EXPECT_EQ(link.m_strDevicePath, "/dev/hidraw0");
    const int writes = dev->Counters().writes;
    EXPECT_EQ(link.ReadLive(h, t), 0);
    EXPECT_EQ(dev->Counters().writes, writes);

    // Plugged in again: an old handle stays dead, a new Open works.
    transport.Attach("/dev/hidraw0", dev);
    link.Open();
    ASSERT_TRUE(link.IsDeviceOpen());
    EXPECT_EQ(link.ReadLive(h, t), 1);
}

TEST_F(LinkFixture, UnplugWhileThreadsExchange)
{
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    auto worker = [&](bool live) {
        std::uint8_t out[64];
        int h, t;
        while (!stop) {
            const int r = live ? link.ReadLive(h, t) : link.ReadMemory(PAGE_FIRST, out, 27);
            if (!r) ++failures;
        }
    };
    std::thread a(worker, true), b(worker, false);
    EXPECT_TRUE(WaitFor("200 replies to the two threads", [&] { return dev->Counters().replies >= 200; }));
    transport.Detach("/dev/hidraw0");
    EXPECT_TRUE(WaitFor("two exchanges to fail once the recorder is gone", [&] { return failures >= 2; }));
    link.CloseHandles();
    stop = true;
    JoinWithin(a, "the live-reading thread to end");
    JoinWithin(b, "the memory-reading thread to end");
    EXPECT_FALSE(link.IsDeviceOpen());
    EXPECT_EQ(dev->Counters().interleaved, 0);
    EXPECT_EQ(link.m_bLiveBusy.load(), 0);
}

TEST_F(LinkFixture, ExchangesOfSeveralThreadsNeverInterleave)
{
    dev->SetLive(70, 640);
    constexpr int N = 3000;
    std::atomic<int> bad{0};
    std::thread live([&] {
        for (int i = 0; i < N; ++i) {
            int h = 0, t = 0;
            if (link.ReadLive(h, t) != 1 || h != 70 || t != 640) ++bad;
            std::this_thread::sleep_for(std::chrono::microseconds(50));  // leave room for the others
        }
    });
    std::thread memory([&] {
        std::uint8_t out[64];
        for (int i = 0; i < N / 10; ++i)
            if (link.ReadMemory(ADDR_CONFIG, out, 10) != 1 || out[3] != 0x56) ++bad;
    });
    std::thread command([&] {
        for (int i = 0; i < N / 10; ++i) {
            if (link.SetClock(OleDateTimeFields{2026, 12, 8, 9, 5, 7}) != 1) ++bad;
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    // The UI thread re-opens the device meanwhile; Open must neither deadlock nor break an exchange.
    for (int i = 0; i < 20; ++i) link.Open();
    live.join();
    memory.join();
    command.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_TRUE(link.IsDeviceOpen());
    const sim::SimCounters c = dev->Counters();
    EXPECT_EQ(c.interleaved, 0);
    EXPECT_EQ(c.timeouts, 0);
    EXPECT_EQ(c.liveReads, N);
}
