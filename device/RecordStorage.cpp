// Record storage: the queue drain into table Records with the resume point in table Device,
// the loader of that resume point, and the stored-record count.
#include <cstdlib>

#include "database/CDB.h"
#include "database/RowFormat.h"
#include "device/CDeviceState.h"
#include "platform/OleDateTime.h"

namespace {

void FreeNodes(RecordNode* node)
{
    while (node) {
        RecordNode* next = node->pNext;
        std::free(node);
        node = next;
    }
}

// Frees every queued record; the sentinel stays.
void DropQueue(RecordNode* head)
{
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
    if (!m_pQueueHead || !m_pQueueHead->pNext) return 1;

    auto dropAll = [this] {
        DropQueue(m_pQueueHead);
        m_pQueueCur = nullptr;
    };
    if (m_bDbCleared) {
        dropAll();
        return 1;
    }

    // One connection and one transaction per drain. Anything that keeps the transaction from
    // committing leaves the records queued for the next drain.
    if (m_dbRecords.Open(m_strDbPath) != 0) return 1;
    if (m_dbRecords.BeginTransaction() != 1) {
        m_dbRecords.Close();
        return 1;
    }
    auto abandon = [this] {
        m_dbRecords.Rollback();
        m_dbRecords.Close();
        m_pQueueCur = nullptr;
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
    RecordNode* node = m_pQueueHead->pNext;
    for (; node; node = node->pNext) {
        m_pQueueCur = node;
        if (m_bDbCleared) {
            abandon();
            dropAll();
            return 1;
        }
        if (pending && pending->dwDeviceID != node->dwDeviceID && !savePending()) return abandon();

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
        if (inserted != 1) break;
        pending = node;
        ++stored;
    }
    if (stored == 0 || !savePending()) return abandon();
    if (m_bDbCleared) {
        abandon();
        dropAll();
        return 1;
    }
    if (m_dbRecords.Commit() != 1) return abandon();
    m_dbRecords.Close();
    m_bDeviceKnown = 1;

    // Unlink and free the stored nodes; node is the first one left queued (or null).
    RecordNode* first = m_pQueueHead->pNext;
    m_pQueueHead->pNext = node;
    for (int i = 0; i < stored; ++i) {
        RecordNode* next = first->pNext;
        std::free(first);
        first = next;
    }
    m_pQueueCur = nullptr;
    return 1;
}

bool CDeviceState::HasQueuedRecords() const { return m_pQueueHead && m_pQueueHead->pNext; }

void CDeviceState::EndRowDeletion()
{
    // Whatever a download queued before the deletion may continue rows that are gone now.
    DropQueue(m_pQueueHead);
    m_pQueueCur = nullptr;
    m_bDbCleared = DB_DELETED;
}

int CDeviceState::LoadDeviceRow()
{
    std::lock_guard<std::mutex> lock(m_csDeviceRow);
    const std::string id = DeviceIdText(m_dwDeviceID);

    // Known only when the row was found and its resume point read in full.
    int known = 0;
    if (m_dbDevice.Open(m_strDbPath) == 0 && m_dbDevice.CountDevice(id) == 0) {
        const std::int64_t count = m_dbDevice.m_pDevice.GetInt("Count").value_or(0);
        m_dbDevice.m_pDevice.Close();
        if (count > 0 && m_dbDevice.OpenDevice(id) == 0) {
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
    m_bDeviceKnown = known;
    return 1;
}

int CDeviceState::CountStoredRecords()
{
    const std::string where = WhereDevice(DeviceIdText(m_dwDeviceID));
    if (where.empty()) return -1;
    m_dbCount.Open(m_strDbPath);
    if (m_dbCount.CountRecords(where) < 0) return -1;
    const auto count = m_dbCount.m_pRecord.GetInt("Count");
    m_dbCount.m_pRecord.Close();
    return count ? static_cast<int>(*count) : -1;
}
