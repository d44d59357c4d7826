-- The record database shipped beside the program. The program itself never creates tables.
-- Date-times are stored as the text "YYYY-MM-DD hh:mm:ss", which sorts and compares chronologically.
-- Write-ahead logging (kept in the file): a reader left standing on a row never blocks the record
-- writer, and a writing download never blocks a history search.
PRAGMA journal_mode=WAL;
CREATE TABLE Device (
  DevID              TEXT NOT NULL,
  DevTitle           TEXT,
  DevMoudle          INTEGER,
  DevLastTime        TEXT,
  DevLastPagnRecords INTEGER,
  DevLastPag         INTEGER
);
CREATE TABLE Records (
  ID      TEXT NOT NULL,
  PagAddr TEXT,
  Time    TEXT,
  Temp    REAL,
  Humi    INTEGER
);
CREATE INDEX RecordsByIdTime ON Records(ID, Time);
