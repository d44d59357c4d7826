#include "support/DeviceRig.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>

#include "device/CDeviceState.h"
#include "support/BoundedWait.h"
#include "support/TempDir.h"

void PrepareDeviceState(CDeviceState& st, const TempDir& dir, HidTransport& transport)
{
    EXPECT_TRUE(CopyShippedDatabase(dir.File("Quorvantis.db")));
    st.m_strDbPath = dir.File("Quorvantis.db");
    st.m_pQueueHead = AllocRecordNode();
    st.m_nNewDeviceWaitMs = 0;
    st.m_Link.SetTransport(&transport);
    st.m_Link.Open();
    EXPECT_TRUE(st.m_Link.IsDeviceOpen());
}

bool ReadConfigForDownload(CDeviceState& st)
{
    return st.ReadConfig() == 1 && st.EndConfigRead(st.m_nConfigGeneration);
}

AcquisitionThreads::AcquisitionThreads(CDeviceState& st) : m_st(st)
{
    m_writer = std::thread([this] { m_st.RunRecordWriter({}); });
    m_downloads = std::thread([this] {
        while (!m_bStop && !m_st.m_bQuit) {
            const bool started = m_st.m_Link.IsDeviceOpen() && m_st.DownloadRequested() &&
                                 m_st.Download() != DownloadOutcome::NotStarted;
            if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
}

AcquisitionThreads::~AcquisitionThreads()
{
    m_bStop = true;
    m_st.RequestQuit();
    JoinWithin(m_downloads, "the downloads to end once asked to quit");
    JoinWithin(m_writer, "the record writer to end once asked to quit");
    // The state may serve another test step.
    m_st.m_bQuit = 0;
}

RunningDevice::RunningDevice()
{
    PrepareDeviceState(st, dir, transport);
    threads = std::make_unique<AcquisitionThreads>(st);
}

RunningDevice::~RunningDevice()
{
    dev->ReleaseReplies();
    threads.reset();
    st.m_Link.Close();
}

void RunningDevice::DeleteRows(const std::string& deviceId)
{
    st.BeginRowDeletion(deviceId);
    CDB db;
    const bool deleted = db.Open(st.m_strDbPath) == 0 && db.BeginTransaction() == 1 &&
                         db.DeleteRecords(deviceId) == 1 && db.DeleteDevice(deviceId) == 0 && db.Commit() == 1;
    EXPECT_TRUE(deleted) << db.LastError();
    st.EndRowDeletion(deleted);
}

void RunningDevice::Exec(const std::string& sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(st.m_strDbPath.c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 5000);  // the record writer may be at work
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

long long RunningDevice::Count(const std::string& sql)
{
    sqlite3* db = nullptr;
    sqlite3_open(st.m_strDbPath.c_str(), &db);
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
    long long n = -1;
    if (sqlite3_step(stmt) == SQLITE_ROW) n = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return n;
}
