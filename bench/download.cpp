// Download of a full ring (324 pages x 64 records) from the simulated recorder through the walk,
// the record queue and the writer's drain into a database file, against a baseline of the same run:
// the store path written literally (a fresh connection, one autocommitted INSERT and one resume
// point update per record); and the same download on a disk whose every sync takes 20 ms (a busy
// laptop disk, an SD card) against the fast disk. Prints figures only.
#include <sqlite3.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "database/RowFormat.h"
#include "device/CDeviceState.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"
#include "simulator/DiskSimulator.h"
#include "simulator/VT583Simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

constexpr int kFullRing = PAGE_COUNT * PAGE_RECORDS;

struct Folder {
    std::string path;
    Folder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "quorvantis-bench-XXXXXX").string();
        if (mkdtemp(pattern.data())) path = pattern;
    }
    ~Folder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

std::string FreshDatabase(const Folder& folder, const std::string& name)
{
    const std::string target = folder.path + "/" + name;
    std::filesystem::copy_file(ExecutableDir() + "/Quorvantis.db", target,
                               std::filesystem::copy_options::overwrite_existing);
    return target;
}

long CountRows(const std::string& db)
{
    sqlite3* c = nullptr;
    sqlite3_open(db.c_str(), &c);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(c, "SELECT count(*) FROM Records", -1, &s, nullptr);
    long n = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : -1;
    sqlite3_finalize(s);
    sqlite3_close(c);
    return n;
}

struct Run {
    double seconds = 0;
    long stored = 0;
    int requests = 0;
    long queued = 0;  // left in the queue at the end
};

// The walk on this thread, the record writer on another, as the program runs them; complete once
// every record is stored. Without the writer thread the queue is stored after the walk (the link
// alone is timed). With refuse, the database takes no record (as on a full disk): they all stay
// queued. With syncDelayMs, every sync of the disk takes that long.
Run DownloadFullRing(const Folder& folder, const std::string& name, int latencyMs, bool writerThread = true,
                     bool refuse = false, int syncDelayMs = 0)
{
    std::optional<sim::SimDisk> disk;  // outlives the device state's connections
    if (syncDelayMs > 0) {
        disk.emplace();
        disk->SetSyncDelayMs(syncDelayMs);
    }
    sim::SimulatorTransport transport;
    auto dev = transport.Attach("sim-bench");
    dev->SetClock({2026, 1, 1, 0, 0, 0});
    dev->FillRing(0, kFullRing);
    CDeviceState st;
    st.m_strDbPath = FreshDatabase(folder, name);
    if (refuse) {
        sqlite3* c = nullptr;
        sqlite3_open(st.m_strDbPath.c_str(), &c);
        sqlite3_exec(c, "CREATE TRIGGER full BEFORE INSERT ON Records BEGIN SELECT RAISE(FAIL, 'full'); END", nullptr,
                     nullptr, nullptr);
        sqlite3_close(c);
    }
    st.m_pQueueHead = AllocRecordNode();
    st.m_nNewDeviceWaitMs = 0;
    st.m_Link.SetTransport(&transport);
    st.m_Link.Open();
    // As the monitor reads it: a walk starts only after a configuration read has ended.
    st.ReadConfig();
    st.EndConfigRead(st.m_nConfigGeneration);
    dev->SetLatencyMs(latencyMs);
    const int before = dev->Counters().writes;

    std::thread writer;
    auto startWriter = [&] {
        writer = std::thread([&st] { st.RunRecordWriter({}); });  // the program's own loop
    };
    const auto start = Clock::now();
    if (writerThread) startWriter();
    st.DownloadHistory();
    const double walked = Seconds(start);
    if (!writerThread) startWriter();
    st.WaitForQueuedRecords();
    Run run;
    // Records the database refuses are never complete: that case times the walk.
    run.seconds = writerThread && !refuse ? Seconds(start) : walked;
    st.RequestQuit();
    writer.join();
    run.requests = dev->Counters().writes - before;
    st.m_Link.Close();
    run.stored = CountRows(st.m_strDbPath);
    for (RecordNode* node = st.m_pQueueHead->pNext; node; node = node->pNext) ++run.queued;
    return run;
}

// Appending the full ring to the queue one record at a time, as the page download does; with
// walk, each append finds the tail by walking the list from its head.
double AppendFullRing(bool walk)
{
    CDeviceState st;
    st.m_pQueueHead = AllocRecordNode();
    const OleDateTime start(2026, 1, 1, 0, 0, 0);
    const auto t0 = Clock::now();
    for (int i = 0; i < kFullRing; ++i) {
        if (walk) {
            RecordNode* tail = st.m_pQueueHead;
            while (tail->pNext) tail = tail->pNext;
            st.m_pQueueTail = tail;
        }
        AppendRecordNode(st.m_pQueueHead, st.m_pQueueTail, 0x00123456, 0, PAGE_FIRST + i / PAGE_RECORDS, 60, 500, 45,
                         i % PAGE_RECORDS + 1, start, st.m_nGeneration);
    }
    return Seconds(t0);
}

// The writer alone: one drain of a queue holding the full ring.
Run DrainFullRing(const Folder& folder)
{
    CDeviceState st;
    st.m_strDbPath = FreshDatabase(folder, "drain.db");
    st.m_pQueueHead = AllocRecordNode();
    const OleDateTime start(2026, 1, 1, 0, 0, 0);
    for (int page = PAGE_FIRST; page <= PAGE_LAST; ++page)
        for (int k = 1; k <= PAGE_RECORDS; ++k)
            AppendRecordNode(st.m_pQueueHead, st.m_pQueueTail, 0x00123456, 0, page, 60, 400 + k, 40 + k % 50, k,
                             start.AddSeconds(std::int64_t(page - PAGE_FIRST) * PAGE_RECORDS * 60), st.m_nGeneration);
    const auto t0 = Clock::now();
    st.FlushRecordQueue();
    Run run;
    run.seconds = Seconds(t0);
    run.stored = CountRows(st.m_strDbPath);
    return run;
}

// The store path as literally described: per record a fresh connection, an autocommitted INSERT,
// then the Device row looked up and inserted or updated, autocommitted. Stops after maxSeconds.
Run LiteralStorePath(const Folder& folder, double maxSeconds)
{
    const std::string db = FreshDatabase(folder, "literal.db");
    const OleDateTime start(2026, 1, 1, 0, 0, 0);
    const auto t0 = Clock::now();
    Run run;
    for (int i = 0; i < kFullRing && Seconds(t0) < maxSeconds; ++i) {
        const int page = PAGE_FIRST + i / PAGE_RECORDS, recordNo = i % PAGE_RECORDS + 1;
        const OleDateTime pageStart = start.AddSeconds(std::int64_t(page - PAGE_FIRST) * PAGE_RECORDS * 60);
        sqlite3* c = nullptr;
        sqlite3_open_v2(db.c_str(), &c, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_busy_timeout(c, 2000);
        const std::string insert = "INSERT INTO Records([ID],[PagAddr],[Time],[Temp],[Humi]) VALUES ('00123456','" +
                                   PageText(page) + "','" +
                                   DateTimeText(pageStart.AddSeconds(std::int64_t(recordNo - 1) * 60)) + "'," +
                                   TemperatureText(400 + recordNo) + ", " + HumidityText(40) + ")";
        sqlite3_exec(c, insert.c_str(), nullptr, nullptr, nullptr);
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(c, "SELECT * FROM Device where [DevID]='00123456'", -1, &s, nullptr);
        const bool hasRow = sqlite3_step(s) == SQLITE_ROW;
        sqlite3_finalize(s);
        const std::string save =
            hasRow ? "update Device set [DevTitle]='',[DevMoudle]=0,[DevLastTime]='" + DateTimeText(pageStart) +
                         "',[DevLastPagnRecords]=" + std::to_string(recordNo) +
                         ",[DevLastPag]=" + std::to_string(page) + " where [DevID]='00123456'"
                   : "INSERT INTO Device([DevID],[DevTitle],[DevMoudle],[DevLastTime],[DevLastPagnRecords],"
                     "[DevLastPag]) VALUES ('00123456','',0,'" +
                         DateTimeText(pageStart) + "'," + std::to_string(recordNo) + "," + std::to_string(page) + ")";
        sqlite3_exec(c, save.c_str(), nullptr, nullptr, nullptr);
        sqlite3_close(c);
        ++run.stored;
    }
    run.seconds = Seconds(t0);
    return run;
}

}  // namespace

int main()
{
    Folder folder;
    if (folder.path.empty()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    std::printf("full ring: %d pages x %d records = %d records\n\n", PAGE_COUNT, PAGE_RECORDS, kFullRing);

    const Run literal = LiteralStorePath(folder, 5.0);
    const double literalRate = literal.stored / literal.seconds;
    std::printf("baseline, store path as described (fresh connection, autocommit per record):\n"
                "  %ld records in %.3f s = %.0f records/s; a full ring would take %.1f s\n\n",
                literal.stored, literal.seconds, literalRate, kFullRing / literalRate);

    const Run drain = DrainFullRing(folder);
    std::printf("record writer alone, one drain of the full ring:\n"
                "  %ld records in %.3f s = %.0f records/s (%.0fx the baseline)\n\n",
                drain.stored, drain.seconds, drain.stored / drain.seconds,
                (drain.stored / drain.seconds) / literalRate);

    const Run fast = DownloadFullRing(folder, "zero-latency.db", 0);
    std::printf("download, zero-latency link (walk + queue + record writer):\n"
                "  %ld records in %.3f s = %.0f records/s (%.0fx the baseline), %d requests\n\n",
                fast.stored, fast.seconds, fast.stored / fast.seconds, (fast.stored / fast.seconds) / literalRate,
                fast.requests);

    const Run slow = DownloadFullRing(folder, "latency.db", 1);
    const double linkBound = slow.requests * 0.002;
    std::printf("download, 1 ms latency per report:\n"
                "  %ld records in %.3f s = %.0f records/s; link-bound time %d requests x 2 ms = %.3f s "
                "(measured / link-bound = %.2f)\n",
                slow.stored, slow.seconds, slow.stored / slow.seconds, slow.requests, linkBound,
                slow.seconds / linkBound);
    const Run linkOnly = DownloadFullRing(folder, "link-only.db", 1, false);
    std::printf("  the same walk without the writer running meanwhile: %.3f s (%.2f x link-bound)\n", linkOnly.seconds,
                linkOnly.seconds / linkBound);
    const Run slowDisk = DownloadFullRing(folder, "slow-disk.db", 1, true, false, 20);
    std::printf("  the same on a disk whose every sync takes 20 ms: %.3f s against %.3f s on the fast "
                "disk (ratio %.2f; target at most 1.2), %ld records stored\n",
                slowDisk.seconds, slow.seconds, slowDisk.seconds / slow.seconds, slowDisk.stored);

    RecordingMessageBoxService boxes;  // the refusal's one box
    IMessageBoxService* previous = SetMessageBoxService(&boxes);
    const Run refused = DownloadFullRing(folder, "refused.db", 1, true, true);
    SetMessageBoxService(previous);
    std::printf("  the same while the database refuses every record (a full disk): %.0f requests/s "
                "against %.0f with storage working (%.2f); %ld stored, %ld kept queued\n\n",
                refused.requests / refused.seconds, slow.requests / slow.seconds,
                (refused.requests / refused.seconds) / (slow.requests / slow.seconds), refused.stored, refused.queued);

    const double append = AppendFullRing(false);
    const double walked = AppendFullRing(true);
    std::printf("record queue, the full ring appended record by record: %.4f s; finding the tail by "
                "walking the list: %.3f s (%.0fx)\n",
                append, walked, walked / append);
    return 0;
}
