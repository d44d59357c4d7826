#pragma once
// The VT583 recorder for tests and benchmarks: its memory, its page ring as the device fills it,
// the six commands with their effect on memory, injectable faults, and a HidTransport that
// attaches several simulated recorders under their own paths.
//
// Nothing here waits for real time: a request without a reply makes the next read report a
// time-out (0) at once. The only sleeps are the configured latency per report, and a read waits
// only while a test holds the replies back (HoldReplies).
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/DeviceProtocol.h"
#include "platform/HidTransport.h"
#include "platform/OleDateTime.h"

namespace sim {

// Faults that can be injected for the next requests, one per request (written report).
enum class Fault {
    NoReply,       // the request is lost: not executed, the next read times out (returns 0)
    LengthZero,    // the reply's length byte is 0 (a failed read)
    LengthOver64,  // the reply's length byte is 65 (a failed read)
    LengthOver59,  // the reply's length byte is 60: its checksum would lie past the 61 bytes kept
    BadChecksum,   // the reply's checksum byte is off by one
    ShortReply,    // the reply's body lacks its last byte (length and checksum match what is sent)
    LongReply,     // the reply's body has one byte more than asked (length and checksum match)
    Refusal,       // the request is not executed; the reply is 02 02 55 55 (valid frame, not 0xAA)
    WriteFail,     // the write itself fails (-1); the request is not executed
    Unplug,        // the device goes away at this write: it and everything after fail with -1
};

// One record as the recorder holds it.
struct SimRecord {
    int page = 0;              // 88..411
    int recordNo = 0;          // 1..64 within the page
    std::int64_t seconds = 0;  // device clock: seconds since 1899-12-30 00:00:00
    OleDateTimeFields time;    // the same, as fields
    double date = 0.0;         // the same, as a DATE (days since 1899-12-30)
    int interval = 0;          // the page's interval (header)
    std::uint8_t rawHumi = 0;  // as stored in the page
    std::uint16_t rawTemp = 0;
    int humi = 0;  // program scale (HumiValueFromRaw)
    int temp = 0;  // program scale (TempValueFromRaw)
};

// Raw values of one reading.
struct SimReading {
    std::uint8_t humi = 0;
    std::uint16_t temp = 0;
};

struct SimCounters {
    int writes = 0;           // Write calls, failed ones included
    int failedWrites = 0;     // writes answered with -1 (fault or unplugged)
    int reads = 0;            // Read calls
    int timeouts = 0;         // reads that found no reply (returned 0)
    int replies = 0;          // reads that returned a reply
    int interleaved = 0;      // a write while a reply was still unread, or a reply that did not
                              // answer the request written last: requests of two callers mixed
    int badRequests = 0;      // frames with a wrong start, length or checksum (no reply)
    int unknownRequests = 0;  // valid frames with a command the recorder does not know (no reply)
    int memoryReads = 0, liveReads = 0, clockSets = 0, paramSets = 0, periodSets = 0, erases = 0;
    int faultsApplied = 0;
};

class VT583Simulator {
public:
    static constexpr int MEMORY_SIZE = 65536;

    // A fresh recorder: model 583, device ID 0x00123456, flag byte 0x05 (degrees C, day-month,
    // 24 h, acyclic), interval 60 s, no offsets (100, 20), extra block zero, max/min filled,
    // live reading 65 / 500, period block erased (0xFF), empty ring (0xFF), clock 2026-01-01 00:00:00,
    // not recording.
    VT583Simulator();
    VT583Simulator(const VT583Simulator&) = delete;
    VT583Simulator& operator=(const VT583Simulator&) = delete;

    // --- memory and its blocks ---
    void SetModel(int code);  // byte 0 = code % 100, byte 1 = code / 100
    void SetDeviceId(std::uint32_t id);
    void SetFlagByte(std::uint8_t flags);
    void SetMode(int mode);                           // bits 3-4 of the flag byte: (mode & 3) << 3
    void SetInterval(int seconds);                    // 15 bits, bit 7 of the high byte clear
    void SetOffsets(int tempOffset, int humiOffset);  // biased: 100 and 20 mean none
    void SetPeriodBlock(const std::uint8_t block[40]);
    void SetExtraMarker(std::uint8_t marker);  // byte 0 of the extra block (0xEF: unusable)
    void SetMaxMin(std::uint16_t maxTemp, std::uint8_t maxHumi, std::uint16_t minTemp,
                   std::uint8_t minHumi);                 // raw values
    void SetLive(std::uint8_t humi, std::uint16_t temp);  // raw values of the current reading
    std::uint8_t FlagByte() const;
    int Mode() const;  // decoded as the program decodes it
    int Interval() const;

    std::uint8_t Peek(int address) const;
    void Poke(int address, std::uint8_t value);
    std::vector<std::uint8_t> ReadBytes(int address, int count) const;
    void WriteBytes(int address, const std::vector<std::uint8_t>& bytes);

    // --- clock (seconds since 1899-12-30 00:00:00; the fields must form a real date) ---
    void SetClock(const OleDateTimeFields& fields);
    OleDateTimeFields Clock() const;
    std::int64_t ClockSeconds() const;

    // --- recording ---
    // Starts recording at the current clock: the first record is due at once (taken by the next
    // AdvanceSeconds or TakeRecords, also with 0 seconds), then one per
    // interval (the configuration's interval and mode at the time of each record). Each start
    // begins a new page, as does a record that does not follow its page's last one by exactly
    // the interval (a clock change, a new interval, a stop and start).
    void StartRecording();
    void StartRecording(const OleDateTimeFields& at);
    void StopRecording();
    bool IsRecording() const;
    // Lets time pass; the records due are taken. Returns the number taken.
    int AdvanceSeconds(std::int64_t seconds);
    // Lets time pass until n more records have been taken (fewer when an acyclic or segmented
    // ring fills up and recording stops). Returns the number taken.
    int TakeRecords(int n);
    // Erases the ring, sets the mode, starts recording at the current clock and takes n records.
    int FillRing(int mode, int records);
    // Readings of the records: by default a deterministic function of the record's sequence
    // number (raw humidity 21..118, raw temperature 101..1099). Tests may replace it.
    void SetReadingSource(std::function<SimReading(std::uint64_t sequence)> source);
    static SimReading SyntheticReading(std::uint64_t sequence);

    // The records the recorder holds, oldest first, in the order a full download stores them.
    std::vector<SimRecord> Records() const;
    int NewestPage() const;  // page of the newest record; 0 when the ring is empty

    // --- faults, latency, log ---
    void InjectFault(Fault fault, int count = 1);  // the next count requests get this fault
    void ClearFaults();                            // also ends RefuseCommand
    // Refuses every request of one command (CMD_...) from now on; other requests are answered.
    void RefuseCommand(const std::uint8_t command[2]);
    void SetLatencyMs(int ms);  // sleep per report written or read (0: none)
    // A recorder that keeps the link waiting: from HoldReplies on, every read waits until
    // ReleaseReplies (or an unplug) instead of answering. HeldReads counts the reads waiting.
    void HoldReplies();
    void ReleaseReplies();
    int HeldReads() const;
    void Unplug();  // every write and read fails with -1
    void Replug();  // handles opened before stay dead
    bool IsPlugged() const;
    std::uint64_t PlugGeneration() const;
    std::vector<std::vector<std::uint8_t>> RequestLog() const;  // every report as written
    void ClearLog();
    SimCounters Counters() const;

    // --- the report interface used by the transport's handles ---
    // Same results as HidHandle: bytes written / read, 0 read time-out, -1 gone or failed.
    int WriteReport(const std::uint8_t* data, std::size_t length, std::uint64_t generation);
    int ReadReport(std::uint8_t* buffer, std::size_t length, std::uint64_t generation);

    // Date helpers of the device clock.
    static std::int64_t SecondsFromFields(const OleDateTimeFields& fields);
    static OleDateTimeFields FieldsFromSeconds(std::int64_t seconds);
    static bool FieldsAreValid(const OleDateTimeFields& fields);

private:
    struct PendingReply {
        std::vector<std::uint8_t> bytes;  // 64 bytes
        std::uint64_t requestSeq = 0;
    };
    void HandleRequest(const std::uint8_t* data, std::size_t length, Fault* fault);  // locked
    void EraseRing();                                                                // locked
    int TakeOneRecord();                                                             // locked
    int AdvanceLocked(std::int64_t seconds);                                         // locked
    std::vector<std::uint8_t> MakeReply(const std::vector<std::uint8_t>& body) const;

    mutable std::mutex m_mutex;
    std::vector<std::uint8_t> m_mem;
    std::int64_t m_clock = 0;
    bool m_recording = false;
    std::int64_t m_nextRecordAt = 0;
    bool m_newSegment = true;      // the next record begins a new page
    int m_page = 0;                // page of the newest record, 0 = none
    int m_recordMode = 0;          // mode the ring is being filled in
    std::uint64_t m_sequence = 0;  // records taken since construction
    std::function<SimReading(std::uint64_t)> m_readingSource;
    std::uint8_t m_liveHumi = 65;
    std::uint16_t m_liveTemp = 500;

    std::deque<Fault> m_faults;
    int m_refusedCommand = -1;
    int m_latencyMs = 0;
    bool m_holdReplies = false;
    int m_heldReads = 0;
    std::condition_variable m_released;  // a hold ended or the recorder went away
    bool m_plugged = true;
    std::uint64_t m_generation = 1;
    std::vector<std::vector<std::uint8_t>> m_log;
    SimCounters m_counters;
    std::uint64_t m_requestSeq = 0;
    bool m_hasReply = false;
    PendingReply m_reply;
};

// Several simulated recorders attached at once, each under its own path. Thread-safe.
class SimulatorTransport : public HidTransport {
public:
    SimulatorTransport();
    ~SimulatorTransport() override;

    // Attaches a new recorder (or plugs an existing one in again) under path, at the end of the
    // enumeration order. Returns the recorder.
    std::shared_ptr<VT583Simulator> Attach(const std::string& path, std::uint16_t vendorId = HID_VENDOR_ID,
                                           std::uint16_t productId = HID_PRODUCT_ID);
    std::shared_ptr<VT583Simulator> Attach(const std::string& path, std::shared_ptr<VT583Simulator> device,
                                           std::uint16_t vendorId = HID_VENDOR_ID,
                                           std::uint16_t productId = HID_PRODUCT_ID);
    // Unplugs the recorder at path: it leaves the enumeration, its open handles fail with -1.
    // False when nothing is attached there.
    bool Detach(const std::string& path);
    std::shared_ptr<VT583Simulator> Device(const std::string& path) const;
    // A path that cannot be opened (as a device without access rights); it stays enumerated.
    void SetOpenFails(const std::string& path, bool fails);
    int OpenCount() const;  // successful opens so far

    std::vector<HidDeviceInfo> Enumerate(std::uint16_t vendorId, std::uint16_t productId) override;
    std::unique_ptr<HidHandle> Open(const std::string& path) override;

private:
    struct Entry {
        std::string path;
        std::uint16_t vendorId = 0;
        std::uint16_t productId = 0;
        std::shared_ptr<VT583Simulator> device;
        bool openFails = false;
    };
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
    int m_openCount = 0;
};

}  // namespace sim
