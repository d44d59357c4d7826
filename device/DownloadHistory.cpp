// The history download: which pages of the recorder's ring are fetched, and in which order.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

#include "device/CDeviceState.h"

namespace {

// A walk over a range of pages either runs past its last page or ends the whole download
// with a result.
constexpr int kWalkRanOn = -1;

enum class CountTest { None, Stop, Skip };

// A count byte above 63 marks a page without a record count (empty, or not a count at all).
bool HasNoRecordCount(int pageCount) { return pageCount > PAGE_RECORDS; }

class HistoryWalk {
public:
    explicit HistoryWalk(CDeviceState& state) : m_st(state) {}

    int Run()
    {
        CDeviceState& st = m_st;
        // An erase waits for the walks to end: none starts until it is over.
        if (!st.BeginWalk()) return 1;
        // Requests raised before this walk are served by it.
        st.m_bDeviceErased = 0;
        st.m_bDbCleared = 0;
        {
            std::lock_guard<std::mutex> lock(st.m_csQueue);
            m_generation = st.m_nWalkGeneration;
        }
        const int result = Walk();
        st.EndWalk();
        return result;
    }

private:
    int Walk()
    {
        CDeviceState& st = m_st;
        // The resume point in the database is behind records still queued from the last walk;
        // starting from it would fetch them a second time.
        if (st.WaitForQueuedRecords() != 1) return 0;
        // A Device table that cannot be read ends the download; the next one tries again.
        if (!st.LoadDeviceRow()) return 0;
        if (st.m_fnTestHook) st.m_fnTestHook(CDeviceState::TestPoint::WalkLoadedDeviceRow);
        const int mode = st.m_nMode;

        if (!st.m_bDeviceKnown) {
            if (st.m_nNewDeviceWaitMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(st.m_nNewDeviceWaitMs));
            return FromOldest(mode);
        }
        if (mode < 0 || mode > 2) return 1;
        return Resume(mode);
    }

    // A request flag, or a newer generation: what this walk would queue is dropped. A closing
    // program also stops the walk between two exchanges: the link is free for a settings run that
    // must still finish.
    bool RequestRaised() const
    {
        return m_st.m_bDbCleared || m_st.m_bDeviceErased || m_st.m_nGeneration != m_generation ||
               m_st.m_bQuit;
    }

    // Reads the count bytes of pages first .. first + n - 1 into m_nPageCount.
    bool ReadCounts(int first, int n)
    {
        std::uint8_t buffer[MEMORY_READ_MAX + 5];
        if (!m_st.m_Link.ReadMemory(static_cast<std::uint16_t>(first), buffer, n)) return false;
        for (int i = 0; i < n; ++i) m_st.m_nPageCount[i] = buffer[i] + 1;
        return true;
    }

    // Reads and decodes the header of a page into m_PageTime and m_nPageInterval, a second time
    // when it does not convert. 1 = converted, 0 = a read failed, 2 = did not convert twice.
    int ReadHeader(int page)
    {
        CDeviceState& st = m_st;
        st.m_bHeaderRetry = 0;
        for (;;) {
            std::uint8_t h[MEMORY_READ_MAX + 5];
            if (!st.m_Link.ReadMemory(static_cast<std::uint16_t>(PageHeaderAddress(page)), h, 8))
                return 0;
            st.m_PageTime = OleDateTime(2000 + BcdDecode(h[0]), BcdDecode(h[1]), BcdDecode(h[2]),
                                        BcdDecode(h[3]), BcdDecode(h[4]), BcdDecode(h[5]));
            st.m_nPageInterval = (h[6] << 8) | h[7];
            if (st.m_PageTime.IsValid()) return 1;
            if (st.m_bHeaderRetry) {
                st.m_bHeaderRetry = 0;
                return 2;
            }
            st.m_bHeaderRetry = 1;
        }
    }

    // Pages first .. last in count blocks of 27, each handed to the page download.
    int Walk(int first, int last, CountTest test)
    {
        CDeviceState& st = m_st;
        for (int block = first; block <= last; block += PAGE_COUNTS_PER_READ) {
            const int n = std::min(PAGE_COUNTS_PER_READ, last - block + 1);
            if (!ReadCounts(block, n)) return 0;
            for (int i = 0; i < n; ++i) {
                if (RequestRaised()) return 1;
                if (test != CountTest::None && HasNoRecordCount(st.m_nPageCount[i])) {
                    if (test == CountTest::Stop) return 1;
                    continue;
                }
                const int header = ReadHeader(block + i);
                if (header == 0) return 0;
                if (header == 2) return 1;
                // A record that could not be read ends the download: going on with the next page
                // would move the resume point past the records of this one not yet fetched.
                if (!st.DownloadPage(block + i, static_cast<unsigned>(st.m_nPageCount[i]),
                                     st.m_PageTime, st.m_nPageInterval))
                    return 0;
            }
        }
        return kWalkRanOn;
    }

    static int Finish(int walkResult) { return walkResult == kWalkRanOn ? 1 : walkResult; }

    // Everything on the device, oldest page first.
    int FromOldest(int mode)
    {
        if (mode == 0 || mode == 2) return Finish(Walk(PAGE_FIRST, PAGE_LAST, CountTest::Stop));
        if (mode != 1) return 1;

        // Cycle mode: find the gap, the first page without a record count.
        CDeviceState& st = m_st;
        int gap = 0;
        int afterGap = 0;  // record count of the page after the gap
        for (int block = PAGE_FIRST; block <= PAGE_LAST && !gap; block += PAGE_COUNTS_PER_READ) {
            const int n = std::min(PAGE_COUNTS_PER_READ, PAGE_LAST - block + 1);
            if (!ReadCounts(block, n)) return 0;
            for (int i = 0; i < n; ++i) {
                if (!HasNoRecordCount(st.m_nPageCount[i])) continue;
                gap = block + i;
                if (gap == PAGE_LAST) break;
                if (i + 1 < n) {
                    afterGap = st.m_nPageCount[i + 1];
                } else {
                    std::uint8_t next[MEMORY_READ_MAX + 5];
                    if (!st.m_Link.ReadMemory(static_cast<std::uint16_t>(gap + 1), next, 1)) return 0;
                    afterGap = next[0] + 1;
                }
                break;
            }
        }
        if (!gap) return Finish(Walk(PAGE_FIRST, PAGE_LAST, CountTest::None));
        if (gap == PAGE_LAST || HasNoRecordCount(afterGap))
            return Finish(Walk(PAGE_FIRST, gap - 1, CountTest::Skip));
        // The ring has wrapped: the oldest page follows the gap.
        const int r = Walk(gap + 1, PAGE_LAST, CountTest::None);
        if (r != kWalkRanOn) return r;
        return Finish(Walk(PAGE_FIRST, gap - 1, CountTest::None));
    }

    // A known device: go on after the stored resume point when its page still holds it.
    int Resume(int mode)
    {
        CDeviceState& st = m_st;
        OleDateTime lastTime;
        {
            std::lock_guard<std::mutex> lock(st.m_csDeviceRow);
            lastTime = st.m_LastTime;
        }
        const int lastPage = st.m_nLastPage;
        const int lastRecord = st.m_nLastRecord;

        std::uint8_t countByte[MEMORY_READ_MAX + 5];
        if (!st.m_Link.ReadMemory(static_cast<std::uint16_t>(lastPage), countByte, 1)) return 0;
        st.m_nPageCount[0] = countByte[0] + 1;
        const int c = countByte[0];
        // An empty page no longer holds the stored records, whatever its header says; an erase
        // leaves a header that never converts, which would otherwise end every later download.
        if (c == 0xFF) return FromOldest(mode);
        const int header = ReadHeader(lastPage);
        if (header == 0) return 0;
        if (header == 2) return 1;

        const bool sameTime = st.m_PageTime == lastTime;
        if (!(c <= 63 && sameTime)) {
            // The page no longer holds what was stored: overwritten.
            if (!sameTime) return FromOldest(mode);
            return 1;
        }

        if (RequestRaised()) return 1;
        if (!st.ResumePage(lastRecord, lastPage, static_cast<unsigned>(c + 1), lastTime,
                           st.m_nPageInterval))
            return 0;
        if (lastPage < PAGE_LAST) {
            const int r = Walk(lastPage + 1, PAGE_LAST, CountTest::Stop);
            if (r != kWalkRanOn) return r;
        }
        if (mode == 1 && lastPage > PAGE_FIRST) return Finish(Walk(PAGE_FIRST, lastPage - 1, CountTest::Stop));
        return 1;
    }

    CDeviceState& m_st;
    unsigned m_generation = 0;  // as the walk began (a hint: the queue lock decides)
};

}  // namespace

int CDeviceState::DownloadHistory() { return HistoryWalk(*this).Run(); }
