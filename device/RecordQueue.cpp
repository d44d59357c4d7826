// The record queue: its nodes, appends, and what the walk and tests queue.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "database/RowFormat.h"
#include "device/CDeviceState.h"
#include "device/RecordNode.h"
#include "platform/MessageBox.h"
#include "platform/OleDateTime.h"

RecordNode* AllocRecordNode() { return static_cast<RecordNode*>(std::calloc(1, sizeof(RecordNode))); }

void FreeRecordNodes(RecordNode* node)
{
    while (node) {
        RecordNode* next = node->pNext;
        std::free(node);
        node = next;
    }
}

RecordNode* MakeRecordNode(std::uint32_t deviceId, int mode, int page, int interval, int temp, int humi, int recordNo,
                           const OleDateTime& pageTime, unsigned generation)
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

void AppendRecordNode(RecordNode* head, RecordNode*& tail, std::uint32_t deviceId, int mode, int page, int interval,
                      int temp, int humi, int recordNo, const OleDateTime& pageTime, unsigned generation)
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
    // deleted its records wait nowhere, and the walk ends: a deletion that fails then starts a
    // new generation, so that nothing after the gap is stored.
    if (m_bDeleting && DeletionConcernsLocked(node->dwDeviceID)) {
        m_bDeletionDropped = true;
        std::free(node);
        return false;
    }
    if (!m_pQueueHead || node->nGeneration != m_nGeneration || node->nWalk != m_nWalkSerial) {
        std::free(node);
        return false;
    }
    LinkRecordNode(m_pQueueHead, m_pQueueTail, node);
    ++m_nWalkQueued;
    m_cvWriter.notify_one();  // unless it waits out a pause after a failure
    return true;
}

bool CDeviceState::HasQueuedRecordsLocked() const { return m_bBatchInFlight || (m_pQueueHead && m_pQueueHead->pNext); }

bool CDeviceState::HasQueuedRecords()
{
    std::lock_guard<std::mutex> lock(m_csQueue);
    return HasQueuedRecordsLocked();
}
