// The program under a German locale, whose numbers use the decimal comma: every number it stores,
// shows and exports keeps the point, and dates keep the user's locale. The locale is compiled
// from the system's sources into a temporary folder (localedef, LOCPATH), so none needs to be
// installed. Each test runs in its own process (CTest): theApp and theDeviceState are fresh.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>

#include <sqlite3.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <langinfo.h>
#include <locale.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/CMainFrame.h"
#include "app/CQuorvantisApp.h"
#include "app/CQuorvantisView.h"
#include "device/CDeviceState.h"
#include "history/Main.h"
#include "platform/InstanceLock.h"
#include "platform/MessageBox.h"
#include "settings/CSetupParam.h"
#include "simulator/VT583Simulator.h"
#include "support/TempDir.h"
#include "support/TestApplication.h"
#include "support/UserLocale.h"
#include "ui/ViewTestSupport.h"

namespace {

constexpr const char* kGerman = "de_DE.UTF-8";

// Compiles the German locale, makes it the user's (LANG, no LC_* overrides) and only then builds
// the application object, as a German user's start of the program does.
class GermanUserEnvironment : public ::testing::Environment {
public:
    GermanUserEnvironment(int& argc, char** argv) : m_argc(argc), m_argv(argv) {}

    void SetUp() override
    {
        m_dir = std::make_unique<TempDir>();
        std::string error;
        ASSERT_EQ(MakeUserLocale("de_DE", m_dir->Path(), error), kGerman) << error;
        locale_t german = newlocale(LC_ALL_MASK, kGerman, nullptr);
        const std::string point = nl_langinfo_l(RADIXCHAR, german);
        freelocale(german);
        ASSERT_EQ(point, ",");

        m_app = MakeTestApplication(m_argc, m_argv);
    }

    void TearDown() override
    {
        m_app.reset();
        m_dir.reset();
    }

private:
    int& m_argc;
    char** m_argv;
    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<QuorvantisApplication> m_app;
};

// Readings of the simulated records in turn: 23.5 °C 45 %, -10.5 °C 1 %, no reading, 59.9 °C 98 %.
sim::SimReading Reading(std::uint64_t sequence)
{
    static const sim::SimReading readings[] = {{65, 735}, {21, 395}, {0, 1300}, {118, 1099}};
    return readings[sequence % 4];
}

// The program started with a simulated recorder plugged in, in German, with the comma also in
// force for LC_NUMERIC: as if nothing had reset it, no layer may depend on it.
class CommaLocaleProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(std::setlocale(LC_NUMERIC, kGerman), nullptr);
        ASSERT_STREQ(std::localeconv()->decimal_point, ",");

        setenv("QUORVANTIS_DATA_DIR", m_data.Path().c_str(), 1);
        setenv("XDG_RUNTIME_DIR", m_runtime.Path().c_str(), 1);
        WriteFile(m_data.File("Main.ini"), "[Language]\nLanguage=Deutsch\n");

        auto* transport = new sim::SimulatorTransport;  // outlives theDeviceState's link
        theDeviceState.m_Link.SetTransport(transport);
        theDeviceState.m_nNewDeviceWaitMs = 0;
        theDeviceState.m_bQuit = 0;  // a test before in this process closed the program
        theDeviceState.Reset();
        m_device = transport->Attach("/dev/hidraw4");
        m_device->SetLive(65, 735);
        m_device->SetMaxMin(1099, 118, 395, 21);
        m_device->SetOffsets(95, 15);
        m_device->SetReadingSource(Reading);
        m_device->FillRing(0, 150);

        ASSERT_TRUE(theApp.InitInstance(*qApp));
        ASSERT_TRUE(WaitUntil([&] { return StoredRows().size() == m_device->Records().size(); }))
            << StoredRows().size() << " of " << m_device->Records().size() << " records stored";
    }

    void TearDown() override
    {
        theApp.ExitInstance();
        // Both locks go before their folders do.
        theApp.m_hMutex.reset();
        theApp.m_hDataLock.reset();
        std::setlocale(LC_NUMERIC, "C");
    }

    struct Row {
        std::string time;
        double temp = 0;
        int humi = 0;
    };
    std::vector<Row> StoredRows() const
    {
        std::vector<Row> rows;
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(m_data.File("Quorvantis.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_busy_timeout(db, 2000);
            sqlite3_stmt* stmt = nullptr;
            sqlite3_prepare_v2(db, "SELECT Time, Temp, Humi FROM Records ORDER BY rowid", -1, &stmt, nullptr);
            while (stmt && sqlite3_step(stmt) == SQLITE_ROW)
                rows.push_back({reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)),
                                sqlite3_column_double(stmt, 1), sqlite3_column_int(stmt, 2)});
            sqlite3_finalize(stmt);
        }
        sqlite3_close(db);
        return rows;
    }

    TempDir m_data;
    TempDir m_runtime;
    ScopedMessageBoxRecorder m_boxes;
    std::shared_ptr<sim::VT583Simulator> m_device;
};

std::string Label(const QWidget& dialog, const char* name)
{
    const auto* label = dialog.findChild<QLabel*>(QLatin1String(name));
    return label ? label->text().toStdString() : std::string("(no ") + name + ")";
}

QByteArray Utf16Le(const QString& text)
{
    QByteArray out;
    for (QChar ch : text) {
        out.append(static_cast<char>(ch.unicode() & 0xFF));
        out.append(static_cast<char>(ch.unicode() >> 8));
    }
    return out;
}

}  // namespace

TEST(CommaLocale, ApplicationKeepsThePointForNumbersOnly)
{
    EXPECT_STREQ(std::localeconv()->decimal_point, ".");
    char text[16];
    std::snprintf(text, sizeof text, "%0.1f", 23.5);
    EXPECT_STREQ(text, "23.5");
    // Dates and texts keep the user's locale.
    EXPECT_STREQ(std::setlocale(LC_TIME, nullptr), kGerman);
    EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), kGerman);
    EXPECT_EQ(QLocale().name(), QStringLiteral("de_DE"));
}

TEST(CommaLocale, LockFileThatCannotBeUsedIsReportedInTheLocalesLanguage)
{
    // No language is stored yet: a German user reads the message in German.
    TempDir data, runtime;
    setenv("QUORVANTIS_DATA_DIR", data.Path().c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    const std::string tickets = runtime.File("tickets");
    ASSERT_EQ(symlink("/dev/null", tickets.c_str()), 0);
    ScopedMessageBoxRecorder boxes;
    EXPECT_FALSE(theApp.InitInstance(*qApp));
    EXPECT_EQ(theApp.m_nExitCode, 1);
    ASSERT_EQ(boxes->Count(), 1u);
    EXPECT_EQ(boxes->Entries()[0].text.rfind("Das Programm kann nicht starten", 0), 0u) << boxes->Entries()[0].text;
    EXPECT_NE(boxes->Entries()[0].text.find(tickets), std::string::npos);
    theApp.m_hMutex.reset();
    theApp.m_hDataLock.reset();
}

TEST_F(CommaLocaleProgram, RecordsAreStoredAndShownWithThePoint)
{
    // Every record with its temperature and humidity; none left waiting.
    const std::vector<sim::SimRecord> records = m_device->Records();
    const std::vector<Row> rows = StoredRows();
    ASSERT_EQ(rows.size(), records.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const sim::SimRecord& r = records[i];
        ASSERT_DOUBLE_EQ(rows[i].temp, r.temp > 1000 ? 65535.0 : (r.temp - 400) / 10.0) << "row " << i;
        ASSERT_EQ(rows[i].humi, r.humi > 99 ? 255 : r.humi) << "row " << i;
    }
    EXPECT_EQ(rows[0].temp, 23.5);
    EXPECT_EQ(rows[1].temp, -10.5);

    // The live panel.
    CQuorvantisView* view = theApp.m_pMainWnd->GetActiveView();
    ASSERT_TRUE(WaitUntil([&] { return view->GetDisplayStrings().temp != kNoValue; }));
    const DisplayStrings shown = view->GetDisplayStrings();
    EXPECT_EQ(shown.temp.toStdString(), "23.5°C");
    EXPECT_EQ(shown.maxTemp.toStdString(), "59.9°C");
    EXPECT_EQ(shown.minTemp.toStdString(), "-10.5°C");

    // The history list and its export.
    Main dlg;
    dlg.m_ctlStartDate->setDate(QDate(2025, 12, 31));
    dlg.m_ctlEndDate->setDate(QDate(2026, 12, 31));
    dlg.OnBnClickedSearch();
    QAbstractItemModel* list = dlg.m_list->model();
    ASSERT_EQ(list->rowCount(), static_cast<int>(records.size()));
    const char* temps[] = {"23.5", "-10.5", "--.-", "59.9"};
    const char* humis[] = {"45", "1", "--.-", "98"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(list->data(list->index(i, 2)).toString().toStdString(), temps[i]) << "row " << i;
        EXPECT_EQ(list->data(list->index(i, 3)).toString().toStdString(), humis[i]) << "row " << i;
    }

    const QString path = QString::fromStdString(m_data.File("export.csv"));
    dlg.m_fnGetSaveFileName = [&] { return path; };
    dlg.OnBnClickedExportCsv();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.contains(Utf16Le(QStringLiteral("\t23.5\t45\r\n"))));
    EXPECT_TRUE(bytes.contains(Utf16Le(QStringLiteral("\t-10.5\t1\r\n"))));
    EXPECT_FALSE(bytes.contains(Utf16Le(QStringLiteral("23,5"))));
}

TEST_F(CommaLocaleProgram, SettingsDialogOffsetsUseThePoint)
{
    CSetupParam& dlg = theApp.m_pMainWnd->m_dlgSetup;
    dlg.show();
    auto* tempOffset = dlg.findChild<QLineEdit*>(QStringLiteral("IDC_SETUP_TEMP_OFFSET"));
    auto* unit = dlg.findChild<QComboBox*>(QStringLiteral("IDC_SETUP_UNIT"));
    ASSERT_NE(tempOffset, nullptr);
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(tempOffset->text().toStdString(), "-0.5");

    QFocusEvent focusIn(QEvent::FocusIn);
    QApplication::sendEvent(tempOffset, &focusIn);
    // The reading before the offset, and the allowed range.
    EXPECT_EQ(Label(dlg, "IDC_SETUP_TEMP_HINT1"), "Originalwert: 24.0°C");
    EXPECT_EQ(Label(dlg, "IDC_SETUP_TEMP_HINT2"), "Korrekturbereich: -10.0°C bis 10.0°C");

    unit->setCurrentIndex(0);  // °F: the stored offset in the new unit
    dlg.OnCbnSelchangeUnit();
    EXPECT_EQ(tempOffset->text().toStdString(), "-0.9");

    // A typed offset is read with the point: 1.5 °C is 115.
    unit->setCurrentIndex(1);
    tempOffset->setText(QStringLiteral("1.5"));
    dlg.OnBnClickedSave();
    EXPECT_EQ(m_boxes->Count(), 0u);
    EXPECT_EQ(dlg.m_nNewTempOffset, 115);
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new GermanUserEnvironment(argc, argv));
    return RUN_ALL_TESTS();
}
