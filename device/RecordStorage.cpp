// Record storage: the queue drain into table Records with the resume point in table Device,
// the loader of that resume point, and the stored-record count.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>

#include "database/CDB.h"
#include "database/RowFormat.h"
#include "device/CDeviceState.h"
#include "platform/OleDateTime.h"
#include "platform/StringTable.h"
#include "platform/TextCompare.h"
#include "resources/resource.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// The pause of the writer after its first failed drain, and the longest one.
constexpr auto kFirstBackoff = std::chrono::milliseconds(10);
constexpr auto kMaxBackoff = std::chrono::milliseconds(1000);
// How soon a count that failed is tried again.
constexpr auto kCountRetry = std::chrono::milliseconds(1000);

// Start time of the page as the node carries it.
OleDateTime PageStart(const RecordNode& node)
{
    return OleDateTime(node.dPageStart, node.nPageStartStatus == 0 ? OleDateTime::valid : OleDateTime::invalid);
}

}  // namespace

// What one drain achieved: the first `stored` nodes of its batch are committed with their resume
// point; a failure names what refused the rest.
struct CDeviceState::DrainResult {
    int stored = 0;
    int skipped = 0;          // of those, of the counted device, found stored before
    bool superseded = false;  // the generation changed or a deletion began: nothing committed
    int errorCode = 0;        // the first failure (0: none, or a failed open, which spoke itself)
    bool failed = false;
    std::string reason;
};

CDeviceState::DrainResult CDeviceState::StoreBatch(RecordNode* batch, unsigned generation)
{
    DrainResult result;
    // The first failure is the one told: a rollback would replace its text.
    auto note = [&] {
        if (result.failed) return;
        result.failed = true;
        result.errorCode = m_dbRecords.LastErrorCode();
        result.reason = m_dbRecords.LastError();
    };
    auto fail = [&](bool rollback) {
        note();
        // Whatever was inserted goes with the transaction: the resume point never moves alone.
        if (rollback && m_dbRecords.InTransaction()) m_dbRecords.Rollback();
        m_dbRecords.Close();
        result.stored = 0;
        return result;
    };

    // One connection and one transaction per drain.
    if (m_dbRecords.Open(m_strDbPath) != 0) {
        result.failed = true;  // the open has said why
        return result;
    }
    if (m_dbRecords.BeginTransaction() != 1) return fail(false);

    // A device's rows keep the spelling its Device row has (a user's file may write the ID's
    // letters small): one recorder, one set of rows.
    std::uint32_t spelledDevice = 0;
    std::string spelling;
    auto spell = [&](std::uint32_t deviceId) -> const std::string* {
        if (spelling.empty() || spelledDevice != deviceId) {
            const std::optional<std::string> stored = m_dbRecords.StoredDeviceId(DeviceIdText(deviceId));
            if (!stored) return nullptr;
            spelledDevice = deviceId;
            spelling = *stored;
        }
        return &spelling;
    };

    // The resume point is written for the last stored record of each device, in the transaction
    // of its records.
    const RecordNode* pending = nullptr;
    auto savePending = [&] {
        if (!pending) return true;
        const std::string* id = spell(pending->dwDeviceID);
        const int saved = id ? m_dbRecords.SaveDevice(*id, DateTimeText(PageStart(*pending)), pending->nRecordNo,
                                                      pending->nPage, pending->nMode)
                             : -1;
        pending = nullptr;
        return saved == 1 && m_dbRecords.InTransaction();
    };

    int stored = 0;
    int skipped = 0;
    for (const RecordNode* node = batch; node; node = node->pNext) {
        if (pending && pending->dwDeviceID != node->dwDeviceID && !savePending()) return fail(true);
        // The product is a 32-bit count of seconds; the sum is taken whatever the page time's status.
        const OleDateTime recordTime =
            OleDateTime(node->dPageStart, OleDateTime::valid)
                .AddSeconds(static_cast<std::int32_t>((node->nRecordNo - 1) * node->nInterval));
        const std::string* id = spell(node->dwDeviceID);
        const std::string page = PageText(node->nPage), time = DateTimeText(recordTime);
        const std::string temp = TemperatureText(static_cast<unsigned>(node->nTemp));
        const std::string humi = HumidityText(static_cast<unsigned>(node->nHumi));
        // A record already stored (a download that could not resume) counts as stored.
        const int inserted = !id ? -1
                             : node->nStoredUpTo > 0
                                 ? m_dbRecords.InsertRecordUnlessStored(*id, page, time, temp, humi, node->nStoredUpTo)
                                 : m_dbRecords.InsertRecord(*id, page, time, temp, humi);
        if (inserted < 0) {
            // A refused record stops the drain: it and the ones after it wait for the next one.
            // On a full disk or an I/O error SQLite may have rolled the whole transaction back by
            // itself: then nothing of this drain is stored, the resume point included.
            note();
            if (!m_dbRecords.InTransaction()) return fail(false);
            break;
        }
        pending = node;
        ++stored;
        if (inserted == 0 && node->dwDeviceID == m_dwCountedID) ++skipped;
    }
    if (stored == 0) return fail(true);
    if (!savePending()) return fail(true);

    // Compared under the queue lock inside the write transaction: an event that raises the
    // generation after this either waits for the commit (a deletion takes the write lock) or
    // concerns records already fetched from the device (removal, another device), and an erase
    // waits until no drain runs.
    bool current;
    {
        std::lock_guard<std::mutex> lock(m_csQueue);
        current = generation == m_nGeneration && !m_bDeleting;
    }
    if (!current) {
        m_dbRecords.Rollback();
        m_dbRecords.Close();
        result = DrainResult{};
        result.superseded = true;
        return result;
    }
    if (m_dbRecords.Commit() != 1) return fail(true);
    m_dbRecords.Close();
    result.stored = stored;
    result.skipped = skipped;
    return result;
}

int CDeviceState::FlushRecordQueue()
{
    RecordNode* batch = nullptr;
    unsigned generation = 0;
    unsigned walk = 0;  // the walk running or ended last, whose committed records are counted
    {
        std::lock_guard<std::mutex> lock(m_csQueue);
        if (!m_pQueueHead || !m_pQueueHead->pNext) {
            m_bStoreFailed = 0;
            return 1;
        }
        // A deletion under way decides what becomes of the queued records.
        if (m_bDeleting) return 1;
        batch = m_pQueueHead->pNext;
        m_pQueueHead->pNext = nullptr;
        m_pQueueTail = nullptr;
        generation = m_nGeneration;
        walk = m_nWalkSerial;
        m_bBatchInFlight = true;
    }

    // Records of an older generation were dropped when it was raised; those of this batch are of
    // the generation it was taken in. The database work runs without the queue lock: the walk
    // goes on queueing meanwhile.
    if (m_fnTestHook) m_fnTestHook(TestPoint::DrainTookBatch);
    const DrainResult result = StoreBatch(batch, generation);
    RecordNode* rest = batch;
    int storedCounted = 0;      // of the device whose count is kept
    unsigned storedOfWalk = 0;  // of that walk
    for (int i = 0; i < result.stored; ++i) {
        if (rest->dwDeviceID == m_dwCountedID) ++storedCounted;
        if (rest->nWalk == walk) ++storedOfWalk;
        RecordNode* next = rest->pNext;
        std::free(rest);
        rest = next;
    }
    if (result.stored > 0) {
        m_bDeviceKnown = 1;
        if (m_nStoredCount >= 0) m_nStoredCount += storedCounted - result.skipped;
    }
    {
        std::lock_guard<std::mutex> lock(m_csQueue);
        m_bBatchInFlight = false;
        if (walk == m_nWalkSerial) m_nWalkCommitted += storedOfWalk;
        if (rest && generation != m_nGeneration) {
            FreeRecordNodes(rest);
            rest = nullptr;
        } else if (rest) {
            // Back to the front, before what was queued meanwhile.
            RecordNode* last = rest;
            while (last->pNext) last = last->pNext;
            last->pNext = m_pQueueHead->pNext;
            if (!m_pQueueHead->pNext) m_pQueueTail = last;
            m_pQueueHead->pNext = rest;
        }
        if (result.failed) ++m_nFailedDrains;
        if (result.failed && rest)
            m_bStoreFailed = 1;
        else if (!m_pQueueHead->pNext)
            m_bStoreFailed = 0;
        m_cvStored.notify_all();
    }
    if (result.failed && result.errorCode != 0) {
        // Records the database refuses wait in the queue for a later drain; the refusal is shown
        // once per kind of failure (a failed open has shown its own message).
        DatabaseFailures().Show(DbFailureKindOf(result.errorCode), m_strDbPath,
                                LoadString(IDS_RECORDS_NOT_STORED) +
                                    (result.reason.empty() ? "" : "\n" + result.reason),
                                MsgIcon::Stop, DB_LEVEL_WRITE);
    } else if (!result.failed && result.stored > 0 && !rest) {
        DatabaseFailures().Recovered(m_strDbPath, DB_LEVEL_WRITE);
    }
    return 1;
}

void CDeviceState::BeginRowDeletion(const std::string& deviceId)
{
    // IDs are told apart without regard to case, as the database's hexadecimal digits may be written.
    std::string id = deviceId;
    for (char& c : id) c = AsciiUpper(c);
    std::lock_guard<std::mutex> lock(m_csQueue);
    m_bDeleting = true;
    m_bDeletionDropped = false;
    m_strDeletingID = std::move(id);
    // Downloads under way stop; the next one starts once the deletion has ended.
    m_bDbCleared = 1;
}

bool CDeviceState::DeletionConcernsLocked(std::uint32_t deviceId) const
{
    return m_strDeletingID == DeviceIdText(deviceId);
}

void CDeviceState::EndRowDeletion(bool committed)
{
    std::lock_guard<std::mutex> lock(m_csQueue);
    if (committed) {
        // The rows are gone: a walk of that device resumed from a resume point that no longer
        // exists, and what it queued would continue rows that are gone.
        const bool walked = m_dwWalkDevice != 0 && DeletionConcernsLocked(m_dwWalkDevice);
        if (walked || DeletionConcernsLocked(m_dwDeviceID)) {
            RaiseGenerationLocked(true);
        } else if (m_pQueueHead) {
            // Only that device's records go; others wait on.
            RecordNode* keep = m_pQueueHead;
            while (RecordNode* node = keep->pNext) {
                if (DeletionConcernsLocked(node->dwDeviceID)) {
                    keep->pNext = node->pNext;
                    std::free(node);
                } else {
                    keep = node;
                }
            }
            m_pQueueTail = keep == m_pQueueHead ? nullptr : keep;
        }
        // A new download starts from what the deletion left.
        m_bDbCleared = 1;
    } else if (m_bDeletionDropped) {
        // The rows stay, but a walk lost records while they were being deleted: what it fetched
        // after them would move the resume point past the gap. The next walk resumes before it.
        RaiseGenerationLocked(true);
        m_bDbCleared = 1;
    }
    m_bDeleting = false;
    m_bDeletionDropped = false;
    m_strDeletingID.clear();
    WakeWriterLocked();
    m_cvStored.notify_all();
}

int CDeviceState::LoadDeviceRow()
{
    std::lock_guard<std::mutex> lock(m_csDeviceRow);
    const std::string id = DeviceIdText(m_dwDeviceID);

    // Read when the count and, for a row, the row itself came back; known only when the row
    // was found and its resume point read in full. A database that could not be read says
    // nothing about the device: taking it for a new one would store every record again.
    int read = 0;
    int known = 0;
    if (m_dbDevice.Open(m_strDbPath) == 0 && m_dbDevice.CountDevice(id) == 0) {
        const std::optional<std::int64_t> count = m_dbDevice.m_pDevice.GetInt("Count");
        m_dbDevice.m_pDevice.Close();
        if (count && *count <= 0) {
            read = 1;
        } else if (count && m_dbDevice.OpenDevice(id) == 0) {
            read = 1;
            const CRecordset& row = m_dbDevice.m_pDevice;
            const auto lastTime = row.GetString("DevLastTime");
            const auto lastRecord = row.GetInt("DevLastPagnRecords");
            const auto lastPage = row.GetInt("DevLastPag");
            if (lastRecord) m_nLastRecord = static_cast<int>(*lastRecord);
            if (lastPage) m_nLastPage = static_cast<int>(*lastPage);
            m_LastTime = OleDateTime::Parse(lastTime.value_or(""));
            known = lastTime && lastRecord && lastPage && m_LastTime.IsValid() && *lastPage >= PAGE_FIRST &&
                    *lastPage <= PAGE_LAST && *lastRecord >= 0 && *lastRecord <= PAGE_RECORDS;
            m_dbDevice.m_pDevice.Close();
        }
    }
    // Records stored for the device already: a walk that cannot resume from the row (none, or
    // one that cannot be used, or a page that no longer holds it) must not store them again.
    std::optional<std::int64_t> storedUpTo;
    if (read) {
        const std::optional<std::string> spelling = m_dbDevice.StoredDeviceId(id);
        if (spelling) storedUpTo = m_dbDevice.StoredRecordsBound(*spelling);
        if (!storedUpTo) read = 0;
    }
    m_dbDevice.Close();
    if (read) {
        m_bDeviceKnown = known;
        m_nStoredUpTo = *storedUpTo;
    }
    return read;
}

int CDeviceState::CountStoredRecords() { return CountStoredRecordsOf(m_dwDeviceID); }

int CDeviceState::CountStoredRecordsOf(std::uint32_t deviceId)
{
    m_dbCount.Open(m_strDbPath);
    const std::optional<std::string> spelling = m_dbCount.StoredDeviceId(DeviceIdText(deviceId));
    if (!spelling) return -1;
    const std::string where = WhereDevice(*spelling);
    if (where.empty()) return -1;
    if (m_dbCount.CountRecords(where) < 0) return -1;
    const auto count = m_dbCount.m_pRecord.GetInt("Count");
    m_dbCount.m_pRecord.Close();
    return count ? static_cast<int>(*count) : -1;
}

bool CDeviceState::WaitForWriterWork()
{
    std::unique_lock<std::mutex> lock(m_csQueue);
    for (;;) {
        if (m_bQuit) return false;
        if (m_bWriterWake) {
            m_bWriterWake = false;
            return true;
        }
        const auto now = SteadyClock::now();
        auto until = SteadyClock::time_point::max();
        if (m_pQueueHead && m_pQueueHead->pNext && !m_bDeleting) {
            if (now >= m_tRetryAt) return true;
            until = m_tRetryAt;
        }
        // A count that failed is tried again a while later.
        if (m_nStoredCount < 0 && m_dwDeviceID != 0) {
            if (now >= m_tCountRetryAt) return true;
            until = std::min(until, m_tCountRetryAt);
        }
        if (until == SteadyClock::time_point::max())
            m_cvWriter.wait(lock);
        else
            m_cvWriter.wait_until(lock, until);
    }
}

void CDeviceState::RunRecordWriter(const std::function<void(int count)>& showCount)
{
    // Asleep until records are queued, a deletion ends, the device changes or the program quits.
    while (WaitForWriterWork()) {
        StoreQueuedRecords();
        if (m_dwDeviceID != 0) {
            const int n = StoredRecordCount();
            if (n >= 0 && showCount) showCount(n);
        }
    }
}

void CDeviceState::StoreQueuedRecords()
{
    // After a failed drain (a full disk, a damaged file) the next ones come less and less often,
    // up to about once a second; the records wait in the queue meanwhile.
    {
        std::lock_guard<std::mutex> lock(m_csQueue);
        if (SteadyClock::now() < m_tRetryAt) return;
    }
    FlushRecordQueue();
    ++m_nDrains;
    std::lock_guard<std::mutex> lock(m_csQueue);
    if (m_bStoreFailed) {
        m_nDrainBackoffMs = static_cast<int>(std::min<long long>(
            kMaxBackoff.count(), std::max<long long>(kFirstBackoff.count(), 2LL * m_nDrainBackoffMs)));
        m_tRetryAt = SteadyClock::now() + std::chrono::milliseconds(m_nDrainBackoffMs);
    } else {
        m_nDrainBackoffMs = 0;
        m_tRetryAt = {};
    }
}

int CDeviceState::StoredRecordCount()
{
    // Counting a large database takes a while: the count is kept up by the drain, and counted
    // again only for another device or database, or after rows were deleted. The change counter
    // is read first, so that a deletion committed during the count moves it once more.
    const std::uint32_t id = m_dwDeviceID;
    const unsigned changes = CDB::ChangeCount();
    if (m_nStoredCount >= 0 && id == m_dwCountedID && changes == m_nCountedChanges && m_strDbPath == m_strCountedPath)
        return m_nStoredCount;
    if (SteadyClock::now() < m_tCountRetryAt) return -1;
    m_dwCountedID = id;
    m_nCountedChanges = changes;
    m_strCountedPath = m_strDbPath;
    m_nStoredCount = CountStoredRecordsOf(id);
    if (m_nStoredCount < 0) m_tCountRetryAt = SteadyClock::now() + kCountRetry;
    return m_nStoredCount;
}

int CDeviceState::WaitForQueuedRecords()
{
    std::unique_lock<std::mutex> lock(m_csQueue);
    // Judged by a drain run since the wait began: an earlier failure may be over.
    const unsigned failed = m_nFailedDrains;
    m_cvStored.wait(lock, [&] { return !HasQueuedRecordsLocked() || m_nFailedDrains != failed || m_bQuit; });
    return HasQueuedRecordsLocked() ? 0 : 1;
}
