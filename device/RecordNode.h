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
    int nRecordNo;         // within its page, from 1
    double dPageStart;     // DATE of the page's first record
    int nPageStartStatus;  // 0 valid, 1 invalid
    RecordNode* pNext;
    unsigned nGeneration;      // of the walk that fetched it; an older one is dropped, never stored
    unsigned nWalk;            // serial of that walk (0: queued by no walk)
    std::int64_t nStoredUpTo;  // rows at or below this rowid may hold it already (0: none can)
};

// Allocates a zero-filled node; nullptr when out of memory.
RecordNode* AllocRecordNode();

// Frees a list of nodes.
void FreeRecordNodes(RecordNode* node);

// A filled node, not yet linked; on allocation failure shows a message and returns nullptr (the
// record is given up). Never called with the queue lock held: the message waits for the user.
RecordNode* MakeRecordNode(std::uint32_t deviceId, int mode, int page, int interval, int temp, int humi, int recordNo,
                           const OleDateTime& pageTime, unsigned generation);

// Links a node at the tail of the queue whose sentinel is head; tail is the queue's last node
// (nullptr when empty) and moves to the new one, so an append costs the same however long the
// queue. The caller holds the queue lock.
void LinkRecordNode(RecordNode* head, RecordNode*& tail, RecordNode* node);

// Both of the above, for a queue no other thread uses.
void AppendRecordNode(RecordNode* head, RecordNode*& tail, std::uint32_t deviceId, int mode, int page, int interval,
                      int temp, int humi, int recordNo, const OleDateTime& pageTime, unsigned generation);
