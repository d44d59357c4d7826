// The program itself, run the way main() runs it, with a simulated recorder in place of the USB
// device: tests start it as a child process to send it signals, and it serves for trying the
// program by hand with a recorder that is not there.
//
//   quorvantis_simulated [options]
//     --latency MS      the recorder answers each report after MS milliseconds
//     --records N       the recorder holds N records (cycle mode)
//     --notice-ms MS    the closing notice stays MS milliseconds
//     --settings        once the recorder is open, writes settings with a mode change (parameters,
//                       periods, erase). Once the recorder has taken the parameters, "params" is
//                       printed and the run waits until the program is closing and its window has
//                       gone, as seen by the first event the UI thread handles after that
//     --setup-dialog    once the recorder is open, opens the settings dialog; prints "dialog"
//                       when it is up
// Prints "language" while the first start asks for the language, "ready" once the main window
// stands, and on the way out what the recorder was sent:
// "params=P periods=Q erases=E clocks=C".
#include <QApplication>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "app/CMainFrame.h"
#include "app/CQuorvantisApp.h"
#include "app/QuorvantisApplication.h"
#include "device/CDeviceState.h"
#include "settings/CSetupParam.h"
#include "simulator/VT583Simulator.h"

namespace {

void Say(const char* text)
{
    std::printf("%s\n", text);
    std::fflush(stdout);
}

// Set on the UI thread by the first event it handles once the main window has gone.
std::atomic<bool> g_windowGone{false};

void WatchForTheWindowToGo()
{
    CMainFrame* frame = theApp.m_pMainWnd;
    if (frame && frame->isVisible())
        QTimer::singleShot(0, qApp, WatchForTheWindowToGo);
    else
        g_windowGone = true;
}

// Waits (bounded, so that a program that never closes does not keep a test waiting for ever).
template <class Cond>
void WaitFor(Cond cond)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!cond() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Hands every report to the simulated recorder. After the parameter command it holds the settings
// run until the close has begun and the UI thread, with the window gone, handles events again:
// the close sequence then has had every chance to take the link from the run.
class PausingHandle : public HidHandle {
public:
    PausingHandle(std::unique_ptr<HidHandle> inner, bool pause) : m_inner(std::move(inner)), m_pause(pause) {}
    int Write(const std::uint8_t* data, std::size_t length) override
    {
        const int written = m_inner->Write(data, length);
        if (m_pause && length > 3 && data[2] == CMD_SET_PARAMS[0] && data[3] == CMD_SET_PARAMS[1]) {
            Say("params");
            WaitFor([] { return theDeviceState.m_bQuit != 0; });
            QMetaObject::invokeMethod(qApp, WatchForTheWindowToGo, Qt::QueuedConnection);
            WaitFor([] { return g_windowGone.load(); });
        }
        return written;
    }
    int Read(std::uint8_t* buffer, std::size_t length, int timeoutMs) override
    {
        return m_inner->Read(buffer, length, timeoutMs);
    }

private:
    std::unique_ptr<HidHandle> m_inner;
    bool m_pause;
};

class PausingTransport : public HidTransport {
public:
    PausingTransport(sim::SimulatorTransport& inner, bool pause) : m_inner(inner), m_pause(pause) {}
    std::vector<HidDeviceInfo> Enumerate(std::uint16_t vendorId, std::uint16_t productId) override
    {
        return m_inner.Enumerate(vendorId, productId);
    }
    std::unique_ptr<HidHandle> Open(const std::string& path) override
    {
        std::unique_ptr<HidHandle> handle = m_inner.Open(path);
        if (!handle) return nullptr;
        return std::make_unique<PausingHandle>(std::move(handle), m_pause);
    }

private:
    sim::SimulatorTransport& m_inner;
    bool m_pause;
};

// Settings that change the mode: the run sends parameters, periods and the erase.
SettingsBlock ModeChange(const CDeviceState& ds)
{
    SettingsBlock block;
    block.m_nNewTempUnit = 1;
    block.m_nNewDateFormat = 0;
    block.m_nNewTimeFormat = 1;
    block.m_nNewMode = ds.m_nMode == 1 ? 0 : 1;
    block.m_nNewAutoOff = 0;
    block.m_nNewInterval = 60;
    block.m_nNewTempOffset = 100;
    block.m_nNewHumiOffset = 20;
    block.m_bModeChanged = 1;
    return block;
}

// Runs act on the UI thread once the recorder is open and configured.
void WhenRecorderReady(std::function<void()> act)
{
    auto* timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (!theDeviceState.m_Link.IsDeviceOpen() || theDeviceState.m_dwDeviceID == 0 || theDeviceState.m_bReadConfig)
            return;
        timer->stop();
        timer->deleteLater();
        act();
    });
    timer->start();
}

}  // namespace

int main(int argc, char** argv)
{
    int latency = 0, records = 0, noticeMs = -1;
    bool settings = false, setupDialog = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--latency" && hasValue)
            latency = std::atoi(argv[++i]);
        else if (arg == "--records" && hasValue)
            records = std::atoi(argv[++i]);
        else if (arg == "--notice-ms" && hasValue)
            noticeMs = std::atoi(argv[++i]);
        else if (arg == "--settings")
            settings = true;
        else if (arg == "--setup-dialog")
            setupDialog = true;
    }

    QuorvantisApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);

    sim::SimulatorTransport simulators;
    const std::shared_ptr<sim::VT583Simulator> recorder = simulators.Attach("/dev/hidraw-simulated");
    if (records > 0) recorder->FillRing(1, records);
    recorder->SetLatencyMs(latency);
    PausingTransport transport(simulators, settings);
    theDeviceState.m_Link.SetTransport(&transport);

    // The language question of a first start runs its own loop before the main window stands; once
    // the window stands the question is past and the timer stops.
    auto* question = new QTimer(&app);
    question->setInterval(5);
    QObject::connect(question, &QTimer::timeout, [question] {
        const QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal->objectName() != QLatin1String("IDD_SELECTLANGUAGE")) return;
        question->stop();
        Say("language");
    });
    question->start();

    // Runs in the program's event loop, once the main window stands.
    QTimer::singleShot(0, [&] {
        CMainFrame* frame = theApp.m_pMainWnd;
        if (!frame) return;
        question->stop();
        if (noticeMs >= 0) frame->m_nCloseNoticeMs = noticeMs;
        Say("ready");
        if (settings)
            WhenRecorderReady([frame] { frame->m_settingsWriter.Start(ModeChange(theDeviceState), theDeviceState); });
        if (setupDialog) {
            WhenRecorderReady([frame] {
                auto* watch = new QTimer(qApp);
                watch->setInterval(5);
                QObject::connect(watch, &QTimer::timeout, [watch, frame] {
                    if (QApplication::activeModalWidget() != &frame->m_dlgSetup) return;
                    watch->stop();
                    watch->deleteLater();
                    Say("dialog");
                });
                watch->start();
                frame->OnMenuSetup();
            });
        }
    });

    const int result = theApp.Run(app);
    const sim::SimCounters sent = recorder->Counters();
    std::printf("params=%d periods=%d erases=%d clocks=%d\n", sent.paramSets, sent.periodSets, sent.erases,
                sent.clockSets);
    std::fflush(stdout);
    theDeviceState.m_Link.Close();
    theDeviceState.m_Link.SetTransport(nullptr);
    return result;
}
