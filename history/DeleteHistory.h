#pragma once
// The management dialog: deletes one device ID's rows from the database, or erases the records
// held by the connected recorder. Each operation raises the request flag that makes the
// acquisition side start over.
#include <QDialog>

class EraseHold;
enum class EraseReadiness;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

class DeleteHistory : public QDialog {
    Q_OBJECT
public:
    explicit DeleteHistory(QWidget* parent = nullptr);

    void OnBnClickedDeleteDatabase();
    void OnBnClickedDeleteDevice();

    QComboBox* m_cbDevice = nullptr;

    // Escape, the close button and Cancel: while an erase waits they give the erase up.
    void reject() override;

private:
    void OnInitDialog();
    // Waits, serving the monitor and the user, until the erase may go out or cannot; Waiting
    // when the user gave it up.
    EraseReadiness WaitForErase(EraseHold& erase);
    // The dialog's height in dialog units while an erase waits.
    static constexpr int kWaitingHeight = 128;
    QLabel* m_pEraseWait = nullptr;
    class QDialogButtonBox* m_pEraseCancelBox = nullptr;
    QPushButton* m_pEraseCancel = nullptr;
    bool m_bEraseWaiting = false;
    bool m_bEraseCancelled = false;

    QGroupBox* m_pGroup = nullptr;
    QGroupBox* m_pDeviceGroup = nullptr;
    QGroupBox* m_pCurrentGroup = nullptr;
    QLabel* m_pCurrentId = nullptr;
    QPushButton* m_pDeleteDatabase = nullptr;
    QPushButton* m_pDeleteDevice = nullptr;
};
