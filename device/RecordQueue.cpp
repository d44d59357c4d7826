// Page download into the record queue, and the queue itself.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "device/CDeviceState.h"
#include "device/RecordNode.h"
#include "platform/MessageBox.h"
#include "platform/OleDateTime.h"

RecordNode* AllocRecordNode()
{
    return static_cast<RecordNode*>(std::calloc(1, sizeof(RecordNode)));
}

void AppendRecordNode(RecordNode* head, RecordNode*& tail, std::uint32_t deviceId, int mode, int page,
                      int interval, int temp, int humi, int recordNo, const OleDateTime& pageTime)
{
    if (!head) return;
    RecordNode* node = AllocRecordNode();
    if (!node) {
        AfxMessageBox("申请新节点失败", MsgButtons::Ok);
        return;
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

    // An emptied queue is a head without a successor, whatever tail still says.
    RecordNode* last = head->pNext ? tail : head;
    if (!last)  // a queue filled without its tail
        for (last = head; last->pNext;) last = last->pNext;
    last->pNext = node;
    tail = node;
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
    // The records of this page belong to the device and mode of its start.
    const std::uint32_t deviceId = m_dwDeviceID;
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
            // Tested under the queue lock, which a deletion holds while it empties the queue and
            // an erase while it raises its flag: nothing of this page is queued after either.
            std::lock_guard<std::mutex> lock(m_csQueue);
            if (m_bDbCleared || m_bDeviceErased) return 1;
            // The device state was reset meanwhile (unplugged): the device's rows may be deleted
            // before the record reaches the writer. It is fetched again from the resume point.
            if (m_dwDeviceID != deviceId) return 0;
            AppendRecordNode(m_pQueueHead, m_pQueueTail, deviceId, mode, page, interval, m_nRecTemp,
                             m_nRecHumi, recordNo, pageTime);
        }
    }
    return 1;
}
