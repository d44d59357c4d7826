#pragma once
// The graph's chart: one red line series over a fixed-range value axis and a fixed-range time axis.
// Time values are DATEs (days since 30 December 1899, local time); the chart shows them as local
// date-times.
#include <QChartView>
#include <QList>
#include <QPointF>
#include <QString>

#include <cstddef>
#include <vector>

// Wall-clock times (local DATEs) to real instants in the local time zone, as the time axis takes
// them (milliseconds since the epoch). Offsets change only on hour boundaries, and on few days of
// a year: a day without a change takes one offset, the day of a change one for each hour. The
// points of a graph come in ascending order, so the last day's offset serves nearly always.
class LocalTimeConverter {
public:
    qint64 operator()(double date);

private:
    // The offset of the local time zone at a wall-clock hour (hours since the epoch).
    static qint64 HourOffset(qint64 hour);

    qint64 m_day = 0, m_dayOffset = 0;
    bool m_bDayKnown = false, m_bWholeDay = false;
    qint64 m_hour = 0, m_hourOffset = 0;
    bool m_bHourKnown = false;
};

// The points of a series, built at the resolution of the chart that draws them. Each column of the
// plot (a pixel column, or an equal part of one) keeps, of the points that fall into it one after
// another, the first, the lowest, the highest and the last, in their order: the line through them
// spans what the line through all of them spans in that column, every spike and dip included, from
// a few thousand points however many come. A point that falls into another column than the one
// before starts a new column, so points out of time order keep every turn of the line.
//
// Up to kWholeUpTo points are kept whole, as the chart has always drawn them: that many draw in a
// fraction of a second, and the reduced line, though it keeps every extreme, may differ from the
// exact one in a few pixels on its steep slopes (measured: up to 5 line pixels in 1,000). The
// count need not be known beforehand: the point after kWholeUpTo reduces those kept so far, as
// if they had been reduced from the first.
class ChartPoints {
public:
    static constexpr std::size_t kWholeUpTo = 100000;
    static constexpr std::size_t kKeptPerColumn = 4;

    // A plot of `columns` pixel columns whose left edge lies at pixel `left`, showing the instants
    // start..end (milliseconds since the epoch).
    ChartPoints(qint64 start, qint64 end, double left, double columns);

    // A point: its time as a local DATE, its value.
    void Add(double date, double value);
    // The points to draw, in order. Leaves nothing behind.
    QList<QPointF> Take();

private:
    struct Kept {
        QPointF point;
        std::size_t order = 0;
    };
    void Reduce(const QPointF& point);
    void EndColumn();

    LocalTimeConverter m_convert;
    qint64 m_start;
    double m_left, m_columns, m_scale;
    bool m_bWhole = true;
    QList<QPointF> m_points;
    std::size_t m_added = 0;
    // The column being filled.
    bool m_bOpen = false;
    qint64 m_column = 0;
    Kept m_first, m_lowest, m_highest, m_last;
};

class QChart;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

class CTchart1 : public QChartView {
    Q_OBJECT
public:
    explicit CTchart1(QWidget* parent = nullptr);

    // The value axis spans exactly minimum..maximum (never chosen from the data) under title.
    void SetValueAxis(double minimum, double maximum, const QString& title);
    // The time axis spans exactly start..end (DATE values).
    void SetTimeAxis(double start, double end);
    // The series holds no points, and the memory of the points it held is given back; the axes
    // keep their ranges and title.
    void ClearSeries();
    // A builder for the points of the time axis's current range at the chart's resolution: the
    // pixel columns of the plot area, split finer so that a window widened up to the whole screen
    // still shows the same picture.
    ChartPoints NewPoints();
    // The series holds the points built, handed over in one call.
    void ReplacePoints(ChartPoints& points);
    // The series holds the points (dates[i], values[i]) as NewPoints builds them.
    void ReplacePoints(const std::vector<double>& dates, const std::vector<double>& values);
    // Writes the chart's current picture as a JPEG (quality 100), as WriteExportFile writes a file.
    // False, with the reason in error, when it cannot be written.
    bool SaveJpeg(const QString& path, QString* error = nullptr);

    // Milliseconds since the epoch of a local DATE, as the time axis takes it.
    static qint64 DateToMsecs(double date);

    QLineSeries* Series() const { return m_series; }
    QValueAxis* ValueAxis() const { return m_valueAxis; }
    QDateTimeAxis* TimeAxis() const { return m_timeAxis; }

private:
    void ApplyRanges();

    QChart* m_pChart = nullptr;
    QLineSeries* m_series = nullptr;
    QValueAxis* m_valueAxis = nullptr;
    QDateTimeAxis* m_timeAxis = nullptr;
    double m_valueMin = 0.0, m_valueMax = 100.0;
    qint64 m_timeMin = 0, m_timeMax = 0;
    bool m_bTimeSet = false;
};
