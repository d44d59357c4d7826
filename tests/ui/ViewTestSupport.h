#pragma once
// Helpers of the live-panel tests: a bounded wait that keeps the event loop running, and the
// string table of one language.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPaintEvent>
#include <QRegion>
#include <QThread>

#include <vector>

#include "app/CQuorvantisApp.h"
#include "app/Language.h"
#include "platform/StringTable.h"

// Processes events until cond holds; false if it still does not after a generous bound (a hang
// guard, not a timing assertion).
template <class Cond>
bool WaitUntil(Cond cond, int boundMs = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (!cond()) {
        if (timer.elapsed() > boundMs)
            return cond();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
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

// The paints of the widget it is installed on, each by its region.
class PaintWatch : public QObject {
public:
    std::vector<QRegion> paints;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            paints.push_back(static_cast<QPaintEvent*>(event)->region());
        return false;
    }
};

// Serves what the UI thread has been asked for so far: a wake already written is read by the first
// pass, the paint it asks for is made by the next.
inline void ServeEvents()
{
    for (int i = 0; i < 4; ++i)
        QCoreApplication::processEvents();
}
