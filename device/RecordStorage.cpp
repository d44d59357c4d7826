// Record storage: the queue drain into table Records with the resume point in table Device,
// the loader of that resume point, and the stored-record count.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>

#include "database/CDB.h"
#include "database/RowFormat.h"
#include "device/CDeviceState.h"
#include "platform/OleDateTime.h"
#include "platform/StringTable.h"
#include "resources/resource.h"

namespace {

// The longest pause of the writer after failures, in its 10 ms passes.
constexpr int kMaxBackoffPasses = 100;

void FreeNodes(RecordNode* node)
{
    while (node) {
        RecordNode* next = node->pNext;
        std::free(node);
        node = next;
    }
}

// Frees every queued record; the sentinel stays.
void DropQueue(RecordNode* head, RecordNode*& tail)
{
    tail = nullptr;
    if (!head) return;
    FreeNodes(head->pNext);
    head->pNext = nullptr;
}

// Start time of the page as the node carries it.
OleDateTime PageStart(const RecordNode& node)
{
    return OleDateTime(node.dPageStart, node.nPageStartStatus == 0 ? OleDateTime::valid
                                                                   : OleDateTime::invalid);
}

}  // namespace

int CDeviceState::FlushRecordQueue()
{
    m_pQueuePrev = m_pQueueHead;
    m_pQueueCur = nullptr;
    if (!m_pQueueHead || !m_pQueueHead->pNext) {
        m_bStoreFailed = 0;
        return 1;
    }

    auto dropAll = [this] {
        DropQueue(m_pQueueHead, m_pQueueTail);
        m_pQueueCur = nullptr;
        m_bStoreFailed = 0;
    };
    if (m_bDbCleared) {
        dropAll();
        return 1;
    }

    // Records the database refuses wait in the queue for a later drain; the refusal is shown once
    // (a failed open has shown its own message).
    auto refused = [this](const std::string& reason) {
        m_bStoreFailed = 1;
        m_StoreFailure.Show(LoadString(IDS_RECORDS_NOT_STORED) + (reason.empty() ? "" : "\n" + reason),
                            MsgIcon::Stop);
    };

    // One connection and one transaction per drain. Anything that keeps the transaction from
    // committing leaves the records queued for the next drain.
    if (m_dbRecords.Open(m_strDbPath) != 0) {
        m_bStoreFailed = 1;
        return 1;
    }
    if (m_dbRecords.BeginTransaction() != 1) {
        refused(m_dbRecords.LastError());
        m_dbRecords.Close();
        return 1;
    }
    auto rollback = [this] {
        m_dbRecords.Rollback();
        m_dbRecords.Close();
        m_pQueueCur = nullptr;
    };
    // The reason is taken before the rollback replaces it.
    auto abandon = [&](const std::string& reason) {
        rollback();
        refused(reason);
        return 1;
    };

    // The resume point is written for the last stored record of each device before the commit;
    // within the transaction the intermediate ones would never be seen.
    RecordNode* pending = nullptr;
    auto savePending = [this, &pending] {
        if (!pending) return true;
        const OleDateTime pageStart = PageStart(*pending);
        const int result = m_dbRecords.SaveDevice(DeviceIdText(pending->dwDeviceID),
                                                  DateTimeText(pageStart), pending->nRecordNo,
                                                  pending->nPage, pending->nMode);
        pending = nullptr;
        return result == 1;
    };

    int stored = 0;
    int storedCounted = 0;  // of the device whose count is kept
    std::string insertError;
    RecordNode* node = m_pQueueHead->pNext;
    for (; node; node = node->pNext) {
        m_pQueueCur = node;
        if (m_bDbCleared) {
            rollback();
            dropAll();
            return 1;
        }
        if (pending && pending->dwDeviceID != node->dwDeviceID && !savePending())
            return abandon(m_dbRecords.LastError());

        // The product is a 32-bit count of seconds; the sum is taken whatever the page time's status.
        const OleDateTime recordTime =
            OleDateTime(node->dPageStart, OleDateTime::valid)
                .AddSeconds(static_cast<std::int32_t>((node->nRecordNo - 1) * node->nInterval));
        const int inserted = m_dbRecords.InsertRecord(
            DeviceIdText(node->dwDeviceID), PageText(node->nPage), DateTimeText(recordTime),
            TemperatureText(static_cast<unsigned>(node->nTemp)),
            HumidityText(static_cast<unsigned>(node->nHumi)));
        // A refused record stops the drain: it and the ones after it wait for the next one,
        // and the resume point stays before it.
        if (inserted != 1) {
            insertError = m_dbRecords.LastError();
            break;
        }
        pending = node;
        ++stored;
        if (node->dwDeviceID == m_dwCountedID) ++storedCounted;
    }
    if (stored == 0) return abandon(insertError);
    if (!savePending()) return abandon(m_dbRecords.LastError());
    if (m_bDbCleared) {
        rollback();
        dropAll();
        return 1;
    }
    if (m_dbRecords.Commit() != 1) return abandon(m_dbRecords.LastError());
    m_dbRecords.Close();
    m_bDeviceKnown = 1;
    if (m_nStoredCount >= 0) m_nStoredCount += storedCounted;

    // Unlink and free the stored nodes; node is the first one left queued (or null).
    RecordNode* first = m_pQueueHead->pNext;
    m_pQueueHead->pNext = node;
    for (int i = 0; i < stored; ++i) {
        RecordNode* next = first->pNext;
        std::free(first);
        first = next;
    }
    m_pQueueCur = nullptr;
    if (node) {
        refused(insertError);
    } else {
        m_pQueueTail = nullptr;
        m_bStoreFailed = 0;
        m_StoreFailure.Recovered();
    }
    return 1;
}

bool CDeviceState::HasQueuedRecords() const { return m_pQueueHead && m_pQueueHead->pNext; }

void CDeviceState::EndRowDeletion()
{
    // Whatever a download queued before the deletion may continue rows that are gone now.
    DropQueue(m_pQueueHead, m_pQueueTail);
    m_pQueueCur = nullptr;
    m_bDbCleared = DB_DELETED;
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
            known = lastTime && lastRecord && lastPage && m_LastTime.IsValid() &&
                    *lastPage >= PAGE_FIRST && *lastPage <= PAGE_LAST && *lastRecord >= 0 &&
                    *lastRecord <= PAGE_RECORDS;
            m_dbDevice.m_pDevice.Close();
        }
    }
    m_dbDevice.Close();
    if (read) m_bDeviceKnown = known;
    return read;
}

int CDeviceState::CountStoredRecords() { return CountStoredRecordsOf(m_dwDeviceID); }

int CDeviceState::CountStoredRecordsOf(std::uint32_t deviceId)
{
    const std::string where = WhereDevice(DeviceIdText(deviceId));
    if (where.empty()) return -1;
    m_dbCount.Open(m_strDbPath);
    if (m_dbCount.CountRecords(where) < 0) return -1;
    const auto count = m_dbCount.m_pRecord.GetInt("Count");
    m_dbCount.m_pRecord.Close();
    return count ? static_cast<int>(*count) : -1;
}

void CDeviceState::StoreQueuedRecords()
{
    // After a failed drain (a full disk, a damaged file) the next ones come less and less often,
    // up to about once a second; the records wait in the queue meanwhile. A deletion's request
    // is served at once.
    if (m_nDrainSkip > 0 && !m_bDbCleared) {
        --m_nDrainSkip;
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_csQueue);
        FlushRecordQueue();
    }
    ++m_nDrains;
    if (m_bStoreFailed) {
        m_nDrainBackoff = std::min(kMaxBackoffPasses, std::max(1, 2 * m_nDrainBackoff));
        m_nDrainSkip = m_nDrainBackoff;
    } else {
        m_nDrainBackoff = m_nDrainSkip = 0;
    }
}

int CDeviceState::StoredRecordCount()
{
    // Counting a large database takes a while: the count is kept up by the drain, and counted
    // again only for another device or database, or after rows were deleted. The change counter
    // is read first, so that a deletion committed during the count moves it once more.
    const std::uint32_t id = m_dwDeviceID;
    const unsigned changes = CDB::ChangeCount();
    if (m_nStoredCount >= 0 && id == m_dwCountedID && changes == m_nCountedChanges &&
        m_strDbPath == m_strCountedPath)
        return m_nStoredCount;
    if (m_nCountRetry > 0) {
        --m_nCountRetry;
        return -1;
    }
    m_dwCountedID = id;
    m_nCountedChanges = changes;
    m_strCountedPath = m_strDbPath;
    m_nStoredCount = CountStoredRecordsOf(id);
    if (m_nStoredCount < 0) m_nCountRetry = kMaxBackoffPasses;
    return m_nStoredCount;
}

int CDeviceState::WaitForQueuedRecords()
{
    const unsigned drains = m_nDrains;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_csQueue);
            if (!m_pQueueHead || !m_pQueueHead->pNext) return 1;
        }
        // Judged by a drain run since the wait began: an earlier failure may be over.
        if ((m_bStoreFailed && m_nDrains != drains) || m_bQuit || !m_Link.IsDeviceOpen()) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}
