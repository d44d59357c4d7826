#include <gtest/gtest.h>

#include <vector>

#include "simulator/VT583Simulator.h"

using sim::SimRecord;
using sim::SimulatorTransport;
using sim::VT583Simulator;

namespace {

std::vector<std::uint8_t> Header(VT583Simulator& dev, int page) { return dev.ReadBytes(PageHeaderAddress(page), 8); }

// Every record follows the one before by its page's interval, record numbers run 1..count per
// page, and the readings are the synthetic ones of consecutive sequence numbers.
void ExpectContinuous(const std::vector<SimRecord>& records, std::uint64_t firstSequence)
{
    for (std::size_t i = 0; i < records.size(); ++i) {
        const sim::SimReading r = VT583Simulator::SyntheticReading(firstSequence + i);
        ASSERT_EQ(records[i].rawHumi, r.humi) << i;
        ASSERT_EQ(records[i].rawTemp, r.temp) << i;
        ASSERT_EQ(records[i].temp, r.temp - 100) << i;
        ASSERT_EQ(records[i].humi, r.humi - 20) << i;
        if (i == 0) continue;
        ASSERT_EQ(records[i].seconds - records[i - 1].seconds, records[i].interval) << i;
        if (records[i].page == records[i - 1].page)
            ASSERT_EQ(records[i].recordNo, records[i - 1].recordNo + 1) << i;
        else
            ASSERT_EQ(records[i].recordNo, 1) << i;
    }
}

}  // namespace

TEST(Simulator, AcyclicRingFillsUpwardAndStopsWhenFull)
{
    VT583Simulator dev;
    dev.SetInterval(90);
    dev.SetClock(OleDateTimeFields{2026, 10, 15, 8, 30, 0});
    ASSERT_EQ(dev.FillRing(0, 130), 130);
    EXPECT_EQ(dev.Peek(88), 63);
    EXPECT_EQ(dev.Peek(89), 63);
    EXPECT_EQ(dev.Peek(90), 1);
    EXPECT_EQ(dev.Peek(91), 0xFF);
    EXPECT_EQ(dev.NewestPage(), 90);
    // Header of page 89: the time of its first record (64 x 90 s later, 10:06:00), BCD month, BE interval.
    EXPECT_EQ(Header(dev, 88), (std::vector<std::uint8_t>{0x26, 0x10, 0x15, 0x08, 0x30, 0x00, 0x00, 90}));
    EXPECT_EQ(Header(dev, 89), (std::vector<std::uint8_t>{0x26, 0x10, 0x15, 0x10, 0x06, 0x00, 0x00, 90}));
    EXPECT_EQ(Header(dev, 91), std::vector<std::uint8_t>(8, 0xFF));
    // Records: 3 bytes each, humidity then big-endian temperature.
    const sim::SimReading r1 = VT583Simulator::SyntheticReading(1);
    EXPECT_EQ(dev.ReadBytes(PageDataAddress(88) + 3, 3),
              (std::vector<std::uint8_t>{r1.humi, static_cast<std::uint8_t>(r1.temp >> 8),
                                         static_cast<std::uint8_t>(r1.temp & 0xFF)}));

    const auto records = dev.Records();
    ASSERT_EQ(records.size(), 130u);
    EXPECT_EQ(records.front().page, 88);
    EXPECT_EQ(records.front().time.hour, 8);
    EXPECT_EQ(records.front().time.minute, 30);
    EXPECT_EQ(records.back().page, 90);
    EXPECT_EQ(records.back().recordNo, 2);
    ExpectContinuous(records, 0);

    // A full ring: 324 pages of 64, then recording stops.
    VT583Simulator full;
    EXPECT_EQ(full.FillRing(0, PAGE_COUNT * PAGE_RECORDS + 10), PAGE_COUNT * PAGE_RECORDS);
    EXPECT_FALSE(full.IsRecording());
    for (int p = PAGE_FIRST; p <= PAGE_LAST; ++p) ASSERT_EQ(full.Peek(p), 63) << p;
    EXPECT_EQ(full.Records().size(), static_cast<std::size_t>(PAGE_COUNT * PAGE_RECORDS));
}

TEST(Simulator, SegmentedRecordingStartsAPageForEachSegment)
{
    VT583Simulator dev;
    dev.SetClock(OleDateTimeFields{2026, 3, 1, 12, 0, 0});
    ASSERT_EQ(dev.FillRing(2, 70), 70);
    EXPECT_EQ(dev.Mode(), 2);
    dev.StopRecording();
    EXPECT_EQ(dev.AdvanceSeconds(3600), 0);
    dev.StartRecording();
    EXPECT_EQ(dev.TakeRecords(3), 3);
    EXPECT_EQ(dev.Peek(88), 63);
    EXPECT_EQ(dev.Peek(89), 5);
    EXPECT_EQ(dev.Peek(90), 2);
    EXPECT_EQ(dev.Peek(91), 0xFF);
    // Second segment: 70 records of 60 s from 12:00 end at 13:09; it starts one hour later.
    EXPECT_EQ(Header(dev, 90), (std::vector<std::uint8_t>{0x26, 0x03, 0x01, 0x14, 0x09, 0x00, 0x00, 60}));

    // A new interval also starts a new page, with the new interval in its header.
    dev.SetInterval(30);
    EXPECT_EQ(dev.AdvanceSeconds(91), 2);  // the record due at +60 s, then one at +90 s
    EXPECT_EQ(dev.Peek(91), 1);
    EXPECT_EQ(Header(dev, 91)[7], 30);
    EXPECT_EQ(dev.Records().size(), 75u);
}

TEST(Simulator, CycleRingKeepsAGapAndWraps)
{
    VT583Simulator dev;
    dev.SetClock(OleDateTimeFields{2026, 1, 1, 0, 0, 0});
    // Pages 88..410 full: page 411 is the gap, page 88 still the oldest.
    ASSERT_EQ(dev.FillRing(1, 323 * PAGE_RECORDS), 323 * PAGE_RECORDS);
    EXPECT_EQ(dev.Peek(410), 63);
    EXPECT_EQ(dev.Peek(411), 0xFF);
    EXPECT_EQ(dev.Records().front().page, 88);

    // The next record opens page 411; the gap moves past the end to page 88, whose records go.
    ASSERT_EQ(dev.TakeRecords(1), 1);
    EXPECT_EQ(dev.Peek(411), 0);
    EXPECT_EQ(dev.Peek(88), 0xFF);
    EXPECT_EQ(Header(dev, 88), std::vector<std::uint8_t>(8, 0xFF));
    EXPECT_EQ(dev.Peek(89), 63);
    auto records = dev.Records();
    EXPECT_EQ(records.front().page, 89);
    EXPECT_EQ(records.back().page, 411);
    EXPECT_EQ(records.size(), static_cast<std::size_t>(322 * PAGE_RECORDS + 1));
    ExpectContinuous(records, PAGE_RECORDS);

    // Fill on: 411 completes, then 88..100 are written anew, gap 101, oldest 102.
    ASSERT_EQ(dev.TakeRecords(63 + 13 * PAGE_RECORDS), 63 + 13 * PAGE_RECORDS);
    EXPECT_EQ(dev.NewestPage(), 100);
    EXPECT_EQ(dev.Peek(100), 63);
    EXPECT_EQ(dev.Peek(101), 0xFF);
    EXPECT_EQ(dev.Peek(102), 63);
    int empty = 0;
    for (int p = PAGE_FIRST; p <= PAGE_LAST; ++p) empty += dev.Peek(p) == 0xFF;
    EXPECT_EQ(empty, 1);
    records = dev.Records();
    EXPECT_EQ(records.front().page, 102);
    EXPECT_EQ(records.back().page, 100);
    EXPECT_EQ(records.size(), static_cast<std::size_t>(323 * PAGE_RECORDS));
    ExpectContinuous(records, 14 * PAGE_RECORDS);  // page 102 was the 15th page of the first pass
    EXPECT_TRUE(dev.IsRecording());
}

TEST(Simulator, CommandsEraseClockAndUnknownRequests)
{
    SimulatorTransport transport;
    auto dev = transport.Attach("/dev/hidraw0");
    auto handle = transport.Open("/dev/hidraw0");
    ASSERT_NE(handle, nullptr);
    std::uint8_t reply[64];
    auto send = [&](std::vector<std::uint8_t> request, bool sumIt = true) {
        if (sumIt) {
            unsigned sum = 0;
            for (std::size_t i = 2; i + 1 < request.size(); ++i) sum += request[i];
            request.back() = static_cast<std::uint8_t>(sum);
        }
        request.resize(61, 0);
        EXPECT_EQ(handle->Write(request.data(), request.size()), 61);
        return handle->Read(reply, 64, 2000);
    };

    dev->FillRing(1, 200);
    dev->AdvanceSeconds(30);
    ASSERT_EQ(send({0x02, 0x03, 0x00, 0x08, 0x08}), 64);
    EXPECT_EQ(reply[2], 0xAA);
    for (int p = PAGE_FIRST; p <= PAGE_LAST; ++p) ASSERT_EQ(dev->Peek(p), 0xFF) << p;
    EXPECT_TRUE(dev->Records().empty());
    // Recording goes on from page 88.
    dev->AdvanceSeconds(30);
    EXPECT_EQ(dev->NewestPage(), 88);
    EXPECT_EQ(dev->Peek(88), 0);

    // Clock: BCD year, day and time, binary month. An impossible date is refused.
    ASSERT_EQ(send({0x02, 0x09, 0x00, 0x11, 0x26, 0x0A, 0x31, 0x23, 0x59, 0x58, 0}), 64);
    EXPECT_EQ(reply[2], 0xAA);
    EXPECT_EQ(dev->Clock().month, 10);
    EXPECT_EQ(dev->Clock().day, 31);
    ASSERT_EQ(send({0x02, 0x09, 0x00, 0x11, 0x26, 0x0B, 0x31, 0x00, 0x00, 0x00, 0}), 64);
    EXPECT_EQ(reply[2], 0x55);
    EXPECT_EQ(dev->Clock().month, 10);

    // Live reading: humidity, then big-endian temperature.
    dev->SetLive(80, 0x0123);
    ASSERT_EQ(send({0x02, 0x03, 0x01, 0x01, 0x02}), 64);
    EXPECT_EQ(std::vector<std::uint8_t>(reply, reply + 6),
              (std::vector<std::uint8_t>{0x02, 0x04, 80, 0x01, 0x23, static_cast<std::uint8_t>(80 + 0x24)}));

    // No reply, reported at once as a time-out: unknown command, bad checksum, over-long read.
    EXPECT_EQ(send({0x02, 0x03, 0x00, 0x09, 0x09}), 0);
    EXPECT_EQ(send({0x02, 0x03, 0x00, 0x08, 0x09}, false), 0);
    EXPECT_EQ(send({0x02, 0x06, 0x01, 0x00, 0x00, 0x58, 60, 0}), 0);
    const sim::SimCounters c = dev->Counters();
    EXPECT_EQ(c.unknownRequests, 1);
    EXPECT_EQ(c.badRequests, 2);
    EXPECT_EQ(c.timeouts, 3);
    EXPECT_EQ(c.interleaved, 0);

    // Two requests before one read: the simulator notices the mix-up.
    std::vector<std::uint8_t> live = {0x02, 0x03, 0x01, 0x01, 0x02};
    live.resize(61);
    handle->Write(live.data(), live.size());
    handle->Write(live.data(), live.size());
    EXPECT_EQ(dev->Counters().interleaved, 1);
}

TEST(Simulator, TransportEnumeratesAttachesAndDetaches)
{
    SimulatorTransport transport;
    EXPECT_TRUE(transport.Enumerate(HID_VENDOR_ID, HID_PRODUCT_ID).empty());
    auto a = transport.Attach("/dev/hidraw3");
    transport.Attach("/dev/hidraw1", 0x1234, 0x5678);
    auto b = transport.Attach("/dev/hidraw0");
    auto list = transport.Enumerate(HID_VENDOR_ID, HID_PRODUCT_ID);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].path, "/dev/hidraw3");
    EXPECT_EQ(list[1].path, "/dev/hidraw0");
    EXPECT_EQ(transport.Enumerate(0x1234, 0x5678).size(), 1u);
    EXPECT_EQ(transport.Open("/dev/hidraw9"), nullptr);

    auto handle = transport.Open("/dev/hidraw3");
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(transport.Detach("/dev/hidraw3"));
    EXPECT_FALSE(transport.Detach("/dev/hidraw3"));
    EXPECT_EQ(transport.Enumerate(HID_VENDOR_ID, HID_PRODUCT_ID).size(), 1u);
    std::uint8_t buf[64] = {0x02, 0x03, 0x01, 0x01, 0x02};
    EXPECT_EQ(handle->Write(buf, 61), -1);
    EXPECT_EQ(handle->Read(buf, 64, 2000), -1);

    // Attached again it comes last; the old handle stays dead, a new one works.
    transport.Attach("/dev/hidraw3", a);
    list = transport.Enumerate(HID_VENDOR_ID, HID_PRODUCT_ID);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].path, "/dev/hidraw3");
    EXPECT_EQ(handle->Write(buf, 61), -1);
    auto fresh = transport.Open("/dev/hidraw3");
    EXPECT_EQ(fresh->Write(buf, 61), 61);
    EXPECT_EQ(fresh->Read(buf, 64, 2000), 64);
    EXPECT_EQ(transport.Device("/dev/hidraw0"), b);
}
