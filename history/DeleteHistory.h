#pragma once
// The management dialog: deletes one device ID's rows from the database, or erases the records
// held by the connected recorder. Each operation raises the request flag that makes the
// acquisition side start over.
#include <QDialog>

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

private:
    void OnInitDialog();

    QGroupBox* m_pGroup = nullptr;
    QGroupBox* m_pDeviceGroup = nullptr;
    QGroupBox* m_pCurrentGroup = nullptr;
    QLabel* m_pCurrentId = nullptr;
    QPushButton* m_pDeleteDatabase = nullptr;
    QPushButton* m_pDeleteDevice = nullptr;
};
