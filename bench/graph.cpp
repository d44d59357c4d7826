// The chart alone: one bulk replace of the series against appending the same points one by one.
// Each single append lays the whole line out again, so that way takes time in the square of the
// count. (The graph dialog's searches of 100,000 to 3,000,000 rows are measured by bench_search.)
#include <QApplication>
#include <QLineSeries>

#include <chrono>
#include <cstdio>
#include <vector>

#include "app/QuorvantisApplication.h"
#include "history/CTchart1.h"
#include "platform/OleDateTime.h"

namespace {

constexpr int kSinglePoints = 3000;

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QuorvantisApplication app(argc, argv);

    std::vector<double> dates(kSinglePoints), values(kSinglePoints);
    for (int i = 0; i < kSinglePoints; ++i) {
        dates[i] = OleDateTime(2024, 1, 1, 0, 0, 0).m_dt + i / 1440.0;
        values[i] = 20 + i % 600 / 10.0;
    }
    CTchart1 chart;
    chart.resize(900, 400);
    chart.show();
    chart.SetTimeAxis(dates.front(), dates.back());
    auto start = std::chrono::steady_clock::now();
    chart.ClearSeries();
    chart.ReplacePoints(dates, values);
    QApplication::processEvents();
    chart.grab();
    const double bulk = Seconds(start);
    chart.ClearSeries();
    QApplication::processEvents();
    LocalTimeConverter convert;
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < kSinglePoints; ++i) chart.Series()->append(static_cast<qreal>(convert(dates[i])), values[i]);
    QApplication::processEvents();
    chart.grab();
    const double oneByOne = Seconds(start);
    std::printf("chart of %d points: bulk replace and paint %.3f s; point by point %.3f s; ratio %.2f\n", kSinglePoints,
                bulk, oneByOne, bulk / oneByOne);
    return chart.Series()->count() == kSinglePoints ? 0 : 1;
}
