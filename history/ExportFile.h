#pragma once
// The file writing both exports share: the history text and the graph picture.
#include <QByteArray>
#include <QString>

// Writes bytes to path as the whole new content of the file. The bytes go to a temporary file
// beside it that replaces the file once complete, so a failure leaves an earlier file as it was;
// where the folder takes no new file but the file itself may be written (a writable file in a
// read-only folder), the file is written in place. False, with the reason in error, when the file
// was not completely written.
bool WriteExportFile(const QString& path, const QByteArray& bytes, QString* error);
