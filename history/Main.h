#pragma once
// The history dialog: pick a device and a time range, list the stored records, export the list.
#include <QDialog>

#include <functional>
#include <memory>
#include <vector>

#include "history/H_List.h"
#include "platform/OleDateTime.h"
#include "ui/DialogLayout.h"

class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QPushButton;
class QTimeEdit;

class Main : public QDialog {
    Q_OBJECT
public:
    Main();
    ~Main() override;

    void DoDataExchange(bool save);
    int OnInitDialog();
    void OnBnClickedSearch();
    void OnBnClickedExportCsv();
    void LayoutControls(int record);

    // How the export asks for the file name; tests replace it. Empty = cancelled.
    std::function<QString()> m_fnGetSaveFileName;

    H_Rows m_rows;
    H_List* m_list = nullptr;
    QComboBox* m_cbDevice = nullptr;
    OleDateTime m_dtStartDate;
    OleDateTime m_dtStartTime;
    OleDateTime m_dtEndDate;
    OleDateTime m_dtEndTime;
    QDateEdit* m_ctlStartDate = nullptr;
    QTimeEdit* m_ctlStartTime = nullptr;
    QDateEdit* m_ctlEndDate = nullptr;
    QTimeEdit* m_ctlEndTime = nullptr;

    bool IsSearching() const { return m_bSearching; }
    // How long a search reads before it lets the window paint again (tests: 0).
    int m_nPaintIntervalMs = 30;

public slots:
    void done(int result) override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void EndSearch(int itemCount, int statusId);
    QString DefaultSaveFileName();

    H_ListModel* m_pModel = nullptr;
    QLabel* m_pStatus = nullptr;
    QLabel* m_pStartLabel = nullptr;
    QLabel* m_pEndLabel = nullptr;
    QLabel* m_pDeviceLabel = nullptr;
    QLabel* m_pNote = nullptr;
    QGroupBox* m_pGroup = nullptr;
    QPushButton* m_pSearch = nullptr;
    QPushButton* m_pExit = nullptr;
    QPushButton* m_pExport = nullptr;
    std::unique_ptr<DialogLayout> m_layout;

    bool m_bSearching = false;
    int m_nPendingResult = -1;  // a close asked for during a search, carried out after it
};
