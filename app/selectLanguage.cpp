#include "app/selectLanguage.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "app/Language.h"
#include "platform/Profile.h"
#include "platform/StringTable.h"
#include "resources/resource.h"
#include "ui/DialogUnits.h"

selectLanguage::selectLanguage(const std::string& iniPath, QWidget* parent) : QDialog(parent), m_strIniPath(iniPath)
{
    setObjectName(QStringLiteral(QV_ID_NAME(IDD_SELECTLANGUAGE)));
    setFixedSize(DluSize(205, 79));
    setFont(DialogFont());

    m_pLabel = new QLabel(this);
    m_pLabel->setObjectName(QStringLiteral(QV_ID_NAME(IDC_LANGUAGE_LABEL)));
    m_pLabel->setGeometry(DluRect(8, 16, 48, 8));

    m_cmbLanguage = new QComboBox(this);
    m_cmbLanguage->setObjectName(QStringLiteral(QV_ID_NAME(IDC_LANGUAGE_LIST)));
    m_cmbLanguage->setGeometry(DluRect(58, 14, 137, 12));

    m_pSave = new QPushButton(this);
    m_pSave->setObjectName(QStringLiteral(QV_ID_NAME(IDC_LANGUAGE_SAVE)));
    m_pSave->setGeometry(DluRect(87, 54, 50, 14));
    m_pSave->setDefault(true);

    m_pCancel = new QPushButton(this);
    m_pCancel->setObjectName(QStringLiteral(QV_ID_NAME(IDC_LANGUAGE_CANCEL)));
    m_pCancel->setGeometry(DluRect(141, 54, 50, 14));

    connect(m_pSave, &QPushButton::clicked, this, &selectLanguage::OnBnClickedSave);
    connect(m_pCancel, &QPushButton::clicked, this, &QDialog::reject);

    OnInitDialog();
}

void selectLanguage::OnInitDialog()
{
    const QString title = QString::fromStdString(LoadString(IDS_LANGUAGE));
    setWindowTitle(title);
    m_pLabel->setText(title + QLatin1Char(':'));
    m_pSave->setText(QString::fromStdString(LoadString(IDS_SAVE)));
    m_pCancel->setText(QString::fromStdString(LoadString(IDS_CANCEL)));
    for (const char* word : kLanguageWords) m_cmbLanguage->addItem(QString::fromLatin1(word));
    // The stored word is preselected; anything else leaves the list without a selection.
    m_cmbLanguage->setCurrentIndex(LanguageIndex(GetPrivateProfileString("Language", "Language", "", m_strIniPath)));
}

void selectLanguage::OnBnClickedSave()
{
    // Only one of the five words is ever written; the dialog closes with OK in every case.
    const std::string word = m_cmbLanguage->currentText().toStdString();
    if (LanguageIndex(word) >= 0) WritePrivateProfileString("Language", "Language", word, m_strIniPath);
    accept();
}
