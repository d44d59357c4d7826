// Idle cost of the whole program (main window, device monitor, record writer, live readings) once it
// has nothing to do, with 1,000,000 records of the recorder stored: its wake-ups per second (the
// voluntary context switches of all its threads, each a processor woken for nothing), its CPU
// time and the live panel's paints, with a simulated recorder attached and its download done and
// without one, against a bare window of the same size in the same run. Each case runs in a process
// of its own, offscreen, and on the X server as well when DISPLAY names one.
#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QMainWindow>
#include <QTimer>

#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "app/CMainFrame.h"
#include "app/CQuorvantisApp.h"
#include "app/CQuorvantisView.h"
#include "device/CDeviceState.h"
#include "platform/NumberText.h"
#include "platform/Paths.h"
#include "simulator/VT583Simulator.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr long kStoredRows = 1000000;
constexpr int kRingRecords = 64;       // what the recorder holds: its download adds these
constexpr int kWindowSeconds = 15;     // measured, then scaled to a minute
constexpr double kTicksPerSecond = 2;  // the device monitor's 500 ms tick

enum class Case { Bare, Without, With };

// CPU seconds and voluntary context switches of all threads of this process so far; for a whole
// case also the paints of the window measured.
struct Usage {
    double cpu = 0;
    long wakeUps = 0;
    long paints = 0;
};

// Counts the paints of the widget it is installed on.
class PaintCounter : public QObject {
public:
    long paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

Usage Now()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return {usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6,
            usage.ru_nvcsw};
}

// Prints the window's CPU seconds scaled to a minute, its wake-ups per second and the paints of
// watched meanwhile.
void MeasureIdleWindow(QWidget& watched)
{
    PaintCounter counter;
    watched.installEventFilter(&counter);
    QEventLoop loop;
    QTimer::singleShot(kWindowSeconds * 1000, &loop, &QEventLoop::quit);
    const Usage before = Now();
    loop.exec();
    const Usage after = Now();
    watched.removeEventFilter(&counter);
    // The child runs under the user's locale (QApplication sets it): numbers without printf.
    std::printf("%s %s %ld\n", FixedText((after.cpu - before.cpu) * 60.0 / kWindowSeconds, 4).c_str(),
                FixedText(double(after.wakeUps - before.wakeUps) / kWindowSeconds, 2).c_str(), counter.paints);
    std::fflush(stdout);
}

// A bare main window of the program's size and nothing else: what the toolkit itself costs.
int RunBareWindow(int argc, char** argv)
{
    QApplication app(argc, argv);
    QMainWindow bare;
    bare.resize(708, 544);
    bare.show();
    QEventLoop settle;
    QTimer::singleShot(2000, &settle, &QEventLoop::quit);
    settle.exec();
    MeasureIdleWindow(bare);
    return 0;
}

bool Exec(sqlite3* db, const char* sql)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
    std::fprintf(stderr, "%s\n", sqlite3_errmsg(db));
    return false;
}

// The shipped database with a million one-minute records of the simulated recorder (under two
// years), as a long-used installation has them.
bool MakeLargeDatabase(const std::string& path)
{
    fs::copy_file(ExecutableDir() + "/Quorvantis.db", path, fs::copy_options::overwrite_existing);
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
    const std::string fill =
        "WITH RECURSIVE n(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM n WHERE k < " + std::to_string(kStoredRows - 1) +
        ") INSERT INTO Records(ID, PagAddr, Time, Temp, Humi) "
        "SELECT '00123456', '0058', datetime('2023-01-01', '+' || k || ' minutes'), 21.5, 45 FROM n";
    const bool ok = Exec(db, fill.c_str());
    sqlite3_close(db);
    return ok;
}

// One full count of the device's rows, as every writer pass used to run it.
double FullCountSeconds(const std::string& path)
{
    CDeviceState st;
    st.m_strDbPath = path;
    st.m_dwDeviceID = 0x00123456;
    const auto start = Clock::now();
    const int n = st.CountStoredRecords();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (n != kStoredRows) std::fprintf(stderr, "count %d\n", n);
    return seconds;
}

// Runs the program in this process, waits until it is idle, and measures it.
int RunProgram(int argc, char** argv, bool withRecorder)
{
    QApplication app(argc, argv);
    sim::SimulatorTransport transport;
    if (withRecorder) {
        auto dev = transport.Attach("/dev/hidraw-bench");
        dev->SetClock({2026, 3, 1, 10, 0, 0});
        dev->FillRing(0, kRingRecords);
    }
    theDeviceState.m_Link.SetTransport(&transport);
    if (!theApp.InitInstance(app)) {
        std::fprintf(stderr, "start-up failed\n");
        return 1;
    }
    CQuorvantisView* view = theApp.m_pMainWnd->GetActiveView();

    // Idle: with the recorder, once its download is complete and the count shown.
    const QString expected = QString::number(kStoredRows + kRingRecords);
    const auto settleStart = Clock::now();
    for (;;) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const double waited = std::chrono::duration<double>(Clock::now() - settleStart).count();
        const DisplayStrings shown = view->GetDisplayStrings();
        if (!withRecorder && waited > 2) break;
        if (withRecorder && shown.status[2] == QLatin1String("Complete historical record deal") &&
            shown.info[2] == expected)
            break;
        if (waited > 120) {
            std::fprintf(stderr, "the download did not complete (count %s)\n", shown.info[2].toStdString().c_str());
            return 1;
        }
    }

    MeasureIdleWindow(*view);

    theApp.m_pMainWnd->m_nCloseNoticeMs = 0;
    theApp.m_pMainWnd->close();
    theApp.ExitInstance();
    theApp.m_hMutex.reset();
    theDeviceState.m_Link.Close();
    return 0;
}

// Runs one case in a child process with its own data folder on the Qt platform named: CPU seconds
// per minute, wake-ups per second and paints, or -1 each.
Usage RunCase(const fs::path& dir, const std::string& database, Case which, const char* platform)
{
    const char* names[] = {"bare", "without", "with"};
    const fs::path data = dir / (std::string(platform) + "-" + names[static_cast<int>(which)]);
    fs::create_directories(data / "run");
    fs::permissions(data / "run", fs::perms::owner_all);
    fs::copy_file(database, data / "Quorvantis.db");
    std::ofstream(data / "Main.ini") << "[Language]\nLanguage=English\n";

    int out[2];
    if (pipe(out) != 0) return {-1, -1, -1};
    const pid_t child = fork();
    if (child < 0) return {-1, -1, -1};
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        setenv("QUORVANTIS_DATA_DIR", data.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (data / "run").c_str(), 1);
        setenv("QT_QPA_PLATFORM", platform, 1);
        const std::string self = ExecutablePath();
        const std::string mode = std::string("--") + names[static_cast<int>(which)];
        execl(self.c_str(), self.c_str(), mode.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    const std::size_t first = text.find(' '), second = text.find(' ', first + 1);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || second == std::string::npos) return {-1, -1, -1};
    const std::optional<double> cpu = ParseDecimal(std::string_view(text).substr(0, first));
    const std::optional<double> wakeUps = ParseDecimal(std::string_view(text).substr(first + 1, second - first - 1));
    const std::optional<std::int64_t> paints = ParseInteger(std::string_view(text).substr(second + 1));
    if (!cpu || !wakeUps || !paints) return {-1, -1, -1};
    return {*cpu, std::lround(*wakeUps), static_cast<long>(*paints)};
}

// The three cases on one platform, printed; false if one failed.
bool RunPlatform(const fs::path& dir, const std::string& database, const char* platform, const char* name)
{
    const Usage bare = RunCase(dir, database, Case::Bare, platform);
    const Usage without = RunCase(dir, database, Case::Without, platform);
    const Usage with = RunCase(dir, database, Case::With, platform);
    if (bare.cpu < 0 || without.cpu <= 0 || with.cpu <= 0) {
        std::fprintf(stderr, "a case failed (%s)\n", name);
        return false;
    }
    std::printf("%s: idle wake-ups per second, %ld records stored: with a simulated recorder %ld, "
                "without a recorder %ld; a bare window of the same size %ld\n",
                name, kStoredRows, with.wakeUps, without.wakeUps, bare.wakeUps);
    std::printf("%s: idle CPU per minute: with a simulated recorder %.2f s, without a recorder %.2f s "
                "(ratio %.2f); a bare window %.2f s\n",
                name, with.cpu, without.cpu, with.cpu / without.cpu, bare.cpu);
    const double ticks = kTicksPerSecond * kWindowSeconds;
    std::printf("%s: idle with a simulated recorder, its download done: %.2f panel paints a second "
                "(%.3f a monitor tick, against 1 where every tick paints), %.2f ms CPU a second; a bare "
                "window of the same size %.2f paints and %.2f ms a second\n",
                name, double(with.paints) / kWindowSeconds, double(with.paints) / ticks, with.cpu * 1000 / 60,
                double(bare.paints) / kWindowSeconds, bare.cpu * 1000 / 60);
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    Q_INIT_RESOURCE(resources);
    if (argc == 2 && std::strcmp(argv[1], "--with") == 0) return RunProgram(argc, argv, true);
    if (argc == 2 && std::strcmp(argv[1], "--without") == 0) return RunProgram(argc, argv, false);
    if (argc == 2 && std::strcmp(argv[1], "--bare") == 0) return RunBareWindow(argc, argv);

    const fs::path dir = fs::temp_directory_path() / ("quorvantis-bench-idle-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string database = (dir / "large.db").string();
    int result = 1;
    if (MakeLargeDatabase(database)) {
        const double count = FullCountSeconds(database);
        std::printf("target: at most 10 wake-ups a second with and without a recorder; with one, at most "
                    "one panel paint every 4 s and 3 ms CPU a second\n");
        result = RunPlatform(dir, database, "offscreen", "offscreen") ? 0 : 1;
        if (const char* display = std::getenv("DISPLAY"); display && *display) {
            const std::string name = std::string("X server ") + display;
            if (!RunPlatform(dir, database, "xcb", name.c_str())) result = 1;
        }
        std::printf("one full count of the stored records takes %.3f s\n", count);
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return result;
}
