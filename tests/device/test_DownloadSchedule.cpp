// When the monitor starts downloads and live readings, tick by tick, without threads or a recorder.
#include <gtest/gtest.h>

#include <vector>

#include "device/DownloadSchedule.h"

namespace {

// Drives the schedule as the monitor does: each tick asks it, and what it starts runs until the
// test ends it.
struct Monitor {
    DownloadSchedule schedule;
    DownloadSchedule::State state;
    int ticks = 0;

    DownloadSchedule::Actions Tick()
    {
        ++ticks;
        const DownloadSchedule::Actions actions = schedule.Tick(state);
        if (actions.startDownload) {
            state.downloadRunning = true;
            state.downloadDone = false;
        }
        if (actions.startLive) {
            state.liveRunning = true;
            state.liveDone = false;
        }
        return actions;
    }
    void EndDownload(DownloadOutcome outcome)
    {
        state.downloadRunning = false;
        state.downloadDone = true;
        state.lastOutcome = outcome;
    }
    void EndLive()
    {
        state.liveRunning = false;
        state.liveDone = true;
    }
    // Ticks from the one that first sees the download ended to the one that starts the next.
    int TicksToNextDownload(DownloadOutcome outcome)
    {
        EndDownload(outcome);
        for (int n = 0; n <= 100000; ++n)
            if (Tick().startDownload) return n;
        return -1;
    }
    int TicksToNextLive()
    {
        EndLive();
        for (int n = 0; n <= 1000; ++n)
            if (Tick().startLive) return n;
        return -1;
    }
};

}  // namespace

TEST(DownloadSchedule, ADownloadAboutAnIntervalAfterTheLastAndFailuresRetriedSoonerAndSooner)
{
    // Two ticks a second: the next download starts twice the interval in seconds (in ticks) after
    // the last one ended; a failed one is tried again after 2 s, 4 s, 8 s ... but never later
    // than the normal schedule; a download that was stopped or not let start is followed at once.
    using O = DownloadOutcome;
    struct Case {
        const char* name;
        int interval;
        std::vector<O> outcomes;
        std::vector<int> ticks;  // to the next start after each outcome
    };
    const Case cases[] = {
        {"recording every minute", 60, {O::Complete, O::Complete}, {120, 120}},
        {"every second", 1, {O::Complete}, {2}},
        {"no interval", 0, {O::Complete}, {1}},
        {"every 240 minutes, failing",
         14400,
         {O::LinkFailed, O::LinkFailed, O::StoreFailed, O::Unreadable, O::Complete, O::LinkFailed},
         {4, 8, 16, 32, 28800, 4}},
        {"backing off up to the schedule",
         10,
         {O::LinkFailed, O::LinkFailed, O::LinkFailed, O::LinkFailed},
         {4, 8, 16, 20}},
        {"a failure never waits longer than the schedule", 1, {O::LinkFailed}, {2}},
        {"stopped, held off", 60, {O::Stopped, O::NotStarted, O::Complete}, {1, 1, 120}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Monitor m;
        m.state.intervalSeconds = c.interval;
        ASSERT_TRUE(m.Tick().startDownload);  // a new device: at once
        for (std::size_t i = 0; i < c.outcomes.size(); ++i)
            EXPECT_EQ(m.TicksToNextDownload(c.outcomes[i]), c.ticks[i]) << "after outcome " << i;
    }
}

TEST(DownloadSchedule, RequestsStartADownloadOnTheNextTickButNeverBesideARunningOne)
{
    Monitor m;
    m.state.intervalSeconds = 60;
    ASSERT_TRUE(m.Tick().startDownload);
    // Asked for while one runs: nothing, however long it runs.
    m.state.downloadRequested = true;
    for (int i = 0; i < 300; ++i) ASSERT_FALSE(m.Tick().startDownload);
    m.EndDownload(DownloadOutcome::Complete);
    EXPECT_TRUE(m.Tick().startDownload);
    m.state.downloadRequested = false;
    m.EndDownload(DownloadOutcome::Complete);
    for (int i = 0; i < 10; ++i) ASSERT_FALSE(m.Tick().startDownload);
    m.state.downloadRequested = true;
    EXPECT_TRUE(m.Tick().startDownload);

    // A device forgotten (removal, another one opened): the next download and live reading start
    // on the next tick, and the failures before are forgotten.
    m.state.downloadRequested = false;
    m.EndDownload(DownloadOutcome::LinkFailed);
    m.Tick();
    m.schedule.Reset();
    m.state = DownloadSchedule::State{};
    m.state.intervalSeconds = 60;
    const DownloadSchedule::Actions first = m.Tick();
    EXPECT_TRUE(first.startDownload);
    EXPECT_TRUE(first.startLive);
    EXPECT_EQ(m.TicksToNextDownload(DownloadOutcome::LinkFailed), 4);
}

TEST(DownloadSchedule, LiveReadingsAboutEveryEightSecondsAndSoonAfterNewSettings)
{
    Monitor m;
    ASSERT_TRUE(m.Tick().startLive);
    EXPECT_EQ(m.TicksToNextLive(), 16);
    EXPECT_EQ(m.TicksToNextLive(), 16);
    // Never a second one beside a running one.
    for (int i = 0; i < 100; ++i) ASSERT_FALSE(m.Tick().startLive);
    // New settings: the next reading on the fourth tick.
    m.EndLive();
    m.Tick();
    m.schedule.LiveSoon();
    EXPECT_EQ(m.schedule.m_nRealtimeTicks, 14);
    int n = 1;
    while (!m.Tick().startLive && n < 100) ++n;
    EXPECT_EQ(n, 4);
}
