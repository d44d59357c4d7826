#pragma once
// The failure boxes of the history, graph and management dialogs: a database call that fails after
// the database was opened (a failed open has already shown its own box), and an export file that
// cannot be written.
#include <string>

class CDB;
class QString;

// "Processing data failed" with the database's own error text, stop icon.
void ShowDatabaseError(const CDB& db);
// The same text, to be shown later (a rollback replaces the database's text).
std::string DatabaseErrorText(const CDB& db);

// "The file <path> cannot be written." in the user's language with the reason, stop icon.
void ShowFileWriteError(const QString& path, const QString& reason);
