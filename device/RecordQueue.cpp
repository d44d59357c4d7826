// Page download into the record queue, and the queue itself.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "database/RowFormat.h"
#include "device/CDeviceState.h"
#include "device/RecordNode.h"
#include "platform/MessageBox.h"
#include "platform/OleDateTime.h"

RecordNode* AllocRecordNode()
{
    return static_cast<RecordNode*>(std::calloc(1, sizeof(RecordNode)));
}

void FreeRecordNodes(RecordNode* node)
{
    while (node) {
        RecordNode* next = node->pNext;
        std::free(node);
        node = next;
    }
}

RecordNode* MakeRecordNode(std::uint32_t deviceId, int mode, int page, int interval, int temp, int humi,
                           int recordNo, const OleDateTime& pageTime, unsigned generation)
{
    RecordNode* node = AllocRecordNode();
    if (!node) {
        AfxMessageBox("申请新节点失败", MsgButtons::Ok);
        return nullptr;
    }
    node->dwDeviceID = deviceId;
    node->nMode = mode;
    node->nPage = page;
    node->nInterval = interval;
    node->nTemp = temp;
    node->nHumi = humi;
    node->nRecordNo = recordNo;
    node->dPageStart = pageTime.m_dt;
    node->nPageStartStatus = pageTime.m_status == OleDateTime::valid ? 0 : 1;
    node->pNext = nullptr;
    node->nGeneration = generation;
    return node;
}

void LinkRecordNode(RecordNode* head, RecordNode*& tail, RecordNode* node)
{
    if (!head || !node) return;
    // An emptied queue is a head without a successor, whatever tail still says.
    RecordNode* last = head->pNext ? tail : head;
    if (!last)  // a queue filled without its tail
        for (last = head; last->pNext;) last = last->pNext;
    last->pNext = node;
    tail = node;
}

void AppendRecordNode(RecordNode* head, RecordNode*& tail, std::uint32_t deviceId, int mode, int page,
                      int interval, int temp, int humi, int recordNo, const OleDateTime& pageTime,
                      unsigned generation)
{
    if (!head) return;
    LinkRecordNode(head, tail,
                   MakeRecordNode(deviceId, mode, page, interval, temp, humi, recordNo, pageTime, generation));
}

void CDeviceState::QueueRecord(std::uint32_t deviceId, int mode, int page, int interval, int temp, int humi,
                               int recordNo, const OleDateTime& pageTime)
{
    // The generation is the one current when the node is linked.
    RecordNode* node = MakeRecordNode(deviceId, mode, page, interval, temp, humi, recordNo, pageTime, 0);
    if (!node) return;
    std::lock_guard<std::mutex> lock(m_csQueue);
    if (!m_pQueueHead) {
        std::free(node);
        return;
    }
    node->nGeneration = m_nGeneration;
    LinkRecordNode(m_pQueueHead, m_pQueueTail, node);
    m_cvWriter.notify_one();  // unless it waits out a pause after a failure
}

bool CDeviceState::QueueWalkRecord(RecordNode* node)
{
    std::lock_guard<std::mutex> lock(m_csQueue);
    // The generation is compared under the lock that every event raising it takes, so nothing of
    // an overtaken walk is queued after the event. While the walk's device's rows are being
    // deleted its records wait nowhere: the deletion decides whether the walk may go on.
    const bool current = m_pQueueHead && node->nGeneration == m_nGeneration &&
                         !(m_bDeleting && DeletionConcernsLocked(node->dwDeviceID));
    if (!current) {
        std::free(node);
        return false;
    }
    LinkRecordNode(m_pQueueHead, m_pQueueTail, node);
    m_cvWriter.notify_one();  // unless it waits out a pause after a failure
    return true;
}

int CDeviceState::DownloadPage(int page, unsigned count, OleDateTime pageTime, int interval)
{
    return ResumePage(0, page, count, pageTime, interval);
}

int CDeviceState::ResumePage(int first, int page, unsigned count, OleDateTime pageTime, int interval)
{
    // A page holds at most 64 records; a larger count would read into the next page.
    const int n = static_cast<int>(std::min<unsigned>(count, PAGE_RECORDS));
    if (first < 0) first = 0;
    // The running number is kept here: m_nLastRecord is also the loaded resume point, which the
    // monitor thread may reload while a page is fetched.
    int recordNo = first;
    m_nLastRecord = recordNo;
    // The records of this page belong to the walk's device and generation, and the mode of its start.
    std::uint32_t deviceId;
    unsigned generation;
    {
        std::lock_guard<std::mutex> lock(m_csQueue);
        deviceId = m_dwWalkDevice;
        generation = m_nWalkGeneration;
    }
    const int mode = m_nMode;

    std::uint8_t buffer[MEMORY_READ_MAX + 5];
    for (int i = first; i < n; i += PAGE_RECORDS_PER_READ) {
        const int k = std::min(PAGE_RECORDS_PER_READ, n - i);
        const int address = PageDataAddress(page) + 3 * i;
        if (!m_Link.ReadMemory(static_cast<std::uint16_t>(address), buffer, 3 * k)) return 0;
        for (int j = 0; j < k; ++j) {
            const std::uint8_t* record = buffer + 3 * j;
            m_nRecHumi = HumiValueFromRaw(record[0]);
            m_nRecTemp = TempValueFromRaw((unsigned(record[1]) << 8) | record[2]);
            m_nLastRecord = ++recordNo;
            if (m_bDbCleared || m_bDeviceErased) return 1;
            RecordNode* node = MakeRecordNode(deviceId, mode, page, interval, m_nRecTemp, m_nRecHumi,
                                              recordNo, pageTime, generation);
            // An overtaken walk ends here; the next one starts from what the database holds.
            if (node && !QueueWalkRecord(node)) return 1;
        }
    }
    return 1;
}
