#include "ui/UiWait.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>

#include <chrono>
#include <thread>

void WaitServingHandOvers(const std::function<bool()>& done, WaitInput input)
{
    const auto flags = input == WaitInput::Held ? QEventLoop::ExcludeUserInputEvents : QEventLoop::AllEvents;
    while (!done()) {
        QCoreApplication::processEvents(flags, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

CWaitCursor::CWaitCursor() { QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }

CWaitCursor::~CWaitCursor() { QGuiApplication::restoreOverrideCursor(); }
