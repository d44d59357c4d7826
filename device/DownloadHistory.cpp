// The history download: which pages of the recorder's ring are fetched, and in which order.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "device/CDeviceState.h"

namespace {

enum class CountTest { None, Stop, Skip };

// What reading a page header gave.
enum class HeaderRead { Converted, ReadFailed, NotConverted };

// A count byte above 63 marks a page without a record count (empty, or not a count at all).
bool HasNoRecordCount(int pageCount) { return pageCount > PAGE_RECORDS; }

// A walk over a range of pages runs past its last page (nullopt) or ends the download.
using RangeEnd = std::optional<DownloadOutcome>;

class HistoryWalk {
public:
    explicit HistoryWalk(CDeviceState& state) : m_st(state) {}

    DownloadOutcome Run()
    {
        CDeviceState& st = m_st;
        if (!st.BeginWalk()) return DownloadOutcome::NotStarted;
        // Requests raised before this walk are served by it.
        st.m_bDeviceErased = 0;
        st.m_bDbCleared = 0;
        m_walk = st.CurrentWalk();
        const DownloadOutcome outcome = Walk();
        st.EndWalk(outcome);
        return outcome;
    }

private:
    DownloadOutcome Walk()
    {
        CDeviceState& st = m_st;
        // The resume point in the database is behind records still queued from the last walk;
        // starting from it would fetch them a second time.
        if (st.WaitForQueuedRecords() != 1) return st.m_bQuit ? DownloadOutcome::Stopped : DownloadOutcome::StoreFailed;
        // A Device table that cannot be read ends the download; the next one tries again.
        if (!st.LoadDeviceRow()) return DownloadOutcome::StoreFailed;
        if (st.m_fnTestHook) st.m_fnTestHook(CDeviceState::TestPoint::WalkLoadedDeviceRow);
        const int mode = m_walk.mode;

        if (!st.m_bDeviceKnown) {
            if (st.m_nNewDeviceWaitMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(st.m_nNewDeviceWaitMs));
            return FromOldest(mode);
        }
        if (mode < 0 || mode > 2) return DownloadOutcome::Unreadable;
        return Resume(mode);
    }

    // A request flag, or a newer generation: what this walk would queue is dropped. A closing
    // program also stops the walk between two exchanges: the link is free for a settings run that
    // must still finish.
    bool RequestRaised() const
    {
        return m_st.m_bDbCleared || m_st.m_bDeviceErased || m_st.m_nGeneration != m_walk.generation || m_st.m_bQuit;
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
    // when it does not convert.
    HeaderRead ReadHeader(int page)
    {
        CDeviceState& st = m_st;
        st.m_bHeaderRetry = 0;
        for (;;) {
            std::uint8_t h[MEMORY_READ_MAX + 5];
            if (!st.m_Link.ReadMemory(static_cast<std::uint16_t>(PageHeaderAddress(page)), h, 8))
                return HeaderRead::ReadFailed;
            st.m_PageTime = OleDateTime(2000 + BcdDecode(h[0]), BcdDecode(h[1]), BcdDecode(h[2]), BcdDecode(h[3]),
                                        BcdDecode(h[4]), BcdDecode(h[5]));
            st.m_nPageInterval = (h[6] << 8) | h[7];
            if (st.m_PageTime.IsValid()) return HeaderRead::Converted;
            if (st.m_bHeaderRetry) {
                st.m_bHeaderRetry = 0;
                return HeaderRead::NotConverted;
            }
            st.m_bHeaderRetry = 1;
        }
    }

    // The walk ends at a header that does not convert, as the recorder's page asks; but what
    // lies after it was never fetched, so the download is not complete.
    static DownloadOutcome HeaderFailure(HeaderRead header)
    {
        return header == HeaderRead::ReadFailed ? DownloadOutcome::LinkFailed : DownloadOutcome::Unreadable;
    }

    // Pages first .. last in count blocks of 27, each handed to the page download.
    RangeEnd Walk(int first, int last, CountTest test)
    {
        CDeviceState& st = m_st;
        for (int block = first; block <= last; block += PAGE_COUNTS_PER_READ) {
            const int n = std::min(PAGE_COUNTS_PER_READ, last - block + 1);
            if (!ReadCounts(block, n)) return DownloadOutcome::LinkFailed;
            for (int i = 0; i < n; ++i) {
                if (RequestRaised()) return DownloadOutcome::Stopped;
                if (test != CountTest::None && HasNoRecordCount(st.m_nPageCount[i])) {
                    if (test == CountTest::Stop) return DownloadOutcome::Complete;
                    continue;
                }
                const HeaderRead header = ReadHeader(block + i);
                if (header != HeaderRead::Converted) return HeaderFailure(header);
                // A record that could not be read ends the download: going on with the next page
                // would move the resume point past the records of this one not yet fetched.
                const CDeviceState::PageFetch fetched =
                    st.FetchPage(0, block + i, static_cast<unsigned>(st.m_nPageCount[i]), st.m_PageTime,
                                 st.m_nPageInterval, m_storedUpTo);
                if (fetched == CDeviceState::PageFetch::Failed) return DownloadOutcome::LinkFailed;
                if (fetched == CDeviceState::PageFetch::Stopped) return DownloadOutcome::Stopped;
            }
        }
        return std::nullopt;
    }

    static DownloadOutcome Finish(RangeEnd end) { return end.value_or(DownloadOutcome::Complete); }

    // Everything on the device, oldest page first. Records of the device already stored (a
    // Device row that cannot be used, or none beside stored records) are not stored again.
    DownloadOutcome FromOldest(int mode)
    {
        CDeviceState& st = m_st;
        m_storedUpTo = st.m_nStoredUpTo;
        if (mode == 0 || mode == 2) return Finish(Walk(PAGE_FIRST, PAGE_LAST, CountTest::Stop));
        if (mode != 1) return DownloadOutcome::Unreadable;

        // Cycle mode: find the gap, the first page without a record count.
        int gap = 0;
        int afterGap = 0;  // record count of the page after the gap
        for (int block = PAGE_FIRST; block <= PAGE_LAST && !gap; block += PAGE_COUNTS_PER_READ) {
            const int n = std::min(PAGE_COUNTS_PER_READ, PAGE_LAST - block + 1);
            if (!ReadCounts(block, n)) return DownloadOutcome::LinkFailed;
            for (int i = 0; i < n; ++i) {
                if (!HasNoRecordCount(st.m_nPageCount[i])) continue;
                gap = block + i;
                if (gap == PAGE_LAST) break;
                if (i + 1 < n) {
                    afterGap = st.m_nPageCount[i + 1];
                } else {
                    std::uint8_t next[MEMORY_READ_MAX + 5];
                    if (!st.m_Link.ReadMemory(static_cast<std::uint16_t>(gap + 1), next, 1))
                        return DownloadOutcome::LinkFailed;
                    afterGap = next[0] + 1;
                }
                break;
            }
        }
        if (!gap) return Finish(Walk(PAGE_FIRST, PAGE_LAST, CountTest::None));
        if (gap == PAGE_LAST || HasNoRecordCount(afterGap)) return Finish(Walk(PAGE_FIRST, gap - 1, CountTest::Skip));
        // The ring has wrapped: the oldest page follows the gap.
        if (const RangeEnd end = Walk(gap + 1, PAGE_LAST, CountTest::None)) return *end;
        return Finish(Walk(PAGE_FIRST, gap - 1, CountTest::None));
    }

    // A known device: go on after the stored resume point when its page still holds it.
    DownloadOutcome Resume(int mode)
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
        if (!st.m_Link.ReadMemory(static_cast<std::uint16_t>(lastPage), countByte, 1))
            return DownloadOutcome::LinkFailed;
        st.m_nPageCount[0] = countByte[0] + 1;
        const int c = countByte[0];
        // An empty page no longer holds the stored records, whatever its header says; an erase
        // leaves a header that never converts, which would otherwise end every later download.
        if (c == 0xFF) return FromOldest(mode);
        const HeaderRead header = ReadHeader(lastPage);
        if (header != HeaderRead::Converted) return HeaderFailure(header);

        const bool sameTime = st.m_PageTime == lastTime;
        if (!(c <= 63 && sameTime)) {
            // The page no longer holds what was stored: overwritten.
            if (!sameTime) return FromOldest(mode);
            // The stored page's time, without a record count: what it holds cannot be told.
            return DownloadOutcome::Unreadable;
        }

        if (RequestRaised()) return DownloadOutcome::Stopped;
        const CDeviceState::PageFetch fetched =
            st.FetchPage(lastRecord, lastPage, static_cast<unsigned>(c + 1), lastTime, st.m_nPageInterval, 0);
        if (fetched == CDeviceState::PageFetch::Failed) return DownloadOutcome::LinkFailed;
        if (fetched == CDeviceState::PageFetch::Stopped) return DownloadOutcome::Stopped;
        if (lastPage < PAGE_LAST)
            if (const RangeEnd end = Walk(lastPage + 1, PAGE_LAST, CountTest::Stop)) return *end;
        if (mode == 1 && lastPage > PAGE_FIRST) return Finish(Walk(PAGE_FIRST, lastPage - 1, CountTest::Stop));
        return DownloadOutcome::Complete;
    }

    CDeviceState& m_st;
    CDeviceState::WalkTarget m_walk;  // as the walk began
    std::int64_t m_storedUpTo = 0;    // records may be stored already at or below this rowid
};

}  // namespace

int CDeviceState::DownloadHistory()
{
    const DownloadOutcome outcome = WalkHistory();
    return outcome == DownloadOutcome::LinkFailed || outcome == DownloadOutcome::StoreFailed ? 0 : 1;
}

DownloadOutcome CDeviceState::WalkHistory() { return HistoryWalk(*this).Run(); }

DownloadOutcome CDeviceState::Download()
{
    const DownloadOutcome walked = WalkHistory();
    if (walked != DownloadOutcome::Complete) return walked;
    // Complete only once every record the walk queued is committed.
    std::unique_lock<std::mutex> lock(m_csQueue);
    const unsigned failed = m_nFailedDrains;
    const unsigned generation = m_nWalkGeneration;
    auto stored = [&] { return m_nWalkCommitted >= m_nWalkQueued && m_nGeneration == generation; };
    m_cvStored.wait(lock,
                    [&] { return stored() || m_nGeneration != generation || m_nFailedDrains != failed || m_bQuit; });
    if (stored()) return DownloadOutcome::Complete;
    if (m_nGeneration != generation || m_bQuit) return DownloadOutcome::Stopped;
    return DownloadOutcome::StoreFailed;
}

bool CDeviceState::BeginWalk()
{
    std::lock_guard<std::mutex> lock(m_csQueue);
    if (m_bWalkRunning) return false;  // two downloads never run at once
    // Only a recorder whose configuration was read in this generation: its ID and mode are those
    // of the recorder now connected.
    const bool held = m_dwDeviceID == 0 || m_bReadConfig || m_nConfigGeneration != m_nGeneration ||
                      (m_bDeleting && DeletionConcernsLocked(m_dwDeviceID)) || m_bErasing || EraseDueLocked();
    if (held) return false;
    m_bWalkRunning = true;
    ++m_nWalkSerial;
    m_nWalkQueued = 0;
    m_nWalkCommitted = 0;
    m_nWalkGeneration = m_nGeneration;
    m_dwWalkDevice = m_dwDeviceID;
    m_nWalkMode = m_nMode;
    return true;
}

void CDeviceState::EndWalk(DownloadOutcome outcome)
{
    std::lock_guard<std::mutex> lock(m_csQueue);
    m_bWalkRunning = false;
    m_eWalkOutcome = outcome;
    m_cvStored.notify_all();
}

CDeviceState::WalkTarget CDeviceState::CurrentWalk()
{
    std::lock_guard<std::mutex> lock(m_csQueue);
    return WalkTarget{m_dwWalkDevice, m_nWalkGeneration, m_nWalkSerial, m_nWalkMode};
}
