#pragma once
// The box the history, graph and management dialogs show when a database call fails after the
// database was opened (a failed open has already shown its own box).
class CDB;

// "Processing data failed" with the database's own error text, stop icon.
void ShowDatabaseError(const CDB& db);
