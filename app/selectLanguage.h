#pragma once
// The language dialog: the five words, Save writes the chosen one to Main.ini.
#include <QDialog>

#include <string>

class QComboBox;
class QLabel;
class QPushButton;

class selectLanguage : public QDialog {
    Q_OBJECT
public:
    // iniPath: the Main.ini of the data folder.
    explicit selectLanguage(const std::string& iniPath, QWidget* parent = nullptr);

    void OnBnClickedSave();

    QComboBox* m_cmbLanguage = nullptr;

private:
    void OnInitDialog();

    std::string m_strIniPath;
    QLabel* m_pLabel = nullptr;
    QPushButton* m_pSave = nullptr;
    QPushButton* m_pCancel = nullptr;
};
