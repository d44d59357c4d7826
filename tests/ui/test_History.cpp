// History dialog: device choice, time range, list texts, anchoring, export bytes.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimeEdit>
#include <QTimer>

#include <sqlite3.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/CMainFrame.h"
#include "database/CDB.h"
#include "database/RowFormat.h"
#include "device/CDeviceState.h"
#include "history/Grapsh.h"
#include "history/Main.h"
#include "history/TimeRange.h"
#include "platform/MessageBox.h"
#include "platform/OleDateTime.h"
#include "resources/resource.h"
#include "settings/CSetupParam.h"
#include "simulator/VT583Simulator.h"
#include "support/FileSizeLimit.h"
#include "support/TempDir.h"
#include "ui/DialogTestSupport.h"
#include "ui/ModalHelper.h"
#include "ui/ViewTestSupport.h"

namespace {

constexpr const char* kDev = "00A1B2C3";

class HistoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("QUORVANTIS_DATA_DIR", m_dir.Path().c_str(), 1);
        ASSERT_TRUE(LoadTestLanguage(0));
        theDeviceState.m_strDbPath = m_dir.File("Quorvantis.db");
        ASSERT_TRUE(CopyShippedDatabase(theDeviceState.m_strDbPath));
        theDeviceState.m_Link.Close();
        theDeviceState.m_nTempUnit = 1;
        ASSERT_EQ(m_db.Open(theDeviceState.m_strDbPath), 0);
    }

    void TearDown() override
    {
        m_db.Close();
        theDeviceState.m_dbHistory.Close();
        theDeviceState.m_Link.Close();
    }

    void AddDevice(const std::string& id) { ASSERT_EQ(m_db.SaveDevice(id, "2024-01-01 00:00:00", 1, 88, 0), 1); }
    void AddRecord(const std::string& time, const std::string& temp = " 21.5", const std::string& humi = "40",
                   const std::string& id = kDev)
    {
        ASSERT_EQ(m_db.InsertRecord(id, "0058", time, temp, humi), 1) << time;
    }

    static void SetRange(Main& dlg, QDate startDate, QTime startTime, QDate endDate, QTime endTime)
    {
        dlg.m_ctlStartDate->setDate(startDate);
        dlg.m_ctlStartTime->setTime(startTime);
        dlg.m_ctlEndDate->setDate(endDate);
        dlg.m_ctlEndTime->setTime(endTime);
    }

    static QString Status(Main& dlg) { return dlg.findChild<QLabel*>(QStringLiteral("IDC_HISTORY_STATUS"))->text(); }

    // Column c of every row the list shows.
    static std::vector<std::string> Column(Main& dlg, int c)
    {
        std::vector<std::string> out;
        QAbstractItemModel* model = dlg.m_list->model();
        for (int i = 0; i < model->rowCount(); ++i)
            out.push_back(model->data(model->index(i, c)).toString().toStdString());
        return out;
    }

    static QByteArray Utf16(const QString& text)
    {
        QByteArray out;
        for (QChar ch : text) {
            out.append(static_cast<char>(ch.unicode() & 0xFF));
            out.append(static_cast<char>(ch.unicode() >> 8));
        }
        return out;
    }

    // n rows of kDev a second apart from 1 March 2024 11:00:00, with temperatures of every tenth
    // from 10.0 to 39.9, humidities 0 to 100 and now and then a row without a reading; returns the
    // lines the export writes for them, their row numbers from first on.
    QByteArray AddRows(int n, int first)
    {
        QString lines;
        EXPECT_EQ(m_db.BeginTransaction(), 1);
        for (int k = 0; k < n; ++k) {
            const std::string time = DateTimeText(OleDateTime(2024, 3, 1, 11, 0, 0).AddSeconds(k));
            const bool none = k % 997 == 500;
            const int tenths = 100 + k % 300, humi = k % 101;
            const std::string temp = std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
            AddRecord(time, none ? "65535" : " " + temp, none ? "255" : std::to_string(humi));
            lines +=
                QStringLiteral("%1\t%2\t%3\t%4\r\n")
                    .arg(first + k)
                    .arg(QString::fromStdString(time), none ? QStringLiteral("--.-") : QString::fromStdString(temp),
                         none || humi > 99 ? QStringLiteral("--.-") : QString::number(humi));
        }
        EXPECT_EQ(m_db.Commit(), 1);
        return Utf16(lines);
    }

    static QByteArray ReadFile(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    TempDir m_dir;
    CDB m_db;
    ScopedMessageBoxRecorder m_boxes;
};

const QDate kDay(2024, 3, 1);

TEST_F(HistoryTest, DefaultRangeListsTheLastHourStartExclusiveEndInclusive)
{
    AddDevice(kDev);
    Main dlg;
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("History"));
    EXPECT_EQ(Status(dlg), QString());
    EXPECT_EQ(dlg.m_cbDevice->currentText(), QString::fromLatin1(kDev));

    // The pickers: start one hour before the end, the end now.
    OleDateTime sd, st, ed, et;
    ExchangeDate(dlg.m_ctlStartDate, sd, true);
    ExchangeTime(dlg.m_ctlStartTime, st, true);
    ExchangeDate(dlg.m_ctlEndDate, ed, true);
    ExchangeTime(dlg.m_ctlEndTime, et, true);
    const OleDateTime start = CombineDateTime(sd, st), end = CombineDateTime(ed, et);
    ASSERT_TRUE(start.IsValid() && end.IsValid());
    const OleDateTime now = OleDateTime::GetCurrentTime();
    EXPECT_FALSE(end > now);
    EXPECT_FALSE(end.AddSeconds(5) < now);
    // The start is taken a moment after the end: the same second or the next.
    EXPECT_TRUE(start == end.AddSeconds(-3600) || start == end.AddSeconds(-3599));

    for (int s : {-1, 0, 1, 1800}) AddRecord(DateTimeText(start.AddSeconds(s)));
    AddRecord(DateTimeText(end));
    AddRecord(DateTimeText(end.AddSeconds(1)));
    AddRecord(DateTimeText(start.AddSeconds(5)), " 21.5", "40", "0000BEEF");  // another device

    dlg.OnBnClickedSearch();
    EXPECT_EQ(m_boxes->Count(), 0u);
    EXPECT_EQ(Column(dlg, 1), (std::vector<std::string>{DateTimeText(start.AddSeconds(1)),
                                                        DateTimeText(start.AddSeconds(1800)), DateTimeText(end)}));
    EXPECT_EQ(Column(dlg, 0), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(Status(dlg), QStringLiteral("Data Read Complete"));
}

TEST_F(HistoryTest, DeviceChoiceWithAndWithoutAConnectedRecorder)
{
    for (const char* id : {"12345678", kDev, "0000BEEF"}) AddDevice(id);
    {
        Main dlg;  // no recorder: the first ID in sorted order
        ASSERT_EQ(dlg.m_cbDevice->count(), 3);
        EXPECT_EQ(dlg.m_cbDevice->itemText(0), QStringLiteral("0000BEEF"));
        EXPECT_EQ(dlg.m_cbDevice->itemText(2), QStringLiteral("12345678"));
        EXPECT_EQ(dlg.m_cbDevice->currentText(), QStringLiteral("0000BEEF"));
    }

    sim::SimulatorTransport transport;
    theDeviceState.m_Link.SetTransport(&transport);
    transport.Attach("/dev/hidraw9");
    theDeviceState.m_Link.Open();
    ASSERT_TRUE(theDeviceState.m_Link.IsDeviceOpen());
    {
        theDeviceState.m_dwDeviceID = 0x00A1B2C3;
        Main dlg;
        EXPECT_EQ(dlg.m_cbDevice->currentText(), QString::fromLatin1(kDev));
    }
    {
        theDeviceState.m_dwDeviceID = 0xDEADBEEF;  // connected, not yet in the table
        AddRecord("2024-03-01 10:00:00", " 21.5", "40", "DEADBEEF");
        Main dlg;
        EXPECT_EQ(dlg.m_cbDevice->currentIndex(), -1);
        EXPECT_EQ(dlg.m_cbDevice->currentText(), QString());
        SetRange(dlg, kDay, QTime(0, 0), kDay, QTime(23, 59, 59));
        dlg.OnBnClickedSearch();
        EXPECT_EQ(dlg.m_list->model()->rowCount(), 0);
        EXPECT_EQ(Status(dlg), QStringLiteral("Data Read Complete"));
    }
    theDeviceState.m_Link.Close();
    theDeviceState.m_Link.SetTransport(nullptr);
}

TEST_F(HistoryTest, DatePickersOfEveryDialogShowTheShortDateWithTheWholeYear)
{
    // The history and graph pickers have up-down arrows, the settings dialog's a drop-down calendar.
    for (const auto& [locale, format] :
         {std::pair{"en_US", "M/d/yyyy"}, std::pair{"de_DE", "dd.MM.yyyy"}, std::pair{"zh_CN", "yyyy/M/d"}}) {
        SCOPED_TRACE(locale);
        QLocale::setDefault(QLocale(QString::fromLatin1(locale)));
        Main history;
        Grapsh graph;
        CSetupParam settings;
        for (QDialog* dlg : std::initializer_list<QDialog*>{&history, &graph, &settings}) {
            const QList<QDateEdit*> pickers = dlg->findChildren<QDateEdit*>();
            EXPECT_EQ(pickers.size(), dlg == &settings ? 8 : 2);
            for (const QDateEdit* picker : pickers) {
                SCOPED_TRACE(picker->objectName().toStdString());
                EXPECT_EQ(picker->displayFormat(), QString::fromLatin1(format));
                EXPECT_EQ(picker->calendarPopup(), dlg == &settings);
            }
        }
    }
}

TEST_F(HistoryTest, EqualTimesGiveNoRowsAndAStartAfterTheEndIsATimeError)
{
    AddDevice(kDev);
    AddRecord("2024-03-01 10:00:00");
    AddRecord("2024-03-01 10:00:01");
    Main dlg;

    SetRange(dlg, kDay, QTime(9, 0), kDay, QTime(10, 0, 1));
    dlg.OnBnClickedSearch();
    ASSERT_EQ(dlg.m_list->model()->rowCount(), 2);

    SetRange(dlg, kDay, QTime(10, 0), kDay, QTime(10, 0));
    dlg.OnBnClickedSearch();
    EXPECT_EQ(m_boxes->Count(), 0u);
    EXPECT_EQ(dlg.m_list->model()->rowCount(), 0);

    dlg.OnBnClickedSearch();  // fill again, then a range that fails the check
    SetRange(dlg, kDay, QTime(9, 0), kDay, QTime(10, 0, 1));
    dlg.OnBnClickedSearch();
    SetRange(dlg, kDay, QTime(10, 0, 1), kDay, QTime(10, 0));
    dlg.OnBnClickedSearch();
    ASSERT_EQ(m_boxes->Count(), 1u);
    EXPECT_EQ(m_boxes->Entries()[0].text, "Time Error");
    EXPECT_EQ(m_boxes->Entries()[0].icon, MsgIcon::Stop);
    EXPECT_EQ(dlg.m_list->model()->rowCount(), 2);  // list and status untouched
    EXPECT_EQ(dlg.m_rows.size(), 2u);
    EXPECT_EQ(Status(dlg), QStringLiteral("Data Read Complete"));
}

TEST_F(HistoryTest, RangeAcrossMidnightAndRenumberingOnTheNextSearch)
{
    AddDevice(kDev);
    for (const char* t : {"2024-03-01 22:59:59", "2024-03-01 23:00:00", "2024-03-01 23:00:01", "2024-03-02 00:30:00",
                          "2024-03-02 01:00:00", "2024-03-02 01:00:01"})
        AddRecord(t);
    Main dlg;
    SetRange(dlg, kDay, QTime(23, 0), kDay.addDays(1), QTime(1, 0));
    dlg.OnBnClickedSearch();
    EXPECT_EQ(Column(dlg, 1),
              (std::vector<std::string>{"2024-03-01 23:00:01", "2024-03-02 00:30:00", "2024-03-02 01:00:00"}));
    EXPECT_EQ(Column(dlg, 0), (std::vector<std::string>{"1", "2", "3"}));

    SetRange(dlg, kDay.addDays(1), QTime(0, 0), kDay.addDays(1), QTime(2, 0));
    dlg.OnBnClickedSearch();
    EXPECT_EQ(Column(dlg, 0), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(Column(dlg, 1).front(), "2024-03-02 00:30:00");
}

TEST_F(HistoryTest, TemperatureAndHumidityTextsInBothUnits)
{
    AddDevice(kDev);
    const std::vector<std::pair<const char*, const char*>> values = {
        {" 25.0", "0"}, {" 60.0", "99"}, {" 60.1", "100"}, {" -40.1", "255"}, {" -40.0", "-5"}, {"65535", "50"}};
    int second = 1;
    for (const auto& [temp, humi] : values) AddRecord("2024-03-01 10:00:0" + std::to_string(second++), temp, humi);

    theDeviceState.m_nTempUnit = 0;  // Fahrenheit
    Main dlg;
    EXPECT_EQ(dlg.m_list->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Temperature(\u00B0F)"));
    EXPECT_EQ(dlg.m_list->model()->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Humidity(%)"));
    SetRange(dlg, kDay, QTime(9, 0), kDay, QTime(11, 0));
    dlg.OnBnClickedSearch();
    EXPECT_EQ(Column(dlg, 2), (std::vector<std::string>{"77.0", "140.0", "--.-", "--.-", "-40.0", "--.-"}));
    EXPECT_EQ(Column(dlg, 3), (std::vector<std::string>{"0", "99", "--.-", "--.-", "--.-", "50"}));

    // A unit change after opening: the values follow it, the caption keeps the opening's unit.
    theDeviceState.m_nTempUnit = -1;  // no device read: Celsius
    dlg.OnBnClickedSearch();
    EXPECT_EQ(Column(dlg, 2), (std::vector<std::string>{"25.0", "60.0", "--.-", "--.-", "-40.0", "--.-"}));
    EXPECT_EQ(dlg.m_list->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Temperature(\u00B0F)"));
}

TEST_F(HistoryTest, TimesAreListedAsStoredWhateverTheirForm)
{
    // The usual form is held as its fields, any other text whole; every one reads back as stored
    // (cut to 19 characters).
    AddDevice(kDev);
    const std::vector<std::pair<std::string, std::string>> times = {
        {"2024-02-29 00:00:00", "2024-02-29 00:00:00"},     {"2024-02-29 10:00", "2024-02-29 10:00"},
        {"2024-02-29 10:00:00.250", "2024-02-29 10:00:00"}, {"2024-02-29 10:00:61", "2024-02-29 10:00:61"},
        {"2024-02-29 24:00:00", "2024-02-29 24:00:00"},     {"2024-02-30 23:59:59", "2024-02-30 23:59:59"},
        {"2024-03-01 09:59:59", "2024-03-01 09:59:59"},     {"2024-03-01 10:00:00 \xC3\x9C", "2024-03-01 10:00:00"}};
    for (const auto& [stored, shown] : times) AddRecord(stored);

    Main dlg;
    SetRange(dlg, kDay.addDays(-2), QTime(0, 0), kDay, QTime(23, 59, 59));
    dlg.OnBnClickedSearch();
    std::vector<std::string> expected;
    for (const auto& [stored, shown] : times) expected.push_back(shown);
    EXPECT_EQ(Column(dlg, 1), expected);
    EXPECT_EQ(Column(dlg, 0).back(), std::to_string(times.size()));
}

TEST_F(HistoryTest, AnchoringFollowsMaximiseAndRestore)
{
    Main dlg;
    dlg.show();
    auto geometry = [&dlg](const char* name) { return dlg.findChild<QWidget*>(QLatin1String(name))->geometry(); };
    // Maximised and restored (sizes set by dragging are checked against the templates).
    const QSize size0 = dlg.size();
    const QRect list0 = geometry("IDC_HISTORY_LIST"), search0 = geometry("IDC_HISTORY_SEARCH"),
                group0 = geometry("IDC_HISTORY_GROUP");

    dlg.showMaximized();
    ASSERT_TRUE(WaitUntil([&] { return dlg.size() != size0; })) << "the dialog was never maximised";
    EXPECT_EQ(dlg.width() - geometry("IDC_HISTORY_LIST").right(), size0.width() - list0.right());
    EXPECT_EQ(dlg.height() - geometry("IDC_HISTORY_SEARCH").bottom(), size0.height() - search0.bottom());
    dlg.showNormal();
    dlg.resize(size0);
    EXPECT_EQ(geometry("IDC_HISTORY_LIST"), list0);
    EXPECT_EQ(geometry("IDC_HISTORY_SEARCH"), search0);
    EXPECT_EQ(geometry("IDC_HISTORY_GROUP"), group0);

    // Sized smaller, the window, frame included, stops at 280 x 250: no smaller, and no larger.
    dlg.resize(100, 100);
    EXPECT_EQ(dlg.frameGeometry().size(), QSize(kMinWindowWidth, kMinWindowHeight));
}

TEST_F(HistoryTest, ExportWritesTheListAsUtf16TextAndReplacesWholeFiles)
{
    AddDevice(kDev);
    AddRecord("2024-03-01 10:00:00", "65535", "255");
    AddRecord("2024-03-01 10:00:05", " 23.5", "45");
    Main dlg;
    const QString path = QString::fromStdString(m_dir.File("out.csv"));
    dlg.m_fnGetSaveFileName = [&] { return path; };
    const QByteArray bom("\xFF\xFE", 2);
    const QByteArray header = Utf16(QStringLiteral("Number\tRecord Time\tTemperature(\u00B0C)\tHumidity(%)\r\n"));

    dlg.OnBnClickedExportCsv();  // before any search: the header only
    ASSERT_EQ(m_boxes->Count(), 1u);
    EXPECT_EQ(m_boxes->Entries()[0].text, "Successfully exported the history records");
    EXPECT_EQ(m_boxes->Entries()[0].icon, MsgIcon::Information);
    EXPECT_EQ(ReadFile(path), bom + header);
    EXPECT_TRUE(header.contains(QByteArray("\xB0\x00", 2)));

    SetRange(dlg, kDay, QTime(9, 0), kDay, QTime(11, 0));
    dlg.m_list->horizontalHeader()->moveSection(0, 3);  // the screen order does not matter
    dlg.OnBnClickedSearch();
    dlg.OnBnClickedExportCsv();
    EXPECT_EQ(ReadFile(path), bom + header +
                                  Utf16(QStringLiteral("1\t2024-03-01 10:00:00\t--.-\t--.-\r\n"
                                                       "2\t2024-03-01 10:00:05\t23.5\t45\r\n")));

    // Many rows, written piece after piece as they are made: the same bytes as one piece.
    const QByteArray lines = AddRows(40000, 3);
    SetRange(dlg, kDay, QTime(9, 0), kDay, QTime(23, 0));
    dlg.OnBnClickedSearch();
    dlg.OnBnClickedExportCsv();
    ASSERT_GT(lines.size(), 2 << 20);
    EXPECT_TRUE(ReadFile(path) == bom + header +
                                      Utf16(QStringLiteral("1\t2024-03-01 10:00:00\t--.-\t--.-\r\n"
                                                           "2\t2024-03-01 10:00:05\t23.5\t45\r\n")) +
                                      lines);

    // Exporting again over the file leaves only the new export, and no temporary file.
    SetRange(dlg, kDay, QTime(10, 0), kDay, QTime(10, 0));
    dlg.OnBnClickedSearch();
    dlg.OnBnClickedExportCsv();
    EXPECT_EQ(ReadFile(path), bom + header);
    EXPECT_EQ(QDir(QString::fromStdString(m_dir.Path())).entryList({QStringLiteral("out*")}, QDir::Files),
              QStringList{QStringLiteral("out.csv")});

    // Cancel: nothing written, nothing said.
    m_boxes->Clear();
    dlg.m_fnGetSaveFileName = [] { return QString(); };
    dlg.OnBnClickedExportCsv();
    EXPECT_EQ(m_boxes->Count(), 0u);
}

TEST_F(HistoryTest, ExportToAnUnwritablePlaceReportsAndLeavesNoFile)
{
    Main dlg;
    QFile blocker(QString::fromStdString(m_dir.File("plain")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    for (const std::string& target : {m_dir.File("missing/out.csv"), m_dir.File("plain/out.csv")}) {
        m_boxes->Clear();
        dlg.m_fnGetSaveFileName = [&] { return QString::fromStdString(target); };
        dlg.OnBnClickedExportCsv();
        ASSERT_EQ(m_boxes->Count(), 1u) << target;
        EXPECT_EQ(m_boxes->Entries()[0].icon, MsgIcon::Stop);
        EXPECT_NE(m_boxes->Entries()[0].text.find("cannot be written"), std::string::npos);
        EXPECT_FALSE(QFile::exists(QString::fromStdString(target)));
    }
    EXPECT_TRUE(dlg.isEnabled());
}

// While it lives, this thread reaches files as an ordinary user would. Root may write anywhere,
// so it takes the file-system identity of "nobody"; other users are ordinary already.
class AsOrdinaryUser {
public:
    AsOrdinaryUser()
    {
        if (geteuid() == 0) {
            setfsgid(65534);
            setfsuid(65534);
            m_bDropped = true;
        }
    }
    ~AsOrdinaryUser()
    {
        if (m_bDropped) {
            setfsuid(0);
            setfsgid(0);
        }
    }

private:
    bool m_bDropped = false;
};

// A folder that takes no new file: both exports write a writable file in it in place, as the
// original overwrote it, and announce success; a read-only file in it is reported in the user's
// language, never announced, and keeps its content.
TEST_F(HistoryTest, ExportsOverwriteAWritableFileInAFolderThatTakesNoNewFile)
{
    const std::string folder = m_dir.File("locked");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const QString csv = QString::fromStdString(folder + "/open.csv");
    const QString jpeg = QString::fromStdString(folder + "/open.jpeg");
    const QString readOnly = QString::fromStdString(folder + "/kept.csv");
    for (const QString& path : {csv, jpeg, readOnly}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("old");
    }
    ASSERT_EQ(chmod(csv.toLocal8Bit().constData(), 0666), 0);
    ASSERT_EQ(chmod(jpeg.toLocal8Bit().constData(), 0666), 0);
    ASSERT_EQ(chmod(readOnly.toLocal8Bit().constData(), 0444), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
    ASSERT_EQ(chmod(m_dir.Path().c_str(), 0755), 0);

    Main history;
    Grapsh graph;
    {
        AsOrdinaryUser user;
        history.m_fnGetSaveFileName = [&] { return csv; };
        history.OnBnClickedExportCsv();
        graph.m_fnGetSaveFileName = [&] { return jpeg; };
        graph.OnBnClickedExportImage();
        ASSERT_TRUE(LoadTestLanguage(2));
        history.m_fnGetSaveFileName = [&] { return readOnly; };
        history.OnBnClickedExportCsv();
    }
    chmod(folder.c_str(), 0755);

    const auto boxes = m_boxes->Entries();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].text, "Successfully exported the history records");
    EXPECT_EQ(boxes[1].text, "Successfully exported the history records");
    EXPECT_EQ(boxes[2].icon, MsgIcon::Stop);
    EXPECT_EQ(boxes[2].text.rfind("Die Datei " + readOnly.toStdString() + " kann nicht geschrieben werden.", 0), 0u)
        << boxes[2].text;
    EXPECT_EQ(ReadFile(csv).left(2), QByteArray("\xFF\xFE", 2));
    EXPECT_TRUE(ReadFile(csv).contains(Utf16(QStringLiteral("Number\tRecord Time"))));
    EXPECT_EQ(ReadFile(jpeg).left(2), QByteArray("\xFF\xD8", 2));
    EXPECT_EQ(ReadFile(readOnly), QByteArray("old"));
    EXPECT_EQ(QDir(QString::fromStdString(folder)).entryList(QDir::Files).size(), 3);
}

// An export that stops half-way (here at a file-size limit, as on a full disk) says why and leaves
// no part of itself: no new file, an earlier file as it was, a file written in place emptied.
TEST_F(HistoryTest, AnExportThatCannotFinishSaysWhyAndLeavesNoPartOfItself)
{
    AddDevice(kDev);
    AddRows(40000, 1);
    const std::string locked = m_dir.File("locked");
    ASSERT_EQ(mkdir(locked.c_str(), 0755), 0);
    const QString fresh = QString::fromStdString(m_dir.File("new.csv"));
    const QString earlier = QString::fromStdString(m_dir.File("earlier.csv"));
    const QString inPlace = QString::fromStdString(locked + "/in-place.csv");
    for (const QString& path : {earlier, inPlace}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("old");
    }
    ASSERT_EQ(chmod(inPlace.toLocal8Bit().constData(), 0666), 0);
    ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
    ASSERT_EQ(chmod(m_dir.Path().c_str(), 0755), 0);

    Main dlg;
    SetRange(dlg, kDay, QTime(9, 0), kDay, QTime(23, 0));
    dlg.OnBnClickedSearch();
    ASSERT_EQ(dlg.m_list->model()->rowCount(), 40000);
    ScopedFileSizeLimit limit(3 << 19);  // the file comes to more than 2 MB
    for (const QString& path : {fresh, earlier, inPlace}) {
        m_boxes->Clear();
        dlg.m_fnGetSaveFileName = [&] { return path; };
        {
            std::optional<AsOrdinaryUser> user;
            if (path == inPlace) user.emplace();
            dlg.OnBnClickedExportCsv();
        }
        ASSERT_EQ(m_boxes->Count(), 1u) << path.toStdString();
        EXPECT_EQ(m_boxes->Entries()[0].icon, MsgIcon::Stop);
        EXPECT_EQ(m_boxes->Entries()[0].text,
                  "The file " + path.toStdString() + " cannot be written.\n" + std::strerror(EFBIG));
    }
    chmod(locked.c_str(), 0755);
    EXPECT_FALSE(QFile::exists(fresh));
    EXPECT_EQ(ReadFile(earlier), QByteArray("old"));
    EXPECT_TRUE(QFile::exists(inPlace));
    EXPECT_EQ(ReadFile(inPlace), QByteArray());
    EXPECT_EQ(
        QDir(QString::fromStdString(m_dir.Path())).entryList({QStringLiteral("*.csv*")}, QDir::Files | QDir::Hidden),
        QStringList{QStringLiteral("earlier.csv")});
    EXPECT_EQ(QDir(QString::fromStdString(locked)).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("in-place.csv")});
}

TEST_F(HistoryTest, DatabaseFailuresEndTheSearchWithAMessage)
{
    AddDevice(kDev);
    AddRecord("2024-03-01 10:00:00");
    Main dlg;
    SetRange(dlg, kDay, QTime(9, 0), kDay, QTime(11, 0));
    dlg.OnBnClickedSearch();
    ASSERT_EQ(dlg.m_list->model()->rowCount(), 1);

    // The rows the search reads cannot be read (an integer overflow while a row is made).
    ASSERT_EQ(m_db.Execute("ALTER TABLE Records RENAME TO Stored"), 1);
    ASSERT_EQ(m_db.Execute("CREATE VIEW Records AS SELECT ID, PagAddr, Time, Temp, "
                           "abs(-9223372036854775807 - 1) AS Humi FROM Stored"),
              1);
    dlg.OnBnClickedSearch();
    ASSERT_EQ(m_boxes->Count(), 1u);
    EXPECT_EQ(m_boxes->Entries()[0].text.rfind("Processing data failed", 0), 0u);
    EXPECT_EQ(m_boxes->Entries()[0].icon, MsgIcon::Stop);
    EXPECT_EQ(dlg.m_list->model()->rowCount(), 0);
    EXPECT_EQ(Status(dlg), QStringLiteral("Processing data failed"));
    EXPECT_FALSE(dlg.IsSearching());

    // No database file at all: the opening says so once, the search fails without a second box
    // for the same failure, and the dialog stays usable.
    m_boxes->Clear();
    theDeviceState.m_strDbPath = m_dir.File("none.db");
    Main broken;
    EXPECT_EQ(broken.m_cbDevice->count(), 0);
    EXPECT_EQ(m_boxes->Count(), 1u);
    broken.OnBnClickedSearch();
    EXPECT_EQ(m_boxes->Count(), 1u);
    EXPECT_EQ(Status(broken), QStringLiteral("Processing data failed"));
    EXPECT_FALSE(broken.IsSearching());
}

TEST_F(HistoryTest, EventsDuringASearchNeitherReenterItNorCloseTheDialogEarly)
{
    AddDevice(kDev);
    ASSERT_EQ(m_db.BeginTransaction(), 1);
    for (int i = 0; i < 3000; ++i) AddRecord(DateTimeText(OleDateTime(2024, 3, 1, 9, 0, 0).AddSeconds(i)));
    ASSERT_EQ(m_db.Commit(), 1);

    Main dlg;
    dlg.m_nPaintIntervalMs = 0;
    SetRange(dlg, kDay, QTime(8, 0), kDay, QTime(12, 0));
    int exportsAsked = 0;
    dlg.m_fnGetSaveFileName = [&] {
        ++exportsAsked;
        return QString();
    };
    dlg.show();
    bool ran = false;
    QTimer::singleShot(0, &dlg, [&] {
        ran = true;
        EXPECT_TRUE(dlg.IsSearching());
        dlg.OnBnClickedSearch();
        dlg.OnBnClickedExportCsv();
        dlg.reject();
        EXPECT_TRUE(dlg.isVisible());
    });
    dlg.OnBnClickedSearch();
    EXPECT_TRUE(ran);
    EXPECT_EQ(exportsAsked, 0);
    EXPECT_EQ(dlg.m_list->model()->rowCount(), 3000);
    EXPECT_EQ(Column(dlg, 0).back(), "3000");
    EXPECT_FALSE(dlg.isVisible());  // the close waited for the end of the search
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

TEST_F(HistoryTest, FrameHistoryCommandRunsTheDialogModally)
{
    CMainFrame frame;
    bool shown = false;
    WhenModal(QStringLiteral("IDD_MAIN"), [&](QWidget* w) {
        shown = true;
        w->findChild<QPushButton*>(QStringLiteral("IDC_HISTORY_EXIT"))->click();
    });
    frame.OnMenuHistory();
    EXPECT_TRUE(shown);
}

}  // namespace

TEST(DialogLayout, ControlsWithoutAReferenceKeepTheirOwnLeftEdge)
{
    QDialog dlg;
    dlg.resize(400, 300);
    auto* chart = new QWidget(&dlg);
    chart->setGeometry(10, 20, 380, 200);
    auto* button = new QWidget(&dlg);
    button->setGeometry(300, 260, 60, 20);
    DialogLayout layout(&dlg, chart, {button});
    layout.Record();
    ASSERT_EQ(layout.Table().size(), 2u);
    EXPECT_EQ(layout.Table()[0].b, 10);  // right margin
    EXPECT_EQ(layout.Table()[1].a, 300);
    EXPECT_EQ(layout.Table()[1].d, 20);  // bottom margin

    dlg.resize(600, 500);
    layout.Apply();
    EXPECT_EQ(chart->geometry(), QRect(10, 20, 580, 400));
    EXPECT_EQ(button->geometry(), QRect(300, 460, 60, 20));

    dlg.show();
    ApplyMinimumWindowSize(&dlg);
    EXPECT_LE(dlg.minimumWidth(), kMinWindowWidth);
    EXPECT_LE(dlg.minimumHeight(), kMinWindowHeight);
    EXPECT_GE(dlg.minimumWidth(), kMinWindowWidth - (dlg.frameGeometry().width() - dlg.width()));
}
