#pragma once
// All state that concerns the connected recorder: paths, request and stop flags, the link,
// the device's settings and readings, the periods, the six database objects, the resume point
// of the history download and the record queue. Integers shared between threads are atomics.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "database/CDB.h"
#include "device/CHidLink.h"
#include "device/RecordNode.h"
#include "platform/MessageBox.h"
#include "platform/OleDateTime.h"

// Values of m_bDbCleared. Either one stops downloads and makes the drain drop what is queued.
// Raised before a deletion of Device and Records rows touches the database:
constexpr int DB_DELETING = 1;
// Set once that deletion has committed (or failed) and the queue has been emptied; the next
// download clears it before it loads the Device row, so it starts from what the deletion left.
constexpr int DB_DELETED = 2;

// The configuration the live panel paints, published as one piece by each configuration read.
struct ConfigSnapshot {
    int mode = -1;
    int periodOn[4] = {0, 0, 0, 0};
    OleDateTime period[8];
};

class CDeviceState {
public:
    CDeviceState();
    ~CDeviceState();
    CDeviceState(const CDeviceState&) = delete;
    CDeviceState& operator=(const CDeviceState&) = delete;

    // Data folder and its two files; copies the shipped files when missing, never overwriting.
    void InitDataFolder();
    // The same with given folders (tests).
    void InitDataFolder(const std::string& appDir, const std::string& dataDir);
    // Forgets the connected device.
    void Reset();

    // Device commands and decoders.
    int ReadConfig();
    int ReadMaxMin();
    int ReadRealtime();
    int SetParameters(int unit, int dateFormat, int timeFormat, int mode, int autoOff, int interval,
                      int tempOffset, int humiOffset, int intervalChanged);
    int SetPeriods(const OleDateTime slots[8], const int flags[4]);
    static void BuildParametersRequest(int unit, int dateFormat, int timeFormat, int mode,
                                       int autoOff, int interval, int tempOffset, int humiOffset,
                                       int intervalChanged, std::uint8_t request[11]);
    static void BuildPeriodsRequest(const OleDateTime slots[8], const int flags[4],
                                    std::uint8_t request[45]);

    // History download.
    int DownloadHistory();
    int DownloadPage(int page, unsigned count, OleDateTime pageTime, int interval);
    int ResumePage(int first, int page, unsigned count, OleDateTime pageTime, int interval);

    // Record storage.
    int FlushRecordQueue();  // the caller holds m_csQueue
    bool HasQueuedRecords() const;  // the caller holds m_csQueue
    // Ends a deletion of rows: drops every queued record and sets m_bDbCleared to DB_DELETED.
    // The caller holds m_csQueue.
    void EndRowDeletion();
    // 1 = table Device was read (m_bDeviceKnown says whether it holds a usable resume point);
    // 0 = the database could not be read, m_bDeviceKnown unchanged.
    int LoadDeviceRow();
    int CountStoredRecords();
    // One pass of the record writer: the drain under m_csQueue, left out for a growing number of
    // passes after a failed one.
    void StoreQueuedRecords();
    // The connected device's stored-record count, counted again only when it can have changed
    // (another device or database file, rows changed by a deletion, a database that failed and
    // works again) and kept up by the drain; -1 = unknown.
    // Writer thread.
    int StoredRecordCount();
    // Waits until the records queued so far are stored (1), or until a drain fails, the device
    // is closed or the program quits (0). The record writer must be running.
    int WaitForQueuedRecords();

    int CountStoredRecordsOf(std::uint32_t deviceId);

    // The configuration as last read, in one piece (for the paint).
    ConfigSnapshot GetConfigSnapshot() const;

    // paths
    std::string m_strAppDir;
    std::string m_strDbPath;
    std::string m_strIniPath;

    // request and stop flags
    std::atomic<int> m_bDeviceErased{0};
    std::atomic<int> m_bDbCleared{0};  // 0, DB_DELETING or DB_DELETED
    std::atomic<int> m_bRestart{0};
    std::atomic<int> m_bQuit{0};
    std::atomic<int> m_bReadConfig{0};
    std::atomic<int> m_bHistoryDone{0};
    std::atomic<int> m_bRealtimeDone{0};
    std::atomic<int> m_bModeChanged{0};

    // tick counters
    std::atomic<unsigned> m_nHistoryTicks{0};
    std::atomic<int> m_nRealtimeTicks{0};

    // link
    CHidLink m_Link;

    // DeviceSettings
    std::atomic<std::uint32_t> m_dwDeviceID{0};
    std::atomic<int> m_nTempUnit{0};
    std::atomic<int> m_nTempOffset{0};
    std::atomic<int> m_nHumiOffset{0};
    std::atomic<int> m_nInterval{0};
    std::atomic<int> m_nTimeFormat{0};
    std::atomic<int> m_nDateFormat{0};
    std::atomic<int> m_nAutoOff{0};
    std::atomic<int> m_nMode{0};

    // LiveReading
    std::atomic<int> m_nTempRaw{0};
    std::atomic<int> m_nHumiRaw{0};
    std::atomic<int> m_nTemp{0};
    std::atomic<int> m_nHumi{0};
    std::atomic<int> m_nRecTemp{0};
    std::atomic<int> m_nRecHumi{0};
    std::atomic<int> m_nMaxTemp{0}, m_nMaxHumi{0}, m_nMinTemp{0}, m_nMinHumi{0};

    // periods: start 1, end 1, ..., end 4 (written under m_csConfig)
    OleDateTime m_Period[8];

    // database, one object per user
    CDB m_dbRecords, m_dbHistory, m_dbGraph, m_dbCount, m_dbDevice, m_dbManage;

    // resume point of the history download
    std::atomic<int> m_bDeviceKnown{0};
    OleDateTime m_LastTime;  // written and read under m_csDeviceRow
    // Written by the Device-row loader (monitor or history thread) and by the page download.
    std::atomic<int> m_nLastPage{0};
    std::atomic<int> m_nLastRecord{0};

    // download work fields (history thread)
    OleDateTime m_PageTime;
    int m_nPageInterval = 0;
    int m_nPageCount[PAGE_COUNTS_PER_READ] = {};

    // record queue
    RecordNode* m_pQueueHead = nullptr;
    RecordNode* m_pQueueTail = nullptr;  // the last node; nullptr when the queue is empty
    RecordNode* m_pQueuePrev = nullptr;
    RecordNode* m_pQueueCur = nullptr;
    std::mutex m_csQueue;

    // screen
    std::atomic<int> m_nScreenWidth{0};
    std::atomic<int> m_nScreenHeight{0};

    // periods enabled (written under m_csConfig)
    int m_bPeriodOn[4] = {0, 0, 0, 0};

    // download work field
    int m_bHeaderRetry = 0;

    // Guards m_Period and m_bPeriodOn writes and the snapshot.
    mutable std::mutex m_csConfig;
    // Serialises the Device-row loader between the monitor and the history thread.
    std::mutex m_csDeviceRow;
    // The pause before a new device's first walk (ms); tests shorten it.
    int m_nNewDeviceWaitMs = 500;

    // Record writer: 1 while records wait in the queue because the database refused them.
    std::atomic<int> m_bStoreFailed{0};
    std::atomic<unsigned> m_nDrains{0};  // drains the writer has run
    FailureNotice m_StoreFailure;
    int m_nDrainBackoff = 0;  // passes left out after the last failed drain, doubling
    int m_nDrainSkip = 0;     // passes still to leave out
    // The stored-record count as last counted (writer thread).
    std::uint32_t m_dwCountedID = 0;
    unsigned m_nCountedChanges = 0;
    std::string m_strCountedPath;
    int m_nStoredCount = -1;
    int m_nCountRetry = 0;  // passes until a failed count is tried again
};

// The program's one device state.
extern CDeviceState theDeviceState;
