#pragma once
// Waiting on the UI thread for worker threads. A worker may itself be waiting for this thread
// (a message box handed over, the monitor's report), so the wait keeps serving those hand-overs;
// user input waits until it is over.
#include <functional>

// Taken: the user's input is served too (a wait the user may give up).
enum class WaitInput { Held, Taken };
void WaitServingHandOvers(const std::function<bool()>& done, WaitInput input = WaitInput::Held);

// The wait cursor over the whole application for the lifetime of a scope.
class CWaitCursor {
public:
    CWaitCursor();
    ~CWaitCursor();
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};
