// Years of records on screen: the history list and the graph of 100,000, 1,000,000 and 3,000,000
// rows of one device (one reading a minute), each the first search a user makes in a fresh
// program, timed from the Search click to the first paint of the result, with the peak memory of
// that process. Baselines of the same run: the sqlite3 shell reading the same rows (its output
// thrown away) and a raw sqlite3 cursor (prepare and step) reading the three columns the dialogs
// use. At 3,000,000 rows also the text export of the listed rows, against the sqlite3 shell writing
// the same rows as tab-separated text piped through iconv into a UTF-16 file, with the peak memory
// before, during and after the export. Every case runs in a process of its own, so that no case's
// memory counts for another.
#include <QApplication>
#include <QComboBox>
#include <QLineSeries>
#include <QPixmap>
#include <QScrollBar>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/QuorvantisApplication.h"
#include "database/CDB.h"
#include "device/CDeviceState.h"
#include "history/CTchart1.h"
#include "history/Grapsh.h"
#include "history/Main.h"
#include "platform/MessageBox.h"
#include "platform/OleDateTime.h"
#include "platform/Paths.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kId = "0012AB34";
constexpr long kRowCounts[] = {100000, 1000000, 3000000};
constexpr int kRuns = 5;  // rounds, each case in a fresh process; the medians are shown

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The time of row k: one a minute from 1 January 2019.
std::string RowTime(long k) { return OleDateTime(2019, 1, 1, 0, 0, 0).AddSeconds(60LL * k).Format(); }

constexpr const char* kFrom = "2018-12-31 23:59:59";

std::string SelectText(const std::string& where)
{
    return "SELECT * FROM Records WHERE " + where + " ORDER BY [Time] ASC";
}

// One row a minute with a slow swing, a spike now and then and a few no-reading rows, as the
// writer stores them (Temp a number, Humi an integer).
bool MakeDatabase(const std::string& path, long rows)
{
    fs::copy_file(fs::path(ExecutableDir()) / "Quorvantis.db", path, fs::copy_options::overwrite_existing);
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
    const std::string fill = "INSERT INTO Device VALUES('" + std::string(kId) + "','',0,'" + RowTime(rows - 1) +
                             "',1,88);"
                             "WITH RECURSIVE n(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM n WHERE k < " +
                             std::to_string(rows - 1) +
                             ") INSERT INTO Records(ID, PagAddr, Time, Temp, Humi) SELECT '" + kId +
                             "', printf('%04X', 88 + k / 64 % 324), datetime('2019-01-01', '+' || k || ' minutes'), "
                             "CASE WHEN k % 49999 = 7 THEN 65535 WHEN k % 7919 = 3 THEN 45.5 "
                             "ELSE round(18 + 9 * sin(k / 1440.0) + (k % 37) / 10.0, 1) END, "
                             "CASE WHEN k % 49999 = 7 THEN 255 ELSE 40 + k % 31 END FROM n";
    char* error = nullptr;
    const bool ok = sqlite3_exec(db, fill.c_str(), nullptr, nullptr, &error) == SQLITE_OK;
    if (!ok) std::fprintf(stderr, "%s\n", error ? error : "?");
    sqlite3_free(error);
    sqlite3_close(db);
    return ok;
}

// Processor time (user and system) of this process so far.
double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct ProcessResult {
    double seconds = 0, cpuSeconds = 0;
    long maxRssKb = 0;
    std::string output;
    bool ok = false;
};

// Runs argv with its standard output captured (or thrown away) and its error output in
// errorFile, and returns the wall time and the peak resident memory of that process alone.
ProcessResult RunProcess(const std::vector<std::string>& args, bool capture, const std::string& errorFile)
{
    ProcessResult result;
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return result;
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = capture ? pipeFds[1] : open("/dev/null", O_WRONLY);
        dup2(out, STDOUT_FILENO);
        const int err = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(err, STDERR_FILENO);
        close(pipeFds[0]);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) result.output.append(buffer, static_cast<std::size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return result;
    result.seconds = Seconds(start);
    result.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    result.maxRssKb = usage.ru_maxrss;
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

// The raw sqlite3 cursor: the program's statement, each row's Time, Temp and Humi read.
double RawCursorSeconds(const std::string& path, const std::string& where, long& rows)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    const auto start = std::chrono::steady_clock::now();
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, SelectText(where).c_str(), -1, &stmt, nullptr);
    double sum = 0;
    rows = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        sum += sqlite3_column_bytes(stmt, 2) + sqlite3_column_double(stmt, 3) + sqlite3_column_int(stmt, 4);
        ++rows;
    }
    sqlite3_finalize(stmt);
    const double seconds = Seconds(start);
    sqlite3_close(db);
    if (sum < 0) std::puts("");
    return seconds;
}

// A figure of /proc/self/status in kB: "VmHWM" the peak resident memory, "VmRSS" the present one.
long StatusKb(const char* name)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(name) + ":";
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + key.size());
    return 0;
}

long PeakKbOfThisProcess() { return StatusKb("VmHWM"); }

// From here on the peak counts from the present resident memory.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// Shows the dialog with the range from kFrom to `to` set in its pickers; the peak memory so far.
template <class Dialog>
long ShowForSearch(Dialog& dlg, const std::string& to)
{
    OleDateTimeFields a, b;
    OleDateTime::Parse(kFrom).GetFields(a);
    OleDateTime::Parse(to).GetFields(b);
    dlg.m_dtStartDate = OleDateTime(a.year, a.month, a.day, 0, 0, 0);
    dlg.m_dtStartTime = OleDateTime(1899, 12, 30, a.hour, a.minute, a.second);
    dlg.m_dtEndDate = OleDateTime(b.year, b.month, b.day, 0, 0, 0);
    dlg.m_dtEndTime = OleDateTime(1899, 12, 30, b.hour, b.minute, b.second);
    dlg.DoDataExchange(false);
    dlg.show();
    QApplication::processEvents();
    return PeakKbOfThisProcess();
}

// One case in this process: "history", "graph" or "export", the database and the range's end.
// Prints the search-to-first-paint seconds and processor seconds, the items shown and the peak
// memory before the search; for "export", the seconds of the text export of the listed rows into
// a file beside the database, the peak memory before and after it, the memory the process held
// with the list and the export's own peak.
int RunCase(int argc, char** argv)
{
    const std::string kind = argv[2], path = argv[3], to = argv[4];
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QuorvantisApplication app(argc, argv);
    RecordingMessageBoxService boxes;
    SetMessageBoxService(&boxes);
    theDeviceState.m_strDbPath = path;
    theDeviceState.m_nTempUnit = 1;

    double seconds = 0, cpu = 0;
    long items = 0;
    long beforeKb = 0;
    if (kind == "export") {
        Main dlg;
        ShowForSearch(dlg, to);
        dlg.OnBnClickedSearch();
        const QString file = QString::fromStdString(path + ".csv");
        dlg.m_fnGetSaveFileName = [&] { return file; };
        const long peakBefore = PeakKbOfThisProcess(), held = StatusKb("VmRSS");
        ResetPeak();
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuSeconds();
        dlg.OnBnClickedExportCsv();
        const double exportSeconds = Seconds(start), exportCpu = CpuSeconds() - cpuStart;
        const long ownPeak = PeakKbOfThisProcess();
        const long bytes = static_cast<long>(fs::file_size(file.toStdString()));
        fs::remove(file.toStdString());
        if (boxes.Count() != 1 || boxes.Entries()[0].icon != MsgIcon::Information) {
            std::fprintf(stderr, "export: %s\n", boxes.Count() ? boxes.Entries()[0].text.c_str() : "no message");
            return 1;
        }
        std::printf(
            "seconds %.4f\ncpu %.4f\nitems %d\nbytes %ld\npeakbefore %ld\npeakafter %ld\nheld %ld\nownpeak %ld\n",
            exportSeconds, exportCpu, dlg.m_list->model()->rowCount(), bytes, peakBefore, std::max(peakBefore, ownPeak),
            held, ownPeak);
        SetMessageBoxService(nullptr);
        return 0;
    }
    if (kind == "history") {
        Main dlg;
        beforeKb = ShowForSearch(dlg, to);
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuSeconds();
        dlg.OnBnClickedSearch();
        dlg.repaint();  // the list as the user first sees it
        seconds = Seconds(start);
        cpu = CpuSeconds() - cpuStart;
        items = dlg.m_list->model()->rowCount();
        // Scrolling to the end paints as quickly as the top.
        const auto scroll = std::chrono::steady_clock::now();
        dlg.m_list->scrollToBottom();
        dlg.m_list->repaint();
        std::printf("scroll %.4f\n", Seconds(scroll));
    } else {
        Grapsh dlg;
        dlg.m_cbType->setCurrentIndex(1);
        beforeKb = ShowForSearch(dlg, to);
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuSeconds();
        dlg.OnBnClickedSearch();
        QApplication::processEvents();
        const QPixmap drawn = dlg.m_chart->grab();  // the first paint of the result
        seconds = Seconds(start);
        cpu = CpuSeconds() - cpuStart;
        items = static_cast<long>(dlg.m_chart->Series()->count());
        if (drawn.isNull()) return 1;
        // A second search (humidity) while the first result is shown counts for the memory.
        dlg.m_cbType->setCurrentIndex(0);
        dlg.OnBnClickedSearch();
        QApplication::processEvents();
        dlg.m_chart->grab();
    }
    if (boxes.Count() != 0) {
        std::fprintf(stderr, "%s: %s\n", kind.c_str(), boxes.Entries()[0].text.c_str());
        return 1;
    }
    std::printf("seconds %.4f\ncpu %.4f\nitems %ld\nbefore %ld\n", seconds, cpu, items, beforeKb);
    SetMessageBoxService(nullptr);
    return 0;
}

// The figure of a "name value" line of a case's output; -1 when there is none.
double Field(const std::string& output, const char* name)
{
    const std::string key = std::string(name) + " ";
    for (std::size_t at = 0; at < output.size();) {
        if (output.compare(at, key.size(), key) == 0) return std::atof(output.c_str() + at + key.size());
        const std::size_t end = output.find('\n', at);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return -1;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One run of a case in a fresh process.
struct CaseRun {
    double seconds = 0, cpu = 0, mb = 0, beforeMb = 0, items = 0, scroll = -1;
    std::string output;
    bool ok = false;
};

CaseRun RunCaseProcess(const char* kind, const std::string& path, const std::string& to)
{
    CaseRun run;
    const std::string errors = path + ".errors";
    const ProcessResult r = RunProcess({"/proc/self/exe", "--case", kind, path, to}, true, errors);
    if (!r.ok) {
        std::ifstream text(errors);
        std::fprintf(stderr, "the %s case failed:\n%s\n", kind,
                     std::string(std::istreambuf_iterator<char>(text), {}).c_str());
        return run;
    }
    run.seconds = Field(r.output, "seconds");
    run.cpu = Field(r.output, "cpu");
    run.mb = r.maxRssKb / 1024.0;
    run.beforeMb = Field(r.output, "before") / 1024.0;
    run.items = Field(r.output, "items");
    run.scroll = Field(r.output, "scroll");
    run.output = r.output;
    run.ok = true;
    return run;
}

// The runs of a case: the median time, its median ratio to the shell of the same round and the
// spread of that ratio, the median ratio of processor times (which the load of a shared machine
// disturbs less), the largest peak memory.
struct CaseFigures {
    std::vector<double> seconds, ratios, cpuRatios;
    double mb = 0, beforeMb = 0, items = 0, scroll = -1;

    void Add(const CaseRun& run, const ProcessResult& shell)
    {
        seconds.push_back(run.seconds);
        ratios.push_back(run.seconds / shell.seconds);
        cpuRatios.push_back(run.cpu / shell.cpuSeconds);
        mb = std::max(mb, run.mb);
        beforeMb = run.beforeMb;
        items = run.items;
        scroll = run.scroll;
    }
    void Print(const char* what) const
    {
        std::printf("  %-32s %7.3f s  (%.2f x shell, %.2f to %.2f over the rounds; processor time %.2f x "
                    "the shell's), peak memory %.0f MB (%.0f MB before the search)\n",
                    what, Median(seconds), Median(ratios), *std::min_element(ratios.begin(), ratios.end()),
                    *std::max_element(ratios.begin(), ratios.end()), Median(cpuRatios), mb, beforeMb);
    }
};

// The text export's runs against the sqlite3 shell writing the same rows as tab-separated text,
// piped through iconv into UTF-16 in a file, in the same rounds.
struct ExportFigures {
    std::vector<double> seconds, ratios, cpuRatios, pipeline;
    double bytes = 0, items = 0, peakBeforeMb = 0, peakAfterMb = 0, heldMb = 0, ownPeakMb = 0, aboveMb = 0;

    void Add(const CaseRun& run, const ProcessResult& shell)
    {
        seconds.push_back(run.seconds);
        pipeline.push_back(shell.seconds);
        ratios.push_back(run.seconds / shell.seconds);
        cpuRatios.push_back(run.cpu / shell.cpuSeconds);
        items = run.items;
        bytes = Field(run.output, "bytes");
        // The largest of the rounds.
        peakBeforeMb = std::max(peakBeforeMb, Field(run.output, "peakbefore") / 1024.0);
        peakAfterMb = std::max(peakAfterMb, Field(run.output, "peakafter") / 1024.0);
        heldMb = std::max(heldMb, Field(run.output, "held") / 1024.0);
        ownPeakMb = std::max(ownPeakMb, Field(run.output, "ownpeak") / 1024.0);
        aboveMb = std::max(aboveMb, (Field(run.output, "ownpeak") - Field(run.output, "held")) / 1024.0);
    }
    void Print() const
    {
        std::printf("  %-32s %7.3f s\n", "sqlite3 shell | iconv, a file:", Median(pipeline));
        std::printf("  %-32s %7.3f s  (%.2f x the shell | iconv, %.2f to %.2f over the rounds; processor time %.2f x "
                    "theirs), %.0f rows, a %.0f MB file\n",
                    "export of the listed rows:", Median(seconds), Median(ratios),
                    *std::min_element(ratios.begin(), ratios.end()), *std::max_element(ratios.begin(), ratios.end()),
                    Median(cpuRatios), items, bytes / 1048576.0);
        std::printf("  %-32s peak (VmHWM) %.0f MB before the export, %.0f MB after it; while exporting at most "
                    "%.0f MB, %.1f MB above the %.0f MB held with the list\n",
                    "export memory:", peakBeforeMb, peakAfterMb, ownPeakMb, aboveMb, heldMb);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    Q_INIT_RESOURCE(resources);
    if (argc == 5 && std::strcmp(argv[1], "--case") == 0) return RunCase(argc, argv);

    const fs::path dir = fs::temp_directory_path() / ("quorvantis-bench-search-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string path = (dir / "Quorvantis.db").string();
    const long largest = kRowCounts[std::size(kRowCounts) - 1];
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::printf("history and graph: first search in a fresh program, Search click to first paint;\n"
                "medians of %d rounds, peak memory the largest of them (a second graph search included);\n"
                "at %ld rows the export of the listed rows as text in the same rounds\n",
                kRuns, largest);
    if (!MakeDatabase(path, largest)) return 1;

    for (const long rows : kRowCounts) {
        const std::string to = RowTime(rows - 1);
        const std::string where = WhereDeviceRange(kFrom, to, kId);
        long read = 0;
        RawCursorSeconds(path, where, read);  // the rows in the file cache
        // Rounds of shell, raw cursor, history and graph one after another, so that each ratio
        // compares runs made under the same load of the machine.
        std::vector<double> shell, shellCpu, raw;
        long shellKb = 0;
        CaseFigures history, graph;
        ExportFigures exported;
        const std::string pipelineOut = path + ".shell.txt";
        for (int round = 0; round < kRuns; ++round) {
            const ProcessResult r = RunProcess({"sqlite3", path, SelectText(where)}, false, path + ".errors");
            if (!r.ok) {
                std::fprintf(stderr, "the sqlite3 shell failed\n");
                return 1;
            }
            shell.push_back(r.seconds);
            shellCpu.push_back(r.cpuSeconds);
            shellKb = std::max(shellKb, r.maxRssKb);
            raw.push_back(RawCursorSeconds(path, where, read));
            const CaseRun h = RunCaseProcess("history", path, to);
            const CaseRun g = RunCaseProcess("graph", path, to);
            if (!h.ok || !g.ok) return 1;
            history.Add(h, r);
            graph.Add(g, r);
            if (rows != largest) continue;
            const ProcessResult pipeline =
                RunProcess({"sh", "-c", "sqlite3 -tabs -header \"$1\" \"$2\" | iconv -f UTF-8 -t UTF-16LE > \"$3\"",
                            "sh", path, SelectText(where), pipelineOut},
                           false, path + ".errors");
            std::error_code ec;
            fs::remove(pipelineOut, ec);
            const CaseRun e = RunCaseProcess("export", path, to);
            if (!pipeline.ok || !e.ok) {
                std::fprintf(stderr, "the export or the shell piped through iconv failed\n");
                return 1;
            }
            exported.Add(e, pipeline);
        }
        const double shellSeconds = Median(shell), rawSeconds = Median(raw);
        std::printf("\n%ld rows (%ld read)\n", rows, read);
        std::printf("  %-32s %7.3f s  (processor time %.3f s), peak memory %.0f MB\n",
                    "sqlite3 shell reading them:", shellSeconds, Median(shellCpu), shellKb / 1024.0);
        std::printf("  %-32s %7.3f s  (%.2f x shell)\n", "raw sqlite3 cursor reading them:", rawSeconds,
                    rawSeconds / shellSeconds);
        history.Print("history, listed and painted:");
        graph.Print("graph, drawn:");
        std::printf("  %.0f rows listed, scrolled to the end and painted in %.4f s; %.0f points drawn\n", history.items,
                    history.scroll, graph.items);
        if (rows == largest) exported.Print();
    }
    std::printf("\ntarget at 3,000,000 rows: history and graph at most 0.6 x the shell; peak memory under\n"
                "200 MB (history) and 150 MB (graph); the export faster than the shell | iconv and at most\n"
                "40 MB above the memory held with the list\n");
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
