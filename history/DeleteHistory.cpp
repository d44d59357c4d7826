#include "history/DeleteHistory.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "database/RowFormat.h"
#include "device/CDeviceState.h"
#include "history/DatabaseError.h"
#include "history/DeviceCombo.h"
#include "platform/MessageBox.h"
#include "platform/StringTable.h"
#include "resources/resource.h"
#include "ui/DialogLayout.h"
#include "ui/DialogUnits.h"
#include "ui/UiWait.h"

namespace {

QString Text(int id) { return QString::fromStdString(LoadString(id)); }

// A multi-line push button: words wrap to the button's width.
QString WrapToWidth(const QString& text, const QFontMetrics& metrics, int width)
{
    QString result, line;
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString candidate = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
        if (!line.isEmpty() && metrics.horizontalAdvance(candidate) > width) {
            result += line + QLatin1Char('\n');
            line = word;
        } else {
            line = candidate;
        }
    }
    return result + line;
}

}  // namespace

DeleteHistory::DeleteHistory(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral(QV_ID_NAME(IDD_DELETEHISTORY)));
    setFont(DialogFont());
    setFixedSize(DluSize(215, 102));

    m_pGroup = new QGroupBox(this);
    m_pGroup->setObjectName(QStringLiteral(QV_ID_NAME(IDC_MANAGE_GROUP)));
    m_pGroup->setGeometry(DluRect(7, 7, 201, 88));

    m_pDeviceGroup = new QGroupBox(this);
    m_pDeviceGroup->setObjectName(QStringLiteral(QV_ID_NAME(IDC_MANAGE_DEVICE_GROUP)));
    m_pDeviceGroup->setGeometry(DluRect(9, 16, 96, 76));

    m_cbDevice = new QComboBox(this);
    m_cbDevice->setObjectName(QStringLiteral(QV_ID_NAME(IDC_MANAGE_DEVICE)));
    m_cbDevice->setGeometry(DluRect(15, 29, 78, 12));

    m_pDeleteDatabase = new QPushButton(this);
    m_pDeleteDatabase->setObjectName(QStringLiteral(QV_ID_NAME(IDC_MANAGE_DELETE_DATABASE)));
    m_pDeleteDatabase->setGeometry(DluRect(10, 54, 91, 35));

    m_pCurrentGroup = new QGroupBox(this);
    m_pCurrentGroup->setObjectName(QStringLiteral(QV_ID_NAME(IDC_MANAGE_CURRENT_GROUP)));
    m_pCurrentGroup->setGeometry(DluRect(110, 16, 95, 76));

    m_pCurrentId = new QLabel(this);
    m_pCurrentId->setObjectName(QStringLiteral(QV_ID_NAME(IDC_MANAGE_CURRENT_ID)));
    m_pCurrentId->setGeometry(DluRect(124, 31, 74, 8));
    m_pCurrentId->setTextFormat(Qt::PlainText);

    m_pDeleteDevice = new QPushButton(this);
    m_pDeleteDevice->setObjectName(QStringLiteral(QV_ID_NAME(IDC_MANAGE_DELETE_DEVICE)));
    m_pDeleteDevice->setGeometry(DluRect(114, 54, 88, 35));

    // The group boxes are frames only; the outer one must not cover the controls drawn in it.
    m_pGroup->lower();

    connect(m_pDeleteDatabase, &QPushButton::clicked, this,
            &DeleteHistory::OnBnClickedDeleteDatabase);
    connect(m_pDeleteDevice, &QPushButton::clicked, this, &DeleteHistory::OnBnClickedDeleteDevice);
    // No button is the default: Enter away from a button ends the dialog as OK does.
    m_pDeleteDatabase->setAutoDefault(false);
    m_pDeleteDevice->setAutoDefault(false);
    EnterEndsDialog(this);

    OnInitDialog();
}

void DeleteHistory::OnInitDialog()
{
    const std::string id = DeviceIdText(theDeviceState.m_dwDeviceID);
    m_pCurrentId->setText(id == "00000000" ? QStringLiteral("--------") : QString::fromStdString(id));

    m_pDeviceGroup->setTitle(Text(IDS_DEVICE_ID) + QLatin1Char(':'));
    m_pCurrentGroup->setTitle(Text(IDS_CURRENT_DEVICE_ID) + QLatin1Char(':'));
    const int margin = 8;
    m_pDeleteDatabase->setText(WrapToWidth(Text(IDS_DELETE_DATABASE_RECORDS),
                                           m_pDeleteDatabase->fontMetrics(),
                                           m_pDeleteDatabase->width() - margin));
    m_pDeleteDevice->setText(WrapToWidth(Text(IDS_DELETE_DEVICE_RECORDS),
                                         m_pDeleteDevice->fontMetrics(),
                                         m_pDeleteDevice->width() - margin));
    m_pGroup->setTitle(Text(IDS_DELETE_HISTORY));
    // The outer frame's top line passes above the titles of the two boxes inside it: the outer
    // box reaches up into the dialog's margin as far as the style needs.
    const int overlap = std::max(NestedTitleOverlap(m_pGroup, m_pDeviceGroup),
                                 NestedTitleOverlap(m_pGroup, m_pCurrentGroup));
    m_pGroup->setGeometry(m_pGroup->geometry().adjusted(0, -std::min(overlap, m_pGroup->y()), 0, 0));
    setWindowTitle(Text(IDS_MANAGEMENT));

    FillDeviceCombo(m_cbDevice, theDeviceState.m_dbManage);
    if (!theDeviceState.m_Link.IsDeviceOpen()) m_pDeleteDevice->setEnabled(false);
    SelectConnectedDevice(m_cbDevice);
}

void DeleteHistory::OnBnClickedDeleteDatabase()
{
    const std::string id = m_cbDevice->currentText().toStdString();
    if (AfxMessageBox(LoadString(IDS_CONFIRM_DELETE_DATABASE, id), LoadString(IDS_NOTICE),
                      MsgButtons::OkCancel, MsgIcon::Warning, MsgDefault::Second) != MsgAnswer::Ok) {
        reject();
        return;
    }

    // From here until the deletion has ended, downloads stop, a walk of this ID queues nothing and
    // the record writer stores nothing. The pause lets a download under way stop first.
    CDeviceState& ds = theDeviceState;
    ds.BeginRowDeletion(id);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    // The records and the device row go together or not at all. The empty ID (an empty list)
    // names no row: nothing to delete. A failed open has shown why.
    CDB& db = ds.m_dbManage;
    const bool opened = db.Open(ds.m_strDbPath) == 0;
    bool deleted = opened;
    if (opened && !id.empty()) {
        deleted = db.BeginTransaction() == 1 && db.DeleteRecords(id) == 1 &&
                  db.DeleteDevice(id) == 0 && db.Commit() == 1;
        if (!deleted) {
            // The error text first: the rollback would replace it.
            ShowDatabaseError(db);
            db.Rollback();
        }
    }
    // Only a committed deletion drops what was queued of this ID; the next download starts from
    // the database as it is now.
    ds.EndRowDeletion(opened && deleted && !id.empty());
    if (!opened) {
        reject();
        return;
    }

    FillDeviceCombo(m_cbDevice, db);
    m_cbDevice->setCurrentIndex(m_cbDevice->count() > 0 ? 0 : -1);

    if (deleted)
        AfxMessageBox(LoadString(IDS_DATABASE_DELETED), MsgButtons::Ok, MsgIcon::Information);
    reject();
}

void DeleteHistory::OnBnClickedDeleteDevice()
{
    const std::string id = DeviceIdText(theDeviceState.m_dwDeviceID);
    if (!theDeviceState.m_Link.IsDeviceOpen()) {
        AfxMessageBox(LoadString(IDS_DEVICE_ID_MISMATCH));
        return;
    }
    if (AfxMessageBox(LoadString(IDS_CONFIRM_DELETE_DEVICE, id), LoadString(IDS_NOTICE),
                      MsgButtons::OkCancel, MsgIcon::Warning, MsgDefault::Second) != MsgAnswer::Ok) {
        reject();
        return;
    }
    // The recorder's records that the program has not stored yet would be lost with the erase:
    // the running download ends and its records are stored first, while the user waits.
    int settled = 0;
    int acknowledged = 0;
    {
        EraseHold erase(theDeviceState);
        {
            CWaitCursor waitCursor;
            const bool enabled[2] = {m_pDeleteDatabase->isEnabled(), m_pDeleteDevice->isEnabled()};
            m_pDeleteDatabase->setEnabled(false);
            m_pDeleteDevice->setEnabled(false);
            WaitServingHandOvers([&] { return (settled = erase.Settled()) != 0; });
            m_pDeleteDatabase->setEnabled(enabled[0]);
            m_pDeleteDevice->setEnabled(enabled[1]);
        }
        if (settled == 1) acknowledged = erase.Erase();
    }  // downloads go on, after an erase with a new one
    if (settled < 0) {
        if (!theDeviceState.m_bQuit)
            AfxMessageBox(LoadString(IDS_ERASE_WAITS_FOR_STORING), MsgButtons::Ok, MsgIcon::Warning);
        return;
    }
    if (acknowledged == 1) {
        AfxMessageBox(LoadString(IDS_DEVICE_ERASED));
        reject();
        return;
    }
    AfxMessageBox(LoadString(IDS_DEVICE_ERASE_FAILED));
}
