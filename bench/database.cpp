// Record database throughput: a full device ring stored through CDB (record plus resume point, one
// transaction) and a 100,000-row history search read through the cursor, each against the same work
// done with a raw sqlite3 statement (prepare, bind, step) in the same run.
#include "database/CDB.h"
#include "database/RowFormat.h"
#include "platform/Paths.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kRingRecords = 324 * 64;
constexpr int kSearchRows = 100000;

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::string TimeText(int i)
{
    char text[32];
    std::snprintf(text, sizeof text, "2024-%02d-%02d %02d:%02d:00", 1 + i / 44640 % 12, 1 + i / 1440 % 31, i / 60 % 24,
                  i % 60);
    return text;
}

std::string FreshCopy(const fs::path& dir, const char* name)
{
    const fs::path target = dir / name;
    fs::copy_file(fs::path(ExecutableDir()) / "Quorvantis.db", target, fs::copy_options::overwrite_existing);
    return target.string();
}

double StoreThroughCdb(const std::string& path, int count)
{
    CDB db;
    if (db.Open(path) != 0) std::exit(1);
    const auto start = std::chrono::steady_clock::now();
    db.BeginTransaction();
    for (int i = 0; i < count; ++i) {
        const std::string time = TimeText(i);
        db.InsertRecord("0012AB34", PageText(88 + i / 64), time, TemperatureText(400 + i % 600), HumidityText(i % 100));
        db.SaveDevice("0012AB34", time, i % 64 + 1, 88 + i / 64, 0);
    }
    db.Commit();
    return Seconds(start);
}

double StoreBare(const std::string& path, int count)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_stmt* update = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO Records VALUES (?,?,?,?,?)", -1, &insert, nullptr);
    sqlite3_prepare_v2(db, "UPDATE Device SET DevLastTime=?,DevLastPagnRecords=?,DevLastPag=? WHERE DevID=?", -1,
                       &update, nullptr);
    const auto start = std::chrono::steady_clock::now();
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    for (int i = 0; i < count; ++i) {
        const std::string time = TimeText(i);
        const std::string page = PageText(88 + i / 64);
        sqlite3_bind_text(insert, 1, "0012AB34", -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 2, page.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, time.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_double(insert, 4, (i % 600) / 10.0);
        sqlite3_bind_int(insert, 5, i % 100);
        sqlite3_step(insert);
        sqlite3_reset(insert);
        sqlite3_bind_text(update, 1, time.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(update, 2, i % 64 + 1);
        sqlite3_bind_int(update, 3, 88 + i / 64);
        sqlite3_bind_text(update, 4, "0012AB34", -1, SQLITE_STATIC);
        sqlite3_step(update);
        sqlite3_reset(update);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    const double seconds = Seconds(start);
    sqlite3_finalize(insert);
    sqlite3_finalize(update);
    sqlite3_close(db);
    return seconds;
}

// As the dialogs read: the columns looked up once per query, the values by index.
double SearchThroughCdb(const std::string& path, long& rows)
{
    CDB db;
    if (db.Open(path) != 0) std::exit(1);
    const auto start = std::chrono::steady_clock::now();
    db.SelectRecords(WhereDeviceRange("2000-01-01 00:00:00", "2100-01-01 00:00:00", "0012AB34"));
    const CRecordset& record = db.m_pRecord;
    const int time = record.ColumnIndex("Time"), temp = record.ColumnIndex("Temp"), humi = record.ColumnIndex("Humi");
    double sum = 0;
    for (rows = 0; !db.m_pRecord.IsEOF(); ++rows, db.m_pRecord.MoveNext()) {
        sum += record.GetText(time).value_or("").size();
        sum += record.GetDouble(temp).value_or(0) + record.GetDouble(humi).value_or(0);
    }
    const double seconds = Seconds(start);
    if (sum < 0) std::puts("");
    return seconds;
}

double SearchBare(const std::string& path)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    const auto start = std::chrono::steady_clock::now();
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT * FROM Records WHERE Time>'2000-01-01 00:00:00' and Time<='2100-01-01 00:00:00' "
                       "and id='0012AB34' ORDER BY Time",
                       -1, &stmt, nullptr);
    double sum = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW)
        sum += sqlite3_column_bytes(stmt, 2) + sqlite3_column_double(stmt, 3) + sqlite3_column_double(stmt, 4);
    sqlite3_finalize(stmt);
    const double seconds = Seconds(start);
    sqlite3_close(db);
    if (sum < 0) std::puts("");
    return seconds;
}

}  // namespace

int main()
{
    const fs::path dir = fs::temp_directory_path() / ("quorvantis-bench-db-" + std::to_string(getpid()));
    fs::create_directories(dir);

    const std::string bare = FreshCopy(dir, "bare.db");
    {
        CDB db;  // the bare run updates the Device row the CDB run would have inserted
        if (db.Open(bare) != 0 || db.SaveDevice("0012AB34", TimeText(0), 1, 88, 0) != 1) return 1;
    }
    const double storeBare = StoreBare(bare, kRingRecords);
    const double storeCdb = StoreThroughCdb(FreshCopy(dir, "cdb.db"), kRingRecords);
    std::printf("store %d records with resume point: CDB %.3f s, raw sqlite3 statements %.3f s, ratio %.2f\n",
                kRingRecords, storeCdb, storeBare, storeCdb / storeBare);

    const std::string search = FreshCopy(dir, "search.db");
    StoreThroughCdb(search, kSearchRows);
    long rows = 0;
    const double searchBare = SearchBare(search);
    const double searchCdb = SearchThroughCdb(search, rows);
    std::printf("search %ld rows: CDB cursor %.3f s, raw sqlite3 cursor %.3f s, ratio %.2f\n", rows, searchCdb,
                searchBare, searchCdb / searchBare);

    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
