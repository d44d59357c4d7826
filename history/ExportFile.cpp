#include "history/ExportFile.h"

#include <QSaveFile>

bool WriteExportFile(const QString& path, const QByteArray& bytes, QString* error)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    const bool written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
    if (!written) {
        if (error) *error = file.errorString();
        file.cancelWriting();
    }
    return written;
}
