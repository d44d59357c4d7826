#include "history/DatabaseError.h"

#include <QString>

#include <sqlite3.h>

#include <string>

#include "database/CDB.h"
#include "platform/MessageBox.h"
#include "platform/StringTable.h"
#include "resources/resource.h"

void ShowDatabaseError(const CDB& db)
{
    std::string text = LoadString(IDS_PROCESSING_FAILED);
    if (db.m_pConnection && sqlite3_errcode(db.m_pConnection) != SQLITE_OK) {
        const char* detail = sqlite3_errmsg(db.m_pConnection);
        if (detail && *detail) text += std::string("\n") + detail;
    }
    AfxMessageBox(text, MsgButtons::Ok, MsgIcon::Stop);
}

void ShowFileWriteError(const QString& path, const QString& reason)
{
    AfxMessageBox(QStringLiteral("The file %1 cannot be written.\n%2").arg(path, reason).toStdString(),
                  MsgButtons::Ok, MsgIcon::Stop);
}
