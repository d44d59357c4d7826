// Start-up: from the application's start to its main window shown and painted once (data folder,
// six database opens, language, frame, panel, worker threads), against a bare window of the same
// size shown and painted in the same run. Runs offscreen when no display is set.
#include <QApplication>
#include <QMainWindow>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "app/CMainFrame.h"
#include "app/CQuorvantisApp.h"
#include "app/QuorvantisApplication.h"

namespace fs = std::filesystem;

namespace {

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("DISPLAY") && !std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // A fresh data folder and lock folder, with the language chosen, so nothing asks.
    const fs::path dir = fs::temp_directory_path() / ("quorvantis-bench-startup-" + std::to_string(getpid()));
    fs::create_directories(dir / "run");
    fs::permissions(dir / "run", fs::perms::owner_all);
    std::ofstream(dir / "Main.ini") << "[Language]\nLanguage=English\n";
    setenv("QUORVANTIS_DATA_DIR", dir.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);

    QuorvantisApplication app(argc, argv);
    Q_INIT_RESOURCE(resources);

    auto start = std::chrono::steady_clock::now();
    {
        QMainWindow bare;
        bare.resize(708, 544);
        bare.show();
        bare.repaint();
        QApplication::processEvents();
    }
    const double baseline = Seconds(start);

    start = std::chrono::steady_clock::now();
    if (!theApp.InitInstance(app)) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }
    theApp.m_pMainWnd->repaint();
    QApplication::processEvents();
    const double program = Seconds(start);

    std::printf("main window shown: program start-up %.3f s; a bare window of the same size %.3f s;"
                " ratio %.1f\n",
                program, baseline, program / baseline);
    std::printf("target: the main window shows in under 1 s\n");

    theApp.m_pMainWnd->m_nCloseNoticeMs = 0;
    theApp.m_pMainWnd->close();
    theApp.ExitInstance();
    theApp.m_hMutex.reset();
    theApp.m_hDataLock.reset();
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
