#pragma once
// One connection to the record database and the statements the program issues on it.
// Results follow the program's database convention: 0 or 1 for success, -1 for failure.
// Values are bound as statement parameters. Two kinds of text become part of a statement: what
// Execute runs, and the where clauses of CountRecords and SelectRecords, which the program builds
// with WhereDevice and WhereDeviceRange below from nothing but an ID of eight hexadecimal digits and
// times of digits in the form "YYYY-MM-DD hh:mm:ss".
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;
class FailureNotice;

// Kinds of database failure, for the one message each: the same kind with the same file is one
// failure however SQLite words it.
enum DbFailureKind {
    DB_UNREACHABLE = 1,  // the file or its folder cannot be opened, read or written (I/O, permissions)
    DB_DAMAGED,          // not a database, damaged, or without the program's tables
    DB_READ_ONLY,        // the file or its folder may not be written
    DB_FULL,             // the disk (or the file's size limit) is full
    DB_BUSY,             // another connection holds the database too long
    DB_REFUSED,          // a statement was refused (a constraint, a trigger, anything else)
};
// The kind of an SQLite result code (extended or primary).
DbFailureKind DbFailureKindOf(int sqliteCode);
// Failures of the record database, shown once each until the file works again: a failed open
// says what an open found (level DB_LEVEL_OPEN), and the record writer what kept its records from
// being stored (DB_LEVEL_WRITE).
FailureNotice& DatabaseFailures();
constexpr int DB_LEVEL_OPEN = 0;
constexpr int DB_LEVEL_WRITE = 1;

// A forward-only cursor over the rows of one query.
class CRecordset {
public:
    CRecordset() = default;
    ~CRecordset();
    CRecordset(const CRecordset&) = delete;
    CRecordset& operator=(const CRecordset&) = delete;

    bool IsOpen() const { return m_stmt != nullptr; }
    bool IsBOF() const { return m_bof; }
    bool IsEOF() const { return m_eof; }
    // Steps to the next row; -1 on a database error (the cursor is then at EOF).
    int MoveNext();
    int Close();

    // Column value of the current row by name (case-insensitive); nullopt at EOF, for an unknown
    // column or a NULL value.
    std::optional<std::string> GetString(const std::string& column) const;
    std::optional<std::int64_t> GetInt(const std::string& column) const;
    std::optional<double> GetDouble(const std::string& column) const;

    // The same by the column's index in the query, which ColumnIndex finds once per query (-1 for
    // an unknown column): a reader of many rows does not look each name up again.
    int ColumnIndex(const std::string& column) const;
    std::optional<std::string> GetString(int column) const;
    // The text without a copy; it stays valid until the cursor moves or closes.
    std::optional<std::string_view> GetText(int column) const;
    std::optional<std::int64_t> GetInt(int column) const;
    std::optional<double> GetDouble(int column) const;
    // The value only when it is stored as an integer, unconverted; nullopt for any other.
    std::optional<std::int64_t> GetStoredInt(int column) const;

private:
    friend class CDB;
    bool HasValue(int column) const;
    sqlite3_stmt* m_stmt = nullptr;
    bool m_bof = true;
    bool m_eof = true;
};

class CDB {
public:
    CDB();
    virtual ~CDB();
    CDB(const CDB&) = delete;
    CDB& operator=(const CDB&) = delete;

    // Closes, then opens the file (never creating it) and checks that it is a database the
    // program can write, holding both tables. 0 = open; -1 = failed: a message box says why, once
    // for a failure that repeats, and again only after some open has succeeded since. A first
    // copy of the database still owed (no room at start-up) is made first.
    int Open(const std::string& path);
    // True when another file stands at the path than the one this connection has open.
    bool FileReplaced() const;
    int Close();  // always 0
    bool IsOpen() const { return m_pConnection != nullptr; }

    // The database's text for the last failed call on this connection; "" when there is none.
    std::string LastError() const;
    // Its SQLite result code (extended); 0 when there is none.
    int LastErrorCode() const;
    // A transaction is open: false after COMMIT or ROLLBACK, and after SQLite rolled one back
    // by itself (a full disk, an I/O error).
    bool InTransaction() const;

    // Rows of the database changed through DeleteRecords or Execute, by any CDB object, counted
    // once committed, and an open that succeeds after a failed one. Whoever keeps a stored-record
    // count refreshes it when this moves; the record writer's own inserts are not counted.
    static unsigned ChangeCount();

    // Runs a statement, discarding rows. 1 = done, -1 = failed.
    int Execute(const std::string& sql);

    // A device's hexadecimal ID may be written in either letter case (a user's file in small
    // letters): the Device row is found whatever the case, and the rows of a deletion go in every
    // case. The record writer stores under the spelling StoredDeviceId gives.

    // Deletes the Device row of an ID. 0 = done, -1 = failed (also for an ID that is not eight
    // hexadecimal digits).
    int DeleteDevice(const std::string& deviceId);
    // Deletes the Records rows of an ID. 1 = done, -1 = failed (also for a malformed ID).
    int DeleteRecords(const std::string& deviceId);
    // The spelling under which the database holds a device: that of its Device row, else that of
    // its records in small letters, else the ID as given; nullopt when the database cannot tell.
    std::optional<std::string> StoredDeviceId(const std::string& deviceId);
    // 0 when no Records row holds the ID (spelled as given), else the highest rowid of the table:
    // every row already stored lies at or below it. nullopt when the query failed.
    std::optional<std::int64_t> StoredRecordsBound(const std::string& deviceId);

    // Inserts or updates the Device row of an ID (DevTitle always ''):
    // 1 = written, 0 = the lookup failed and nothing was written, -1 = the write failed.
    int SaveDevice(const std::string& deviceId, const std::string& lastTime, int recordNo, int page, int mode);

    // Inserts one Records row. Temperature and humidity are given as their text forms
    // (" 23.5", "65535", "45"). 1 = done, -1 = failed.
    int InsertRecord(const std::string& deviceId, const std::string& page, const std::string& time,
                     const std::string& temp, const std::string& humi);
    // The same unless a row of rowid storedUpTo or below holds these five values already:
    // 1 = inserted, 0 = stored before, -1 = failed.
    int InsertRecordUnlessStored(const std::string& deviceId, const std::string& page, const std::string& time,
                                 const std::string& temp, const std::string& humi, std::int64_t storedUpTo);

    // Transactions: BEGIN IMMEDIATE / COMMIT / ROLLBACK. 1 = done, -1 = failed. A transaction
    // begun after the file was replaced (a user restored a copy) runs on the file now there.
    int BeginTransaction();
    int Commit();
    int Rollback();

    // Queries: 0 = the cursor is open (on the first row, or at BOF and EOF); -1 = failed, also when
    // the cursor is still open from an earlier query.
    int OpenDevice(const std::string& deviceId);        // m_pDevice: SELECT * FROM Device
    int CountDevice(const std::string& deviceId);       // m_pDevice: column Count
    int ListDevices();                                  // m_pDevice: column DevID
    int CountRecords(const std::string& whereClause);   // m_pRecord: column Count
    int SelectRecords(const std::string& whereClause);  // m_pRecord: Time, Temp, Humi ordered by Time

    sqlite3* m_pConnection = nullptr;
    CRecordset m_pDevice;
    CRecordset m_pRecord;

private:
    struct StatementCache;  // the fixed statements, prepared once per connection

    int OpenCursor(CRecordset& cursor, const std::string& sql, const std::string* param);
    void NoteChanges(int totalBefore);
    std::unique_ptr<StatementCache> m_statements;
    bool m_bChangesPending = false;  // rows changed in the open transaction
    std::string m_strPath;           // of the last Open
};

// True for exactly eight hexadecimal digits, the only ID form the methods above accept.
bool IsDeviceIdText(const std::string& text);
// The ID in every combination of capital and small letters (one for an ID of digits only).
std::vector<std::string> DeviceIdSpellings(const std::string& deviceId);
// Where clauses. Device IDs must be eight hexadecimal digits (or the empty text, which matches no
// row) and times "YYYY-MM-DD hh:mm:ss"; anything else gives "" so that the caller can refuse it.
std::string WhereDevice(const std::string& deviceId);  // "id='%s'"
std::string WhereDeviceRange(const std::string& fromTime, const std::string& toTime,
                             const std::string& deviceId);  // "Time>'%s' and Time<='%s' and id='%s'"
