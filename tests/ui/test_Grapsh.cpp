// The graph dialog over a database in a fresh data folder: device selection, the search's axes,
// points and empty results, the plotted values of unusual rows, failures, the JPEG export and the
// anchoring.
#include <QChart>
#include <QColor>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineSeries>
#include <QPushButton>
#include <QValueAxis>

#include <cmath>
#include <map>

#include "database/CDB.h"
#include "history/CTchart1.h"
#include "history/Grapsh.h"
#include "history/TimeRange.h"
#include "resources/resource.h"
#include "ui/DialogTestSupport.h"

namespace {

constexpr const char* kId = "00123456";

class GrapshTest : public DialogTest {
protected:
    // Sets the four pickers to start .. end (fields: y, mo, d, h, mi, s) through the controls.
    static void SetRange(Grapsh& dlg, const OleDateTimeFields& from, const OleDateTimeFields& to)
    {
        dlg.m_dtStartDate = OleDateTime(from.year, from.month, from.day, 0, 0, 0);
        dlg.m_dtStartTime = OleDateTime(1899, 12, 30, from.hour, from.minute, from.second);
        dlg.m_dtEndDate = OleDateTime(to.year, to.month, to.day, 0, 0, 0);
        dlg.m_dtEndTime = OleDateTime(1899, 12, 30, to.hour, to.minute, to.second);
        dlg.DoDataExchange(false);
    }

    static OleDateTimeFields At(int y, int mo, int d, int h, int mi, int s)
    {
        OleDateTimeFields f;
        f.year = y, f.month = mo, f.day = d, f.hour = h, f.minute = mi, f.second = s;
        return f;
    }

    // Three readings on 1 March 2024, 10:10, 10:20, 10:30.
    void AddThreeRows()
    {
        AddDevice(kId);
        AddRecord(kId, "2024-03-01 10:10:00", " 21.5", "40");
        AddRecord(kId, "2024-03-01 10:20:00", " 22.0", "41");
        AddRecord(kId, "2024-03-01 10:30:00", " -5.5", "42");
    }

    static void Search(Grapsh& dlg, int type)
    {
        dlg.m_cbType->setCurrentIndex(type);
        dlg.findChild<QPushButton*>(QStringLiteral(QV_ID_NAME(IDC_GRAPH_SEARCH)))->click();
    }

    static QList<QPointF> Points(Grapsh& dlg) { return dlg.m_chart->Series()->points(); }
    static qreal Ms(double date) { return static_cast<qreal>(CTchart1::DateToMsecs(date)); }
};

TEST_F(GrapshTest, DeviceSelectionAndTypes)
{
    AddDevice("00ABCDEF");
    AddDevice("0000FFFF");
    {
        // No recorder: the first ID in sorted order.
        Grapsh dlg;
        ASSERT_EQ(dlg.m_cbDevice->count(), 2);
        EXPECT_EQ(dlg.m_cbDevice->currentText(), QStringLiteral("0000FFFF"));
        ASSERT_EQ(dlg.m_cbType->count(), 2);
        EXPECT_EQ(dlg.m_cbType->itemText(0), QStringLiteral("Humidity"));
        EXPECT_EQ(dlg.m_cbType->itemText(1), QStringLiteral("Temperature"));
        EXPECT_EQ(dlg.m_chart->Series()->count(), 0);
        // Before any search the time axis spans the pickers' range, not the epoch.
        EXPECT_EQ(dlg.m_chart->TimeAxis()->min().toMSecsSinceEpoch(),
                  Ms(CombineDateTime(dlg.m_dtStartDate, dlg.m_dtStartTime).m_dt));
        EXPECT_EQ(dlg.m_chart->TimeAxis()->max().toMSecsSinceEpoch(),
                  Ms(CombineDateTime(dlg.m_dtEndDate, dlg.m_dtEndTime).m_dt));
    }
    {
        // A connected recorder that is listed, by its ID; one that is not, no selection.
        Connect(0x00ABCDEF);
        Grapsh dlg;
        EXPECT_EQ(dlg.m_cbDevice->currentText(), QStringLiteral("00ABCDEF"));
    }
    theDeviceState.m_Link.Close();
    {
        Connect(0x00123456);
        Grapsh dlg;
        EXPECT_EQ(dlg.m_cbDevice->currentIndex(), -1);
        EXPECT_TRUE(dlg.m_cbDevice->currentText().isEmpty());
    }
}

TEST_F(GrapshTest, SearchSetsAxesThenAnEmptyResultKeepsThemAndEmptiesTheSeries)
{
    AddThreeRows();
    theDeviceState.m_nTempUnit = -1;  // no recorder read since start-up
    Grapsh dlg;
    SetRange(dlg, At(2024, 3, 1, 10, 10, 0), At(2024, 3, 1, 11, 0, 0));
    Search(dlg, 1);

    // The start is exclusive: the 10:10 row is left out.
    const QList<QPointF> points = Points(dlg);
    ASSERT_EQ(points.size(), 2);
    EXPECT_EQ(points[0].x(), Ms(OleDateTime(2024, 3, 1, 10, 20, 0).m_dt));
    EXPECT_DOUBLE_EQ(points[0].y(), 22.0);
    EXPECT_EQ(points[1].x(), Ms(OleDateTime(2024, 3, 1, 10, 30, 0).m_dt));
    EXPECT_DOUBLE_EQ(points[1].y(), -5.5);
    EXPECT_EQ(dlg.m_chart->ValueAxis()->min(), -30.0);
    EXPECT_EQ(dlg.m_chart->ValueAxis()->max(), 50.0);
    EXPECT_EQ(dlg.m_chart->ValueAxis()->titleText(), QString::fromUtf8("Temperature (\u00B0C)"));
    const QDateTime from = dlg.m_chart->TimeAxis()->min(), to = dlg.m_chart->TimeAxis()->max();
    EXPECT_EQ(from, QDateTime(QDate(2024, 3, 1), QTime(10, 10, 0)));
    EXPECT_EQ(to, QDateTime(QDate(2024, 3, 1), QTime(11, 0, 0)));

    // Start equal to end passes the check and matches nothing: empty series, axes as they were.
    SetRange(dlg, At(2024, 3, 1, 10, 20, 0), At(2024, 3, 1, 10, 20, 0));
    Search(dlg, 0);
    EXPECT_EQ(dlg.m_chart->Series()->count(), 0);
    EXPECT_EQ(dlg.m_chart->ValueAxis()->min(), -30.0);
    EXPECT_EQ(dlg.m_chart->ValueAxis()->titleText(), QString::fromUtf8("Temperature (\u00B0C)"));
    EXPECT_EQ(dlg.m_chart->TimeAxis()->min(), from);
    EXPECT_EQ(dlg.m_chart->TimeAxis()->max(), to);
    EXPECT_EQ(m_boxes->Count(), 0u);

    // One second the wrong way round: "Time Error" and the chart untouched.
    SetRange(dlg, At(2024, 3, 1, 10, 0, 0), At(2024, 3, 1, 11, 0, 0));
    Search(dlg, 1);
    ASSERT_EQ(Points(dlg).size(), 3);
    SetRange(dlg, At(2024, 3, 1, 10, 20, 1), At(2024, 3, 1, 10, 20, 0));
    Search(dlg, 0);
    ASSERT_EQ(m_boxes->Count(), 1u);
    EXPECT_EQ(m_boxes->Entries()[0].text, "Time Error");
    EXPECT_EQ(m_boxes->Entries()[0].icon, MsgIcon::Stop);
    EXPECT_EQ(Points(dlg).size(), 3);
    EXPECT_EQ(dlg.m_chart->ValueAxis()->max(), 50.0);
}

TEST_F(GrapshTest, AxisRangeAndTitleByKindAndUnit)
{
    AddThreeRows();
    Grapsh dlg;
    SetRange(dlg, At(2024, 3, 1, 10, 0, 0), At(2024, 3, 1, 11, 0, 0));
    for (int unit : {-1, 0, 1}) {
        theDeviceState.m_nTempUnit = unit;
        Search(dlg, 0);
        EXPECT_EQ(dlg.m_chart->ValueAxis()->min(), 0.0) << unit;
        EXPECT_EQ(dlg.m_chart->ValueAxis()->max(), 100.0) << unit;
        EXPECT_EQ(dlg.m_chart->ValueAxis()->titleText(), QStringLiteral("Humidity (%)")) << unit;
        ASSERT_EQ(Points(dlg).size(), 3);
        EXPECT_EQ(Points(dlg)[2].y(), 42.0);
    }
    theDeviceState.m_nTempUnit = 0;
    Search(dlg, 1);
    EXPECT_EQ(dlg.m_chart->ValueAxis()->min(), -22.0);
    EXPECT_EQ(dlg.m_chart->ValueAxis()->max(), 122.0);
    EXPECT_EQ(dlg.m_chart->ValueAxis()->titleText(), QString::fromUtf8("Temperature (\u00B0F)"));
    EXPECT_NEAR(Points(dlg)[0].y(), 21.5 * 1.8 + 32, 1e-9);
    EXPECT_NEAR(Points(dlg)[2].y(), -5.5 * 1.8 + 32, 1e-9);
    theDeviceState.m_nTempUnit = 1;
    Search(dlg, 1);
    EXPECT_EQ(dlg.m_chart->ValueAxis()->max(), 50.0);
    EXPECT_DOUBLE_EQ(Points(dlg)[0].y(), 21.5);
}

TEST_F(GrapshTest, EmptyDeviceListSearchesNoIdAndEmptiesTheSeries)
{
    AddRecord(kId, "2024-03-01 10:10:00", " 21.5", "40");  // rows without a Device row
    Grapsh dlg;
    EXPECT_EQ(dlg.m_cbDevice->count(), 0);
    SetRange(dlg, At(2024, 3, 1, 10, 0, 0), At(2024, 3, 1, 11, 0, 0));
    Search(dlg, 0);
    EXPECT_EQ(dlg.m_chart->Series()->count(), 0);
    EXPECT_EQ(m_boxes->Count(), 0u);
}

TEST_F(GrapshTest, NoReadingAndUnreadableTimeRowsArePlottedAsStored)
{
    AddDevice(kId);
    AddRecord(kId, "2024-03-01 10:10:00", "65535", "255");
    AddRecord(kId, "2024-03-01 10:20:xx", " 20.0", "30");  // no date at all
    AddRecord(kId, "2024-02-30 10:00:00", " 19.0", "31");  // no such day
    // Humidities another program stored as a text and as a real: their texts read as integers.
    ExecSql(std::string("INSERT INTO Records(ID, PagAddr, Time, Temp, Humi) VALUES ('") + kId +
            "', '0058', '2024-03-01 10:30:00', 20.0, ' 41abc'), ('" + kId +
            "', '0058', '2024-03-01 10:40:00', 20.0, 45.7)");
    Grapsh dlg;
    SetRange(dlg, At(2024, 2, 29, 0, 0, 0), At(2024, 3, 1, 11, 0, 0));

    Search(dlg, 0);
    QList<QPointF> points = Points(dlg);
    ASSERT_EQ(points.size(), 5);  // in stored time order
    EXPECT_EQ(points[0].x(), Ms(-1.0));
    EXPECT_EQ(points[0].y(), 31.0);
    EXPECT_EQ(points[1].y(), 255.0);
    EXPECT_EQ(points[2].x(), Ms(0.0));
    EXPECT_EQ(points[2].y(), 30.0);
    EXPECT_EQ(points[3].y(), 41.0);
    EXPECT_EQ(points[4].y(), 45.0);

    theDeviceState.m_nTempUnit = 1;
    Search(dlg, 1);
    EXPECT_EQ(Points(dlg)[1].y(), 65535.0);
    theDeviceState.m_nTempUnit = 0;
    Search(dlg, 1);
    EXPECT_NEAR(Points(dlg)[1].y(), 117995.0, 1e-6);
    // The axis keeps its range; the far point lies outside it.
    EXPECT_EQ(dlg.m_chart->ValueAxis()->max(), 122.0);
    EXPECT_EQ(m_boxes->Count(), 0u);
}

TEST_F(GrapshTest, DatabaseFailureEndsTheSearchWithAMessage)
{
    AddThreeRows();
    Grapsh dlg;
    SetRange(dlg, At(2024, 3, 1, 10, 0, 0), At(2024, 3, 1, 11, 0, 0));
    Search(dlg, 0);
    ASSERT_EQ(Points(dlg).size(), 3);

    // The rows cannot be counted (an integer overflow while the device ID is read).
    ExecSql("ALTER TABLE Records RENAME TO Stored");
    ExecSql("CREATE VIEW Records AS SELECT CASE WHEN abs(-9223372036854775807 - 1) THEN ID END AS ID, "
            "PagAddr, Time, Temp, Humi FROM Stored");
    Search(dlg, 0);
    ASSERT_EQ(m_boxes->Count(), 1u);
    const auto box = m_boxes->Entries()[0];
    EXPECT_NE(box.text.find("Processing data failed"), std::string::npos) << box.text;
    EXPECT_NE(box.text.find("integer overflow"), std::string::npos) << box.text;
    EXPECT_EQ(box.icon, MsgIcon::Stop);
    EXPECT_EQ(Points(dlg).size(), 3);  // the chart as it was

    // A data folder whose database is no database: the open says so, nothing else happens.
    m_boxes->Clear();
    {
        QFile file(QString::fromStdString(theDeviceState.m_strDbPath));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray(4096, 'x'));
    }
    Search(dlg, 0);
    EXPECT_EQ(m_boxes->Count(), 1u);
    EXPECT_EQ(Points(dlg).size(), 3);
}

TEST_F(GrapshTest, ExportWritesARealJpeg)
{
    AddThreeRows();
    Grapsh dlg;
    dlg.show();
    SetRange(dlg, At(2024, 3, 1, 10, 0, 0), At(2024, 3, 1, 11, 0, 0));
    Search(dlg, 0);
    auto* exportButton = dlg.findChild<QPushButton*>(QStringLiteral(QV_ID_NAME(IDC_GRAPH_EXPORT)));

    // Cancelled: nothing.
    dlg.m_fnGetSaveFileName = [] { return QString(); };
    exportButton->click();
    EXPECT_EQ(m_boxes->Count(), 0u);

    // A name without an extension gets ".jpeg".
    const QString path = QString::fromStdString(m_dir.File("graph"));
    dlg.m_fnGetSaveFileName = [&] { return path; };
    exportButton->click();
    ASSERT_EQ(m_boxes->Count(), 1u);
    EXPECT_EQ(m_boxes->Entries()[0].text, "Successfully exported the history records");
    EXPECT_EQ(m_boxes->Entries()[0].icon, MsgIcon::Information);
    QFile file(path + QStringLiteral(".jpeg"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_GT(bytes.size(), 3);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xD8);
    EXPECT_EQ(static_cast<unsigned char>(bytes[2]), 0xFF);
    QImage image;
    ASSERT_TRUE(image.loadFromData(bytes));
    EXPECT_EQ(image.size(), dlg.m_chart->grab().size());
    // No temporary file is left beside it.
    EXPECT_EQ(QDir(QString::fromStdString(m_dir.Path())).entryList({QStringLiteral("graph*")}, QDir::Files).size(), 1);

    // A folder that does not exist: a stop box naming the file, not success.
    m_boxes->Clear();
    const QString bad = QString::fromStdString(m_dir.File("missing/graph.jpeg"));
    dlg.m_fnGetSaveFileName = [&] { return bad; };
    exportButton->click();
    ASSERT_EQ(m_boxes->Count(), 1u);
    EXPECT_EQ(m_boxes->Entries()[0].icon, MsgIcon::Stop);
    EXPECT_NE(m_boxes->Entries()[0].text.find(bad.toStdString()), std::string::npos);
    EXPECT_FALSE(QFile::exists(bad));
}

// The rows of a range as the dialog plots them: the stored times and temperatures, in time order.
QList<QPointF> StoredPoints(const std::string& path, const std::string& to)
{
    CDB db;
    QList<QPointF> rows;
    LocalTimeConverter convert;
    if (db.Open(path) != 0 || db.SelectRecords(WhereDeviceRange("2023-12-31 23:59:59", to, kId)) != 0) return rows;
    for (; !db.m_pRecord.IsEOF(); db.m_pRecord.MoveNext())
        rows.append(QPointF(convert(OleDateTime::Parse(*db.m_pRecord.GetString("Time")).m_dt),
                            static_cast<float>(*db.m_pRecord.GetDouble("Temp"))));
    return rows;
}

TEST_F(GrapshTest, ALargeSelectionIsDrawnAtTheChartsResolutionWithEveryExtreme)
{
    // One reading a minute on a swing of five hours, with the highest and the lowest value once
    // each in the middle.
    constexpr long kRows = ChartPoints::kWholeUpTo + 50001;
    AddDevice(kId);
    ExecSql("WITH RECURSIVE n(k) AS (SELECT 0 UNION ALL SELECT k + 1 FROM n WHERE k < " + std::to_string(kRows - 1) +
            ") INSERT INTO Records(ID, PagAddr, Time, Temp, Humi) SELECT '" + kId +
            "', '0058', datetime('2024-01-01', '+' || k || ' minutes'), CASE WHEN k = 77777 THEN 49.5 "
            "WHEN k = 12345 THEN -29.5 ELSE round(20 + 8 * sin(k / 300.0), 1) END, 40 FROM n");
    const auto timeOf = [](long row) { return OleDateTime(2024, 1, 1, 0, 0, 0).AddSeconds(60LL * row); };
    theDeviceState.m_nTempUnit = 1;
    Grapsh dlg;
    dlg.show();

    // Up to the whole count the rows themselves.
    const OleDateTime lastWhole = timeOf(ChartPoints::kWholeUpTo - 1);
    SetRange(dlg, At(2023, 12, 31, 23, 59, 59), At(2024, 3, 10, 10, 39, 0));
    ASSERT_EQ(lastWhole.Format(), "2024-03-10 10:39:00");
    Search(dlg, 1);
    EXPECT_EQ(Points(dlg), StoredPoints(theDeviceState.m_strDbPath, lastWhole.Format()));

    // Beyond it a few points a pixel column, taken from the rows in their order.
    const std::string last = timeOf(kRows - 1).Format();
    ASSERT_EQ(last, "2024-04-14 04:00:00");
    SetRange(dlg, At(2023, 12, 31, 23, 59, 59), At(2024, 4, 14, 4, 0, 0));
    Search(dlg, 1);
    const QList<QPointF> rows = StoredPoints(theDeviceState.m_strDbPath, last);
    const QList<QPointF> points = Points(dlg);
    ASSERT_EQ(rows.size(), kRows);
    ASSERT_FALSE(points.isEmpty());
    EXPECT_LT(points.size(), kRows / 10);
    qsizetype at = 0;
    for (const QPointF& p : points) {
        while (at < rows.size() && rows[at] != p) ++at;
        ASSERT_LT(at, rows.size()) << "a point that is no row, or out of order: " << p.x() << " " << p.y();
    }
    EXPECT_EQ(points.front(), rows.front());
    EXPECT_EQ(points.back(), rows.back());

    // Every pixel column of the plot keeps its lowest and highest value, so the selection's own
    // highest and lowest value are drawn.
    const QRectF plot = dlg.m_chart->chart()->plotArea();
    const double from = dlg.m_chart->TimeAxis()->min().toMSecsSinceEpoch();
    const double to = dlg.m_chart->TimeAxis()->max().toMSecsSinceEpoch();
    const auto extremes = [&](const QList<QPointF>& list) {
        std::map<long, std::pair<double, double>> columns;
        for (const QPointF& p : list) {
            const long column =
                static_cast<long>(std::floor(plot.left() + (p.x() - from) / (to - from) * plot.width()));
            auto [it, added] = columns.try_emplace(column, p.y(), p.y());
            it->second = {std::min(it->second.first, p.y()), std::max(it->second.second, p.y())};
        }
        return columns;
    };
    const auto drawn = extremes(points);
    EXPECT_EQ(drawn, extremes(rows));
    EXPECT_GT(drawn.size(), 500u);
    EXPECT_TRUE(points.contains(rows[77777]));
    EXPECT_TRUE(points.contains(rows[12345]));

    // The same picture as the line through every row.
    QCoreApplication::processEvents();
    const QImage reduced = dlg.m_chart->grab().toImage();
    dlg.m_chart->Series()->replace(rows);
    QCoreApplication::processEvents();
    const QImage exact = dlg.m_chart->grab().toImage();
    ASSERT_EQ(reduced.size(), exact.size());
    long differ = 0, line = 0;
    for (int y = 0; y < exact.height(); ++y)
        for (int x = 0; x < exact.width(); ++x) {
            differ += reduced.pixel(x, y) != exact.pixel(x, y);
            line += exact.pixel(x, y) == QColor(Qt::red).rgb();
        }
    // A pixel here and there on a steep slope may fall the other way.
    EXPECT_GT(line, 5000);
    EXPECT_LE(differ, line / 100) << differ << " of " << line << " line pixels differ";
}

// Points out of time order (rows whose time does not parse) each keep the line's way to them and
// back, however many points a column gets.
TEST(ChartPoints, PointsOutOfTimeOrderKeepTheirTurns)
{
    const double first = OleDateTime(2024, 1, 1, 0, 0, 0).m_dt;
    constexpr long kCount = 500000;
    ChartPoints points(CTchart1::DateToMsecs(first), CTchart1::DateToMsecs(first + kCount / 1440.0), 40.0, 800.0);
    QList<QPointF> all;
    LocalTimeConverter convert;
    for (long i = 0; i < kCount; ++i) {
        const double date = i % 100000 == 5000 ? 0.0 : first + i / 1440.0;
        const double value = 20 + i % 97 / 10.0;
        points.Add(date, value);
        all.append(QPointF(convert(date), value));
    }
    const QList<QPointF> kept = points.Take();
    EXPECT_LT(kept.size(), 800 * 4 + 30);
    for (long i = 5000; i < kCount; i += 100000) {
        const qsizetype at = kept.indexOf(all[i]);
        ASSERT_GT(at, 0) << i;
        ASSERT_LT(at + 1, kept.size()) << i;
        EXPECT_EQ(kept[at - 1], all[i - 1]) << i;
        EXPECT_EQ(kept[at + 1], all[i + 1]) << i;
    }
    EXPECT_TRUE(points.Take().isEmpty());
}

}  // namespace

namespace {

// Wall-clock times become instants in the local zone, also across a daylight-saving change.
TEST(CTchart1Time, LocalDatesAcrossADaylightSavingChange)
{
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    const auto ms = [](int y, int mo, int d, int h, int mi) {
        return CTchart1::DateToMsecs(OleDateTime(y, mo, d, h, mi, 0).m_dt);
    };
    // 01:59 CET and 03:00 CEST on 31 March 2024 are one minute apart.
    EXPECT_EQ(ms(2024, 3, 31, 3, 0) - ms(2024, 3, 31, 1, 59), 60000);
    EXPECT_EQ(ms(2024, 1, 15, 12, 0), QDateTime(QDate(2024, 1, 15), QTime(11, 0), Qt::UTC).toMSecsSinceEpoch());
    EXPECT_EQ(ms(2024, 7, 15, 12, 0), QDateTime(QDate(2024, 7, 15), QTime(10, 0), Qt::UTC).toMSecsSinceEpoch());
    // Before 30 December 1899 the whole part counts back and the fraction forward: -1.25 is
    // 29 December 1899, 06:00.
    EXPECT_EQ(CTchart1::DateToMsecs(-1.25) - CTchart1::DateToMsecs(0.0), -18 * 3600000LL);

    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

}  // namespace
