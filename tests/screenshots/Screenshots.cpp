// Pictures of every window in every language, to look at: `make screenshots` writes them into a
// folder (build/screenshots). Not a test: nothing here is checked beyond getting each window into
// the state it is pictured in. The recorder is the simulator, the data a fresh temporary folder.
//
//   take_screenshots FOLDER
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimeEdit>

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <tuple>

#include "app/CAboutDlg.h"
#include "app/CMainFrame.h"
#include "app/CQuorvantisApp.h"
#include "app/CQuorvantisView.h"
#include "app/CloseDialo.h"
#include "app/Language.h"
#include "app/selectLanguage.h"
#include "device/CDeviceState.h"
#include "device/DeviceProtocol.h"
#include "history/DeleteHistory.h"
#include "history/Grapsh.h"
#include "history/Main.h"
#include "platform/MessageBox.h"
#include "platform/OleDateTime.h"
#include "platform/Profile.h"
#include "resources/resource.h"
#include "settings/CSetupParam.h"
#include "settings/CUpload.h"
#include "simulator/VT583Simulator.h"
#include "support/TempDir.h"
#include "support/TestApplication.h"
#include "ui/ViewTestSupport.h"

namespace {

QString g_out;
int g_written = 0;

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "screenshots: %s\n", what.c_str());
    std::exit(1);
}

void Save(QWidget* window, const QString& name)
{
    QCoreApplication::processEvents();
    const QString path = g_out + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!window->grab().save(path)) Fail("cannot write " + path.toStdString());
    ++g_written;
}

void Await(const char* what, const std::function<bool()>& cond)
{
    if (!WaitUntil(cond)) Fail(std::string("the window never showed ") + what);
}

// One period slot of the recorder's period block: BCD year, month, BCD day, hour, minute.
void PutSlot(std::uint8_t* block, int slot, int year, int month, int day, int hour, int minute)
{
    std::uint8_t* b = block + 5 * slot;
    b[0] = BcdEncode(year - 2000);
    b[1] = static_cast<std::uint8_t>(month);
    b[2] = BcdEncode(day);
    b[3] = BcdEncode(hour);
    b[4] = BcdEncode(minute);
}

// Readings that draw a day's curve: about 20 °C plus or minus 8, humidity 35 to 65 %.
sim::SimReading Reading(std::uint64_t sequence)
{
    const double phase = static_cast<double>(sequence) / 40.0;
    return sim::SimReading{static_cast<std::uint8_t>(70 + 15 * std::sin(phase * 0.7)),
                           static_cast<std::uint16_t>(700 + 80 * std::sin(phase))};
}

constexpr int kRecords = 2000;

// A segmented recorder with two periods set, records and a reading.
std::shared_ptr<sim::VT583Simulator> PlugInRecorder(sim::SimulatorTransport& transport)
{
    auto rec = transport.Attach("/dev/hidraw3");
    rec->SetDeviceId(0x0A1B2C3D);
    rec->SetInterval(90);
    std::uint8_t block[40];
    std::fill(std::begin(block), std::end(block), 0xFF);
    const QDate next = QDate::currentDate().addDays(1);
    PutSlot(block, 0, next.year(), next.month(), next.day(), 8, 0);
    PutSlot(block, 1, next.year(), next.month(), next.day(), 17, 30);
    const QDate after = next.addDays(1);
    PutSlot(block, 2, after.year(), after.month(), after.day(), 8, 0);
    PutSlot(block, 3, after.year(), after.month(), after.day(), 17, 30);
    for (int slot = 4; slot < 8; ++slot) PutSlot(block, slot, after.year(), after.month(), after.day(), 20, 0);
    block[1] |= 0x30;  // periods 1 and 2 enabled
    rec->SetPeriodBlock(block);
    rec->SetReadingSource(Reading);
    rec->FillRing(2, kRecords);
    rec->SetMaxMin(860, 88, 560, 52);
    rec->SetLive(65, 735);
    rec->SetLatencyMs(1);  // a download long enough to be pictured under way
    return rec;
}

QString PaneText(CMainFrame& frame)
{
    for (QLabel* label : frame.statusBar()->findChildren<QLabel*>())
        if (!label->text().isEmpty()) return label->text();
    return {};
}

// The main window without a recorder, while it downloads, and after; returns the recorder.
std::shared_ptr<sim::VT583Simulator> MainWindow(const QString& code, sim::SimulatorTransport& transport)
{
    auto frame = std::make_unique<CMainFrame>();
    CQuorvantisView* view = frame->GetActiveView();
    frame->setFixedSize(kMainWindowWidth, kMainWindowBaseHeight + frame->menuBar()->sizeHint().height());
    view->OnInitialUpdate();
    frame->show();
    const QString unconnected = QString::fromStdString(LoadString(IDS_UNCONNECT));
    Await("the missing recorder", [&] { return PaneText(*frame) == unconnected; });
    Save(frame.get(), QStringLiteral("main_%1_1_no_recorder").arg(code));

    auto rec = PlugInRecorder(transport);
    view->OnDeviceChange(DBT_DEVICEARRIVAL, "/dev/hidraw3");
    Await("a download under way", [&] {
        const DisplayStrings s = view->GetDisplayStrings();
        return s.status[2] == view->m_strRes[16] && s.info[2].toInt() >= kRecords / 4 && s.temp != kNoValue;
    });
    rec->HoldReplies();  // the download waits for the recorder's next reply
    Await("the download held", [&] { return rec->HeldReads() > 0; });
    view->update();
    Save(frame.get(), QStringLiteral("main_%1_2_downloading").arg(code));

    rec->ReleaseReplies();
    Await("the download complete", [&] {
        const DisplayStrings s = view->GetDisplayStrings();
        return s.status[2] == view->m_strRes[17] && s.info[2] == QString::number(kRecords);
    });
    view->update();
    Save(frame.get(), QStringLiteral("main_%1_3_downloaded").arg(code));
    rec->SetLatencyMs(0);
    view->StopWorkerThreads();
    return rec;
}

// The first and last record times stored, for the dialogs' time range.
std::pair<QDateTime, QDateTime> StoredRange()
{
    sqlite3* db = nullptr;
    std::string first, last;
    if (sqlite3_open_v2(theDeviceState.m_strDbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT min(Time), max(Time) FROM Records", -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0)) {
            first = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
            last = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    const auto parse = [](const std::string& t) {
        return QDateTime::fromString(QString::fromStdString(t), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    };
    return {parse(first), parse(last)};
}

OleDateTime Ole(const QDate& d, const QTime& t)
{
    return OleDateTime(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
}

void Focus(QWidget* dialog, const char* name)
{
    QFocusEvent in(QEvent::FocusIn);
    QApplication::sendEvent(dialog->findChild<QWidget*>(QLatin1String(name)), &in);
}

// Every dialog, over the records the main window downloaded and with the recorder attached.
void Dialogs(const QString& code, const std::string& programDir, sim::VT583Simulator& recorder)
{
    const auto [first, last] = StoredRange();
    if (!first.isValid() || !last.isValid()) Fail("no records stored");
    {
        Main dlg;
        dlg.m_ctlStartDate->setDate(last.date());
        dlg.m_ctlStartTime->setTime(QTime(0, 0));
        dlg.m_ctlEndDate->setDate(last.date());
        dlg.m_ctlEndTime->setTime(QTime(23, 59, 59));
        dlg.show();
        dlg.OnBnClickedSearch();
        Save(&dlg, QStringLiteral("history_%1").arg(code));
    }
    {
        Grapsh dlg;
        dlg.m_dtStartDate = Ole(first.date(), QTime(0, 0));
        dlg.m_dtStartTime = Ole(QDate(1899, 12, 30), first.time());
        dlg.m_dtEndDate = Ole(last.date(), QTime(0, 0));
        dlg.m_dtEndTime = Ole(QDate(1899, 12, 30), last.time());
        dlg.DoDataExchange(false);
        dlg.show();
        dlg.m_cbType->setCurrentIndex(1);
        dlg.OnBnClickedSearch();
        Save(&dlg, QStringLiteral("graph_%1").arg(code));
    }
    {
        DeleteHistory dlg;
        dlg.show();
        Save(&dlg, QStringLiteral("management_%1").arg(code));
    }
    // The settings dialog reads the recorder again when it opens: in segmented mode at full size
    // with the interval tip and the temperature hint, in cycle mode reduced with the humidity hint.
    const std::tuple<int, const char*, const char*> settings[] = {{2, "IDC_SETUP_TEMP_OFFSET", "segmented"},
                                                                  {1, "IDC_SETUP_HUMI_OFFSET", "cycle"}};
    for (const auto& [mode, hint, name] : settings) {
        recorder.SetMode(mode);
        CSetupParam dlg;
        dlg.show();
        Focus(&dlg, "IDC_SETUP_INTERVAL");
        Focus(&dlg, hint);
        Save(&dlg, QStringLiteral("settings_%1_%2").arg(code, QLatin1String(name)));
    }
    {
        CUpload dlg(programDir, nullptr);
        dlg.show();
        Save(&dlg, QStringLiteral("upload_%1").arg(code));
    }
    {
        CAboutDlg dlg(theDeviceState.m_strIniPath);
        dlg.show();
        Save(&dlg, QStringLiteral("about_%1").arg(code));
    }
    {
        selectLanguage dlg(theDeviceState.m_strIniPath);
        dlg.show();
        Save(&dlg, QStringLiteral("language_%1").arg(code));
    }
    {
        CloseDialo notice(nullptr, 60000);
        notice.show();
        Save(&notice, QStringLiteral("closing_%1").arg(code));
    }
}

void Language(int language)
{
    const QString code = QLatin1String(kLanguageCodes[language]);
    TempDir data;
    TempDir program;  // the program's own Main.ini, with an upload entry
    const std::string host = HOST_ENTRY_1;
    WriteFile(program.File("Main.ini"), "[Web]\nWeb=" + host + "\n[" + host +
                                            "]\nServer=upload.example.org\nType=PHP\nPort=8080\n"
                                            "UploadType=Default\nID=vt583\nPassword=secret\nAutoSend=1\n");
    setenv("QUORVANTIS_DATA_DIR", data.Path().c_str(), 1);
    CDeviceState& ds = theDeviceState;
    ds.InitDataFolder(BuildDir(), data.Path());
    WritePrivateProfileString("Language", "Language", kLanguageWords[language], ds.m_strIniPath);
    ds.m_bQuit = 0;
    ds.Reset();
    if (!LoadTestLanguage(language)) Fail("no string table for " + code.toStdString());
    theApp.LoadQtTranslation(language);

    sim::SimulatorTransport transport;
    ds.m_Link.SetTransport(&transport);
    ds.m_nNewDeviceWaitMs = 0;
    const auto recorder = MainWindow(code, transport);
    ds.m_Link.Open();
    Dialogs(code, program.Path(), *recorder);
    ds.m_Link.Close();
    ds.m_Link.SetTransport(nullptr);
}

}  // namespace

int main(int argc, char** argv)
{
    const auto app = MakeTestApplication(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    g_out = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(g_out)) Fail("cannot make " + g_out.toStdString());
    // Boxes would wait for an answer nobody gives: they are logged instead.
    ScopedMessageBoxRecorder boxes;
    for (int language = 0; language < static_cast<int>(kLanguageCodes.size()); ++language) Language(language);
    for (const auto& box : boxes->Entries()) std::fprintf(stderr, "a box was shown: %s\n", box.text.c_str());
    std::printf("%d pictures in %s\n", g_written, qPrintable(QDir(g_out).absolutePath()));
    return boxes->Count() == 0 ? 0 : 1;
}
