#include "history/DatabaseError.h"

#include <QString>

#include <string>

#include "database/CDB.h"
#include "platform/MessageBox.h"
#include "platform/StringTable.h"
#include "resources/resource.h"

std::string DatabaseErrorText(const CDB& db)
{
    std::string text = LoadString(IDS_PROCESSING_FAILED);
    const std::string detail = db.LastError();
    if (!detail.empty()) text += "\n" + detail;
    return text;
}

void ShowDatabaseError(const CDB& db) { AfxMessageBox(DatabaseErrorText(db), MsgButtons::Ok, MsgIcon::Stop); }

void ShowFileWriteError(const QString& path, const QString& reason)
{
    QString text = QString::fromStdString(LoadString(IDS_FILE_NOT_WRITTEN, path.toStdString()));
    if (!reason.isEmpty()) text += QLatin1Char('\n') + reason;
    AfxMessageBox(text.toStdString(), MsgButtons::Ok, MsgIcon::Stop);
}
