#pragma once
// The waits of the tests, each bounded: a fault that keeps what a test waits for from happening
// fails that test with a message naming what it waited for, instead of hanging until CTest ends it.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

// Far beyond what any wait takes: a hang guard, never a timing assertion. The sanitizers make
// everything many times slower.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr std::chrono::milliseconds kWaitBound{120000};
#else
constexpr std::chrono::milliseconds kWaitBound{20000};
#endif

// "20 s", "100 ms".
inline std::string BoundText(std::chrono::milliseconds bound)
{
    const long long ms = bound.count();
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

// Calls step until done() holds, for at most bound; false when it still does not hold then.
template <class Done, class Step>
bool PollUntil(Done done, Step step, std::chrono::milliseconds bound = kWaitBound)
{
    const auto until = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return done();
        step();
    }
    return true;
}

// Looks at done() every millisecond until it holds; a failure naming what when it never does.
template <class Done>
::testing::AssertionResult WaitFor(const std::string& what, Done done, std::chrono::milliseconds bound = kWaitBound)
{
    if (PollUntil(
            done, [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }, bound))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "waited " << BoundText(bound) << " for " << what;
}

// For a wait a test cannot give up where it stands (a thread's join, a call of the code under test
// that blocks): when the guarded scope has not been left after bound, the test program ends, failing
// the test with what it waited for. Threads still running could not be left behind safely.
class HangGuard {
public:
    explicit HangGuard(std::string what, std::chrono::milliseconds bound = kWaitBound) : m_what(std::move(what))
    {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        const std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "";
        m_watch = std::thread([this, bound, name] {
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_left.wait_for(lock, bound, [this] { return m_done; })) return;
            std::fflush(stdout);
            std::fprintf(stderr, "Failure in %s: waited %s for %s; the test cannot go on.\n", name.c_str(),
                         BoundText(bound).c_str(), m_what.c_str());
            std::fflush(stderr);
            std::_Exit(EXIT_FAILURE);
        });
    }
    ~HangGuard()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_left.notify_all();
        m_watch.join();
    }
    HangGuard(const HangGuard&) = delete;
    HangGuard& operator=(const HangGuard&) = delete;

private:
    std::string m_what;
    std::mutex m_mutex;
    std::condition_variable m_left;
    bool m_done = false;
    std::thread m_watch;
};

// Joins thread under a HangGuard.
inline void JoinWithin(std::thread& thread, const std::string& what, std::chrono::milliseconds bound = kWaitBound)
{
    HangGuard guard(what, bound);
    thread.join();
}
