#pragma once
// The graph dialog: the stored humidity or temperature readings of one device over a time range,
// drawn on the chart, and the chart saved as a JPEG picture.
#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

#include "platform/OleDateTime.h"

class CTchart1;
class DialogLayout;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QPushButton;
class QTimeEdit;

class Grapsh : public QDialog {
    Q_OBJECT
public:
    explicit Grapsh(QWidget* parent = nullptr);
    ~Grapsh() override;

    // save: from the pickers into the four values; otherwise the values into the pickers.
    void DoDataExchange(bool save);
    void OnBnClickedSearch();
    void OnBnClickedExportImage();

    // Asks for the picture's path ("" = cancelled); tests replace it.
    std::function<QString()> m_fnGetSaveFileName;

    CTchart1* m_chart = nullptr;
    QComboBox* m_cbType = nullptr;
    OleDateTime m_dtStartDate, m_dtStartTime, m_dtEndDate, m_dtEndTime;
    QComboBox* m_cbDevice = nullptr;
    QString m_strText[10];

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void OnInitDialog();
    void LayoutControls(bool record);
    void SaveImage(const QString& path);

    QDateEdit* m_ctlStartDate = nullptr;
    QTimeEdit* m_ctlStartTime = nullptr;
    QDateEdit* m_ctlEndDate = nullptr;
    QTimeEdit* m_ctlEndTime = nullptr;
    QGroupBox* m_pGroup = nullptr;
    QLabel* m_pStartLabel = nullptr;
    QLabel* m_pEndLabel = nullptr;
    QLabel* m_pDeviceLabel = nullptr;
    QLabel* m_pTypeLabel = nullptr;
    QLabel* m_pNote = nullptr;
    QLabel* m_pTitle = nullptr;
    QPushButton* m_pSearch = nullptr;
    QPushButton* m_pExit = nullptr;
    QPushButton* m_pExport = nullptr;
    std::unique_ptr<DialogLayout> m_layout;
};
