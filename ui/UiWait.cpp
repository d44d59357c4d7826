#include "ui/UiWait.h"

#include <QCoreApplication>

#include <chrono>
#include <thread>

void WaitServingHandOvers(const std::function<bool()>& done)
{
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::unique_lock<std::mutex> LockServingHandOvers(std::mutex& mutex)
{
    std::unique_lock<std::mutex> lock(mutex, std::defer_lock);
    WaitServingHandOvers([&lock] { return lock.try_lock(); });
    return lock;
}
