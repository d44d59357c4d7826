#pragma once
// All state that concerns the connected recorder: paths, request and stop flags, the link,
// the device's settings and readings, the periods, the six database objects, the resume point
// of the history download and the record queue. Integers shared between threads are atomics.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "database/CDB.h"
#include "device/CHidLink.h"
#include "device/RecordNode.h"
#include "platform/MessageBox.h"
#include "platform/OleDateTime.h"

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
    // Forgets the connected device, and starts a new generation: a walk under way and the
    // records it queued are dropped.
    void Reset();

    // ---- Generation: what a walk and its queued records belong to ----
    // Every event that invalidates a walk or its queued records raises it: the removal reset, a
    // deletion of the device's rows, an erase, another device. A walk captures it when it starts;
    // records of an older generation are never stored. Written under m_csQueue.
    std::atomic<unsigned> m_nGeneration{0};
    // The configuration read found this ID: another one than before raises the generation.
    // Returns the generation the ID belongs to.
    unsigned SetDeviceId(std::uint32_t id);
    // The generation of the last configuration read's device (monitor thread).
    std::atomic<unsigned> m_nConfigGeneration{0};
    // The monitor's configuration read begun in the given generation has ended well: clears
    // m_bReadConfig unless the device was reset (or changed) meanwhile, which asks for a new read.
    // True when cleared.
    bool EndConfigRead(unsigned generation);
    // Ends the looping threads' waits at once.
    void RequestQuit();
    // Waits the given time or until the program quits; false once it quits.
    bool SleepUnlessQuit(std::chrono::milliseconds duration);

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
    // A walk's start and end (history thread). BeginWalk captures the generation and the device
    // the walk downloads; false (nothing may be fetched) while an erase holds walks off.
    bool BeginWalk();
    void EndWalk();
    // The walk that ran last was overtaken by a newer generation (what it queued is dropped), or
    // was not let start: another one follows.
    bool WalkSuperseded();

    // Record storage.
    // One drain of the record writer: takes the queued records off the queue under m_csQueue and
    // stores them, with the resume point in the same transaction, outside it. Records the database
    // refuses go back to the front of the queue; records of an older generation are dropped.
    int FlushRecordQueue();
    // Records wait in the queue or in a drain (takes m_csQueue).
    bool HasQueuedRecords();
    // Queues one record of the current generation, as a download under way would.
    void QueueRecord(std::uint32_t deviceId, int mode, int page, int interval, int temp, int humi,
                     int recordNo, const OleDateTime& pageTime);
    // A deletion of one device ID's rows (management dialog): Begin before the database is
    // touched, End once the deletion committed or failed. Meanwhile the writer stores nothing and
    // a walk of that device queues nothing. A committed deletion drops the queued records of that
    // ID and, when they are the connected device's rows, starts a new generation.
    void BeginRowDeletion(const std::string& deviceId);
    void EndRowDeletion(bool committed);
    // 1 = table Device was read (m_bDeviceKnown says whether it holds a usable resume point);
    // 0 = the database could not be read, m_bDeviceKnown unchanged.
    int LoadDeviceRow();
    int CountStoredRecords();
    // The record writer: waits until it has something to do (records queued and its back-off over,
    // a deletion ended, another device, a count to retry); false once the program quits.
    bool WaitForWriterWork();
    // One pass: the drain, left out until a growing pause after a failed one has passed.
    void StoreQueuedRecords();
    // The connected device's stored-record count, counted again only when it can have changed
    // (another device or database file, rows changed by a deletion, a database that failed and
    // works again) and kept up by the drain; -1 = unknown.
    // Writer thread.
    int StoredRecordCount();
    // Waits until the records queued so far are stored or dropped (1), or until a drain fails or
    // the program quits (0). The record writer must be running.
    int WaitForQueuedRecords();

    // An erase of the recorder must not destroy records not yet stored. HoldWalks keeps new
    // walks from starting and returns what StorageSettled compares with; StorageSettled says
    // whether the running walk has ended and its records are stored (1), not yet (0), or cannot
    // be (-1: a drain failed since the hold, or the program quits); ReleaseWalks ends the hold,
    // after an acknowledged erase with a new generation and the erase request for the monitor.
    unsigned HoldWalks();
    int StorageSettled(unsigned hold);
    int WaitStorageSettled(unsigned hold);  // blocking, for worker threads
    void ReleaseWalks(bool erased);

    int CountStoredRecordsOf(std::uint32_t deviceId);

    // The configuration as last read, in one piece (for the paint).
    ConfigSnapshot GetConfigSnapshot() const;

    // paths
    std::string m_strAppDir;
    std::string m_strDbPath;
    std::string m_strIniPath;

    // request and stop flags
    std::atomic<int> m_bDeviceErased{0};
    std::atomic<int> m_bDbCleared{0};  // a deletion asks for a new download
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

    // record queue, and the walk's and writer's state down to m_tCountRetryAt, guarded by m_csQueue
    RecordNode* m_pQueueHead = nullptr;
    RecordNode* m_pQueueTail = nullptr;  // the last node; nullptr when the queue is empty
    std::mutex m_csQueue;
    std::condition_variable m_cvWriter;  // the record writer waits for work
    std::condition_variable m_cvStored;  // waits for records stored, a walk ended, a failed drain
    std::condition_variable m_cvQuit;    // the monitor's tick
    bool m_bWalkRunning = false;
    bool m_bWalkHeld = false;  // the last walk was not let start
    unsigned m_nWalkGeneration = 0;
    std::uint32_t m_dwWalkDevice = 0;
    int m_nWalkHolds = 0;
    bool m_bBatchInFlight = false;  // a drain stores records taken off the queue
    bool m_bDeleting = false;
    std::string m_strDeletingID;  // in the form DeviceIdText writes
    bool m_bWriterWake = false;
    unsigned m_nFailedDrains = 0;
    std::chrono::steady_clock::time_point m_tRetryAt;       // next drain after a failed one
    std::chrono::steady_clock::time_point m_tCountRetryAt;  // next count after a failed one

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
    // Points where tests force a schedule; set before the threads start.
    enum class TestPoint {
        WalkLoadedDeviceRow,  // a walk has loaded the Device row and not yet looked at it
        DrainTookBatch,       // a drain has taken its batch off the queue and not yet stored it
    };
    std::function<void(TestPoint)> m_fnTestHook;

    // Record writer: 1 while records wait in the queue because the database refused them.
    std::atomic<int> m_bStoreFailed{0};
    std::atomic<unsigned> m_nDrains{0};  // drains the writer has run
    int m_nDrainBackoffMs = 0;           // pause after the last failed drain, doubling (writer)
    // The stored-record count as last counted (writer thread).
    std::uint32_t m_dwCountedID = 0;
    unsigned m_nCountedChanges = 0;
    std::string m_strCountedPath;
    int m_nStoredCount = -1;

private:
    struct DrainResult;
    // Stores a batch taken off the queue in one transaction with its resume point (writer).
    DrainResult StoreBatch(RecordNode* batch, unsigned generation);
    // The caller holds m_csQueue.
    bool HasQueuedRecordsLocked() const;
    void RaiseGenerationLocked();
    void WakeWriterLocked();
    int StorageSettledLocked(unsigned hold) const;
    // The deletion under way, or the one ending, concerns the rows of this device.
    bool DeletionConcernsLocked(std::uint32_t deviceId) const;
    // Links a node fetched by the running walk unless the walk was overtaken; false then.
    bool QueueWalkRecord(RecordNode* node);
};

// An erase of the recorder (management dialog, settings writer). While it exists no walk starts;
// the erase may go out once Settled (or WaitSettled) says 1: the running walk has ended and every
// record it fetched is stored. -1 means they cannot be stored (the database refuses them): then
// nothing may be erased. An acknowledged Erase starts the walks over with a new generation.
class EraseHold {
public:
    explicit EraseHold(CDeviceState& ds) : m_ds(ds), m_hold(ds.HoldWalks()), m_dwDeviceID(ds.m_dwDeviceID) {}
    ~EraseHold() { m_ds.ReleaseWalks(m_bErased); }
    EraseHold(const EraseHold&) = delete;
    EraseHold& operator=(const EraseHold&) = delete;

    int Settled() { return m_ds.StorageSettled(m_hold); }
    int WaitSettled() { return m_ds.WaitStorageSettled(m_hold); }
    // Sends the erase command: 1 when the recorder acknowledged it. Nothing is sent to a recorder
    // that took the place of the one there when the hold began.
    int Erase();

private:
    CDeviceState& m_ds;
    unsigned m_hold;
    std::uint32_t m_dwDeviceID;
    bool m_bErased = false;
};

// The program's one device state.
extern CDeviceState theDeviceState;
