#pragma once
// Helpers of the live-panel tests: a bounded wait that keeps the event loop running, and the
// string table of one language.
#include <QCoreApplication>
#include <QFile>
#include <QThread>

#include <chrono>

#include "app/CQuorvantisApp.h"
#include "app/Language.h"
#include "platform/StringTable.h"
#include "support/BoundedWait.h"

// Processes events until cond holds; false if it still does not after the wait bound (a hang
// guard, not a timing assertion).
template <class Cond>
bool WaitUntil(Cond cond, std::chrono::milliseconds bound = kWaitBound)
{
    return PollUntil(cond, [] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }, bound);
}

// Loads the strings of language index (0..4) and makes it the application's language.
inline bool LoadTestLanguage(int index)
{
    QFile file(QStringLiteral(":/strings/%1.txt").arg(QLatin1String(kLanguageCodes[index])));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    theApp.m_nLanguage = index;
    return AppStrings().LoadFromText(file.readAll().toStdString());
}
