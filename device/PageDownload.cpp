// One page of the recorder's ring fetched into the record queue.
#include <algorithm>

#include "device/CDeviceState.h"
#include "device/RecordNode.h"
#include "platform/OleDateTime.h"

int CDeviceState::DownloadPage(int page, unsigned count, OleDateTime pageTime, int interval)
{
    return ResumePage(0, page, count, pageTime, interval);
}

int CDeviceState::ResumePage(int first, int page, unsigned count, OleDateTime pageTime, int interval)
{
    return FetchPage(first, page, count, pageTime, interval, 0) == PageFetch::Failed ? 0 : 1;
}

CDeviceState::PageFetch CDeviceState::FetchPage(int first, int page, unsigned count, OleDateTime pageTime, int interval,
                                                std::int64_t storedUpTo)
{
    // A page holds at most 64 records; a larger count would read into the next page.
    const int n = static_cast<int>(std::min<unsigned>(count, PAGE_RECORDS));
    if (first < 0) first = 0;
    // The running number is kept here: m_nLastRecord is also the loaded resume point, which the
    // monitor thread may reload while a page is fetched.
    int recordNo = first;
    m_nLastRecord = recordNo;
    // The records of this page belong to the walk's device, generation and mode.
    const WalkTarget walk = CurrentWalk();

    std::uint8_t buffer[MEMORY_READ_MAX + 5];
    for (int i = first; i < n; i += PAGE_RECORDS_PER_READ) {
        const int k = std::min(PAGE_RECORDS_PER_READ, n - i);
        const int address = PageDataAddress(page) + 3 * i;
        if (!m_Link.ReadMemory(static_cast<std::uint16_t>(address), buffer, 3 * k)) return PageFetch::Failed;
        for (int j = 0; j < k; ++j) {
            const std::uint8_t* record = buffer + 3 * j;
            m_nRecHumi = HumiValueFromRaw(record[0]);
            m_nRecTemp = TempValueFromRaw((unsigned(record[1]) << 8) | record[2]);
            m_nLastRecord = ++recordNo;
            if (m_bDbCleared || m_bDeviceErased) return PageFetch::Stopped;
            RecordNode* node = MakeRecordNode(walk.deviceId, walk.mode, page, interval, m_nRecTemp, m_nRecHumi,
                                              recordNo, pageTime, walk.generation);
            // A record given up (no memory) is a record not stored: the download did not succeed.
            if (!node) return PageFetch::Failed;
            node->nWalk = walk.serial;
            node->nStoredUpTo = storedUpTo;
            // An overtaken walk ends here; the next one starts from what the database holds.
            if (!QueueWalkRecord(node)) return PageFetch::Stopped;
        }
    }
    return PageFetch::Done;
}
