#pragma once
// All state that concerns the connected recorder: paths, request and stop flags, the link,
// the device's settings and readings, the periods, the six database objects, the resume point
// of the history download and the record queue. Integers shared between threads are atomics.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "database/CDB.h"
#include "device/CHidLink.h"
#include "device/DownloadSchedule.h"
#include "device/RecordNode.h"
#include "platform/MessageBox.h"
#include "platform/OleDateTime.h"

// The configuration the live panel paints, published as one piece by each configuration read.
struct ConfigSnapshot {
    int mode = -1;
    int periodOn[4] = {0, 0, 0, 0};
    OleDateTime period[8];
};

// Why an erase may go out now, or not.
enum class EraseReadiness {
    Waiting,         // a download of the recorder that began after the hold runs or is due, or
                     // its records are being stored
    Ready,           // such a download reached the end of the ring and all its records are stored
    DeviceChanged,   // the recorder went or was replaced, or a generation began (an erase, a deletion)
    DownloadFailed,  // that download failed: not everything the recorder holds is stored
    StoreFailed,     // the database did not take the records
    Quit,            // the program closes
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
    // The configuration read begun in generation readIn found this ID: another one than before
    // raises the generation, which becomes the configuration's. False, and nothing changed, when
    // a removal or another open came after readIn: the read describes a recorder that went.
    bool SetDeviceId(std::uint32_t id, unsigned readIn);
    // The generation in which the configuration (ID, mode) was last read; a walk starts only
    // while it is the current one (written under m_csQueue).
    std::atomic<unsigned> m_nConfigGeneration{0};
    // The monitor's configuration read begun in the given generation has ended well: clears
    // m_bReadConfig unless the device was reset (or changed) meanwhile, which asks for a new read.
    // True when cleared.
    bool EndConfigRead(unsigned generation);
    // What the monitor's configuration read did, step by step.
    enum class ConfigRead {
        Failed,         // the configuration could not be read: read again at once
        NoDeviceId,     // the recorder reports ID 0: nothing is set or downloaded, read again
        ConfigDone,     // read; the clock is set next (reported before the clock goes out)
        ClockNotHeld,   // read; the PC's clock is outside the recorder's years, nothing sent
        ClockFailed,    // read; the clock was not acknowledged: read and set again at once
        ClockSet,       // read and the clock set
        DeviceChanged,  // the recorder went or changed during the read: read again
    };
    // The monitor's configuration read: the configuration, the clock, the Device row, and the end
    // of the read. progress sees ConfigDone before the clock goes out; the result is the last step.
    ConfigRead ReadConfigAndSetClock(const std::function<void(ConfigRead)>& progress = {});
    // Ends the looping threads' waits at once.
    void RequestQuit();
    // Waits the given time or until the program quits; false once it quits.
    bool SleepUnlessQuit(std::chrono::milliseconds duration);
    // The open thread's step: whatever device was open is forgotten (a path that arrives again may
    // have another recorder behind it), then the first recorder present is opened, but for skip.
    void OpenDevice(const std::string& skip = {});

    // When downloads and live readings start (the monitor asks it at each tick).
    DownloadSchedule m_Schedule;
    // What the monitor's schedule needs to know of the downloads: one is asked for (a deletion,
    // an erase, or an erase that waits for a download).
    bool DownloadRequested();

    // Device commands and decoders.
    int ReadConfig();
    int ReadMaxMin();
    int ReadRealtime();
    int SetParameters(int unit, int dateFormat, int timeFormat, int mode, int autoOff, int interval, int tempOffset,
                      int humiOffset, int intervalChanged);
    int SetPeriods(const OleDateTime slots[8], const int flags[4]);
    static void BuildParametersRequest(int unit, int dateFormat, int timeFormat, int mode, int autoOff, int interval,
                                       int tempOffset, int humiOffset, int intervalChanged, std::uint8_t request[11]);
    static void BuildPeriodsRequest(const OleDateTime slots[8], const int flags[4], std::uint8_t request[45]);

    // History download: the walk (1 = ended, 0 = a read of the recorder or of the database
    // failed), the same with how it ended, and Download, which adds the wait until its records
    // are stored.
    int DownloadHistory();
    DownloadOutcome WalkHistory();
    DownloadOutcome Download();
    int DownloadPage(int page, unsigned count, OleDateTime pageTime, int interval);
    int ResumePage(int first, int page, unsigned count, OleDateTime pageTime, int interval);
    // A page fetched for the running walk: records queued unless stored before (storedUpTo, see
    // CDB::InsertRecordUnlessStored; 0 = none can be).
    enum class PageFetch { Done, Failed, Stopped };  // Failed: a record could not be read or kept
    PageFetch FetchPage(int first, int page, unsigned count, OleDateTime pageTime, int interval,
                        std::int64_t storedUpTo);
    // A walk's start and end (history thread). BeginWalk captures the generation, the device and
    // its mode; false (nothing may be fetched) without a configuration read in this generation,
    // while the device's rows are being deleted, or while an erase is about to go out.
    bool BeginWalk();
    void EndWalk(DownloadOutcome outcome);
    // The running walk's device, generation and mode, as BeginWalk captured them.
    struct WalkTarget {
        std::uint32_t deviceId = 0;
        unsigned generation = 0;
        unsigned serial = 0;
        int mode = -1;
    };
    WalkTarget CurrentWalk();

    // Record storage.
    // One drain of the record writer: takes the queued records off the queue under m_csQueue and
    // stores them, with the resume point in the same transaction, outside it. Records the database
    // refuses go back to the front of the queue; records of an older generation are dropped.
    int FlushRecordQueue();
    // Records wait in the queue or in a drain (takes m_csQueue).
    bool HasQueuedRecords();
    // Queues one record of the current generation, as a download under way would.
    void QueueRecord(std::uint32_t deviceId, int mode, int page, int interval, int temp, int humi, int recordNo,
                     const OleDateTime& pageTime);
    // A deletion of one device ID's rows (management dialog): Begin before the database is
    // touched, End once the deletion committed or failed. Meanwhile the writer stores nothing, no
    // walk of that device starts, and a record a running walk of it fetches is dropped and ends
    // the walk. A committed deletion drops the queued records of that ID and, when they are the
    // connected device's rows, starts a new generation; an uncommitted one that dropped records
    // starts a new generation too, so nothing fetched after the gap is stored.
    void BeginRowDeletion(const std::string& deviceId);
    void EndRowDeletion(bool committed);
    // 1 = table Device was read (m_bDeviceKnown says whether it holds a usable resume point, and
    // m_nStoredUpTo whether records of the device are stored already); 0 = the database could
    // not be read, both unchanged.
    int LoadDeviceRow();
    int CountStoredRecords();
    // The record writer's loop: drains the queue whenever records wait (after a growing pause
    // once a drain failed) and reports the stored-record count of the connected device, until the
    // program quits. Asleep while there is nothing to do.
    void RunRecordWriter(const std::function<void(int count)>& showCount);
    // Its two steps: waits until it has something to do (records queued and its back-off over,
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
    // Records of the connected device stored already lie at or below this rowid (0: none); a
    // walk that cannot resume stores only what is not among them.
    std::atomic<std::int64_t> m_nStoredUpTo{0};

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
    unsigned m_nWalkGeneration = 0;
    std::uint32_t m_dwWalkDevice = 0;
    int m_nWalkMode = -1;
    unsigned m_nWalkSerial = 0;                                    // walks begun
    unsigned m_nWalkQueued = 0;                                    // records the last walk queued
    unsigned m_nWalkCommitted = 0;                                 // and of those, committed (or found stored before)
    DownloadOutcome m_eWalkOutcome = DownloadOutcome::NotStarted;  // of the last walk, once ended
    struct HoldState;
    std::vector<const HoldState*> m_holds;  // the erases waiting
    bool m_bErasing = false;                // an erase command is on its way
    bool m_bBatchInFlight = false;          // a drain stores records taken off the queue
    bool m_bDeleting = false;
    bool m_bDeletionDropped = false;  // the deletion under way kept a walk's record from the queue
    std::string m_strDeletingID;      // in the form DeviceIdText writes
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
    // How the last download ended (a DownloadOutcome), for the schedule; set before m_bHistoryDone.
    std::atomic<DownloadOutcome> m_eLastOutcome{DownloadOutcome::Complete};
    std::atomic<unsigned> m_nDrains{0};  // drains the writer has run
    int m_nDrainBackoffMs = 0;           // pause after the last failed drain, doubling (writer)
    // The stored-record count as last counted (writer thread).
    std::uint32_t m_dwCountedID = 0;
    unsigned m_nCountedChanges = 0;
    std::string m_strCountedPath;
    int m_nStoredCount = -1;

private:
    friend class EraseHold;
    struct DrainResult;
    // Stores a batch taken off the queue in one transaction with its resume point (writer).
    DrainResult StoreBatch(RecordNode* batch, unsigned generation);
    // The caller holds m_csQueue.
    bool HasQueuedRecordsLocked() const;
    // keepsDevice: the configuration read before stays that of the device (an erase, a deletion).
    void RaiseGenerationLocked(bool keepsDevice = false);
    void WakeWriterLocked();
    // The deletion under way, or the one ending, concerns the rows of this device.
    bool DeletionConcernsLocked(std::uint32_t deviceId) const;
    // Links a node fetched by the running walk unless the walk was overtaken; false then.
    bool QueueWalkRecord(RecordNode* node);
    bool WalkWantedLocked() const;
    bool EraseDueLocked() const;
    EraseReadiness ReadinessLocked(const HoldState& hold, bool closeCounts = true) const;
};

// Who erases: the text that says why nothing was erased names what was not done.
enum class EraseFor { Management, Settings };
// The string id that tells the user why an erase did not go out (not for Ready, Waiting, Quit).
int EraseRefusalText(EraseReadiness readiness, EraseFor what);

// An erase of the recorder (management dialog, settings writer). It may go out only for the
// recorder confirmed, in the generation the hold began in, once a download that began after the
// hold reached the end of the ring and had every record committed; the hold asks for that
// download. An acknowledged Erase starts the walks over with a new generation.
class EraseHold {
public:
    explicit EraseHold(CDeviceState& ds);
    ~EraseHold();
    EraseHold(const EraseHold&) = delete;
    EraseHold& operator=(const EraseHold&) = delete;

    EraseReadiness Readiness();
    // Blocks until the answer is no longer Waiting (worker threads).
    EraseReadiness WaitReady();
    // Sends the erase command when Ready: then returns Ready, with acknowledged 1 when the
    // recorder acknowledged it. Otherwise nothing is sent and the reason is returned.
    EraseReadiness Erase(int& acknowledged);

private:
    CDeviceState& m_ds;
    std::unique_ptr<CDeviceState::HoldState> m_state;
};

// The program's one device state.
extern CDeviceState theDeviceState;
