#include "history/CTchart1.h"

#include <QBuffer>
#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGraphicsLayout>
#include <QImageWriter>
#include <QLineSeries>
#include <QPixmap>
#include <QScreen>
#include <QValueAxis>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "history/ExportFile.h"
#include "platform/OleDateTime.h"

namespace {

constexpr double kEpochDate = 25569.0;  // 1970-01-01 as a DATE
constexpr qint64 kMsPerDay = 86400000;
constexpr qint64 kMsPerHour = 3600000;

// A DATE's wall-clock time as milliseconds since the epoch read as UTC.
qint64 WallClockMsecs(double date)
{
    return std::llround((DateToLinear(date) - kEpochDate) * static_cast<double>(kMsPerDay));
}

qint64 FloorDiv(qint64 a, qint64 b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

}  // namespace

qint64 LocalTimeConverter::operator()(double date)
{
    const qint64 wall = WallClockMsecs(date);
    const qint64 day = FloorDiv(wall, kMsPerDay);
    if (!m_bDayKnown || day != m_day) {
        // The same offset at the start of a day and of the next: no change in between.
        const qint64 offset = HourOffset(day * 24);
        m_bWholeDay = offset == HourOffset(day * 24 + 24);
        m_dayOffset = offset;
        m_day = day;
        m_bDayKnown = true;
    }
    if (m_bWholeDay) return wall + m_dayOffset;
    // The day of a change: its hours one by one.
    const qint64 hour = FloorDiv(wall, kMsPerHour);
    if (!m_bHourKnown || hour != m_hour) {
        m_hourOffset = HourOffset(hour);
        m_hour = hour;
        m_bHourKnown = true;
    }
    return wall + m_hourOffset;
}

qint64 LocalTimeConverter::HourOffset(qint64 hour)
{
    const QDateTime asUtc = QDateTime::fromMSecsSinceEpoch(hour * kMsPerHour, Qt::UTC);
    const QDateTime local(asUtc.date(), asUtc.time(), Qt::LocalTime);
    return local.isValid() ? local.toMSecsSinceEpoch() - hour * kMsPerHour : 0;
}

ChartPoints::ChartPoints(qint64 start, qint64 end, double left, double columns)
    : m_start(start), m_left(left), m_columns(columns),
      m_scale(end > start ? columns / static_cast<double>(end - start) : 0.0)
{}

void ChartPoints::Add(double date, double value)
{
    const QPointF point(static_cast<qreal>(m_convert(date)), value);
    if (m_bWhole) {
        if (static_cast<std::size_t>(m_points.size()) < kWholeUpTo) {
            m_points.append(point);
            return;
        }
        // One more than are kept whole: those so far are reduced, then this one.
        m_bWhole = false;
        const QList<QPointF> whole = std::exchange(m_points, QList<QPointF>());
        m_points.reserve(static_cast<qsizetype>(kKeptPerColumn * static_cast<std::size_t>(std::ceil(m_columns)) + 16));
        for (const QPointF& kept : whole) Reduce(kept);
    }
    Reduce(point);
}

void ChartPoints::Reduce(const QPointF& point)
{
    const std::size_t order = m_added++;
    const qint64 column = static_cast<qint64>(std::floor(m_left + static_cast<double>(point.x() - m_start) * m_scale));
    if (m_bOpen && column == m_column) {
        const Kept kept{point, order};
        if (point.y() < m_lowest.point.y()) m_lowest = kept;
        if (point.y() > m_highest.point.y()) m_highest = kept;
        m_last = kept;
        return;
    }
    EndColumn();
    m_bOpen = true;
    m_column = column;
    m_first = m_lowest = m_highest = m_last = Kept{point, order};
}

void ChartPoints::EndColumn()
{
    if (!m_bOpen) return;
    m_bOpen = false;
    std::array<Kept, 4> kept{m_first, m_lowest, m_highest, m_last};
    std::sort(kept.begin(), kept.end(), [](const Kept& a, const Kept& b) { return a.order < b.order; });
    for (std::size_t i = 0; i < kept.size(); ++i)
        if (i == 0 || kept[i].order != kept[i - 1].order) m_points.append(kept[i].point);
}

QList<QPointF> ChartPoints::Take()
{
    EndColumn();
    m_bWhole = true;
    m_added = 0;
    return std::exchange(m_points, QList<QPointF>());
}

// The chart is handed to the view's constructor: a view built without one makes a default chart of
// its own, which setChart() would orphan.
CTchart1::CTchart1(QWidget* parent) : QChartView(new QChart, parent)
{
    m_pChart = chart();
    m_pChart->setTitle(QString());
    m_pChart->legend()->hide();
    m_pChart->setAnimationOptions(QChart::NoAnimation);

    m_series = new QLineSeries;
    m_series->setColor(Qt::red);
    m_series->setPointLabelsVisible(false);
    m_series->setPointsVisible(false);
    m_series->setUseOpenGL(false);  // the export grabs the widget
    m_pChart->addSeries(m_series);

    m_timeAxis = new QDateTimeAxis;
    m_timeAxis->setFormat(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    m_pChart->addAxis(m_timeAxis, Qt::AlignBottom);
    m_series->attachAxis(m_timeAxis);

    m_valueAxis = new QValueAxis;
    m_pChart->addAxis(m_valueAxis, Qt::AlignLeft);
    m_series->attachAxis(m_valueAxis);
    m_valueAxis->setRange(m_valueMin, m_valueMax);

    setRenderHint(QPainter::Antialiasing, false);
}

qint64 CTchart1::DateToMsecs(double date) { return LocalTimeConverter()(date); }

void CTchart1::SetValueAxis(double minimum, double maximum, const QString& title)
{
    m_valueMin = minimum;
    m_valueMax = maximum;
    m_valueAxis->setTitleText(title);
    m_valueAxis->setRange(minimum, maximum);
}

void CTchart1::SetTimeAxis(double start, double end)
{
    LocalTimeConverter convert;
    m_timeMin = convert(start);
    m_timeMax = convert(end);
    m_bTimeSet = true;
    ApplyRanges();
}

void CTchart1::ClearSeries()
{
    // Emptying the series in place would keep the room of all its points.
    m_series->replace(QList<QPointF>());
    ApplyRanges();
}

ChartPoints CTchart1::NewPoints()
{
    // The plot area as it will be drawn, in device pixels.
    if (m_pChart->layout()) m_pChart->layout()->activate();
    const double ratio = devicePixelRatioF();
    const QRectF plot = m_pChart->plotArea();
    const double left = plot.left() * ratio;
    const double columns = std::max(plot.width() * ratio, 1.0);
    // Each pixel column split into parts a quarter of a pixel wide even when the window is widened
    // to the whole screen: the few points of a part still lie within one pixel of the wider plot,
    // so that its picture too stays that of the line through all the rows.
    const QScreen* shown = screen();
    const double widest = shown ? shown->availableGeometry().width() * shown->devicePixelRatio() : columns;
    const double parts = std::ceil(4 * std::max(widest, columns) / columns);
    return ChartPoints(m_timeMin, m_timeMax, left * parts, columns * parts);
}

void CTchart1::ReplacePoints(ChartPoints& points)
{
    m_series->replace(points.Take());
    // A change of the series may move the axes; the ranges stay those set by the caller.
    ApplyRanges();
}

void CTchart1::ReplacePoints(const std::vector<double>& dates, const std::vector<double>& values)
{
    const std::size_t n = std::min(dates.size(), values.size());
    ChartPoints points = NewPoints();
    for (std::size_t i = 0; i < n; ++i) points.Add(dates[i], values[i]);
    ReplacePoints(points);
}

void CTchart1::ApplyRanges()
{
    m_valueAxis->setRange(m_valueMin, m_valueMax);
    if (m_bTimeSet)
        m_timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(m_timeMin), QDateTime::fromMSecsSinceEpoch(m_timeMax));
}

bool CTchart1::SaveJpeg(const QString& path, QString* error)
{
    // The chart lays itself out on the next event; the picture must show what was last set.
    if (m_pChart->layout()) m_pChart->layout()->activate();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(100);
    if (!writer.write(grab().toImage())) {
        if (error) *error = writer.errorString();
        return false;
    }
    return WriteExportFile(path, bytes, error);
}
