#include "database/CDB.h"

#include "platform/MessageBox.h"
#include "platform/NumberText.h"
#include "platform/OleDateTime.h"
#include "platform/StringTable.h"
#include "platform/TextCompare.h"
#include "resources/resource.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cmath>
#include <initializer_list>
#include <map>
#include <mutex>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "platform/Paths.h"

namespace {

constexpr int kBusyTimeoutMs = 5000;

using Param = std::variant<std::string, std::int64_t, double>;

bool IsBlank(const char* text)
{
    for (; *text; ++text)
        if (!std::isspace(static_cast<unsigned char>(*text))) return false;
    return true;
}

// Prepares exactly one statement; a second statement in the text is refused rather than run.
sqlite3_stmt* Prepare(sqlite3* db, const std::string& sql)
{
    if (!db) return nullptr;
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()) + 1, &stmt, &tail) != SQLITE_OK)
        return nullptr;
    if (!stmt) return nullptr;  // only blanks or comments
    if (tail && !IsBlank(tail)) {
        sqlite3_finalize(stmt);
        return nullptr;
    }
    return stmt;
}

bool Bind(sqlite3_stmt* stmt, std::initializer_list<Param> params)
{
    int index = 1;
    for (const Param& p : params) {
        int rc = SQLITE_OK;
        if (const auto* s = std::get_if<std::string>(&p))
            rc = sqlite3_bind_text(stmt, index, s->c_str(), static_cast<int>(s->size()), SQLITE_TRANSIENT);
        else if (const auto* i = std::get_if<std::int64_t>(&p))
            rc = sqlite3_bind_int64(stmt, index, *i);
        else
            rc = sqlite3_bind_double(stmt, index, std::get<double>(p));
        if (rc != SQLITE_OK) return false;
        ++index;
    }
    return true;
}

// Binds and runs a prepared statement to its end, discarding any rows, and leaves it ready for
// the next use. True when it completed.
bool Step(sqlite3_stmt* stmt, std::initializer_list<Param> params)
{
    bool ok = Bind(stmt, params);
    while (ok) {
        const int rc = sqlite3_step(stmt);
        if (rc == SQLITE_DONE) break;
        if (rc != SQLITE_ROW) ok = false;
    }
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    return ok;
}

// Runs one statement text once.
bool Run(sqlite3* db, const std::string& sql)
{
    sqlite3_stmt* stmt = Prepare(db, sql);
    if (!stmt) return false;
    const bool ok = Step(stmt, {});
    sqlite3_finalize(stmt);
    return ok;
}

// IDs a where clause admits: eight hex digits, or empty (matches no row).
bool IsLookupId(const std::string& id) { return id.empty() || IsDeviceIdText(id); }

std::atomic<unsigned> g_changes{0};

// The columns the program reads and writes: preparing these finds a missing table or column.
constexpr const char* kTableChecks[] = {
    "SELECT DevID,DevTitle,DevMoudle,DevLastTime,DevLastPagnRecords,DevLastPag FROM Device",
    "SELECT ID,PagAddr,Time,Temp,Humi FROM Records"};

// Which file a path named when the program last opened it, and its write-ahead log then. A file
// replaced while the program runs (a user restores a copy) leaves that log beside the new one;
// SQLite would apply the old file's pages to it. The log is the old file's only when it is the
// one seen while the old file was open: a log restored with the file is kept.
class OpenedFiles {
public:
    struct FileId {
        dev_t dev = 0;
        ino_t ino = 0;
        bool operator==(const FileId& other) const { return dev == other.dev && ino == other.ino; }
    };

    static std::optional<FileId> IdOf(const std::string& path)
    {
        struct stat st {};
        if (stat(path.c_str(), &st) != 0) return std::nullopt;
        return FileId{st.st_dev, st.st_ino};
    }

    // Before an open of path: when another file stands there than when it was last opened, the
    // old file's log goes. True when the file was replaced.
    bool BeforeOpen(const std::string& path)
    {
        const std::optional<FileId> now = IdOf(path);
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_files.find(path);
        if (!now || it == m_files.end() || it->second.db == *now) return false;
        const std::string wal = path + "-wal";
        const std::optional<FileId> walNow = IdOf(wal);
        if (walNow && it->second.wal && *walNow == *it->second.wal) {
            unlink(wal.c_str());
            // The shared-memory index describes the log that just went.
            unlink((path + "-shm").c_str());
        }
        m_files.erase(it);
        return true;
    }

    // After a successful open and a first read of path.
    void AfterOpen(const std::string& path)
    {
        const std::optional<FileId> db = IdOf(path);
        if (!db) return;
        std::lock_guard<std::mutex> lock(m_mutex);
        Entry& entry = m_files[path];
        if (!(entry.db == *db)) entry = Entry{*db, std::nullopt};
        if (const std::optional<FileId> wal = IdOf(path + "-wal")) entry.wal = wal;
    }

private:
    struct Entry {
        FileId db;
        std::optional<FileId> wal;
    };
    std::mutex m_mutex;
    std::map<std::string, Entry> m_files;
};

OpenedFiles& Opened()
{
    static OpenedFiles files;
    return files;
}

// Why an opened file cannot serve as the record database (kind 0 and "" when it can).
struct Unusable {
    int kind = 0;
    std::string reason;
};

Unusable UnusableReason(sqlite3* db, const std::string& path)
{
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    // A file that is no database is only noticed on first access: read the header now.
    const int rc = sqlite3_exec(db, "PRAGMA schema_version", nullptr, nullptr, nullptr);
    // SQLite falls back to reading only when the file may not be written; a folder that may not
    // be written fails here too, as the write-ahead log cannot be made in it.
    if ((rc & 0xFF) == SQLITE_READONLY || (rc == SQLITE_OK && sqlite3_db_readonly(db, "main") == 1))
        return {DB_READ_ONLY, LoadString(IDS_DB_READ_ONLY) + "\n" + path};
    if (rc != SQLITE_OK) return {DbFailureKindOf(sqlite3_extended_errcode(db)), sqlite3_errmsg(db)};
    // An empty file is an empty database to SQLite: every insert would fail later, unseen.
    for (const char* sql : kTableChecks) {
        sqlite3_stmt* stmt = nullptr;
        const int prc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
        sqlite3_finalize(stmt);
        if (prc == SQLITE_ERROR) return {DB_DAMAGED, LoadString(IDS_DB_NO_TABLES) + "\n" + path};
        if (prc != SQLITE_OK) return {DbFailureKindOf(sqlite3_extended_errcode(db)), sqlite3_errmsg(db)};
    }
    return {};
}

}  // namespace

DbFailureKind DbFailureKindOf(int sqliteCode)
{
    switch (sqliteCode & 0xFF) {
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_NOTFOUND: return DB_UNREACHABLE;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT: return DB_DAMAGED;
    case SQLITE_READONLY: return DB_READ_ONLY;
    case SQLITE_FULL: return DB_FULL;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return DB_BUSY;
    default: return DB_REFUSED;
    }
}

// Shared by every CDB object and the record writer: the writer, the count and the Device-row
// loader open the database again on each pass, so one damaged file would otherwise raise a box
// every few milliseconds.
FailureNotice& DatabaseFailures()
{
    static FailureNotice notice;
    return notice;
}

// The writer runs the same few statements for every record; preparing them once per connection
// keeps a download's storage well ahead of the link.
struct CDB::StatementCache {
    explicit StatementCache(sqlite3* db) : m_db(db) {}
    ~StatementCache()
    {
        for (auto& entry : m_entries) sqlite3_finalize(entry.second);
    }
    StatementCache(const StatementCache&) = delete;
    StatementCache& operator=(const StatementCache&) = delete;

    bool Run(const char* sql, std::initializer_list<Param> params)
    {
        sqlite3_stmt* stmt = Get(sql);
        return stmt && Step(stmt, params);
    }

    // Whether a query finds at least one row; nullopt when it fails.
    std::optional<bool> Exists(const char* sql, std::initializer_list<Param> params)
    {
        sqlite3_stmt* stmt = Get(sql);
        if (!stmt) return std::nullopt;
        std::optional<bool> found;
        if (Bind(stmt, params)) {
            const int rc = sqlite3_step(stmt);
            if (rc == SQLITE_ROW || rc == SQLITE_DONE) found = (rc == SQLITE_ROW);
        }
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        return found;
    }

    // The first column of the first row, as text or a number: value() is nullopt without a row
    // or for NULL; the outer nullopt means the query failed.
    template <class T>
    std::optional<std::optional<T>> First(const char* sql, std::initializer_list<Param> params)
    {
        sqlite3_stmt* stmt = Get(sql);
        if (!stmt) return std::nullopt;
        std::optional<std::optional<T>> result;
        if (Bind(stmt, params)) {
            const int rc = sqlite3_step(stmt);
            if (rc == SQLITE_DONE || (rc == SQLITE_ROW && sqlite3_column_type(stmt, 0) == SQLITE_NULL)) {
                result.emplace();
            } else if (rc == SQLITE_ROW) {
                if constexpr (std::is_same_v<T, std::string>)
                    result.emplace(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
                else
                    result.emplace(sqlite3_column_int64(stmt, 0));
            }
        }
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        return result;
    }

private:
    sqlite3_stmt* Get(const char* sql)
    {
        for (auto& entry : m_entries)
            if (entry.first == sql) return entry.second;
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK || !stmt)
            return nullptr;
        m_entries.emplace_back(sql, stmt);
        return stmt;
    }

    sqlite3* m_db;
    std::vector<std::pair<const char*, sqlite3_stmt*>> m_entries;  // keyed by the literal's address
};

// ---------------------------------------------------------------------------------------------
// CRecordset

CRecordset::~CRecordset() { Close(); }

int CRecordset::Close()
{
    if (m_stmt) sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
    m_bof = true;
    m_eof = true;
    return 0;
}

int CRecordset::MoveNext()
{
    if (!m_stmt || m_eof) return -1;
    m_bof = false;
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return 0;
    m_eof = true;
    return rc == SQLITE_DONE ? 0 : -1;
}

int CRecordset::ColumnIndex(const std::string& column) const
{
    if (!m_stmt) return -1;
    const int count = sqlite3_column_count(m_stmt);
    for (int i = 0; i < count; ++i) {
        const char* name = sqlite3_column_name(m_stmt, i);  // null when out of memory
        if (name && EqualsNoCase(name, column)) return i;
    }
    return -1;
}

bool CRecordset::HasValue(int column) const { return !m_eof && column >= 0 && column < sqlite3_data_count(m_stmt); }

std::optional<std::string> CRecordset::GetString(const std::string& column) const
{
    return GetString(ColumnIndex(column));
}

std::optional<std::int64_t> CRecordset::GetInt(const std::string& column) const { return GetInt(ColumnIndex(column)); }

std::optional<double> CRecordset::GetDouble(const std::string& column) const { return GetDouble(ColumnIndex(column)); }

std::optional<std::string> CRecordset::GetString(int column) const
{
    const std::optional<std::string_view> text = GetText(column);
    if (!text) return std::nullopt;
    return std::string(*text);
}

std::optional<std::string_view> CRecordset::GetText(int column) const
{
    if (!HasValue(column)) return std::nullopt;
    // NULL gives no text; any other value is converted to it.
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    if (!text) return std::nullopt;
    return std::string_view(text, static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column)));
}

std::optional<std::int64_t> CRecordset::GetInt(int column) const
{
    if (!HasValue(column)) return std::nullopt;
    switch (sqlite3_column_type(m_stmt, column)) {
    case SQLITE_INTEGER: return sqlite3_column_int64(m_stmt, column);
    case SQLITE_FLOAT: {
        const double d = sqlite3_column_double(m_stmt, column);
        if (!std::isfinite(d) || std::fabs(d) > 9.2e18) return std::nullopt;
        return static_cast<std::int64_t>(std::llround(d));
    }
    case SQLITE_TEXT: return ParseInteger(reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column)));
    default: return std::nullopt;
    }
}

std::optional<std::int64_t> CRecordset::GetStoredInt(int column) const
{
    if (!HasValue(column) || sqlite3_column_type(m_stmt, column) != SQLITE_INTEGER) return std::nullopt;
    return sqlite3_column_int64(m_stmt, column);
}

std::optional<double> CRecordset::GetDouble(int column) const
{
    if (!HasValue(column)) return std::nullopt;
    switch (sqlite3_column_type(m_stmt, column)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT: return sqlite3_column_double(m_stmt, column);
    case SQLITE_TEXT: return ParseDecimal(reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column)));
    default: return std::nullopt;
    }
}

// ---------------------------------------------------------------------------------------------
// CDB

CDB::CDB() = default;

CDB::~CDB() { Close(); }

int CDB::Open(const std::string& path)
{
    Close();
    m_strPath = path;
    // A first copy of the database that found no room at start-up is made now.
    const int copyError = path.empty() ? 0 : CompletePendingCopy(path);
    // Counts kept of a file that was replaced are stale.
    if (!path.empty() && Opened().BeforeOpen(path)) ++g_changes;
    Unusable failure;
    sqlite3* db = nullptr;
    if (IsNoRoomError(copyError)) {
        failure = {DB_FULL, LoadString(IDS_DB_NO_ROOM) + "\n" + path};
    } else if (path.empty()) {
        // SQLite would open a private temporary database for an empty name.
        failure = {DB_UNREACHABLE, sqlite3_errstr(SQLITE_CANTOPEN)};
    } else if (const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
               rc != SQLITE_OK) {
        failure = {DbFailureKindOf(db ? sqlite3_extended_errcode(db) : rc),
                   db ? sqlite3_errmsg(db) : sqlite3_errstr(SQLITE_NOMEM)};
    } else {
        failure = UnusableReason(db, path);
    }
    if (failure.kind != 0) {
        sqlite3_close(db);
        DatabaseFailures().Show(failure.kind, path, failure.reason, MsgIcon::None, DB_LEVEL_OPEN);
        return -1;
    }
    Opened().AfterOpen(path);
    // What an open checks works again. A file that failed and opens again may be another one:
    // counts kept of it are stale.
    if (DatabaseFailures().Recovered(path, DB_LEVEL_OPEN)) ++g_changes;
    m_pConnection = db;
    m_statements = std::make_unique<StatementCache>(db);
    return 0;
}

bool CDB::FileReplaced() const
{
    int moved = 0;
    return m_pConnection && sqlite3_file_control(m_pConnection, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK &&
           moved != 0;
}

int CDB::Close()
{
    m_pDevice.Close();
    m_pRecord.Close();
    m_statements.reset();
    m_bChangesPending = false;
    if (m_pConnection) {
        sqlite3_close(m_pConnection);
        m_pConnection = nullptr;
    }
    return 0;
}

std::string CDB::LastError() const
{
    if (!m_pConnection || sqlite3_errcode(m_pConnection) == SQLITE_OK) return "";
    const char* text = sqlite3_errmsg(m_pConnection);
    return text ? text : "";
}

int CDB::LastErrorCode() const { return m_pConnection ? sqlite3_extended_errcode(m_pConnection) : 0; }

bool CDB::InTransaction() const { return m_pConnection && !sqlite3_get_autocommit(m_pConnection); }

unsigned CDB::ChangeCount() { return g_changes.load(); }

// Counts the rows changed since totalBefore once they are committed.
void CDB::NoteChanges(int totalBefore)
{
    if (sqlite3_total_changes(m_pConnection) != totalBefore) m_bChangesPending = true;
    if (m_bChangesPending && sqlite3_get_autocommit(m_pConnection)) {
        ++g_changes;
        m_bChangesPending = false;
    }
}

int CDB::Execute(const std::string& sql)
{
    if (!m_pConnection) return -1;
    const int before = sqlite3_total_changes(m_pConnection);
    if (!Run(m_pConnection, sql)) return -1;
    NoteChanges(before);
    return 1;
}

int CDB::DeleteDevice(const std::string& deviceId)
{
    if (!IsDeviceIdText(deviceId) || !m_statements || m_pDevice.IsOpen()) return -1;
    return m_statements->Run("DELETE FROM Device WHERE [DevID]=? COLLATE NOCASE", {deviceId}) ? 0 : -1;
}

int CDB::DeleteRecords(const std::string& deviceId)
{
    if (!IsDeviceIdText(deviceId) || !m_statements) return -1;
    const int before = sqlite3_total_changes(m_pConnection);
    // Every spelling of the ID, each through the index: a comparison without regard to case
    // could not use it.
    for (const std::string& spelling : DeviceIdSpellings(deviceId))
        if (!m_statements->Run("DELETE FROM Records WHERE [ID]=?", {spelling})) return -1;
    NoteChanges(before);
    return 1;
}

std::optional<std::string> CDB::StoredDeviceId(const std::string& deviceId)
{
    if (!IsDeviceIdText(deviceId) || !m_statements) return std::nullopt;
    const auto row =
        m_statements->First<std::string>("SELECT DevID FROM Device WHERE [DevID]=? COLLATE NOCASE", {deviceId});
    if (!row) return std::nullopt;
    if (*row) return **row;
    // Without a Device row: records a user's file holds in small letters.
    std::string lower = deviceId;
    for (char& c : lower) c = AsciiLower(c);
    if (lower != deviceId) {
        const auto found = m_statements->First<std::int64_t>("SELECT 1 FROM Records WHERE [ID]=? LIMIT 1", {lower});
        if (!found) return std::nullopt;
        if (*found) return lower;
    }
    return deviceId;
}

std::optional<std::int64_t> CDB::StoredRecordsBound(const std::string& deviceId)
{
    if (!IsDeviceIdText(deviceId) || !m_statements) return std::nullopt;
    const auto any = m_statements->First<std::int64_t>("SELECT 1 FROM Records WHERE [ID]=? LIMIT 1", {deviceId});
    if (!any) return std::nullopt;
    if (!*any) return 0;
    const auto last = m_statements->First<std::int64_t>("SELECT max(rowid) FROM Records", {});
    if (!last) return std::nullopt;
    return last->value_or(0);
}

int CDB::SaveDevice(const std::string& deviceId, const std::string& lastTime, int recordNo, int page, int mode)
{
    // The lookup runs where the Device cursor would, so an open cursor refuses it as a query would.
    if (!IsDeviceIdText(deviceId) || !m_statements || m_pDevice.IsOpen()) return 0;
    const std::optional<bool> hasRow =
        m_statements->Exists("SELECT 1 FROM Device WHERE [DevID]=? COLLATE NOCASE", {deviceId});
    if (!hasRow) return 0;

    bool ok;
    if (!*hasRow)
        ok = m_statements->Run(
            "INSERT INTO Device([DevID],[DevTitle],[DevMoudle],[DevLastTime],[DevLastPagnRecords],[DevLastPag]) "
            "VALUES (?,'',?,?,?,?)",
            {deviceId, std::int64_t{mode}, lastTime, std::int64_t{recordNo}, std::int64_t{page}});
    else
        ok = m_statements->Run(
            "UPDATE Device SET [DevTitle]='',[DevMoudle]=?,[DevLastTime]=?,[DevLastPagnRecords]=?,[DevLastPag]=? "
            "WHERE [DevID]=? COLLATE NOCASE",
            {std::int64_t{mode}, lastTime, std::int64_t{recordNo}, std::int64_t{page}, deviceId});
    return ok ? 1 : -1;
}

int CDB::InsertRecord(const std::string& deviceId, const std::string& page, const std::string& time,
                      const std::string& temp, const std::string& humi)
{
    if (!IsDeviceIdText(deviceId) || !m_statements) return -1;
    // The texts are parsed without the locale: " 23.5" is a number under any LC_NUMERIC.
    const std::optional<double> t = ParseDecimal(temp);
    const std::optional<std::int64_t> h = ParseInteger(humi);
    if (!t || !h) return -1;
    return m_statements->Run("INSERT INTO Records([ID],[PagAddr],[Time],[Temp],[Humi]) VALUES (?,?,?,?,?)",
                             {deviceId, page, time, *t, *h})
               ? 1
               : -1;
}

int CDB::InsertRecordUnlessStored(const std::string& deviceId, const std::string& page, const std::string& time,
                                  const std::string& temp, const std::string& humi, std::int64_t storedUpTo)
{
    if (!IsDeviceIdText(deviceId) || !m_statements) return -1;
    const std::optional<double> t = ParseDecimal(temp);
    const std::optional<std::int64_t> h = ParseInteger(humi);
    if (!t || !h) return -1;
    // Only rows older than the download count: two records of one download may look alike.
    const bool ok = m_statements->Run(
        "INSERT INTO Records([ID],[PagAddr],[Time],[Temp],[Humi]) SELECT ?1,?2,?3,?4,?5 WHERE NOT EXISTS "
        "(SELECT 1 FROM Records WHERE [ID]=?1 AND [Time]=?3 AND [PagAddr]=?2 AND [Temp]=?4 AND [Humi]=?5 "
        "AND rowid<=?6)",
        {deviceId, page, time, *t, *h, storedUpTo});
    if (!ok) return -1;
    return sqlite3_changes(m_pConnection) > 0 ? 1 : 0;
}

int CDB::BeginTransaction()
{
    // Written to a file that is no longer the database, the records would be lost with it.
    if (FileReplaced() && Open(m_strPath) != 0) return -1;
    return m_statements && m_statements->Run("BEGIN IMMEDIATE", {}) ? 1 : -1;
}

int CDB::Commit()
{
    if (!m_statements || !m_statements->Run("COMMIT", {})) return -1;
    NoteChanges(sqlite3_total_changes(m_pConnection));
    return 1;
}

int CDB::Rollback()
{
    m_bChangesPending = false;
    return m_statements && m_statements->Run("ROLLBACK", {}) ? 1 : -1;
}

int CDB::OpenDevice(const std::string& deviceId)
{
    if (!IsDeviceIdText(deviceId)) return -1;
    return OpenCursor(m_pDevice, "SELECT * FROM Device WHERE [DevID]=? COLLATE NOCASE", &deviceId);
}

int CDB::CountDevice(const std::string& deviceId)
{
    if (!IsDeviceIdText(deviceId)) return -1;
    return OpenCursor(m_pDevice, "SELECT count(*) AS [Count] FROM Device WHERE DevID=? COLLATE NOCASE", &deviceId);
}

int CDB::ListDevices() { return OpenCursor(m_pDevice, "SELECT DevID FROM Device", nullptr); }

// The where clauses come from WhereDevice/WhereDeviceRange, which admit no quote; an empty one
// means the caller's ID or dates were refused.
int CDB::CountRecords(const std::string& whereClause)
{
    if (IsBlank(whereClause.c_str())) return -1;
    return OpenCursor(m_pRecord, "SELECT count(*) AS [Count] FROM Records WHERE " + whereClause, nullptr);
}

int CDB::SelectRecords(const std::string& whereClause)
{
    if (IsBlank(whereClause.c_str())) return -1;
    return OpenCursor(m_pRecord, "SELECT * FROM Records WHERE " + whereClause + " ORDER BY [Time] ASC", nullptr);
}

int CDB::OpenCursor(CRecordset& cursor, const std::string& sql, const std::string* param)
{
    if (!m_pConnection || cursor.IsOpen()) return -1;
    sqlite3_stmt* stmt = Prepare(m_pConnection, sql);
    if (!stmt) return -1;
    if (param && !Bind(stmt, {*param})) {
        sqlite3_finalize(stmt);
        return -1;
    }
    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        sqlite3_finalize(stmt);
        return -1;
    }
    cursor.m_stmt = stmt;
    cursor.m_bof = cursor.m_eof = (rc == SQLITE_DONE);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Where clauses

bool IsDeviceIdText(const std::string& text)
{
    if (text.size() != 8) return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

std::vector<std::string> DeviceIdSpellings(const std::string& deviceId)
{
    std::vector<std::string> spellings;
    if (!IsDeviceIdText(deviceId)) return spellings;
    std::vector<std::size_t> letters;
    for (std::size_t i = 0; i < deviceId.size(); ++i)
        if (std::isalpha(static_cast<unsigned char>(deviceId[i]))) letters.push_back(i);
    for (unsigned mask = 0; mask < (1u << letters.size()); ++mask) {
        std::string s = deviceId;
        for (std::size_t k = 0; k < letters.size(); ++k) {
            char& c = s[letters[k]];
            c = (mask >> k) & 1 ? AsciiLower(c) : AsciiUpper(c);
        }
        spellings.push_back(std::move(s));
    }
    return spellings;
}

std::string WhereDevice(const std::string& deviceId)
{
    if (!IsLookupId(deviceId)) return "";
    return "id='" + deviceId + "'";
}

std::string WhereDeviceRange(const std::string& fromTime, const std::string& toTime, const std::string& deviceId)
{
    if (!IsLookupId(deviceId) || !IsDateTimeForm(fromTime) || !IsDateTimeForm(toTime)) return "";
    return "Time>'" + fromTime + "' and Time<='" + toTime + "' and id='" + deviceId + "'";
}
