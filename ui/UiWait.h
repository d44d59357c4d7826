#pragma once
// Waiting on the UI thread for worker threads. A worker may itself be waiting for this thread
// (a message box handed over, the monitor's report), so the wait keeps serving those hand-overs;
// user input waits until it is over.
#include <functional>
#include <mutex>

void WaitServingHandOvers(const std::function<bool()>& done);

// Takes a lock that worker threads hold while they may hand a message box over to this thread.
std::unique_lock<std::mutex> LockServingHandOvers(std::mutex& mutex);
