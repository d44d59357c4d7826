#include "history/CTchart1.h"

#include <QBuffer>
#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGraphicsLayout>
#include <QLineSeries>
#include <QImageWriter>
#include <QPixmap>
#include <QValueAxis>

#include <cmath>

#include "history/ExportFile.h"

namespace {

constexpr double kEpochDate = 25569.0;  // 1970-01-01 as a DATE
constexpr qint64 kMsPerDay = 86400000;
constexpr qint64 kMsPerHour = 3600000;

// A DATE's wall-clock time as milliseconds since the epoch read as UTC. Before 1899-12-30 the
// whole part counts backwards while the fraction still runs forwards.
qint64 WallClockMsecs(double date)
{
    const double whole = std::trunc(date);
    const double days = whole + std::fabs(date - whole);
    return std::llround((days - kEpochDate) * static_cast<double>(kMsPerDay));
}

// Converts wall-clock times to real instants in the local time zone. Offsets change only on hour
// boundaries, so one lookup per wall-clock hour serves every point in it; the points of a graph
// come in ascending order, so the cache of the last hour hits nearly always.
class LocalTimeConverter {
public:
    qint64 operator()(double date)
    {
        const qint64 wall = WallClockMsecs(date);
        const qint64 hour = wall >= 0 ? wall / kMsPerHour : -((-wall + kMsPerHour - 1) / kMsPerHour);
        if (!m_bValid || hour != m_hour) {
            const QDateTime asUtc = QDateTime::fromMSecsSinceEpoch(hour * kMsPerHour, Qt::UTC);
            const QDateTime local(asUtc.date(), asUtc.time(), Qt::LocalTime);
            m_offset = local.isValid() ? local.toMSecsSinceEpoch() - hour * kMsPerHour : 0;
            m_hour = hour;
            m_bValid = true;
        }
        return wall + m_offset;
    }

private:
    qint64 m_hour = 0;
    qint64 m_offset = 0;
    bool m_bValid = false;
};

}  // namespace

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
    m_series->clear();
    ApplyRanges();
}

void CTchart1::ReplacePoints(const std::vector<double>& dates, const std::vector<double>& values)
{
    const std::size_t n = std::min(dates.size(), values.size());
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(n));
    LocalTimeConverter convert;
    for (std::size_t i = 0; i < n; ++i)
        points.append(QPointF(static_cast<qreal>(convert(dates[i])), values[i]));
    m_series->replace(points);
    // A change of the series may move the axes; the ranges stay those set by the caller.
    ApplyRanges();
}

void CTchart1::ApplyRanges()
{
    m_valueAxis->setRange(m_valueMin, m_valueMax);
    if (m_bTimeSet)
        m_timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(m_timeMin),
                             QDateTime::fromMSecsSinceEpoch(m_timeMax));
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
