#include <gtest/gtest.h>

#include "database/CDB.h"
#include "database/RowFormat.h"
#include "platform/MessageBox.h"
#include "platform/OleDateTime.h"
#include "platform/Paths.h"
#include "platform/StringTable.h"
#include "resources/resource.h"
#include "support/FileSizeLimit.h"
#include "support/TempDir.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

class DatabaseTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_path = m_dir.File("Quorvantis.db");
        ASSERT_TRUE(CopyShippedDatabase(m_path));
        ASSERT_EQ(m_db.Open(m_path), 0);
    }

    // Row count of a table, read on a connection of its own.
    std::int64_t Rows(const std::string& table)
    {
        CDB db;
        EXPECT_EQ(db.Open(m_path), 0);
        if (table == "Records") {
            EXPECT_EQ(db.CountRecords("1=1"), 0);
            return db.m_pRecord.GetInt("Count").value_or(-1);
        }
        EXPECT_EQ(db.ListDevices(), 0);
        std::int64_t n = 0;
        for (; !db.m_pDevice.IsEOF(); db.m_pDevice.MoveNext()) ++n;
        return n;
    }

    int Insert(const std::string& id, const std::string& time, unsigned temp = 635, unsigned humi = 45)
    {
        return m_db.InsertRecord(id, PageText(88), time, TemperatureText(temp), HumidityText(humi));
    }

    TempDir m_dir;
    std::string m_path;
    CDB m_db;
    ScopedMessageBoxRecorder m_boxes;
};

void Sql(const std::string& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

std::vector<std::string> Times(CRecordset& rs)
{
    std::vector<std::string> times;
    while (!rs.IsEOF()) {
        times.push_back(rs.GetString("Time").value_or("?"));
        EXPECT_EQ(rs.MoveNext(), 0);
    }
    return times;
}

}  // namespace

TEST_F(DatabaseTest, OpenTwiceAndCursorRules)
{
    EXPECT_EQ(m_db.Open(m_path), 0);
    EXPECT_TRUE(m_db.IsOpen());

    // An empty Device table lists as an open cursor at BOF and EOF.
    EXPECT_EQ(m_db.ListDevices(), 0);
    EXPECT_TRUE(m_db.m_pDevice.IsOpen());
    EXPECT_TRUE(m_db.m_pDevice.IsBOF());
    EXPECT_TRUE(m_db.m_pDevice.IsEOF());
    EXPECT_FALSE(m_db.m_pDevice.GetString("DevID"));

    // A query on a cursor that is still open is refused; after closing it runs again.
    EXPECT_EQ(m_db.CountDevice("0012AB34"), -1);
    EXPECT_EQ(m_db.SaveDevice("0012AB34", "2024-02-01 09:05:03", 1, 88, 0), 0);
    EXPECT_EQ(m_db.m_pDevice.Close(), 0);
    EXPECT_EQ(m_db.CountDevice("0012AB34"), 0);
    EXPECT_EQ(m_db.m_pDevice.GetInt("count"), 0);  // column names are case-insensitive
    EXPECT_FALSE(m_db.m_pDevice.GetInt("NoSuchColumn"));

    // Re-opening releases the open cursor.
    EXPECT_EQ(m_db.Open(m_path), 0);
    EXPECT_FALSE(m_db.m_pDevice.IsOpen());
    EXPECT_EQ(m_db.ListDevices(), 0);
    EXPECT_EQ(m_boxes->Count(), 0u);
}

TEST_F(DatabaseTest, OpenOfMissingFileFailsOnceAndEverythingAfterFails)
{
    const std::string missing = m_dir.File("absent.db");
    EXPECT_EQ(m_db.Open(missing), -1);
    ASSERT_EQ(m_boxes->Count(), 1u);
    const auto box = m_boxes->Entries()[0];
    EXPECT_EQ(box.text, "unable to open database file");
    EXPECT_EQ(box.buttons, MsgButtons::Ok);
    EXPECT_FALSE(std::filesystem::exists(missing));  // never created

    EXPECT_FALSE(m_db.IsOpen());
    EXPECT_EQ(m_db.Execute("DELETE FROM Records"), -1);
    EXPECT_EQ(m_db.ListDevices(), -1);
    EXPECT_EQ(m_db.OpenDevice("0012AB34"), -1);
    EXPECT_EQ(m_db.CountDevice("0012AB34"), -1);
    EXPECT_EQ(m_db.CountRecords(WhereDevice("0012AB34")), -1);
    EXPECT_EQ(m_db.SelectRecords(WhereDevice("0012AB34")), -1);
    EXPECT_EQ(m_db.DeleteDevice("0012AB34"), -1);
    EXPECT_EQ(m_db.DeleteRecords("0012AB34"), -1);
    EXPECT_EQ(m_db.InsertRecord("0012AB34", "0058", "2024-02-01 09:05:03", " 23.5", "45"), -1);
    EXPECT_EQ(m_db.SaveDevice("0012AB34", "2024-02-01 09:05:03", 1, 88, 0), 0);
    EXPECT_EQ(m_db.BeginTransaction(), -1);
    EXPECT_EQ(m_db.Commit(), -1);
    EXPECT_EQ(m_db.Close(), 0);
    EXPECT_EQ(m_boxes->Count(), 1u);  // only Open speaks

    // The object starts afresh on the next open.
    EXPECT_EQ(m_db.Open(m_path), 0);
    EXPECT_EQ(m_db.ListDevices(), 0);

    EXPECT_EQ(m_db.Open(""), -1);
    EXPECT_EQ(m_boxes->Count(), 2u);
}

TEST_F(DatabaseTest, SaveDeviceInsertsThenUpdatesOneRowWithEmptyTitle)
{
    EXPECT_EQ(m_db.SaveDevice("0012AB34", "2024-02-01 09:05:03", 5, 88, 1), 1);
    EXPECT_EQ(m_db.SaveDevice("0012AB34", "2024-02-01 10:00:00", 64, 89, 2), 1);
    EXPECT_EQ(Rows("Device"), 1);

    // An update also empties a title stored by something else.
    EXPECT_EQ(m_db.Execute("UPDATE Device SET DevTitle='kitchen'"), 1);
    EXPECT_EQ(m_db.SaveDevice("0012AB34", "2024-02-01 10:05:00", 1, 90, 0), 1);
    EXPECT_EQ(m_db.SaveDevice("00000001", "2024-02-01 10:05:00", 1, 88, 0), 1);
    EXPECT_EQ(Rows("Device"), 2);

    ASSERT_EQ(m_db.OpenDevice("0012AB34"), 0);
    const CRecordset& rs = m_db.m_pDevice;
    ASSERT_FALSE(rs.IsEOF());
    EXPECT_EQ(rs.GetString("DevID"), "0012AB34");
    EXPECT_EQ(rs.GetString("DevTitle"), "");
    EXPECT_EQ(rs.GetString("DevLastTime"), "2024-02-01 10:05:00");
    EXPECT_EQ(rs.GetInt("DevLastPagnRecords"), 1);
    EXPECT_EQ(rs.GetInt("DevLastPag"), 90);
    EXPECT_EQ(rs.GetInt("DevMoudle"), 0);
    EXPECT_EQ(m_db.m_pDevice.MoveNext(), 0);
    EXPECT_TRUE(rs.IsEOF());
    EXPECT_FALSE(rs.IsBOF());
    m_db.m_pDevice.Close();

    ASSERT_EQ(m_db.CountDevice("0012AB34"), 0);
    EXPECT_EQ(m_db.m_pDevice.GetInt("Count"), 1);
    m_db.m_pDevice.Close();

    EXPECT_EQ(m_db.DeleteDevice("0012AB34"), 0);
    EXPECT_EQ(Rows("Device"), 1);
    EXPECT_EQ(m_boxes->Count(), 0u);
}

TEST_F(DatabaseTest, StatementsTheDatabaseRefuses)
{
    ASSERT_EQ(Insert("0012AB34", "2024-02-01 09:05:03"), 1);

    EXPECT_EQ(m_db.CountRecords("NoSuchColumn=1"), -1);
    EXPECT_EQ(m_db.CountRecords("id='0012AB34' and"), -1);
    EXPECT_EQ(m_db.SelectRecords("Time>"), -1);
    EXPECT_FALSE(m_db.m_pRecord.IsOpen());
    // A second statement behind the clause is refused, not run.
    EXPECT_EQ(m_db.CountRecords("1=1; DELETE FROM Records"), -1);
    EXPECT_EQ(m_db.Execute("DELETE FROM Device; DELETE FROM Records"), -1);
    EXPECT_EQ(m_db.CountRecords(""), -1);
    EXPECT_EQ(m_db.SelectRecords("  "), -1);
    EXPECT_EQ(m_db.Execute(""), -1);
    EXPECT_EQ(m_db.Execute("INSERT INTO NoSuchTable VALUES (1)"), -1);
    EXPECT_EQ(Rows("Records"), 1);

    // A statement that touches no row has still succeeded.
    EXPECT_EQ(m_db.Execute("DELETE FROM Records WHERE ID='FFFFFFFF'"), 1);
    EXPECT_EQ(m_db.Execute("SELECT * FROM Records"), 1);
    EXPECT_EQ(m_db.Rollback(), -1);  // no transaction
    EXPECT_EQ(m_boxes->Count(), 0u);
}

TEST_F(DatabaseTest, MalformedIdsAndDatesAreRefusedWithNothingWritten)
{
    const std::vector<std::string> bad = {"0012AB3",   "0012AB345", "0012AB3'", "' OR 1=1 --",
                                          "0012 AB34", "0012AB3G",  "-012AB34", "+12AB345"};
    for (const std::string& id : bad) {
        SCOPED_TRACE(id);
        EXPECT_FALSE(IsDeviceIdText(id));
        EXPECT_EQ(WhereDevice(id), "");
        EXPECT_EQ(WhereDeviceRange("2024-02-01 00:00:00", "2024-02-02 00:00:00", id), "");
        EXPECT_EQ(m_db.SaveDevice(id, "2024-02-01 09:05:03", 1, 88, 0), 0);
        EXPECT_EQ(m_db.InsertRecord(id, "0058", "2024-02-01 09:05:03", " 23.5", "45"), -1);
        EXPECT_EQ(m_db.OpenDevice(id), -1);
        EXPECT_EQ(m_db.CountDevice(id), -1);
        EXPECT_EQ(m_db.DeleteDevice(id), -1);
        EXPECT_EQ(m_db.DeleteRecords(id), -1);
    }
    EXPECT_EQ(m_db.SaveDevice("", "2024-02-01 09:05:03", 1, 88, 0), 0);
    EXPECT_EQ(m_db.InsertRecord("", "0058", "2024-02-01 09:05:03", " 23.5", "45"), -1);

    // Values that are no numbers are not stored either.
    EXPECT_EQ(m_db.InsertRecord("0012AB34", "0058", "2024-02-01 09:05:03", "23.5'", "45"), -1);
    EXPECT_EQ(m_db.InsertRecord("0012AB34", "0058", "2024-02-01 09:05:03", " 23.5", ""), -1);
    EXPECT_EQ(m_db.InsertRecord("0012AB34", "0058", "2024-02-01 09:05:03", "nan", "45"), -1);

    EXPECT_EQ(Rows("Records"), 0);
    EXPECT_EQ(Rows("Device"), 0);

    // The empty ID and the forms the program builds are accepted.
    EXPECT_EQ(WhereDevice(""), "id=''");
    EXPECT_EQ(WhereDevice("0012AB34"), "id='0012AB34'");
    EXPECT_EQ(WhereDeviceRange("2021-03-01 09:00:00", "2021-03-01 10:00:00", "0012AB34"),
              "Time>'2021-03-01 09:00:00' and Time<='2021-03-01 10:00:00' and id='0012AB34'");
    EXPECT_EQ(WhereDeviceRange("2021-03-01 09:00", "2021-03-01 10:00:00", "0012AB34"), "");
    EXPECT_EQ(WhereDeviceRange("2021-03-01 09:00:00", "2021-03-01 10:00:0'", "0012AB34"), "");
    EXPECT_EQ(WhereDeviceRange("2021-03-01T09:00:00", "2021-03-01 10:00:00", "0012AB34"), "");
    EXPECT_EQ(m_db.CountRecords(WhereDevice("")), 0);
    EXPECT_EQ(m_db.m_pRecord.GetInt("Count"), 0);
}

TEST_F(DatabaseTest, StoredTextFormsReadBack)
{
    const unsigned temps[] = {0, 399, 400, 635, 1000, 1001, 65535};
    const double expected[] = {-40.0, -0.1, 0.0, 23.5, 60.0, 65535.0, 65535.0};
    const std::string time = DateTimeText(OleDateTime(2024, 2, 1, 9, 5, 3));
    ASSERT_EQ(time, "2024-02-01 09:05:03");
    for (unsigned v : temps) ASSERT_EQ(Insert("0012AB34", time, v, 45), 1);
    for (unsigned h : {99u, 100u, 255u}) ASSERT_EQ(Insert("00000001", time, 635, h), 1);
    ASSERT_EQ(m_db.InsertRecord("00000002", PageText(411), time, TemperatureText(400), "0"), 1);

    ASSERT_EQ(m_db.SelectRecords(WhereDevice("0012AB34")), 0);
    // By name, and by the index looked up once (any letter case; -1 for no such column).
    const CRecordset& record = m_db.m_pRecord;
    const int timeColumn = record.ColumnIndex("TIME"), tempColumn = record.ColumnIndex("temp");
    EXPECT_EQ(record.ColumnIndex("Humidity"), -1);
    for (double t : expected) {
        ASSERT_FALSE(m_db.m_pRecord.IsEOF());
        EXPECT_DOUBLE_EQ(m_db.m_pRecord.GetDouble("Temp").value_or(-999), t);
        EXPECT_EQ(record.GetDouble(tempColumn), record.GetDouble("Temp"));
        EXPECT_EQ(m_db.m_pRecord.GetString("time"), "2024-02-01 09:05:03");
        EXPECT_EQ(record.GetText(timeColumn), "2024-02-01 09:05:03");
        EXPECT_EQ(record.GetString(timeColumn), "2024-02-01 09:05:03");
        EXPECT_EQ(m_db.m_pRecord.GetString("PagAddr"), "0058");
        EXPECT_EQ(m_db.m_pRecord.GetInt("Humi"), 45);
        // Only a value stored as an integer, never a real or a text converted.
        EXPECT_EQ(record.GetStoredInt(record.ColumnIndex("Humi")), 45);
        EXPECT_EQ(record.GetStoredInt(tempColumn), std::nullopt);
        EXPECT_EQ(record.GetStoredInt(record.ColumnIndex("PagAddr")), std::nullopt);
        EXPECT_EQ(record.GetText(-1), std::nullopt);
        EXPECT_EQ(record.GetInt(5), std::nullopt);
        m_db.m_pRecord.MoveNext();
    }
    EXPECT_TRUE(m_db.m_pRecord.IsEOF());
    EXPECT_EQ(record.GetText(timeColumn), std::nullopt);
    EXPECT_EQ(m_db.m_pRecord.MoveNext(), -1);
    m_db.m_pRecord.Close();

    ASSERT_EQ(m_db.SelectRecords(WhereDevice("00000001")), 0);
    for (std::int64_t h : {99, 255, 255}) {
        EXPECT_EQ(m_db.m_pRecord.GetInt("Humi"), h);
        m_db.m_pRecord.MoveNext();
    }
    m_db.m_pRecord.Close();

    ASSERT_EQ(m_db.SelectRecords(WhereDevice("00000002")), 0);
    EXPECT_EQ(m_db.m_pRecord.GetString("PagAddr"), "019B");
    EXPECT_EQ(m_db.m_pRecord.GetString("Temp"), "0.0");  // not minus zero
    m_db.m_pRecord.Close();

    EXPECT_EQ(m_db.DeleteRecords("00000001"), 1);
    EXPECT_EQ(Rows("Records"), 8);
}

TEST_F(DatabaseTest, SelectRecordsOrdersByTimeWithinTheRange)
{
    const char* times[] = {"2024-02-01 10:00:00", "2024-02-01 09:00:00", "2024-02-01 11:00:00", "2024-02-01 09:30:00",
                           "2024-02-01 08:59:59"};
    for (const char* t : times) ASSERT_EQ(Insert("0012AB34", t), 1);
    ASSERT_EQ(Insert("0012AB35", "2024-02-01 09:45:00"), 1);

    // Start exclusive, end inclusive, other devices excluded.
    const std::string where = WhereDeviceRange("2024-02-01 09:00:00", "2024-02-01 10:00:00", "0012AB34");
    ASSERT_EQ(m_db.CountRecords(where), 0);
    EXPECT_EQ(m_db.m_pRecord.GetInt("Count"), 2);
    m_db.m_pRecord.Close();
    ASSERT_EQ(m_db.SelectRecords(where), 0);
    EXPECT_EQ(Times(m_db.m_pRecord), (std::vector<std::string>{"2024-02-01 09:30:00", "2024-02-01 10:00:00"}));
    m_db.m_pRecord.Close();

    ASSERT_EQ(m_db.SelectRecords(WhereDevice("0012AB34")), 0);
    EXPECT_EQ(Times(m_db.m_pRecord),
              (std::vector<std::string>{"2024-02-01 08:59:59", "2024-02-01 09:00:00", "2024-02-01 09:30:00",
                                        "2024-02-01 10:00:00", "2024-02-01 11:00:00"}));
    m_db.m_pRecord.Close();

    // A range that holds nothing.
    ASSERT_EQ(m_db.SelectRecords(WhereDeviceRange("2024-02-01 11:00:00", "2024-02-02 00:00:00", "0012AB34")), 0);
    EXPECT_TRUE(m_db.m_pRecord.IsBOF());
    EXPECT_TRUE(m_db.m_pRecord.IsEOF());
}

TEST_F(DatabaseTest, TransactionsAndAReaderThatDoesNotBlockTheWriter)
{
    ASSERT_EQ(m_db.BeginTransaction(), 1);
    ASSERT_EQ(Insert("0012AB34", "2024-02-01 09:00:00"), 1);
    ASSERT_EQ(m_db.Rollback(), 1);
    EXPECT_EQ(Rows("Records"), 0);

    ASSERT_EQ(m_db.BeginTransaction(), 1);
    ASSERT_EQ(Insert("0012AB34", "2024-02-01 09:00:00"), 1);
    ASSERT_EQ(Insert("0012AB34", "2024-02-01 09:01:00"), 1);
    ASSERT_EQ(m_db.SaveDevice("0012AB34", "2024-02-01 09:00:00", 2, 88, 0), 1);
    ASSERT_EQ(m_db.Commit(), 1);
    EXPECT_EQ(Rows("Records"), 2);

    // A dialog's cursor left standing on its first row on another connection.
    CDB reader;
    ASSERT_EQ(reader.Open(m_path), 0);
    ASSERT_EQ(reader.SelectRecords(WhereDevice("0012AB34")), 0);
    ASSERT_FALSE(reader.m_pRecord.IsEOF());

    ASSERT_EQ(m_db.BeginTransaction(), 1);
    EXPECT_EQ(Insert("0012AB34", "2024-02-01 09:02:00"), 1);
    EXPECT_EQ(m_db.Commit(), 1);
    EXPECT_EQ(m_db.Execute("DELETE FROM Records WHERE ID='0012AB34' AND Time='2024-02-01 09:00:00'"), 1);
    EXPECT_EQ(Rows("Records"), 2);
    EXPECT_EQ(m_boxes->Count(), 0u);
}

TEST_F(DatabaseTest, UnusableFilesAreReportedAtOpenOnceUntilAnOpenSucceeds)
{
    ASSERT_TRUE(LoadEnglishStrings());
    const std::string noTables = LoadString(IDS_DB_NO_TABLES);
    struct Case {
        const char* name;
        std::string path;
        std::string text;  // the box's text
    };
    const std::string zero = m_dir.File("zero.db");
    WriteFile(zero, "");
    const std::string tableless = m_dir.File("tableless.db");
    Sql(tableless, "CREATE TABLE Other(a)");
    const std::string noHumi = m_dir.File("nohumi.db");
    ASSERT_TRUE(CopyShippedDatabase(noHumi));
    Sql(noHumi, "ALTER TABLE Records DROP COLUMN Humi");
    const std::string junk = m_dir.File("junk.db");
    std::string bytes(8192, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7919u + 13u) >> 3);
    WriteFile(junk, bytes);
    const std::string folder = m_dir.File("folder.db");
    std::filesystem::create_directory(folder);
    const std::string gone = m_dir.File("removed/Quorvantis.db");
    const Case cases[] = {
        {"zero-byte file", zero, noTables + "\n" + zero},
        {"no tables", tableless, noTables + "\n" + tableless},
        {"a column missing", noHumi, noTables + "\n" + noHumi},
        {"random bytes", junk, "file is not a database"},
        {"a folder in its place", folder, "unable to open database file"},
        {"data folder removed", gone, "unable to open database file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_boxes->Clear();
        // The writer, the count and the loader all fail on every pass: one box.
        CDB other;
        for (int pass = 0; pass < 3; ++pass) {
            EXPECT_EQ(m_db.Open(c.path), -1);
            EXPECT_EQ(other.Open(c.path), -1);
        }
        EXPECT_FALSE(m_db.IsOpen());
        ASSERT_EQ(m_boxes->Count(), 1u);
        EXPECT_EQ(m_boxes->Entries()[0].text, c.text);
        EXPECT_EQ(m_db.InsertRecord("0012AB34", "0058", "2024-02-01 09:05:03", " 23.5", "45"), -1);

        // Another file that works says nothing about this one.
        ASSERT_EQ(other.Open(m_path), 0);
        EXPECT_EQ(m_db.Open(c.path), -1);
        EXPECT_EQ(m_boxes->Count(), 1u);
        ASSERT_EQ(m_db.Open(m_path), 0);
    }
    EXPECT_EQ(std::filesystem::file_size(zero), 0u);  // nothing was written into it
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("removed")));

    // A failure is known by its kind and its file, not its wording: the same damaged file read
    // as random bytes, then as an empty file, is one failure. Once the file has worked again, the
    // next failure is shown.
    m_boxes->Clear();
    const std::string path = m_dir.File("damaged.db");
    WriteFile(path, bytes);
    EXPECT_EQ(m_db.Open(path), -1);
    WriteFile(path, "");
    EXPECT_EQ(m_db.Open(path), -1);
    ASSERT_EQ(m_boxes->Count(), 1u);
    EXPECT_EQ(m_boxes->Entries()[0].text, "file is not a database");
    std::filesystem::remove(path);
    ASSERT_TRUE(CopyShippedDatabase(path));
    ASSERT_EQ(m_db.Open(path), 0);
    WriteFile(path, bytes);
    EXPECT_EQ(m_db.Open(path), -1);
    EXPECT_EQ(m_boxes->Count(), 2u);
}

TEST_F(DatabaseTest, FileOrFolderThatMayNotBeWrittenIsReportedAtOpen)
{
    ASSERT_TRUE(LoadEnglishStrings());
    // Permissions do not stop root: the opens run in a child process as an unprivileged user.
    ASSERT_EQ(chmod(m_dir.Path().c_str(), 0755), 0);
    const std::string writableFolder = m_dir.File("rw");
    const std::string readOnlyFolder = m_dir.File("ro");
    std::filesystem::create_directory(writableFolder);
    std::filesystem::create_directory(readOnlyFolder);
    const std::string readOnlyFile = writableFolder + "/Quorvantis.db";
    const std::string fileInReadOnlyFolder = readOnlyFolder + "/Quorvantis.db";
    ASSERT_TRUE(CopyShippedDatabase(readOnlyFile));
    ASSERT_TRUE(CopyShippedDatabase(fileInReadOnlyFolder));
    ASSERT_EQ(chmod(readOnlyFile.c_str(), 0444), 0);
    ASSERT_EQ(chmod(fileInReadOnlyFolder.c_str(), 0666), 0);
    ASSERT_EQ(chmod(writableFolder.c_str(), 0777), 0);
    ASSERT_EQ(chmod(readOnlyFolder.c_str(), 0555), 0);

    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(out[0]);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        std::ostringstream report;
        for (const std::string& path : {readOnlyFile, fileInReadOnlyFolder}) {
            RecordingMessageBoxService boxes;
            IMessageBoxService* previous = SetMessageBoxService(&boxes);
            CDB db;
            const int first = db.Open(path);
            const int second = db.Open(path);
            SetMessageBoxService(previous);
            const auto entries = boxes.Entries();
            report << first << ' ' << second << ' ' << entries.size() << '\t'
                   << (entries.empty() ? std::string() : entries[0].text) << '\x1f';
        }
        const std::string text = report.str();
        const bool written = write(out[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
        _exit(written ? 0 : 3);
    }
    close(out[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot drop root's privileges here";
    ASSERT_EQ(WEXITSTATUS(status), 0);

    const std::string readOnly = LoadString(IDS_DB_READ_ONLY);
    const std::string expected = "-1 -1 1\t" + readOnly + "\n" + readOnlyFile + "\x1f" + "-1 -1 1\t" + readOnly + "\n" +
                                 fileInReadOnlyFolder + "\x1f";
    EXPECT_EQ(text, expected);
    ASSERT_EQ(chmod(readOnlyFolder.c_str(), 0755), 0);  // so that the folder can be removed
}

TEST_F(DatabaseTest, FileReplacedWhileOpenIsOpenedAfreshWithoutTheOldLog)
{
    // Connections left open on the file (start-up leaves six), and rows that wait in its log.
    CDB idle;
    ASSERT_EQ(idle.Open(m_path), 0);
    ASSERT_EQ(idle.ListDevices(), 0);
    ASSERT_EQ(m_db.BeginTransaction(), 1);
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(Insert("0012AB34", "2024-02-01 09:" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ":00"), 1);
    ASSERT_EQ(m_db.Commit(), 1);
    ASSERT_TRUE(std::filesystem::exists(m_path + "-wal"));

    // The user restores an older copy: one row of another device, put in the file's place.
    const std::string copy = m_dir.File("backup.db");
    ASSERT_TRUE(CopyShippedDatabase(copy));
    Sql(copy, "INSERT INTO Records(ID,PagAddr,Time,Temp,Humi) VALUES('0000BEEF','0058','2023-01-01 00:00:00',20.5,40)");
    ASSERT_EQ(rename(copy.c_str(), m_path.c_str()), 0);
    EXPECT_TRUE(m_db.FileReplaced());

    // The writer's next transaction, on the connection it had, goes to the file now there.
    ASSERT_EQ(m_db.BeginTransaction(), 1);
    ASSERT_EQ(Insert("0012AB34", "2024-03-01 10:00:00"), 1);
    ASSERT_EQ(m_db.Commit(), 1);
    EXPECT_FALSE(m_db.FileReplaced());

    // The restored row and the new one, none of the old file's: its log was not applied.
    EXPECT_EQ(Rows("Records"), 2);
    ASSERT_EQ(idle.Open(m_path), 0);
    ASSERT_EQ(idle.CountRecords(WhereDevice("0000BEEF")), 0);
    EXPECT_EQ(idle.m_pRecord.GetInt("Count"), 1);
    idle.Close();
    m_db.Close();
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(m_path.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* check = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    sqlite3_close(db);
    EXPECT_EQ(m_boxes->Count(), 0u);
}

TEST_F(DatabaseTest, RestoredLogOfTheNewFileIsKept)
{
    CDB idle;
    ASSERT_EQ(idle.Open(m_path), 0);
    ASSERT_EQ(idle.ListDevices(), 0);
    // A copy restored together with its own log, which holds its only row.
    const std::string other = m_dir.File("other");
    ASSERT_EQ(mkdir(other.c_str(), 0700), 0);
    const std::string copy = other + "/Quorvantis.db";
    ASSERT_TRUE(CopyShippedDatabase(copy));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(copy.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "PRAGMA wal_autocheckpoint=0; INSERT INTO Records(ID,PagAddr,Time,Temp,Humi) "
                           "VALUES('0000BEEF','0058','2023-01-01 00:00:00',20.5,40)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    std::filesystem::copy_file(copy, m_dir.File("restored.db"));
    std::filesystem::copy_file(copy + "-wal", m_dir.File("restored.db-wal"));
    sqlite3_close(db);
    idle.Close();  // the old log is checkpointed and goes
    ASSERT_EQ(rename(m_dir.File("restored.db-wal").c_str(), (m_path + "-wal").c_str()), 0);
    ASSERT_EQ(rename(m_dir.File("restored.db").c_str(), m_path.c_str()), 0);
    EXPECT_EQ(Rows("Records"), 1);
}

TEST_F(DatabaseTest, FirstCopyWithoutRoomSaysSoAndOpensOnceThereIsRoom)
{
    ASSERT_TRUE(LoadEnglishStrings());
    const std::string data = m_dir.File("data");
    ASSERT_EQ(mkdir(data.c_str(), 0700), 0);
    const std::string target = data + "/Quorvantis.db";
    {
        // No room for a file as large as the database.
        ScopedFileSizeLimit limit(4096);
        CopyForFirstStart(m_path, target);
        // The open says why, once, however often it is tried.
        EXPECT_EQ(m_db.Open(target), -1);
        EXPECT_EQ(m_db.Open(target), -1);
    }
    ASSERT_EQ(m_boxes->Count(), 1u);
    EXPECT_EQ(m_boxes->Entries()[0].text, LoadString(IDS_DB_NO_ROOM) + "\n" + target);
    EXPECT_FALSE(std::filesystem::exists(target));
    // Room again: the open makes the copy and works, without a new start.
    ASSERT_EQ(m_db.Open(target), 0);
    EXPECT_EQ(Rows("Records"), 0);
    EXPECT_TRUE(std::filesystem::exists(target));
    EXPECT_EQ(m_boxes->Count(), 1u);
}
