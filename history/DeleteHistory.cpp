#include "history/DeleteHistory.h"

#include <QComboBox>
#include <QCursor>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "database/CDB.h"
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

    // Shown only while an erase waits for the download before it.
    m_pEraseWait = new QLabel(this);
    m_pEraseWait->setObjectName(QStringLiteral(QV_ID_NAME(IDC_MANAGE_ERASE_WAIT)));
    m_pEraseWait->setGeometry(DluRect(9, 99, 146, kWaitingHeight - 102));
    m_pEraseWait->setWordWrap(true);
    m_pEraseWait->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_pEraseWait->hide();
    // Qt's own Cancel, in the user's language.
    m_pEraseCancelBox = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    m_pEraseCancel = m_pEraseCancelBox->button(QDialogButtonBox::Cancel);
    m_pEraseCancel->setObjectName(QStringLiteral(QV_ID_NAME(IDC_MANAGE_ERASE_CANCEL)));
    m_pEraseCancelBox->setGeometry(DluRect(158, 100, 50, 14));
    connect(m_pEraseCancelBox, &QDialogButtonBox::rejected, this, &DeleteHistory::reject);
    m_pEraseCancelBox->hide();

    // The group boxes are frames only; the outer one must not cover the controls drawn in it.
    m_pGroup->lower();

    connect(m_pDeleteDatabase, &QPushButton::clicked, this, &DeleteHistory::OnBnClickedDeleteDatabase);
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
    m_pDeleteDatabase->setText(WrapToWidth(Text(IDS_DELETE_DATABASE_RECORDS), m_pDeleteDatabase->fontMetrics(),
                                           m_pDeleteDatabase->width() - margin));
    m_pDeleteDevice->setText(WrapToWidth(Text(IDS_DELETE_DEVICE_RECORDS), m_pDeleteDevice->fontMetrics(),
                                         m_pDeleteDevice->width() - margin));
    m_pGroup->setTitle(Text(IDS_DELETE_HISTORY));
    // The outer frame's top line passes above the titles of the two boxes inside it: the outer
    // box reaches up into the dialog's margin as far as the style needs.
    const int overlap =
        std::max(NestedTitleOverlap(m_pGroup, m_pDeviceGroup), NestedTitleOverlap(m_pGroup, m_pCurrentGroup));
    m_pGroup->setGeometry(m_pGroup->geometry().adjusted(0, -std::min(overlap, m_pGroup->y()), 0, 0));
    setWindowTitle(Text(IDS_MANAGEMENT));
    m_pEraseWait->setText(Text(IDS_ERASE_WAITING));

    FillDeviceCombo(m_cbDevice, theDeviceState.m_dbManage);
    if (!theDeviceState.m_Link.IsDeviceOpen()) m_pDeleteDevice->setEnabled(false);
    SelectConnectedDevice(m_cbDevice);
}

void DeleteHistory::OnBnClickedDeleteDatabase()
{
    const std::string id = m_cbDevice->currentText().toStdString();
    // Nothing to delete is no success, and an ID the database cannot be asked about is named.
    if (id.empty()) {
        AfxMessageBox(LoadString(IDS_NO_DEVICE_TO_DELETE), MsgButtons::Ok, MsgIcon::Information);
        return;
    }
    if (!IsDeviceIdText(id)) {
        AfxMessageBox(LoadString(IDS_DEVICE_ID_UNUSABLE, id), MsgButtons::Ok, MsgIcon::Stop);
        return;
    }
    if (AfxMessageBox(LoadString(IDS_CONFIRM_DELETE_DATABASE, id), LoadString(IDS_NOTICE), MsgButtons::OkCancel,
                      MsgIcon::Warning, MsgDefault::Second) != MsgAnswer::Ok) {
        reject();
        return;
    }

    // From here until the deletion has ended, downloads stop, no walk of this ID starts or queues
    // anything and the record writer stores nothing. The pause lets a download under way stop
    // first. Nothing waits for the user in between: a box would keep the deletion open.
    CDeviceState& ds = theDeviceState;
    ds.BeginRowDeletion(id);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    // The records and the device row go together or not at all. A failed open has shown why.
    CDB& db = ds.m_dbManage;
    const bool opened = db.Open(ds.m_strDbPath) == 0;
    bool deleted = false;
    std::string failure;
    if (opened) {
        deleted =
            db.BeginTransaction() == 1 && db.DeleteRecords(id) == 1 && db.DeleteDevice(id) == 0 && db.Commit() == 1;
        if (!deleted) {
            // The error text first: the rollback would replace it.
            failure = DatabaseErrorText(db);
            db.Rollback();
        }
    }
    // Only a committed deletion drops what was queued of this ID; the next download starts from
    // the database as it is now.
    ds.EndRowDeletion(deleted);
    if (!opened) {
        reject();
        return;
    }
    if (!deleted) AfxMessageBox(failure, MsgButtons::Ok, MsgIcon::Stop);

    FillDeviceCombo(m_cbDevice, db);
    m_cbDevice->setCurrentIndex(m_cbDevice->count() > 0 ? 0 : -1);

    if (deleted) AfxMessageBox(LoadString(IDS_DATABASE_DELETED), MsgButtons::Ok, MsgIcon::Information);
    reject();
}

void DeleteHistory::reject()
{
    // While an erase waits, the dialog's cancel (Escape, the close button, Cancel) gives it up.
    if (m_bEraseWaiting) {
        m_bEraseCancelled = true;
        return;
    }
    QDialog::reject();
}

EraseReadiness DeleteHistory::WaitForErase(EraseHold& erase)
{
    // The dialog grows by a line that says what it waits for, and a Cancel button.
    const QSize size = this->size();
    QList<QWidget*> disabled;
    for (QWidget* w : {static_cast<QWidget*>(m_cbDevice), static_cast<QWidget*>(m_pDeleteDatabase),
                       static_cast<QWidget*>(m_pDeleteDevice)})
        if (w->isEnabled()) {
            w->setEnabled(false);
            disabled.append(w);
        }
    setFixedSize(DluSize(215, kWaitingHeight));
    m_pEraseWait->show();
    m_pEraseCancelBox->show();
    m_pEraseCancel->setFocus();
    QGuiApplication::setOverrideCursor(QCursor(Qt::BusyCursor));

    m_bEraseWaiting = true;
    m_bEraseCancelled = false;
    EraseReadiness readiness = EraseReadiness::Waiting;
    // The monitor's hand-overs and the user's Cancel are served meanwhile.
    WaitServingHandOvers(
        [&] { return m_bEraseCancelled || (readiness = erase.Readiness()) != EraseReadiness::Waiting; },
        WaitInput::Taken);
    m_bEraseWaiting = false;

    QGuiApplication::restoreOverrideCursor();
    m_pEraseWait->hide();
    m_pEraseCancelBox->hide();
    setFixedSize(size);
    for (QWidget* w : disabled) w->setEnabled(true);
    return m_bEraseCancelled ? EraseReadiness::Waiting : readiness;
}

void DeleteHistory::OnBnClickedDeleteDevice()
{
    const std::string id = DeviceIdText(theDeviceState.m_dwDeviceID);
    if (!theDeviceState.m_Link.IsDeviceOpen()) {
        AfxMessageBox(LoadString(IDS_DEVICE_ID_MISMATCH));
        return;
    }
    if (AfxMessageBox(LoadString(IDS_CONFIRM_DELETE_DEVICE, id), LoadString(IDS_NOTICE), MsgButtons::OkCancel,
                      MsgIcon::Warning, MsgDefault::Second) != MsgAnswer::Ok) {
        reject();
        return;
    }
    // The recorder's records that the program has not stored yet would be lost with the erase: a
    // download that begins now must reach the end of the ring and store everything first, while
    // the user waits and may give the erase up.
    EraseReadiness readiness;
    int acknowledged = 0;
    {
        EraseHold erase(theDeviceState);
        readiness = WaitForErase(erase);
        if (readiness == EraseReadiness::Ready) readiness = erase.Erase(acknowledged);
    }                                            // downloads go on, after an erase with a new one
    if (readiness == EraseReadiness::Waiting) {  // given up: nothing was sent
        QDialog::reject();
        return;
    }
    if (readiness == EraseReadiness::Quit) return;
    if (readiness != EraseReadiness::Ready) {
        AfxMessageBox(LoadString(EraseRefusalText(readiness, EraseFor::Management)), MsgButtons::Ok, MsgIcon::Warning);
        return;
    }
    if (acknowledged == 1) {
        AfxMessageBox(LoadString(IDS_DEVICE_ERASED));
        reject();
        return;
    }
    AfxMessageBox(LoadString(IDS_DEVICE_ERASE_FAILED));
}
