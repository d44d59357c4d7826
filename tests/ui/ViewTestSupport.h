#pragma once
// Helpers of the live-panel tests: a bounded wait that keeps the event loop running, and the
// string table of one language.
#include <QCoreApplication>
#include <QFile>
#include <QPaintEvent>
#include <QRegion>
#include <QThread>

#include <chrono>
#include <vector>

#include "app/CQuorvantisApp.h"
#include "app/CQuorvantisView.h"
#include "app/Language.h"
#include "device/DeviceProtocol.h"
#include "platform/StringTable.h"
#include "support/BoundedWait.h"

// Processes events until cond holds; false if it still does not after the wait bound (a hang
// guard, not a timing assertion).
template <class Cond>
bool WaitUntil(Cond cond, std::chrono::milliseconds bound = kWaitBound)
{
    return PollUntil(
        cond,
        [] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(2);
        },
        bound);
}

// Loads the strings of language index (0..4) and makes it the application's language.
inline bool LoadTestLanguage(int index)
{
    QFile file(QStringLiteral(":/strings/%1.txt").arg(QLatin1String(kLanguageCodes[index])));
    if (!file.open(QIODevice::ReadOnly)) return false;
    theApp.m_nLanguage = index;
    return AppStrings().LoadFromText(file.readAll().toStdString());
}

// The paints of the widget it is installed on, each by its region.
class PaintWatch : public QObject {
public:
    std::vector<QRegion> paints;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) paints.push_back(static_cast<QPaintEvent*>(event)->region());
        return false;
    }
};

// Serves what the UI thread has been asked for so far: a wake already written is read by the first
// pass, the paint it asks for is made by the next.
inline void ServeEvents()
{
    for (int i = 0; i < 4; ++i) QCoreApplication::processEvents();
}

// What the worker threads may show, from the placeholders to the widest values: the placeholders,
// then the widest texts in each of the three modes.
inline std::vector<DisplayStrings> PanelStates(const CQuorvantisView& view)
{
    std::vector<DisplayStrings> states;
    DisplayStrings none;
    none.maxTemp = none.minTemp = none.maxHumi = none.minHumi = none.temp = none.humi = QString::fromLatin1(kNoValue);
    for (auto& s : none.info) s = QString::fromLatin1(kNoValue);
    for (auto& s : none.status) s = QString::fromLatin1(kBlankStatus);
    states.push_back(none);

    const QString intervals[3] = {view.IntervalText(14400), view.IntervalText(56), view.IntervalText(14399)};
    for (int mode = 0; mode < 3; ++mode) {
        DisplayStrings s = none;
        s.info = {QStringLiteral("0A1B2C3D"), QStringLiteral("°F"), QStringLiteral("1048576"), intervals[mode],
                  QString::number(mode)};
        s.maxTemp = CQuorvantisView::TempText(999, 0);
        s.minTemp = CQuorvantisView::TempText(0, 0);
        s.maxHumi = CQuorvantisView::HumiText(99);
        s.minHumi = CQuorvantisView::HumiText(HUMI_NONE);
        s.temp = CQuorvantisView::TempText(TEMP_NONE, 0);
        s.humi = CQuorvantisView::HumiText(1);
        states.push_back(s);
    }
    return states;
}
