#include "device/DownloadSchedule.h"

#include <algorithm>

bool IsDownloadFailure(DownloadOutcome outcome)
{
    return outcome == DownloadOutcome::LinkFailed || outcome == DownloadOutcome::Unreadable ||
           outcome == DownloadOutcome::StoreFailed;
}

DownloadSchedule::Actions DownloadSchedule::Tick(const State& s)
{
    std::lock_guard<std::mutex> lock(m_cs);
    Actions actions;

    // Two downloads never overlap: one that is due or asked for waits for the running one.
    if (!s.downloadRunning && (m_nHistoryTicks == 0 || s.downloadRequested)) {
        m_nHistoryTicks = 1;
        m_bEndSeen = false;
        actions.startDownload = true;
    } else if (s.downloadDone && !s.downloadRunning) {
        if (!m_bEndSeen) {
            m_bEndSeen = true;
            const unsigned normal = 2u * static_cast<unsigned>(std::max(s.intervalSeconds, 0));
            if (IsDownloadFailure(s.lastOutcome)) {
                const unsigned doublings = std::min(m_nFailures, kMaxRetryDoublings);
                ++m_nFailures;
                m_nWaitTicks = std::min(normal, kFirstRetryTicks << doublings);
            } else if (s.lastOutcome == DownloadOutcome::Complete) {
                m_nFailures = 0;
                m_nWaitTicks = normal;
            } else {
                m_nWaitTicks = 0;  // stopped or held off: another one follows at once
            }
        }
        const unsigned ticks = m_nHistoryTicks;
        m_nHistoryTicks = ticks >= m_nWaitTicks ? 0u : ticks + 1;
    }

    if (m_nRealtimeTicks == 0 && !s.liveRunning) {
        actions.startLive = true;
        m_nRealtimeTicks = 1;
    } else if (s.liveDone) {
        const int ticks = m_nRealtimeTicks;
        m_nRealtimeTicks = ticks == kLiveTicks ? 0 : ticks + 1;
    }
    return actions;
}

void DownloadSchedule::LiveSoon() { m_nRealtimeTicks = kLiveTicksAfterSettings; }

void DownloadSchedule::Reset()
{
    std::lock_guard<std::mutex> lock(m_cs);
    m_nHistoryTicks = 0;
    m_nRealtimeTicks = 0;
    m_nFailures = 0;
    m_nWaitTicks = 0;
    m_bEndSeen = false;
}
