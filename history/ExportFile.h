#pragma once
// The file writing both exports share: the history text and the graph picture.
#include <QByteArray>
#include <QSaveFile>
#include <QString>

// A file written as it goes that replaces the file at its path only once it is whole: the bytes go
// to a temporary file beside it, which takes the file's place on Commit, so a failure leaves an
// earlier file as it was. Where the folder takes no new file but the file itself may be written (a
// writable file in a read-only folder), the file is written in place, and emptied again when the
// writing fails, so that no half-written export is left under its name.
class ExportFile {
public:
    explicit ExportFile(const QString& path);
    // An export not committed leaves nothing behind.
    ~ExportFile();
    ExportFile(const ExportFile&) = delete;
    ExportFile& operator=(const ExportFile&) = delete;

    // Each false when the file cannot be written, ErrorString then saying why; after a failure
    // nothing more is written.
    bool Open();
    bool Write(const QByteArray& bytes);
    bool Commit();
    QString ErrorString() const { return m_file.errorString(); }

private:
    QSaveFile m_file;
    bool m_bInPlace = false;
    bool m_bFailed = false;
    bool m_bCommitted = false;
};

// Writes bytes to path as the whole new content of the file, as ExportFile writes it. False, with
// the reason in error, when the file was not completely written.
bool WriteExportFile(const QString& path, const QByteArray& bytes, QString* error);
