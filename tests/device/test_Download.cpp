// History download from the simulated recorder into a database file, through the record queue.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "database/CDB.h"
#include "database/RowFormat.h"
#include "device/CDeviceState.h"
#include "platform/MessageBox.h"
#include "platform/StringTable.h"
#include "resources/resource.h"
#include "simulator/DiskSimulator.h"
#include "simulator/VT583Simulator.h"
#include "support/DeviceRig.h"
#include "support/TempDir.h"

namespace {

constexpr std::uint32_t kDeviceId = 0x00123456;  // the simulator's

// Passes every report to the simulator's transport, counting the writes; a hook runs before each.
class HookTransport : public HidTransport {
public:
    explicit HookTransport(HidTransport& inner) : m_inner(inner) {}
    int writes = 0;
    std::vector<std::uint8_t> request;  // the one being written
    std::function<void(int)> beforeWrite;

    std::vector<HidDeviceInfo> Enumerate(std::uint16_t v, std::uint16_t p) override { return m_inner.Enumerate(v, p); }
    std::unique_ptr<HidHandle> Open(const std::string& path) override
    {
        auto inner = m_inner.Open(path);
        if (!inner) return nullptr;
        return std::make_unique<Handle>(*this, std::move(inner));
    }

private:
    class Handle : public HidHandle {
    public:
        Handle(HookTransport& owner, std::unique_ptr<HidHandle> inner) : m_owner(owner), m_inner(std::move(inner)) {}
        int Write(const std::uint8_t* data, std::size_t length) override
        {
            m_owner.request.assign(data, data + length);
            const int n = ++m_owner.writes;
            if (m_owner.beforeWrite) m_owner.beforeWrite(n);
            return m_inner->Write(data, length);
        }
        int Read(std::uint8_t* buffer, std::size_t length, int timeoutMs) override
        {
            return m_inner->Read(buffer, length, timeoutMs);
        }

    private:
        HookTransport& m_owner;
        std::unique_ptr<HidHandle> m_inner;
    };
    HidTransport& m_inner;
};

struct Row {
    std::string id, page, time;
    double temp = 0;
    int humi = 0;
};

std::string FieldsText(const OleDateTimeFields& f)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day, f.hour, f.minute, f.second);
    return buf;
}

// A recorder, a device state with its own database file, and the writer's drain.
struct Rig {
    TempDir dir;
    sim::SimulatorTransport simTransport;
    HookTransport transport{simTransport};
    std::shared_ptr<sim::VT583Simulator> dev = simTransport.Attach("sim-0");
    CDeviceState st;

    Rig()
    {
        PrepareDeviceState(st, dir, transport);
        dev->SetClock({2026, 3, 1, 22, 30, 0});
    }
    ~Rig() { st.m_Link.Close(); }

    void Configure() { ASSERT_TRUE(ReadConfigForDownload(st)); }
    void Drain() { st.FlushRecordQueue(); }
    int Download()
    {
        Configure();
        const int r = st.DownloadHistory();
        Drain();
        return r;
    }
    int Queued()
    {
        std::lock_guard<std::mutex> lock(st.m_csQueue);
        int n = 0;
        for (RecordNode* node = st.m_pQueueHead->pNext; node; node = node->pNext) ++n;
        return n;
    }

    void Exec(const std::string& sql)
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(st.m_strDbPath.c_str(), &db), SQLITE_OK);
        sqlite3_busy_timeout(db, 5000);  // the record writer may be in a transaction
        EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        sqlite3_close(db);
    }
    std::vector<Row> Rows()
    {
        std::vector<Row> rows;
        sqlite3* db = nullptr;
        sqlite3_open(st.m_strDbPath.c_str(), &db);
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, "SELECT ID, PagAddr, Time, Temp, Humi FROM Records ORDER BY rowid", -1, &stmt, nullptr);
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            Row r;
            r.id = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
            r.page = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
            r.time = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 2));
            r.temp = sqlite3_column_double(stmt, 3);
            r.humi = sqlite3_column_int(stmt, 4);
            rows.push_back(r);
        }
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        return rows;
    }
    // DevLastPag, DevLastPagnRecords, DevLastTime of the device's row; page 0 when none.
    struct DeviceRow {
        int rows = 0, page = 0, record = 0;
        std::string time;
    };
    DeviceRow Device()
    {
        DeviceRow d;
        sqlite3* db = nullptr;
        sqlite3_open(st.m_strDbPath.c_str(), &db);
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, "SELECT DevLastPag, DevLastPagnRecords, DevLastTime FROM Device", -1, &stmt, nullptr);
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            ++d.rows;
            d.page = sqlite3_column_int(stmt, 0);
            d.record = sqlite3_column_int(stmt, 1);
            d.time = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 2));
        }
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        return d;
    }
};

Row Expected(const sim::SimRecord& r)
{
    Row e;
    e.id = DeviceIdText(kDeviceId);
    e.page = PageText(r.page);
    e.time = FieldsText(r.time);
    e.temp = r.temp > 1000 ? 65535.0 : (r.temp - 400) / 10.0;
    e.humi = r.humi > 99 ? 255 : r.humi;
    return e;
}

// The rows from index `from` on are exactly the records, in their order.
void ExpectRows(const std::vector<Row>& rows, const std::vector<sim::SimRecord>& records, std::size_t from = 0)
{
    ASSERT_EQ(rows.size() - from, records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        const Row e = Expected(records[i]);
        const Row& a = rows[from + i];
        ASSERT_EQ(a.id, e.id) << "row " << from + i;
        ASSERT_EQ(a.page, e.page) << "row " << from + i;
        ASSERT_EQ(a.time, e.time) << "row " << from + i;
        ASSERT_NEAR(a.temp, e.temp, 1e-9) << "row " << from + i;
        ASSERT_EQ(a.humi, e.humi) << "row " << from + i;
    }
}

void ExpectResumePointAtNewest(Rig& rig)
{
    const auto records = rig.dev->Records();
    ASSERT_FALSE(records.empty());
    const auto& last = records.back();
    const auto d = rig.Device();
    EXPECT_EQ(d.rows, 1);
    EXPECT_EQ(d.page, last.page);
    EXPECT_EQ(d.record, last.recordNo);
    EXPECT_EQ(rig.st.m_bDeviceKnown, 1);
}

// The rows are the recorder's first records in order, and the Device row names the last of them
// (none without rows): records and resume point were stored together, or neither.
void ExpectStoredTogether(Rig& rig, const std::vector<sim::SimRecord>& records)
{
    const auto rows = rig.Rows();
    ASSERT_LE(rows.size(), records.size());
    ExpectRows(rows, std::vector<sim::SimRecord>(records.begin(), records.begin() + rows.size()));
    const auto d = rig.Device();
    if (rows.empty()) {
        EXPECT_EQ(d.rows, 0);
        return;
    }
    EXPECT_EQ(d.rows, 1);
    EXPECT_EQ(d.page, records[rows.size() - 1].page) << rows.size() << " rows stored";
    EXPECT_EQ(d.record, records[rows.size() - 1].recordNo) << rows.size() << " rows stored";
}

// Pages of one record each (every start of recording begins a new page).
void OneRecordPages(sim::VT583Simulator& dev, int pages)
{
    for (int i = 0; i < pages; ++i) {
        dev.StartRecording();
        dev.TakeRecords(1);
        dev.StopRecording();
        dev.AdvanceSeconds(45);
    }
}

}  // namespace

TEST(Download, NewDeviceThenOnlyNewRecordsInEachMode)
{
    for (int mode = 0; mode <= 2; ++mode) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        Rig rig;
        // 22:30 at one record a minute: the third page runs past midnight.
        rig.dev->FillRing(mode, 150);
        ASSERT_EQ(rig.Download(), 1);
        auto rows = rig.Rows();
        ExpectRows(rows, rig.dev->Records());
        EXPECT_EQ(rows[0].time, "2026-03-01 22:30:00");
        EXPECT_EQ(rows[63].time, "2026-03-01 23:33:00");
        EXPECT_EQ(rows[90].time, "2026-03-02 00:00:00");
        EXPECT_EQ(rows[149].time, "2026-03-02 00:59:00");
        ExpectResumePointAtNewest(rig);
        EXPECT_EQ(rig.st.CountStoredRecords(), 150);

        // More records on the open page and on new ones; a new segment in segmented mode.
        rig.dev->TakeRecords(30);
        if (mode == 2) {
            rig.dev->StopRecording();
            rig.dev->AdvanceSeconds(600);
            rig.dev->StartRecording();
            rig.dev->TakeRecords(70);
        }
        ASSERT_EQ(rig.Download(), 1);
        ExpectRows(rig.Rows(), rig.dev->Records());
        ExpectResumePointAtNewest(rig);

        // Nothing new: nothing stored.
        const std::size_t before = rig.Rows().size();
        ASSERT_EQ(rig.Download(), 1);
        EXPECT_EQ(rig.Rows().size(), before);
    }
}

TEST(Download, WriterDrainsWhileTheWalkRuns)
{
    // As the program runs them: the walk on one thread, the writer's drain loop on another, and
    // the monitor reloading the resume point meanwhile.
    Rig rig;
    rig.dev->FillRing(1, 64 * 40 + 17);
    rig.Configure();
    std::atomic<bool> walking{true};
    std::thread writer([&] {
        while (walking) {
            rig.Drain();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        rig.Drain();
    });
    std::thread monitor([&] {
        while (walking) {
            rig.st.LoadDeviceRow();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    const int result = rig.st.DownloadHistory();
    walking = false;
    writer.join();
    monitor.join();
    EXPECT_EQ(result, 1);
    ExpectRows(rig.Rows(), rig.dev->Records());
    ExpectResumePointAtNewest(rig);
}

TEST(Download, CycleRingThatHasWrappedComesOldestFirst)
{
    Rig rig;
    rig.dev->SetMode(1);
    OneRecordPages(*rig.dev, PAGE_COUNT + 40);  // wraps
    const int newest = rig.dev->NewestPage();
    const int gap = newest + 1;
    ASSERT_GT(gap, PAGE_FIRST);
    ASSERT_LT(gap, PAGE_LAST);
    ASSERT_EQ(rig.Download(), 1);
    const auto rows = rig.Rows();
    ExpectRows(rows, rig.dev->Records());
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(PAGE_COUNT - 1));
    EXPECT_EQ(rows.front().page, PageText(gap + 1));
    EXPECT_EQ(rows[PAGE_LAST - gap - 1].page, PageText(PAGE_LAST));
    EXPECT_EQ(rows[PAGE_LAST - gap].page, PageText(PAGE_FIRST));
    EXPECT_EQ(rows.back().page, PageText(gap - 1));
    ExpectResumePointAtNewest(rig);

    // The walk goes on around the ring from the resume point.
    OneRecordPages(*rig.dev, 5);
    ASSERT_EQ(rig.Download(), 1);
    const auto records = rig.dev->Records();
    ExpectRows(rig.Rows(), std::vector<sim::SimRecord>(records.end() - 5, records.end()), PAGE_COUNT - 1);
}

TEST(Download, CycleGapAtTheEdges)
{
    // Pages taken -> the gap: 350 -> 114 (last page of the first count block, page 115 used),
    // 323 -> 411 (not wrapped), 324 -> 88 (newest page 411), 351 -> 115.
    for (int pages : {350, 323, 324, 351}) {
        SCOPED_TRACE(std::to_string(pages) + " pages");
        Rig rig;
        rig.dev->SetMode(1);
        OneRecordPages(*rig.dev, pages);
        const int newest = rig.dev->NewestPage();
        const int gap = newest == PAGE_LAST ? PAGE_FIRST : newest + 1;
        rig.dev->ClearLog();
        ASSERT_EQ(rig.Download(), 1);
        ExpectRows(rig.Rows(), rig.dev->Records());
        ExpectResumePointAtNewest(rig);
        int singleReadsAfterGap = 0;
        for (const auto& req : rig.dev->RequestLog())
            if (req.size() > 6 && req[2] == 0x01 && req[3] == 0x00 && ((req[4] << 8) | req[5]) == gap + 1 &&
                req[6] == 1)
                ++singleReadsAfterGap;
        EXPECT_EQ(singleReadsAfterGap, gap == 114 ? 1 : 0);

        // Three more pages; from the resume point the walk goes round the ring to the new gap.
        OneRecordPages(*rig.dev, 3);
        const std::size_t before = rig.Rows().size();
        ASSERT_EQ(rig.Download(), 1);
        const auto records = rig.dev->Records();
        ExpectRows(rig.Rows(), std::vector<sim::SimRecord>(records.end() - 3, records.end()), before);
    }
}

TEST(Download, StaleResumePointStartsFromTheOldestPage)
{
    {
        SCOPED_TRACE("erased");
        Rig rig;
        rig.dev->FillRing(0, 100);
        ASSERT_EQ(rig.Download(), 1);
        rig.dev->AdvanceSeconds(3600);
        rig.dev->FillRing(0, 40);  // erased, then a new page 88
        ASSERT_EQ(rig.Download(), 1);
        ExpectRows(rig.Rows(), rig.dev->Records(), 100);
        ExpectResumePointAtNewest(rig);
    }
    {
        SCOPED_TRACE("overwritten");
        Rig rig;
        rig.dev->SetMode(1);
        OneRecordPages(*rig.dev, 20);
        ASSERT_EQ(rig.Download(), 1);
        // The resume page is overwritten once the ring has gone round.
        OneRecordPages(*rig.dev, PAGE_COUNT + 3);
        ASSERT_EQ(rig.Download(), 1);
        ExpectRows(rig.Rows(), rig.dev->Records(), 20);
        ExpectResumePointAtNewest(rig);
    }
}

TEST(Download, InterruptedDownloadLosesNothingAndStoresNothingTwice)
{
    // Unplugged; one request whose write fails (the link goes on working); no replies any more.
    const char* kinds[3] = {"unplugged", "one write fails", "no reply"};
    for (int kind = 0; kind < 3; ++kind) {
        for (int cut : {1, 2, 3, 5, 8, 9, 12, 16, 20, 21}) {
            SCOPED_TRACE(std::string(kinds[kind]) + " at request " + std::to_string(cut));
            Rig rig;
            rig.dev->FillRing(0, 200);
            rig.Configure();
            rig.transport.writes = 0;
            rig.transport.beforeWrite = [&](int n) {
                if (n != cut) return;
                if (kind == 0)
                    rig.dev->Unplug();
                else if (kind == 1)
                    rig.dev->InjectFault(sim::Fault::WriteFail, 1);
                else
                    rig.dev->InjectFault(sim::Fault::NoReply, 1000);
            };
            EXPECT_EQ(rig.st.DownloadHistory(), 0);
            rig.Drain();
            const std::size_t partial = rig.Rows().size();
            EXPECT_LT(partial, 200u);

            rig.transport.beforeWrite = nullptr;
            rig.dev->ClearFaults();
            if (kind == 0) {
                rig.dev->Replug();
                rig.st.m_Link.Open();
            }
            rig.dev->TakeRecords(10);
            ASSERT_EQ(rig.Download(), 1);
            ExpectRows(rig.Rows(), rig.dev->Records());
            ExpectResumePointAtNewest(rig);
        }
    }
}

TEST(Download, RequestFlagEndsTheDownloadBeforeTheNextRecord)
{
    for (int dbCleared = 0; dbCleared <= 1; ++dbCleared) {
        // Request 2 reads the header of page 88, 3..7 its records, 9 the first records of page 89.
        // A flag raised with a header read lets the page's first read happen; it queues nothing.
        struct Case {
            int at, writes, queued;
        };
        for (const Case c : {Case{2, 3, 0}, Case{4, 4, 13}, Case{9, 9, 64}}) {
            const int at = c.at;
            SCOPED_TRACE(std::string(dbCleared ? "m_bDbCleared" : "m_bDeviceErased") + " at request " +
                         std::to_string(at));
            Rig rig;
            rig.dev->FillRing(0, 150);
            rig.Configure();
            rig.transport.writes = 0;
            rig.transport.beforeWrite = [&](int n) {
                if (n != at) return;
                (dbCleared ? rig.st.m_bDbCleared : rig.st.m_bDeviceErased) = 1;
            };
            EXPECT_EQ(rig.st.DownloadHistory(), 1);
            EXPECT_EQ(rig.transport.writes, c.writes);
            EXPECT_EQ(rig.Queued(), c.queued);  // the records in hand are not queued
            rig.Drain();
            EXPECT_EQ(rig.Queued(), 0);

            rig.transport.beforeWrite = nullptr;
            ASSERT_EQ(rig.Download(), 1);
            EXPECT_EQ(rig.st.m_bDeviceErased, 0);
            EXPECT_EQ(rig.st.m_bDbCleared, 0);
            ExpectRows(rig.Rows(), rig.dev->Records());
        }
    }
}

TEST(Download, ClosingProgramEndsTheWalkAfterThePageUnderWay)
{
    // Request 2 reads the header of page 88, 3..7 its records, 8 the header of page 89.
    Rig rig;
    rig.dev->FillRing(0, 300);
    rig.Configure();
    rig.transport.writes = 0;
    rig.transport.beforeWrite = [&](int n) {
        if (n == 4) rig.st.m_bQuit = 1;
    };
    EXPECT_EQ(rig.st.DownloadHistory(), 1);
    EXPECT_EQ(rig.transport.writes, 7);
    EXPECT_EQ(rig.Queued(), 64);
    rig.Drain();
    EXPECT_EQ(rig.Device().record, 64);

    // The next start goes on from there and stores every record once.
    rig.transport.beforeWrite = nullptr;
    rig.st.m_bQuit = 0;
    ASSERT_EQ(rig.Download(), 1);
    ExpectRows(rig.Rows(), rig.dev->Records());
}

namespace {

// Runs test code inside the program's own database work, through SQLite's process-wide hooks:
// when the next connection is opened, after each row inserted into Records, and when a
// transaction is about to commit.
class SqlHooks {
public:
    SqlHooks()
    {
        s_hooks = this;
        sqlite3_auto_extension(reinterpret_cast<void (*)()>(&OnOpen));
    }
    ~SqlHooks()
    {
        sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(&OnOpen));
        s_hooks = nullptr;
    }
    std::function<void()> onOpen;  // once
    std::function<void(sqlite3*)> onEachOpen;
    std::function<void(sqlite3*, const char* sql)> onStatement;  // as each statement starts
    std::function<void(int inserted)> onInsert;
    std::function<void()> onCommit;

private:
    static int OnOpen(sqlite3* db, char**, const sqlite3_api_routines*)
    {
        SqlHooks* hooks = s_hooks;
        if (!hooks) return SQLITE_OK;
        sqlite3_update_hook(db, &OnUpdate, hooks);
        sqlite3_commit_hook(db, &OnCommit, hooks);
        sqlite3_trace_v2(db, SQLITE_TRACE_STMT, &OnTrace, hooks);
        if (hooks->onEachOpen) hooks->onEachOpen(db);
        if (auto once = std::exchange(hooks->onOpen, nullptr)) once();
        return SQLITE_OK;
    }
    static void OnUpdate(void* self, int op, const char*, const char* table, sqlite3_int64)
    {
        auto* hooks = static_cast<SqlHooks*>(self);
        if (op == SQLITE_INSERT && std::string(table) == "Records" && hooks->onInsert)
            hooks->onInsert(++hooks->m_inserted);
    }
    static int OnTrace(unsigned, void* self, void* stmt, void* sql)
    {
        auto* hooks = static_cast<SqlHooks*>(self);
        if (hooks->onStatement)
            hooks->onStatement(sqlite3_db_handle(static_cast<sqlite3_stmt*>(stmt)), static_cast<const char*>(sql));
        return 0;
    }
    static int OnCommit(void* self)
    {
        auto* hooks = static_cast<SqlHooks*>(self);
        if (hooks->onCommit) hooks->onCommit();
        return 0;
    }
    int m_inserted = 0;
    static inline SqlHooks* s_hooks = nullptr;
};

// A deletion of one device's rows as the management dialog makes it: begun, the rows deleted in
// one transaction, then ended.
struct Deletion {
    Rig& rig;
    std::string id;
    int done = 0;

    void Step()
    {
        switch (done++) {
        case 0: rig.st.BeginRowDeletion(id); break;
        case 1: {
            CDB db;
            ASSERT_EQ(db.Open(rig.st.m_strDbPath), 0);
            ASSERT_EQ(db.BeginTransaction(), 1);
            ASSERT_EQ(db.DeleteRecords(id), 1);
            ASSERT_EQ(db.DeleteDevice(id), 0);
            ASSERT_EQ(db.Commit(), 1);
            break;
        }
        case 2: rig.st.EndRowDeletion(true); break;
        default: break;
        }
    }
    void Rest()
    {
        while (done < 3) Step();
    }
};

// 3,000 records on the recorder, the first 1,000 stored: the next walk resumes on page 103
// (record 40) and goes on with page 104 (count block at request 5, header 6, records 7..11),
// page 105 (header 12, records 13..17), ...
void ThousandOfThreeThousandStored(Rig& rig)
{
    rig.dev->FillRing(0, 1000);
    ASSERT_EQ(rig.Download(), 1);
    ASSERT_EQ(rig.Rows().size(), 1000u);
    rig.dev->TakeRecords(2000);
    rig.Configure();
}

bool ReadsAt(const std::vector<std::uint8_t>& request, int address)
{
    return request.size() > 6 && request[2] == 0x01 && ((request[4] << 8) | request[5]) == address;
}

}  // namespace

TEST(Download, DeletingTheConnectedDevicesRowsAnywhereInAWalkOrDrainEndsWithEveryRecordOnce)
{
    // Where each of the deletion's three steps happens: before the walk, when the walk opens the
    // database to load the Device row, before the walk's n-th request, or after the walk.
    constexpr int kBeforeWalk = -2, kBeforeLoad = -1, kAfterWalk = INT_MAX;
    struct Case {
        const char* name;
        int raise, commit, end;
    };
    const Case cases[] = {
        {"raised before the walk, committed once it has loaded the row", kBeforeWalk, 1, 8},
        {"raised before the walk, committed before it loads the row", kBeforeWalk, kBeforeLoad, 3},
        {"all of it before the walk loads the row", kBeforeLoad, kBeforeLoad, kBeforeLoad},
        {"between pages", 12, 13, 14},
        {"within a page", 15, 16, 17},
        {"raised while the resumed page is fetched, ended after the walk", 4, 9, kAfterWalk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        ThousandOfThreeThousandStored(rig);
        Deletion deletion{rig, DeviceIdText(kDeviceId)};
        const int at[3] = {c.raise, c.commit, c.end};
        auto stepsAt = [&](int when) {
            while (deletion.done < 3 && at[deletion.done] == when) deletion.Step();
        };
        SqlHooks hooks;
        stepsAt(kBeforeWalk);
        hooks.onOpen = [&] { stepsAt(kBeforeLoad); };
        rig.transport.writes = 0;
        rig.transport.beforeWrite = [&](int n) {
            if (n == 12 && c.raise == 12) {
                EXPECT_TRUE(ReadsAt(rig.transport.request, PageHeaderAddress(105)));
            }
            rig.Drain();  // the writer runs all along
            stepsAt(n);
        };
        rig.st.DownloadHistory();
        rig.transport.beforeWrite = nullptr;
        hooks.onOpen = nullptr;
        rig.Drain();
        deletion.Rest();

        for (int i = 0; i < 2; ++i) ASSERT_EQ(rig.Download(), 1);
        ExpectRows(rig.Rows(), rig.dev->Records());
        ExpectResumePointAtNewest(rig);
        EXPECT_EQ(rig.st.m_bDbCleared, 0);
    }

    // Unplugged as a reply comes in: the writer stops, the state is reset on every tick, and the
    // rows are deleted before the download has noticed. Neither what was queued nor the rest of
    // the page in hand may be stored later on top of the deletion.
    {
        SCOPED_TRACE("unplugged during a walk, deleted before it is plugged in again");
        Rig rig;
        ThousandOfThreeThousandStored(rig);
        Deletion deletion{rig, DeviceIdText(kDeviceId)};
        rig.transport.writes = 0;
        rig.transport.beforeWrite = [&](int n) {
            if (n < 15) rig.Drain();
            if (n != 15) return;
            rig.st.Reset();
            deletion.Rest();
            rig.st.Reset();
        };
        EXPECT_EQ(rig.st.WalkHistory(), DownloadOutcome::Stopped);  // overtaken
        EXPECT_EQ(rig.Queued(), 0);
        rig.transport.beforeWrite = nullptr;

        for (int i = 0; i < 2; ++i) ASSERT_EQ(rig.Download(), 1);
        ExpectRows(rig.Rows(), rig.dev->Records());
        ExpectResumePointAtNewest(rig);
    }

    // The drain: the flag raised between its inserts (it then stores nothing), or after its last
    // look at the flag (it commits, and the deletion's transaction waits for it).
    for (bool atCommit : {false, true}) {
        SCOPED_TRACE(atCommit ? "raised as a drain commits" : "raised between a drain's inserts");
        Rig rig;
        ThousandOfThreeThousandStored(rig);
        ASSERT_EQ(rig.st.DownloadHistory(), 1);
        ASSERT_EQ(rig.Queued(), 2000);
        Deletion deletion{rig, DeviceIdText(kDeviceId)};
        {
            SqlHooks hooks;
            if (atCommit) {
                hooks.onCommit = [&] {
                    if (deletion.done == 0) deletion.Step();
                };
            } else {
                hooks.onInsert = [&](int inserted) {
                    if (inserted == 500) deletion.Step();
                };
            }
            rig.Drain();
        }
        EXPECT_EQ(deletion.done, 1);
        EXPECT_EQ(rig.Rows().size(), atCommit ? 3000u : 1000u);
        deletion.Rest();
        EXPECT_TRUE(rig.Rows().empty());

        for (int i = 0; i < 2; ++i) ASSERT_EQ(rig.Download(), 1);
        ExpectRows(rig.Rows(), rig.dev->Records());
        ExpectResumePointAtNewest(rig);
    }
}

TEST(Download, DeletingAnotherDevicesRowsNeitherBlocksNorLosesTheConnectedOnesRecords)
{
    // All of the deletion while one request of the walk is under way: the walk never sees the
    // flag up until the deletion has ended, and the writer drops what was queued meanwhile.
    Rig rig;
    ThousandOfThreeThousandStored(rig);
    const std::string other = "00ABCDEF";
    rig.Exec("INSERT INTO Device VALUES ('" + other + "', '', 0, '2026-01-01 00:00:00', 5, 88)");
    rig.Exec("INSERT INTO Records VALUES ('" + other + "', '0058', '2026-01-01 00:00:00', 21.5, 40)");
    Deletion deletion{rig, other};
    rig.transport.writes = 0;
    rig.transport.beforeWrite = [&](int n) {
        if (n != 15) {
            rig.Drain();
            return;
        }
        // Records 14..26 of page 105 are queued.
        deletion.Step();
        rig.Drain();
        deletion.Step();
        rig.Drain();
        deletion.Step();
    };
    rig.st.DownloadHistory();
    rig.transport.beforeWrite = nullptr;
    rig.Drain();
    ASSERT_EQ(deletion.done, 3);

    // The next download is not blocked and fetches what was dropped.
    ASSERT_EQ(rig.Download(), 1);
    EXPECT_EQ(rig.st.m_bDbCleared, 0);
    ExpectRows(rig.Rows(), rig.dev->Records());
    ExpectResumePointAtNewest(rig);
}

TEST(Download, HeaderThatDoesNotConvertTwiceEndsTheWalk)
{
    Rig rig;
    rig.dev->FillRing(0, 64 * 5);
    rig.dev->Poke(PageHeaderAddress(90) + 1, 0x13);  // month 13
    ASSERT_EQ(rig.Download(), 1);
    auto records = rig.dev->Records();
    records.resize(128);  // pages 88 and 89
    ExpectRows(rig.Rows(), records);
    // Both reads of the header were made.
    int headerReads = 0;
    for (const auto& req : rig.dev->RequestLog())
        if (req.size() > 6 && req[3] == 0x00 && req[2] == 0x01 && ((req[4] << 8) | req[5]) == PageHeaderAddress(90))
            ++headerReads;
    EXPECT_EQ(headerReads, 2);
    // The walk stops there, but what lies after it was never fetched: the download is no success,
    // now or at the next try.
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(rig.st.WalkHistory(), DownloadOutcome::Unreadable);
        rig.Drain();
    }
    EXPECT_EQ(rig.Rows().size(), 128u);

    // The stored page still has the stored time but its count byte is no count: what it holds
    // cannot be told, nothing is fetched, and the download is no success either.
    rig.dev->Poke(PageHeaderAddress(90) + 1, 0x03);
    rig.dev->Poke(89, 0x50);
    rig.dev->ClearLog();
    EXPECT_EQ(rig.st.WalkHistory(), DownloadOutcome::Unreadable);
    EXPECT_EQ(rig.Queued(), 0);
    EXPECT_EQ(rig.dev->RequestLog().size(), 2u);  // its count byte and its header
}

TEST(Download, AWalkThatCannotResumeStoresOnlyWhatIsNotStoredYet)
{
    // A Device row that exists but cannot be used, or none beside stored records: the walk starts
    // from the oldest page, and the records stored already are not stored again.
    struct Case {
        const char* name;
        const char* sql;
    };
    const Case cases[] = {
        {"page 500", "UPDATE Device SET DevLastPag=500"},
        {"page NULL", "UPDATE Device SET DevLastPag=NULL"},
        {"record 200", "UPDATE Device SET DevLastPagnRecords=200"},
        {"record -5", "UPDATE Device SET DevLastPagnRecords=-5"},
        {"record NULL", "UPDATE Device SET DevLastPagnRecords=NULL"},
        {"time NULL", "UPDATE Device SET DevLastTime=NULL"},
        {"time garbage", "UPDATE Device SET DevLastTime='garbage'"},
        {"time with a T", "UPDATE Device SET DevLastTime='2026-11-01T12:48:00'"},
        {"time a Julian day", "UPDATE Device SET DevLastTime=2461346.5"},
        {"time of another page", "UPDATE Device SET DevLastTime='2026-02-01 10:00:00'"},
        {"no Device row", "DELETE FROM Device"},
    };
    for (int mode : {0, 1}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", mode " + std::to_string(mode));
            Rig rig;
            // Cycle mode: a ring that has wrapped, so the oldest page follows the gap.
            rig.dev->FillRing(mode, mode == 1 ? 323 * 64 + 10 : 778);
            ASSERT_EQ(rig.Download(), 1);
            rig.dev->TakeRecords(40);
            rig.Exec(c.sql);
            ASSERT_EQ(rig.Download(), 1);
            // Every record the recorder holds once, under its own ID; in cycle mode the rows of
            // the pages it has overwritten since stay as they were.
            const auto records = rig.dev->Records();
            const auto rows = rig.Rows();
            std::set<std::string> seen;
            for (const Row& r : rows)
                ASSERT_TRUE(seen.insert(r.page + " " + r.time).second) << "stored twice: " << r.time;
            for (const auto& rec : records)
                ASSERT_EQ(seen.count(PageText(rec.page) + " " + FieldsText(rec.time)), 1u) << FieldsText(rec.time);
            if (mode == 0) {
                EXPECT_EQ(rows.size(), records.size());
            }
            ExpectResumePointAtNewest(rig);
        }
    }
}

TEST(Download, AWalkStartsOnlyForAConfigurationReadInItsGeneration)
{
    // The ID and mode a walk stores under are those of the recorder now connected: nothing is
    // fetched for a recorder whose configuration was not read in this generation, with ID 0,
    // while its rows are being deleted, or while an erase is about to go out.
    struct Case {
        const char* name;
        std::function<void(Rig&)> before;
    };
    const Case cases[] = {
        {"configuration never read", [](Rig& rig) { rig.st.Reset(); }},
        {"removed after its read",
         [](Rig& rig) {
             rig.Configure();
             rig.st.Reset();
         }},
        {"read, not yet ended", [](Rig& rig) { ASSERT_EQ(rig.st.ReadConfig(), 1); }},
        {"ID 0",
         [](Rig& rig) {
             rig.dev->SetDeviceId(0);
             rig.Configure();
         }},
        {"its rows being deleted",
         [](Rig& rig) {
             rig.Configure();
             rig.st.BeginRowDeletion("00123456");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.dev->FillRing(0, 100);
        c.before(rig);
        rig.dev->ClearLog();
        EXPECT_EQ(rig.st.WalkHistory(), DownloadOutcome::NotStarted);
        EXPECT_TRUE(rig.dev->RequestLog().empty());
        EXPECT_EQ(rig.Queued(), 0);
    }
    // The same recorder read again: it is downloaded under its own ID and mode.
    Rig rig;
    rig.dev->FillRing(2, 100);
    rig.st.Reset();
    rig.Configure();
    EXPECT_EQ(rig.st.WalkHistory(), DownloadOutcome::Complete);
    rig.Drain();
    ExpectRows(rig.Rows(), rig.dev->Records());
}

TEST(Download, ARecorderSwappedDuringItsConfigurationReadIsReadAgain)
{
    // The recorder is removed and another opened while the monitor reads the configuration and
    // sets the clock: the read does not count, and the next one reads the recorder now there.
    Rig rig;
    rig.st.m_Link.m_fnNow = [] { return OleDateTime(2026, 3, 2, 9, 0, 0); };
    for (const int swapAt : {1, 2, 3, 4}) {  // the configuration's three reads, the clock
        SCOPED_TRACE(swapAt);
        rig.st.Reset();
        rig.transport.writes = 0;
        rig.transport.beforeWrite = [&](int n) {
            if (n == swapAt) rig.st.Reset();
        };
        const CDeviceState::ConfigRead first = rig.st.ReadConfigAndSetClock();
        EXPECT_TRUE(first == CDeviceState::ConfigRead::Failed || first == CDeviceState::ConfigRead::DeviceChanged)
            << static_cast<int>(first);
        EXPECT_EQ(rig.st.m_bReadConfig, 1);
        EXPECT_EQ(rig.st.WalkHistory(), DownloadOutcome::NotStarted);
        rig.transport.beforeWrite = nullptr;
        EXPECT_EQ(rig.st.ReadConfigAndSetClock(), CDeviceState::ConfigRead::ClockSet);
        EXPECT_EQ(rig.st.m_bReadConfig, 0);
        EXPECT_EQ(rig.st.m_dwDeviceID, kDeviceId);
    }
}

TEST(Download, ADeletionThatFailsLeavesNoGap)
{
    // The connected recorder's rows are being deleted and the deletion fails (a full disk, a
    // lock) after a few exchanges: a walk under way stops at the record the deletion keeps from
    // the queue, and a walk asked for meanwhile does not start; the next walks then fetch every
    // record there is, each once.
    for (const bool walkFirst : {true, false}) {
        SCOPED_TRACE(walkFirst ? "walk under way" : "walk asked for during the deletion");
        Rig rig;
        rig.dev->FillRing(0, 3000);
        ASSERT_EQ(rig.Download(), 1);
        rig.dev->TakeRecords(2000);
        bool deleting = !walkFirst;
        if (deleting) rig.st.BeginRowDeletion("00123456");
        rig.transport.writes = 0;
        rig.transport.beforeWrite = [&](int n) {
            if (n == 12 && !deleting) {
                rig.st.BeginRowDeletion("00123456");
                deleting = true;
            } else if (n == 30 && deleting) {
                rig.st.EndRowDeletion(false);
                deleting = false;
            }
        };
        const DownloadOutcome outcome = rig.st.WalkHistory();
        rig.transport.beforeWrite = nullptr;
        EXPECT_EQ(outcome, walkFirst ? DownloadOutcome::Stopped : DownloadOutcome::NotStarted);
        if (deleting) rig.st.EndRowDeletion(false);
        rig.Drain();
        for (int i = 0; i < 2; ++i) ASSERT_EQ(rig.Download(), 1);
        ExpectRows(rig.Rows(), rig.dev->Records());
    }
}

TEST(Download, IdsThatDifferOnlyInLetterCaseAreOneRecorder)
{
    // A user's file writes the recorder's ID in small letters: its records are resumed, counted
    // and deleted as the recorder's own, and new ones join them under that spelling.
    Rig rig;
    rig.dev->SetDeviceId(0x0012AB34);
    rig.dev->FillRing(0, 500);
    ASSERT_EQ(rig.Download(), 1);
    rig.Exec("UPDATE Records SET ID=lower(ID); UPDATE Device SET DevID=lower(DevID)");
    rig.dev->TakeRecords(100);
    ASSERT_EQ(rig.Download(), 1);
    const auto rows = rig.Rows();
    ASSERT_EQ(rows.size(), 600u);
    for (const Row& r : rows) ASSERT_EQ(r.id, "0012ab34");
    EXPECT_EQ(rig.Device().rows, 1);
    EXPECT_EQ(rig.st.CountStoredRecords(), 600);
    // The same without a Device row.
    rig.Exec("DELETE FROM Device");
    ASSERT_EQ(rig.Download(), 1);
    EXPECT_EQ(rig.Rows().size(), 600u);
    // A deletion takes every spelling.
    rig.Exec("UPDATE Records SET ID='0012Ab34' WHERE rowid % 2 = 0");
    CDB db;
    ASSERT_EQ(db.Open(rig.st.m_strDbPath), 0);
    EXPECT_EQ(db.DeleteRecords("0012AB34"), 1);
    EXPECT_EQ(db.DeleteDevice("0012AB34"), 0);
    db.Close();
    EXPECT_TRUE(rig.Rows().empty());
    EXPECT_EQ(rig.Device().rows, 0);
}

TEST(Download, FailingInsertKeepsTheRecordAndTheResumePointBeforeIt)
{
    ASSERT_TRUE(LoadEnglishStrings());
    ScopedMessageBoxRecorder boxes;
    Rig rig;
    rig.dev->FillRing(0, 100);
    const auto records = rig.dev->Records();
    rig.Configure();
    ASSERT_EQ(rig.st.DownloadHistory(), 1);
    ASSERT_EQ(rig.Queued(), 100);

    // The 71st record is refused.
    rig.Exec("CREATE TRIGGER refuse BEFORE INSERT ON Records WHEN NEW.Time = '" + FieldsText(records[70].time) +
             "' BEGIN SELECT RAISE(ABORT, 'refused'); END");
    rig.Drain();
    ExpectRows(rig.Rows(), std::vector<sim::SimRecord>(records.begin(), records.begin() + 70));
    auto d = rig.Device();
    EXPECT_EQ(d.page, records[69].page);
    EXPECT_EQ(d.record, records[69].recordNo);
    EXPECT_EQ(rig.Queued(), 30);

    EXPECT_EQ(rig.st.m_bStoreFailed, 1);

    rig.Drain();  // still refused: nothing changes, nothing is lost, nothing more is said
    EXPECT_EQ(rig.Rows().size(), 70u);
    EXPECT_EQ(rig.Queued(), 30);
    ASSERT_EQ(boxes->Count(), 1u);
    EXPECT_EQ(boxes->Entries()[0].text, LoadString(IDS_RECORDS_NOT_STORED) + "\nrefused");

    rig.Exec("DROP TRIGGER refuse");
    rig.Drain();
    ExpectRows(rig.Rows(), records);
    ExpectResumePointAtNewest(rig);
    EXPECT_EQ(rig.Queued(), 0);
    EXPECT_EQ(rig.st.m_bStoreFailed, 0);

    // Refused again after storing worked: shown again.
    rig.Exec("CREATE TRIGGER refuse BEFORE INSERT ON Records BEGIN SELECT RAISE(FAIL, 'refused'); END");
    rig.st.QueueRecord(kDeviceId, 0, 90, 60, 635, 45, 1, OleDateTime(2026, 3, 2, 0, 0, 0));
    rig.Drain();
    EXPECT_EQ(boxes->Count(), 2u);
    EXPECT_EQ(rig.Queued(), 1);
}

TEST(RecordStorage, WriterBacksOffAfterAFailedDrainAndLosesNothing)
{
    ScopedMessageBoxRecorder boxes;
    Rig rig;
    const OleDateTime start(2026, 3, 1, 10, 0, 0);
    auto append = [&](int recordNo) { rig.st.QueueRecord(kDeviceId, 0, 88, 60, 635, 45, recordNo, start); };
    auto pauseOver = [&] {
        std::lock_guard<std::mutex> lock(rig.st.m_csQueue);
        rig.st.m_tRetryAt = {};
    };
    for (int k = 1; k <= 3; ++k) append(k);
    rig.Exec("CREATE TRIGGER refuse BEFORE INSERT ON Records BEGIN SELECT RAISE(FAIL, 'full'); END");

    // Each failed drain doubles the pause before the next one, up to a second; a pass within the
    // pause drains nothing.
    int expected = 10;
    for (int drain = 0; drain < 9; ++drain) {
        rig.st.StoreQueuedRecords();
        EXPECT_EQ(rig.st.m_nDrainBackoffMs, expected);
        const unsigned drains = rig.st.m_nDrains;
        rig.st.StoreQueuedRecords();
        EXPECT_EQ(rig.st.m_nDrains, drains);
        expected = std::min(1000, 2 * expected);
        pauseOver();
    }
    EXPECT_EQ(rig.Queued(), 3);
    EXPECT_EQ(boxes->Count(), 1u);

    // Records queued meanwhile follow the waiting ones; once the database takes them again, all
    // are stored in their order and the pause is over.
    for (int k = 4; k <= 5; ++k) append(k);
    rig.Exec("DROP TRIGGER refuse");
    rig.st.StoreQueuedRecords();
    EXPECT_EQ(rig.Queued(), 0);
    EXPECT_EQ(rig.st.m_nDrainBackoffMs, 0);
    const auto rows = rig.Rows();
    ASSERT_EQ(rows.size(), 5u);
    for (int k = 0; k < 5; ++k) EXPECT_EQ(rows[k].time, DateTimeText(start.AddSeconds(60 * k)));
    EXPECT_EQ(rig.Device().record, 5);

    // A deletion of the device's rows drops what waits, however long the pause.
    rig.Exec("CREATE TRIGGER refuse BEFORE INSERT ON Records BEGIN SELECT RAISE(FAIL, 'full'); END");
    append(6);
    rig.st.StoreQueuedRecords();
    ASSERT_EQ(rig.st.m_bStoreFailed, 1);
    append(7);
    rig.st.m_dwDeviceID = kDeviceId;
    rig.st.BeginRowDeletion(DeviceIdText(kDeviceId));
    rig.st.EndRowDeletion(true);
    EXPECT_EQ(rig.Queued(), 0);
    EXPECT_EQ(rig.Rows().size(), 5u);
}

TEST(Download, UnreadableDeviceTableEndsTheDownloadWithoutResult)
{
    // The Device table cannot be read (an integer overflow while a row is made) in the count or in
    // the row itself, or the database cannot be opened at all.
    const char* countFails =
        "CREATE VIEW Device AS SELECT CASE WHEN abs(-9223372036854775807 - 1) THEN DevID END AS DevID, "
        "DevTitle, DevMoudle, DevLastTime, DevLastPagnRecords, DevLastPag FROM Saved";
    const char* rowFails = "CREATE VIEW Device AS SELECT DevID, DevTitle, DevMoudle, DevLastTime, DevLastPagnRecords, "
                           "abs(-9223372036854775807 - 1) AS DevLastPag FROM Saved";
    for (const char* view : {countFails, rowFails, static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(view ? view : "no database");
        ScopedMessageBoxRecorder boxes;
        Rig rig;
        rig.dev->FillRing(0, 50);
        ASSERT_EQ(rig.Download(), 1);
        rig.dev->TakeRecords(10);

        const std::string good = rig.st.m_strDbPath;
        if (view) {
            rig.Exec("ALTER TABLE Device RENAME TO Saved");
            rig.Exec(view);
        } else {
            WriteFile(rig.dir.File("junk.db"), std::string(4096, 'x'));
            rig.st.m_strDbPath = rig.dir.File("junk.db");
        }
        rig.dev->ClearLog();
        EXPECT_EQ(rig.st.LoadDeviceRow(), 0);
        EXPECT_EQ(rig.st.m_bDeviceKnown, 1);
        // Not taken for a new device: nothing is fetched, nothing queued.
        EXPECT_EQ(rig.st.DownloadHistory(), 0);
        EXPECT_EQ(rig.Queued(), 0);
        EXPECT_TRUE(rig.dev->RequestLog().empty());

        rig.st.m_strDbPath = good;
        if (view) {
            rig.Exec("DROP VIEW Device");
            rig.Exec("ALTER TABLE Saved RENAME TO Device");
        }
        ASSERT_EQ(rig.Download(), 1);
        ExpectRows(rig.Rows(), rig.dev->Records());  // every record once
    }
}

TEST(RecordStorage, StoredCountFollowsStoresDeletionsAndDevices)
{
    Rig rig;
    rig.st.m_dwDeviceID = kDeviceId;
    EXPECT_EQ(rig.st.StoredRecordCount(), 0);
    rig.dev->FillRing(0, 100);
    ASSERT_EQ(rig.Download(), 1);
    EXPECT_EQ(rig.st.StoredRecordCount(), 100);

    // Idle passes count nothing: a row written behind the program's back is not seen.
    rig.Exec("INSERT INTO Records(ID, Time) VALUES ('00123456', '2020-01-01 00:00:00')");
    for (int pass = 0; pass < 3; ++pass) EXPECT_EQ(rig.st.StoredRecordCount(), 100);

    // Stored records are added on.
    rig.dev->TakeRecords(30);
    ASSERT_EQ(rig.Download(), 1);
    EXPECT_EQ(rig.st.StoredRecordCount(), 130);

    // Another device, then a deletion through the program (committed on another connection).
    rig.Exec("INSERT INTO Records(ID, Time) VALUES ('00ABCDEF', '2020-01-01 00:00:00')");
    rig.st.m_dwDeviceID = 0x00ABCDEF;
    EXPECT_EQ(rig.st.StoredRecordCount(), 1);
    rig.st.m_dwDeviceID = kDeviceId;
    EXPECT_EQ(rig.st.StoredRecordCount(), 131);
    CDB manage;
    ASSERT_EQ(manage.Open(rig.st.m_strDbPath), 0);
    ASSERT_EQ(manage.BeginTransaction(), 1);
    ASSERT_EQ(manage.DeleteRecords(DeviceIdText(kDeviceId)), 1);
    EXPECT_EQ(rig.st.StoredRecordCount(), 131);  // not committed yet
    ASSERT_EQ(manage.Commit(), 1);
    EXPECT_EQ(rig.st.StoredRecordCount(), 0);

    // Another database file; and a file that could not be opened and then opens again, which may
    // be another file by then.
    const std::string first = rig.st.m_strDbPath;
    const std::string second = rig.dir.File("second.db");
    ASSERT_TRUE(CopyShippedDatabase(second));
    rig.st.m_strDbPath = second;
    rig.Exec("INSERT INTO Records(ID, Time) VALUES ('00123456', '2020-01-01 00:00:00')");
    EXPECT_EQ(rig.st.StoredRecordCount(), 1);
    std::filesystem::rename(second, rig.dir.File("aside.db"));
    {
        ScopedMessageBoxRecorder boxes;
        EXPECT_EQ(manage.Open(second), -1);
        std::filesystem::copy_file(first, second);
        EXPECT_EQ(manage.Open(second), 0);
    }
    EXPECT_EQ(rig.st.StoredRecordCount(), 0);  // the first file's rows, all deleted above
    EXPECT_EQ(rig.st.CountStoredRecords(), 0);
}

TEST(RecordStorage, DrainEdgeCases)
{
    ScopedMessageBoxRecorder boxes;
    Rig rig;
    // An empty queue opens nothing, even on a database that cannot be opened.
    const std::string good = rig.st.m_strDbPath;
    rig.st.m_strDbPath = rig.dir.File("missing/none.db");
    rig.Drain();
    EXPECT_EQ(boxes->Count(), 0u);

    // Records wait in the queue while the database cannot be opened.
    const OleDateTime start(2026, 3, 1, 23, 59, 30);
    rig.st.QueueRecord(kDeviceId, 0, 88, 60, 635, 45, 1, start);
    rig.st.QueueRecord(kDeviceId, 0, 88, 60, 1001, 100, 2, start);
    rig.st.QueueRecord(kDeviceId, 0, 88, 60, 0, 0, 64, start);
    rig.Drain();
    EXPECT_EQ(boxes->Count(), 1u);
    EXPECT_EQ(rig.Queued(), 3);
    EXPECT_EQ(rig.st.m_bDeviceKnown, 0);

    rig.st.m_strDbPath = good;
    rig.Drain();
    EXPECT_EQ(rig.Queued(), 0);
    const auto rows = rig.Rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].time, "2026-03-01 23:59:30");
    EXPECT_NEAR(rows[0].temp, 23.5, 1e-9);
    EXPECT_EQ(rows[0].humi, 45);
    EXPECT_EQ(rows[1].time, "2026-03-02 00:00:30");
    EXPECT_NEAR(rows[1].temp, 65535, 1e-9);
    EXPECT_EQ(rows[1].humi, 255);
    EXPECT_EQ(rows[2].time, "2026-03-02 01:02:30");
    EXPECT_NEAR(rows[2].temp, -40.0, 1e-9);
    auto d = rig.Device();
    EXPECT_EQ(d.rows, 1);
    EXPECT_EQ(d.page, 88);
    EXPECT_EQ(d.record, 64);
    EXPECT_EQ(d.time, "2026-03-01 23:59:30");
    EXPECT_EQ(rig.st.m_bDeviceKnown, 1);

    // While a deletion of their device's rows runs, queued records wait; a deletion that fails
    // leaves them to be stored, one that commits drops them. Another device's records stay.
    const std::string id = DeviceIdText(kDeviceId);
    rig.st.m_dwDeviceID = kDeviceId;
    for (bool committed : {false, true}) {
        SCOPED_TRACE(committed ? "committed" : "failed");
        rig.st.QueueRecord(kDeviceId, 0, 89, 60, 635, 45, 1, start);
        rig.st.QueueRecord(0x00ABCDEF, 0, 89, 60, 635, 45, 1, start);
        rig.st.BeginRowDeletion(id);
        rig.Drain();
        EXPECT_EQ(rig.Queued(), 2);
        rig.st.m_dwDeviceID = 0x00ABCDEF;  // another device is connected meanwhile
        rig.st.EndRowDeletion(committed);
        rig.st.m_dwDeviceID = kDeviceId;
        EXPECT_EQ(rig.Queued(), committed ? 1 : 2);
        rig.Drain();
        EXPECT_EQ(rig.Queued(), 0);
        EXPECT_EQ(rig.Rows().size(), committed ? 6u : 5u);
    }
}

TEST(RecordStorage, DeviceRowLoaderAndCount)
{
    Rig rig;
    rig.st.m_dwDeviceID = kDeviceId;
    rig.st.m_nLastPage = 123;
    rig.st.m_nLastRecord = 7;
    EXPECT_EQ(rig.st.LoadDeviceRow(), 1);
    EXPECT_EQ(rig.st.m_bDeviceKnown, 0);
    EXPECT_EQ(rig.st.m_nLastPage, 123);
    EXPECT_EQ(rig.st.m_nLastRecord, 7);
    EXPECT_EQ(rig.st.CountStoredRecords(), 0);

    rig.Exec("INSERT INTO Device VALUES ('00123456', '', 1, '2026-03-01 22:30:00', 12, 95)");
    EXPECT_EQ(rig.st.LoadDeviceRow(), 1);
    EXPECT_EQ(rig.st.m_bDeviceKnown, 1);
    EXPECT_EQ(rig.st.m_nLastPage, 95);
    EXPECT_EQ(rig.st.m_nLastRecord, 12);
    EXPECT_TRUE(rig.st.m_LastTime == OleDateTime(2026, 3, 1, 22, 30, 0));

    // A resume point that cannot be used is no resume point.
    rig.Exec("UPDATE Device SET DevLastTime = 'no date'");
    rig.st.LoadDeviceRow();
    EXPECT_EQ(rig.st.m_bDeviceKnown, 0);
    rig.Exec("UPDATE Device SET DevLastTime = '2026-03-01 22:30:00', DevLastPag = 7");
    rig.st.LoadDeviceRow();
    EXPECT_EQ(rig.st.m_bDeviceKnown, 0);
}

TEST(PageDownload, RequestsAndQueue)
{
    Rig rig;
    rig.dev->FillRing(0, 64);
    rig.Configure();
    ASSERT_TRUE(rig.st.BeginWalk());  // the pages are fetched for a walk
    const OleDateTime start(2026, 3, 1, 22, 30, 0);

    // The rest of a page after 10 stored records: five reads, numbered 11..64.
    rig.dev->ClearLog();
    ASSERT_EQ(rig.st.ResumePage(10, 88, 64, start, 60), 1);
    const auto log = rig.dev->RequestLog();
    ASSERT_EQ(log.size(), 5u);
    const int offsets[5] = {30, 69, 108, 147, 186};
    const int lengths[5] = {39, 39, 39, 39, 6};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ((log[i][4] << 8) | log[i][5], PageDataAddress(88) + offsets[i]);
        EXPECT_EQ(log[i][6], lengths[i]);
    }
    ASSERT_EQ(rig.Queued(), 54);
    EXPECT_EQ(rig.st.m_pQueueHead->pNext->nRecordNo, 11);
    EXPECT_EQ(rig.st.m_nLastRecord, 64);

    // Everything already stored: no request.
    rig.dev->ClearLog();
    EXPECT_EQ(rig.st.ResumePage(64, 88, 64, start, 60), 1);
    EXPECT_TRUE(rig.dev->RequestLog().empty());

    // A count beyond a page is capped at 64 records.
    rig.Drain();
    rig.dev->ClearLog();
    EXPECT_EQ(rig.st.DownloadPage(88, 256, start, 60), 1);
    EXPECT_EQ(rig.Queued(), 64);
    EXPECT_EQ(rig.dev->RequestLog().size(), 5u);

    // A request flag: the record in hand is counted, not queued.
    rig.Drain();
    rig.st.m_bDeviceErased = 1;
    EXPECT_EQ(rig.st.DownloadPage(88, 14, start, 60), 1);
    EXPECT_EQ(rig.st.m_nLastRecord, 1);
    EXPECT_EQ(rig.Queued(), 0);
}

TEST(Download, DownloadAgainAfterAFullRingStoresNothingNew)
{
    for (int mode = 0; mode <= 2; ++mode) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        Rig rig;
        rig.dev->FillRing(mode, PAGE_COUNT * PAGE_RECORDS);
        ASSERT_EQ(rig.Download(), 1);
        const auto records = rig.dev->Records();
        ExpectRows(rig.Rows(), records);
        ExpectResumePointAtNewest(rig);
        for (int again = 0; again < 2; ++again) {
            ASSERT_EQ(rig.Download(), 1);
            EXPECT_EQ(rig.Rows().size(), records.size());
        }
    }
}

TEST(RecordStorage, EveryStorageFailureKeepsRecordsAndResumePointTogether)
{
    // A write or a sync of a drain fails, once (a passing fault) or from then on; with the
    // program's page cache the writes come at the commit, with a small one also between the
    // inserts, where SQLite rolls the whole transaction back by itself. Then the disk works again.
    struct Fault {
        const char* name;
        bool onSync;
        int code;
    };
    const Fault faults[] = {
        {"disk full", false, SQLITE_FULL},
        {"write error", false, SQLITE_IOERR_WRITE},
        {"sync error", true, SQLITE_IOERR_FSYNC},
        {"busy at the sync", true, SQLITE_BUSY},
    };
    ASSERT_TRUE(LoadEnglishStrings());
    for (const Fault& fault : faults) {
        for (bool smallCache : {false, true}) {
            for (int from : {1, 7, 30}) {
                for (int count : {1, 0}) {
                    SCOPED_TRACE(std::string(fault.name) + (smallCache ? ", small cache" : "") + ", from " +
                                 std::to_string(from) + (count ? ", once" : ", from then on"));
                    ScopedMessageBoxRecorder boxes;
                    sim::SimDisk disk;
                    SqlHooks hooks;
                    if (smallCache)
                        hooks.onEachOpen = [](sqlite3* db) {
                            sqlite3_exec(db, "PRAGMA cache_size=4", nullptr, nullptr, nullptr);
                        };
                    Rig rig;
                    rig.dev->FillRing(0, 500);
                    ASSERT_EQ(rig.Download(), 1);
                    rig.dev->TakeRecords(1500);
                    rig.Configure();
                    ASSERT_EQ(rig.st.DownloadHistory(), 1);
                    ASSERT_EQ(rig.Queued(), 1500);
                    const auto records = rig.dev->Records();

                    if (fault.onSync)
                        disk.FailSyncs(from, count, fault.code);
                    else
                        disk.FailWrites(from, count, fault.code);
                    rig.Drain();
                    ExpectStoredTogether(rig, records);
                    rig.Drain();
                    disk.ClearFaults();
                    ExpectStoredTogether(rig, records);
                    EXPECT_EQ(rig.Rows().size() + rig.Queued(), records.size());
                    EXPECT_LE(boxes->Count(), 1u) << [&] {
                        std::string seen;
                        for (const auto& e : boxes->Entries()) seen += "[" + e.text + "] ";
                        return seen;
                    }();

                    rig.Drain();
                    ExpectRows(rig.Rows(), records);
                    ExpectResumePointAtNewest(rig);
                    EXPECT_EQ(rig.Queued(), 0);
                }
            }
        }
    }
}

namespace {

// A file system that really fills up: a small tmpfs where this process may mount one, else a
// limit on the size of every file this process writes (SIGXFSZ ignored: a write past it fails).
class SmallDisk {
public:
    static constexpr long kLittle = 32 * 1024;

    SmallDisk(const std::string& dir, long bytes) : m_dir(dir), m_bytes(bytes)
    {
        std::filesystem::create_directories(dir);
        const std::string size = "size=" + std::to_string(bytes);
        m_mounted = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, size.c_str()) == 0;
        // Room that another program gives back while the disk is full (FreeALittle).
        if (m_mounted) WriteFile(Ballast(), std::string(kLittle, 'b'));
    }
    ~SmallDisk()
    {
        Grow();
        if (m_mounted) ::umount2(m_dir.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return m_mounted; }
    // From here on it is full once the bytes are used (the files already there count).
    void Limit()
    {
        if (m_mounted || m_limited) return;
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{static_cast<rlim_t>(m_bytes), m_saved.rlim_max};
        m_limited = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    // A little room comes back, not enough for what waits.
    void FreeALittle()
    {
        if (m_mounted) {
            std::filesystem::remove(Ballast());
        } else if (m_limited) {
            rlimit limit{};
            getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur += kLittle;
            setrlimit(RLIMIT_FSIZE, &limit);
        }
    }
    // Space comes back.
    void Grow()
    {
        if (m_mounted) {
            ::mount("tmpfs", m_dir.c_str(), "tmpfs", MS_REMOUNT, "size=256m");
        } else if (m_limited) {
            setrlimit(RLIMIT_FSIZE, &m_saved);
            std::signal(SIGXFSZ, m_savedHandler);
            m_limited = false;
        }
    }

private:
    std::string Ballast() const { return m_dir + "/ballast"; }
    std::string m_dir;
    long m_bytes;
    bool m_mounted = false;
    bool m_limited = false;
    rlimit m_saved{};
    void (*m_savedHandler)(int) = SIG_DFL;
};

}  // namespace

TEST(Download, FullDiskThenRestartWithSpaceBackStoresEveryRecordOnce)
{
    // A full ring downloaded into a data folder of 200 kB, the writer draining as the walk goes;
    // the program is then closed with records still waiting, space comes back, and the program
    // starts again. With the program's page cache the disk fills at a commit; with a small one
    // between inserts, where SQLite rolls the transaction back by itself. If the resume point
    // were then written on its own, it would just fit: a little room comes back at that moment.
    ASSERT_TRUE(LoadEnglishStrings());
    for (bool smallCache : {false, true}) {
        SCOPED_TRACE(smallCache ? "small cache" : "the program's cache");
        ScopedMessageBoxRecorder boxes;
        TempDir dir;
        SmallDisk disk(dir.File("data"), 200 * 1024);
        SqlHooks hooks;
        if (smallCache)
            hooks.onEachOpen = [](sqlite3* db) { sqlite3_exec(db, "PRAGMA cache_size=4", nullptr, nullptr, nullptr); };
        bool freed = false;
        hooks.onStatement = [&](sqlite3* db, const char* sql) {
            if (!freed && std::string(sql).rfind("SELECT 1 FROM Device", 0) == 0 && sqlite3_get_autocommit(db)) {
                disk.FreeALittle();
                freed = true;
            }
        };
        const std::string db = dir.File("data/Quorvantis.db");
        ASSERT_TRUE(CopyShippedDatabase(db));
        std::vector<sim::SimRecord> records;
        {
            Rig rig;  // the first run of the program
            rig.st.m_strDbPath = db;
            rig.dev->FillRing(0, PAGE_COUNT * PAGE_RECORDS);
            records = rig.dev->Records();
            rig.Configure();
            disk.Limit();
            rig.transport.writes = 0;
            rig.transport.beforeWrite = [&](int n) {
                if (n % 40 == 0) rig.Drain();
            };
            ASSERT_EQ(rig.st.DownloadHistory(), 1);
            rig.transport.beforeWrite = nullptr;
            rig.Drain();
            EXPECT_EQ(rig.st.m_bStoreFailed, 1) << (disk.Mounted() ? "tmpfs" : "file size limit");
            EXPECT_GT(rig.Queued(), 0);
            ExpectStoredTogether(rig, records);
            EXPECT_LT(rig.Rows().size(), records.size());
            ASSERT_EQ(boxes->Count(), 1u);
            EXPECT_EQ(boxes->Entries()[0].text.rfind(LoadString(IDS_RECORDS_NOT_STORED), 0), 0u)
                << boxes->Entries()[0].text;
        }  // closed: what waited in memory is gone

        disk.Grow();
        Rig rig;  // started again, the recorder as it was
        rig.st.m_strDbPath = db;
        rig.dev->FillRing(0, PAGE_COUNT * PAGE_RECORDS);
        ASSERT_EQ(rig.dev->Records().size(), records.size());
        ASSERT_EQ(rig.Download(), 1);
        ExpectRows(rig.Rows(), records);
        ExpectResumePointAtNewest(rig);
    }
}

TEST(Download, WalkOvertakenByADeletionStoresNothingAndTheNextOnesStoreEveryRecordOnce)
{
    // The connected device's rows are deleted, and the recorder may be unplugged (the reset) and
    // plugged in again (its ID read again), all while the walk stalls: before one of its reads,
    // between its load of the Device row and its look at it, or while the writer holds a batch
    // taken off the queue. Nothing the overtaken walk fetched may be stored on top of the deletion.
    using Point = CDeviceState::TestPoint;
    enum class Where { BeforeRead, AfterRowLoad, BatchTaken };
    struct Case {
        const char* name;
        Where where;
        bool replug;
    };
    const Case cases[] = {
        {"before a read", Where::BeforeRead, false},
        {"before a read, unplugged and plugged in again", Where::BeforeRead, true},
        {"after the row load, unplugged and plugged in again", Where::AfterRowLoad, true},
        {"a batch taken off the queue", Where::BatchTaken, false},
        {"a batch taken off the queue, unplugged and plugged in again", Where::BatchTaken, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        ThousandOfThreeThousandStored(rig);
        Deletion deletion{rig, DeviceIdText(kDeviceId)};
        bool overtaken = false;
        auto overtake = [&] {
            overtaken = true;
            deletion.Rest();
            if (c.replug) {
                rig.st.Reset();                                       // the removal
                rig.st.SetDeviceId(kDeviceId, rig.st.m_nGeneration);  // the configuration read after the arrival
            }
        };
        rig.transport.writes = 0;
        rig.transport.beforeWrite = [&](int n) {
            rig.Drain();  // the writer runs all along
            if (c.where == Where::BeforeRead && n == 15 && !overtaken) overtake();
        };
        rig.st.m_fnTestHook = [&](Point point) {
            if (overtaken) return;
            if ((c.where == Where::AfterRowLoad && point == Point::WalkLoadedDeviceRow) ||
                (c.where == Where::BatchTaken && point == Point::DrainTookBatch))
                overtake();
        };
        const DownloadOutcome outcome = rig.st.WalkHistory();
        rig.transport.beforeWrite = nullptr;
        rig.st.m_fnTestHook = nullptr;
        ASSERT_TRUE(overtaken);
        EXPECT_EQ(outcome, DownloadOutcome::Stopped);  // overtaken
        rig.Drain();
        EXPECT_TRUE(rig.Rows().empty());
        EXPECT_EQ(rig.Device().rows, 0);

        for (int i = 0; i < 2; ++i) ASSERT_EQ(rig.Download(), 1);
        ExpectRows(rig.Rows(), rig.dev->Records());
        ExpectResumePointAtNewest(rig);
    }
}
