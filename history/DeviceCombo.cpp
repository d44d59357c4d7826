#include "history/DeviceCombo.h"

#include <QComboBox>

#include <algorithm>

#include "database/CDB.h"
#include "database/RowFormat.h"
#include "device/CDeviceState.h"
#include "history/DatabaseError.h"

void FillDeviceCombo(QComboBox* combo, CDB& db)
{
    combo->clear();
    if (db.Open(theDeviceState.m_strDbPath) != 0) return;
    if (db.ListDevices() != 0) {
        ShowDatabaseError(db);
        return;
    }
    QStringList ids;
    while (!db.m_pDevice.IsEOF()) {
        ids.append(QString::fromStdString(db.m_pDevice.GetString("DevID").value_or("")));
        if (db.m_pDevice.MoveNext() < 0) break;
    }
    db.m_pDevice.Close();
    // A sorted drop-down list orders its entries by text, letter case ignored.
    std::stable_sort(ids.begin(), ids.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    // IDs that differ only in letter case are one recorder: listed once, as first found.
    ids.erase(std::unique(
                  ids.begin(), ids.end(),
                  [](const QString& a, const QString& b) { return QString::compare(a, b, Qt::CaseInsensitive) == 0; }),
              ids.end());
    combo->addItems(ids);
}

void SelectConnectedDevice(QComboBox* combo)
{
    if (!theDeviceState.m_Link.IsDeviceOpen()) {
        combo->setCurrentIndex(combo->count() > 0 ? 0 : -1);
        return;
    }
    const QString id = QString::fromStdString(DeviceIdText(theDeviceState.m_dwDeviceID));
    combo->setCurrentIndex(combo->findText(id, Qt::MatchFixedString));
}
