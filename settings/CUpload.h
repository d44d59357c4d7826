#pragma once
// The upload-service settings: the host entry in use and, per host entry, server, script type,
// port, upload type, ID, password and automatic sending, kept in the Main.ini of the program's
// folder (section Web, and one section per host entry named after it).
#include <QDialog>
#include <QString>

#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The three host entries at fixed list positions: two preset upload services and a placeholder
// for a customised server. Each is also the name of its section in the file.
inline constexpr const char* HOST_ENTRY_1 = "upload.quorvantis-cloud.com";
inline constexpr const char* HOST_ENTRY_2 = "data.vt583-online.net";
inline constexpr const char* HOST_ENTRY_CUSTOM = "www.yourserver.com";

class CUpload : public QDialog {
    Q_OBJECT
public:
    // The settings file lies in theDeviceState's m_strAppDir as it is now.
    explicit CUpload(QWidget* parent = nullptr);
    // The same with a given folder (tests).
    CUpload(const std::string& iniDir, QWidget* parent);

    // Each showing re-reads the file.
    void setVisible(bool visible) override;

    void OnInitDialog();
    void OnCbnSelchangeHost();
    void OnBnClickedSave();
    void OnBnClickedExit();

    // Copies the members to the controls, or (save) the edits back into the members.
    void DoDataExchange(bool save);

    std::string IniPath() const { return m_strUploadIniDir + "/Main.ini"; }

    QString m_strLabels[11];
    QComboBox* m_cmbType = nullptr;
    QComboBox* m_cmbUploadType = nullptr;
    QString m_strUserID;
    QString m_strPassword;
    QString m_strPort;
    QString m_strServer;
    QString m_strHost;
    QCheckBox* m_chkAutoSend = nullptr;
    std::string m_strUploadIniDir;
    QComboBox* m_cmbHost = nullptr;

private:
    void CreateControls();
    // Fills the fields from one host entry's section.
    void ReadHostSection(const QString& section);
    static QString HostEntryAt(int position);

    QLabel* m_pLabels[7] = {};  // 1121 .. 1127
    QLineEdit* m_editServer = nullptr;
    QLineEdit* m_editPort = nullptr;
    QLineEdit* m_editUserID = nullptr;
    QLineEdit* m_editPassword = nullptr;
    QPushButton* m_btnSave = nullptr;
    QPushButton* m_btnExit = nullptr;
};
