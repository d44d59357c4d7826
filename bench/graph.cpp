// Graph of 100,000 points: the dialog's whole search (count, select, conversion, one bulk replace)
// followed by the first paint of the chart, against reading the same rows through the database
// cursor alone in the same run. A second figure compares the chart's bulk replace with filling the
// series point by point, on fewer points: each single append lays the whole line out again, so
// that way takes time in the square of the count.
#include <QApplication>
#include <QComboBox>
#include <QLineSeries>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/QuorvantisApplication.h"
#include "database/CDB.h"
#include "database/RowFormat.h"
#include "device/CDeviceState.h"
#include "history/CTchart1.h"
#include "history/Grapsh.h"
#include "platform/Paths.h"

namespace fs = std::filesystem;

namespace {

constexpr int kPoints = 100000;
constexpr int kSinglePoints = 3000;
constexpr const char* kId = "0012AB34";

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// One reading a minute from 1 January 2024.
std::string TimeText(int i) { return OleDateTime(2024, 1, 1, 0, 0, 0).AddSeconds(60LL * i).Format(); }

double ReadRowsOnly(const std::string& where)
{
    CDB db;
    if (db.Open(theDeviceState.m_strDbPath) != 0) std::exit(1);
    const auto start = std::chrono::steady_clock::now();
    db.CountRecords(where);
    const long long n = db.m_pRecord.GetInt("Count").value_or(0);
    db.m_pRecord.Close();
    db.SelectRecords(where);
    double sum = 0;
    for (long long i = 0; i < n && !db.m_pRecord.IsEOF(); ++i, db.m_pRecord.MoveNext())
        sum += db.m_pRecord.GetString("Time").value_or("").size() + db.m_pRecord.GetDouble("Humi").value_or(0);
    db.m_pRecord.Close();
    const double seconds = Seconds(start);
    if (sum < 0) std::puts("");
    return seconds;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QuorvantisApplication app(argc, argv);

    const fs::path dir = fs::temp_directory_path() / ("quorvantis-bench-graph-" + std::to_string(getpid()));
    fs::create_directories(dir);
    theDeviceState.InitDataFolder(ExecutableDir(), dir.string());
    {
        CDB db;
        if (db.Open(theDeviceState.m_strDbPath) != 0) return 1;
        db.BeginTransaction();
        db.SaveDevice(kId, TimeText(kPoints - 1), 1, 88, 0);
        for (int i = 0; i < kPoints; ++i)
            db.InsertRecord(kId, PageText(88 + i / 64 % 324), TimeText(i), TemperatureText(400 + i % 600),
                            HumidityText(i % 100));
        if (db.Commit() != 1) return 1;
    }

    Grapsh dlg;
    dlg.show();
    QApplication::processEvents();
    // The whole range, just before the first reading to the last.
    dlg.m_dtStartDate = OleDateTime(2023, 12, 31, 0, 0, 0);
    dlg.m_dtStartTime = OleDateTime(1899, 12, 30, 23, 59, 59);
    dlg.m_dtEndDate = OleDateTime(2024, 12, 31, 0, 0, 0);
    dlg.m_dtEndTime = OleDateTime(1899, 12, 30, 23, 59, 59);
    dlg.DoDataExchange(false);
    dlg.m_cbType->setCurrentIndex(1);
    const std::string where = WhereDeviceRange("2023-12-31 23:59:59", "2024-12-31 23:59:59", kId);

    const double baseline = ReadRowsOnly(where);
    auto start = std::chrono::steady_clock::now();
    dlg.OnBnClickedSearch();
    QApplication::processEvents();
    const QPixmap drawn = dlg.m_chart->grab();  // the first paint with all points
    const double graph = Seconds(start);
    const qsizetype points = dlg.m_chart->Series()->count();
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::printf("graph of %lld points, search and first paint: %.3f s; reading the rows alone %.3f s; ratio %.2f\n",
                static_cast<long long>(points), graph, baseline, graph / baseline);

    // The chart alone: one bulk replace against appending the same points one by one.
    std::vector<double> dates(kSinglePoints), values(kSinglePoints);
    for (int i = 0; i < kSinglePoints; ++i) {
        dates[i] = OleDateTime(2024, 1, 1, 0, 0, 0).m_dt + i / 1440.0;
        values[i] = 20 + i % 600 / 10.0;
    }
    CTchart1 chart;
    chart.resize(900, 400);
    chart.show();
    start = std::chrono::steady_clock::now();
    chart.ClearSeries();
    chart.ReplacePoints(dates, values);
    QApplication::processEvents();
    chart.grab();
    const double bulk = Seconds(start);
    chart.ClearSeries();
    QApplication::processEvents();
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < kSinglePoints; ++i)
        chart.Series()->append(static_cast<qreal>(CTchart1::DateToMsecs(dates[i])), values[i]);
    QApplication::processEvents();
    chart.grab();
    const double oneByOne = Seconds(start);
    std::printf("chart of %d points: bulk replace and paint %.3f s; point by point %.3f s; ratio %.2f\n", kSinglePoints,
                bulk, oneByOne, bulk / oneByOne);

    std::error_code ec;
    fs::remove_all(dir, ec);
    return drawn.isNull() ? 1 : 0;
}
