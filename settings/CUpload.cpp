#include "settings/CUpload.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "device/CDeviceState.h"
#include "platform/Profile.h"
#include "platform/StringTable.h"
#include "resources/resource.h"
#include "ui/DialogUnits.h"

namespace {

// Texts of m_strLabels: the labels 1121 .. 1127 and the check box 1128, Save, Exit, the caption.
constexpr int kLabelIds[11] = {IDS_PLEASE_VISIT, IDS_SERVER,    IDS_TYPE, IDS_PORT, IDS_UPLOAD_TYPE, IDS_USER_ID,
                               IDS_PASSWORD,     IDS_AUTO_SEND, IDS_SAVE, IDS_EXIT, IDS_UPLOAD};

constexpr const char* kTypes[3] = {"JSP", "ASP", "PHP"};
constexpr const char* kUploadTypes[2] = {"Default", "Customize"};

// The position of a stored text among a list's fixed entries, in exact case; -1 for none of them.
template <std::size_t N>
int EntryIndex(const std::string& text, const char* const (&entries)[N])
{
    for (std::size_t i = 0; i < N; ++i)
        if (text == entries[i]) return static_cast<int>(i);
    return -1;
}

// Template rows (dialog units): label column, field column, first row, row pitch.
constexpr int kLabelX = 10, kLabelW = 86, kFieldX = 98, kRowY = 12, kRowPitch = 20;

QRect FieldRect(int row, int width) { return DluRect(kFieldX, kRowY + row * kRowPitch, width, 14); }

std::string Read(const std::string& section, const char* key, const std::string& path)
{
    return GetPrivateProfileString(section, key, "", path);
}

}  // namespace

CUpload::CUpload(QWidget* parent) : CUpload(theDeviceState.m_strAppDir, parent) {}

CUpload::CUpload(const std::string& iniDir, QWidget* parent) : QDialog(parent), m_strUploadIniDir(iniDir)
{
    setObjectName(QStringLiteral(QV_ID_NAME(IDD_UPLOAD)));
    setFont(DialogFont());
    setFixedSize(DluSize(316, 193));
    CreateControls();
}

void CUpload::CreateControls()
{
    static const char* const labelNames[7] = {
        QV_ID_NAME(IDC_UPLOAD_HOST_LABEL),        QV_ID_NAME(IDC_UPLOAD_SERVER_LABEL),
        QV_ID_NAME(IDC_UPLOAD_TYPE_LABEL),        QV_ID_NAME(IDC_UPLOAD_PORT_LABEL),
        QV_ID_NAME(IDC_UPLOAD_UPLOAD_TYPE_LABEL), QV_ID_NAME(IDC_UPLOAD_USER_ID_LABEL),
        QV_ID_NAME(IDC_UPLOAD_PASSWORD_LABEL)};
    for (int i = 0; i < 7; ++i) {
        m_pLabels[i] = new QLabel(this);
        m_pLabels[i]->setObjectName(QLatin1String(labelNames[i]));
        m_pLabels[i]->setTextFormat(Qt::PlainText);
        m_pLabels[i]->setGeometry(DluRect(kLabelX, kRowY + i * kRowPitch + 2, kLabelW, 10));
    }

    auto makeCombo = [this](const char* name, const QRect& rect) {
        auto* combo = new QComboBox(this);
        combo->setObjectName(QLatin1String(name));
        combo->setGeometry(rect);
        return combo;
    };
    auto makeEdit = [this](const char* name, const QRect& rect) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(name));
        edit->setGeometry(rect);
        return edit;
    };
    m_cmbHost = makeCombo(QV_ID_NAME(IDC_UPLOAD_HOST), FieldRect(0, 208));
    m_editServer = makeEdit(QV_ID_NAME(IDC_UPLOAD_SERVER), FieldRect(1, 208));
    m_cmbType = makeCombo(QV_ID_NAME(IDC_UPLOAD_TYPE), FieldRect(2, 80));
    m_editPort = makeEdit(QV_ID_NAME(IDC_UPLOAD_PORT), FieldRect(3, 80));
    m_cmbUploadType = makeCombo(QV_ID_NAME(IDC_UPLOAD_UPLOAD_TYPE), FieldRect(4, 80));
    m_editUserID = makeEdit(QV_ID_NAME(IDC_UPLOAD_USER_ID), FieldRect(5, 130));
    m_editPassword = makeEdit(QV_ID_NAME(IDC_UPLOAD_PASSWORD), FieldRect(6, 130));
    m_editPassword->setEchoMode(QLineEdit::Password);

    m_chkAutoSend = new QCheckBox(this);
    m_chkAutoSend->setObjectName(QStringLiteral(QV_ID_NAME(IDC_UPLOAD_AUTO_SEND)));
    m_chkAutoSend->setGeometry(DluRect(kFieldX, kRowY + 7 * kRowPitch, 130, 12));

    m_btnSave = new QPushButton(this);
    m_btnSave->setObjectName(QStringLiteral(QV_ID_NAME(IDC_UPLOAD_SAVE)));
    m_btnSave->setGeometry(DluRect(190, 170, 55, 14));
    m_btnExit = new QPushButton(this);
    m_btnExit->setObjectName(QStringLiteral(QV_ID_NAME(IDC_UPLOAD_EXIT)));
    m_btnExit->setGeometry(DluRect(251, 170, 55, 14));
    // Enter in a field neither saves nor leaves; only the buttons do.
    m_btnSave->setAutoDefault(false);
    m_btnExit->setAutoDefault(false);

    connect(m_btnSave, &QPushButton::clicked, this, &CUpload::OnBnClickedSave);
    connect(m_btnExit, &QPushButton::clicked, this, &CUpload::OnBnClickedExit);
    connect(m_cmbHost, &QComboBox::activated, this, &CUpload::OnCbnSelchangeHost);
}

void CUpload::setVisible(bool visible)
{
    if (visible && !isVisible()) OnInitDialog();
    QDialog::setVisible(visible);
}

void CUpload::DoDataExchange(bool save)
{
    if (save) {
        m_strServer = m_editServer->text();
        m_strPort = m_editPort->text();
        m_strUserID = m_editUserID->text();
        m_strPassword = m_editPassword->text();
    } else {
        m_editServer->setText(m_strServer);
        m_editPort->setText(m_strPort);
        m_editUserID->setText(m_strUserID);
        m_editPassword->setText(m_strPassword);
    }
}

QString CUpload::HostEntryAt(int position)
{
    if (position == 0) return QString::fromUtf8(HOST_ENTRY_1);
    if (position == 1) return QString::fromUtf8(HOST_ENTRY_2);
    return QString::fromUtf8(HOST_ENTRY_CUSTOM);
}

void CUpload::OnInitDialog()
{
    const std::string path = IniPath();
    m_strHost = QString::fromStdString(Read("Web", "web", path));

    for (int i = 0; i < 11; ++i) m_strLabels[i] = QString::fromStdString(LoadString(kLabelIds[i]));
    setWindowTitle(m_strLabels[10]);
    for (int i = 0; i < 7; ++i) m_pLabels[i]->setText(m_strLabels[i]);
    m_chkAutoSend->setText(m_strLabels[7]);
    m_btnSave->setText(m_strLabels[8]);
    m_btnExit->setText(m_strLabels[9]);

    // The lists are filled afresh at each showing.
    m_cmbHost->clear();
    for (int i = 0; i < 3; ++i) m_cmbHost->addItem(HostEntryAt(i));
    if (m_strHost == QLatin1String(HOST_ENTRY_1))
        m_cmbHost->setCurrentIndex(0);
    else if (m_strHost == QLatin1String(HOST_ENTRY_2))
        m_cmbHost->setCurrentIndex(1);
    else
        m_cmbHost->setCurrentIndex(2);

    m_cmbType->clear();
    for (const char* type : kTypes) m_cmbType->addItem(QLatin1String(type));
    m_cmbUploadType->clear();
    for (const char* type : kUploadTypes) m_cmbUploadType->addItem(QLatin1String(type));

    // An empty or unknown entry names a section that holds nothing: every field comes up empty.
    ReadHostSection(m_strHost);
}

void CUpload::ReadHostSection(const QString& sectionName)
{
    const std::string path = IniPath();
    const std::string section = sectionName.toStdString();

    const bool locked = Read(section, "ReadOnly", path) == "true";
    for (QWidget* w : {static_cast<QWidget*>(m_editServer), static_cast<QWidget*>(m_cmbType),
                       static_cast<QWidget*>(m_editPort), static_cast<QWidget*>(m_cmbUploadType)})
        w->setEnabled(!locked);

    m_strServer = QString::fromStdString(Read(section, "Server", path));

    m_cmbType->setCurrentIndex(EntryIndex(Read(section, "Type", path), kTypes));

    m_strPort = QString::fromStdString(Read(section, "Port", path));

    m_cmbUploadType->setCurrentIndex(EntryIndex(Read(section, "UploadType", path), kUploadTypes));

    m_strUserID = QString::fromStdString(Read(section, "ID", path));
    m_strPassword = QString::fromStdString(Read(section, "Password", path));
    m_chkAutoSend->setChecked(Read(section, "AutoSend", path) == "1");

    DoDataExchange(false);
}

void CUpload::OnCbnSelchangeHost()
{
    // m_strHost stays the entry in use until Save.
    ReadHostSection(HostEntryAt(m_cmbHost->currentIndex()));
}

void CUpload::OnBnClickedSave()
{
    DoDataExchange(true);
    m_strHost = HostEntryAt(m_cmbHost->currentIndex());

    const std::string path = IniPath();
    const std::string section = m_strHost.toStdString();
    WritePrivateProfileString("Web", "Web", section, path);
    WritePrivateProfileString(section, "Server", m_strServer.toStdString(), path);
    if (m_cmbType->currentIndex() >= 0 && m_cmbType->currentIndex() < 3)
        WritePrivateProfileString(section, "Type", kTypes[m_cmbType->currentIndex()], path);
    WritePrivateProfileString(section, "Port", m_strPort.toStdString(), path);
    if (m_cmbUploadType->currentIndex() >= 0 && m_cmbUploadType->currentIndex() < 2)
        WritePrivateProfileString(section, "UploadType", kUploadTypes[m_cmbUploadType->currentIndex()], path);
    WritePrivateProfileString(section, "ID", m_strUserID.toStdString(), path);
    WritePrivateProfileString(section, "Password", m_strPassword.toStdString(), path);
    WritePrivateProfileString(section, "AutoSend", m_chkAutoSend->isChecked() ? "1" : "0", path);
    accept();
}

void CUpload::OnBnClickedExit() { reject(); }
