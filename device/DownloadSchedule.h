#pragma once
// When the device monitor starts a history download and a live reading. The monitor ticks every
// 500 ms and asks at each tick; nothing here waits, reads the recorder or starts a thread.
#include <atomic>
#include <mutex>

// How a history download ended.
enum class DownloadOutcome {
    Complete,     // every page due was fetched, to the end of the ring, and its records are stored
    Stopped,      // ended early by a request, a deletion, a newer generation or the close
    NotStarted,   // not let start: an erase about to go out, a deletion of the device's rows, or
                  // a configuration not read in this generation
    LinkFailed,   // a read of the recorder failed
    Unreadable,   // a page holds no time or count the walk can use: the pages after it were not fetched
    StoreFailed,  // the database did not take the records
};
// The outcomes that are retried after a pause.
bool IsDownloadFailure(DownloadOutcome outcome);

class DownloadSchedule {
public:
    static constexpr int kTicksPerSecond = 2;
    // A live reading starts kLiveTicks or one more ticks after the last one ended (about 8 s).
    static constexpr int kLiveTicks = 16;
    // After new settings were written the next live reading comes on the fourth tick (about 2 s).
    static constexpr int kLiveTicksAfterSettings = kLiveTicks - 2;
    // A failed download is tried again 2 s later, then after 4, 8, ... s, never later than the
    // normal schedule: one download about an interval after the last one ended.
    static constexpr unsigned kFirstRetryTicks = 2 * kTicksPerSecond;
    static constexpr unsigned kMaxRetryDoublings = 16;

    struct State {
        bool downloadRunning = false;
        bool downloadRequested = false;  // a deletion, an erase, an erase waiting for a download
        bool downloadDone = false;       // the last download has ended
        DownloadOutcome lastOutcome = DownloadOutcome::Complete;
        bool liveRunning = false;
        bool liveDone = false;
        int intervalSeconds = 0;  // the recorder's recording interval
    };
    struct Actions {
        bool startDownload = false;
        bool startLive = false;
    };

    // One tick of the monitor with a configured device: what to start now.
    Actions Tick(const State& state);
    // The next live reading comes soon (settings written). Any thread.
    void LiveSoon();
    // A device forgotten: the next one is downloaded and read at once. Any thread.
    void Reset();

    // Ticks since the last download ended (0: one is due); ticks since the last live reading ended.
    std::atomic<unsigned> m_nHistoryTicks{0};
    std::atomic<int> m_nRealtimeTicks{0};

private:
    std::mutex m_cs;            // Tick runs on the monitor, Reset and LiveSoon on other threads
    unsigned m_nFailures = 0;   // failed downloads in a row
    unsigned m_nWaitTicks = 0;  // how long after the last download the next one is due
    bool m_bEndSeen = false;    // the last download's end has set m_nWaitTicks
};
