#include "history/ExportFile.h"

#include <QFile>

#include <sys/stat.h>

ExportFile::ExportFile(const QString& path) : m_file(path) { m_file.setDirectWriteFallback(true); }

ExportFile::~ExportFile()
{
    if (m_bCommitted) return;
    if (m_bInPlace) {
        if (m_file.isOpen())
            m_file.resize(0);
        else
            QFile::resize(m_file.fileName(), 0);
    }
    // An open temporary file is removed with the QSaveFile.
    if (m_file.isOpen()) m_file.cancelWriting();
}

bool ExportFile::Open()
{
    // Unbuffered: a write that fails says so at once, not at a later flush.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        m_bFailed = true;
        return false;
    }
    // The fallback gives no sign of itself but the file it writes to.
    struct stat opened {
    }, named{};
    m_bInPlace = fstat(m_file.handle(), &opened) == 0 &&
                 stat(QFile::encodeName(m_file.fileName()).constData(), &named) == 0 && opened.st_dev == named.st_dev &&
                 opened.st_ino == named.st_ino;
    return true;
}

bool ExportFile::Write(const QByteArray& bytes)
{
    if (m_bFailed || !m_file.isOpen()) return false;
    // A write cut short (the disk full, a size limit) is tried on, so that the one that fails
    // says why.
    for (qsizetype done = 0; done < bytes.size();) {
        const qint64 written = m_file.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0) {
            m_bFailed = true;
            return false;
        }
        done += written;
    }
    return true;
}

bool ExportFile::Commit()
{
    if (m_bFailed || !m_file.isOpen()) return false;
    m_bCommitted = m_file.commit();
    m_bFailed = !m_bCommitted;
    return m_bCommitted;
}

bool WriteExportFile(const QString& path, const QByteArray& bytes, QString* error)
{
    ExportFile file(path);
    const bool written = file.Open() && file.Write(bytes) && file.Commit();
    if (!written && error) *error = file.ErrorString();
    return written;
}
