#pragma once
// The graph's chart: one red line series over a fixed-range value axis and a fixed-range time axis.
// Time values are DATEs (days since 30 December 1899, local time); the chart shows them as local
// date-times.
#include <QChartView>
#include <QList>
#include <QPointF>
#include <QString>

#include <vector>

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
    // The series holds no points; the axes keep their ranges and title.
    void ClearSeries();
    // The series holds exactly the points (dates[i], values[i]), handed over in one call.
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
