#pragma once
// One downloaded record waiting in the record queue. Allocated with malloc, zero-filled,
// freed with free by whoever unlinks it.
#include <cstdint>

class OleDateTime;

struct RecordNode {
    std::uint32_t dwDeviceID;
    int nMode;
    int nPage;
    int nInterval;
    int nTemp;
    int nHumi;
    int nRecordNo;        // within its page, from 1
    double dPageStart;    // DATE of the page's first record
    int nPageStartStatus; // 0 valid, 1 invalid
    RecordNode* pNext;
};

// Allocates a zero-filled node; nullptr when out of memory.
RecordNode* AllocRecordNode();

// Links one record at the tail of the queue whose sentinel is head; tail is the queue's last node
// (nullptr when empty) and moves to the new one, so an append costs the same however long the
// queue. The caller holds the queue lock. On allocation failure shows a message and gives the
// record up.
void AppendRecordNode(RecordNode* head, RecordNode*& tail, std::uint32_t deviceId, int mode, int page,
                      int interval, int temp, int humi, int recordNo, const OleDateTime& pageTime);
