// The upload settings dialog on a settings file of a temporary folder: opening, host change,
// the lock of the server fields, Save's write order and skip rules, Exit.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "app/Language.h"
#include "platform/Profile.h"
#include "resources/resource.h"
#include "settings/CUpload.h"
#include "support/TempDir.h"
#include "ui/ViewTestSupport.h"

namespace {

template <class T>
T* Find(QWidget* dlg, const char* name)
{
    T* w = dlg->findChild<T*>(QLatin1String(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

class UploadTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(LoadTestLanguage(0)); }
    std::string Ini() const { return m_dir.File("Main.ini"); }

    QLineEdit* Edit(CUpload& d, const char* name) { return Find<QLineEdit>(&d, name); }
    QComboBox* Combo(CUpload& d, const char* name) { return Find<QComboBox>(&d, name); }
    // Whether each of the seven editable controls is enabled: server, type, port, upload type,
    // ID, password, auto send.
    std::vector<bool> Enabled(CUpload& d)
    {
        std::vector<bool> out;
        for (const char* name :
             {QV_ID_NAME(IDC_UPLOAD_SERVER), QV_ID_NAME(IDC_UPLOAD_TYPE), QV_ID_NAME(IDC_UPLOAD_PORT),
              QV_ID_NAME(IDC_UPLOAD_UPLOAD_TYPE), QV_ID_NAME(IDC_UPLOAD_USER_ID), QV_ID_NAME(IDC_UPLOAD_PASSWORD),
              QV_ID_NAME(IDC_UPLOAD_AUTO_SEND)})
            out.push_back(Find<QWidget>(&d, name)->isEnabled());
        return out;
    }
    void SelectHost(CUpload& d, int index)
    {
        QComboBox* host = Combo(d, QV_ID_NAME(IDC_UPLOAD_HOST));
        host->setCurrentIndex(index);
        emit host->activated(index);
    }

    TempDir m_dir;
};

}  // namespace

TEST_F(UploadTest, EmptyFileShowsTheCustomEntryAndSaveWritesItsKeys)
{
    CUpload dlg(m_dir.Path(), nullptr);
    EXPECT_EQ(dlg.IniPath(), Ini());
    dlg.show();  // no file at all reads as empty values

    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Upload"));
    EXPECT_EQ(Find<QLabel>(&dlg, QV_ID_NAME(IDC_UPLOAD_HOST_LABEL))->text(), QStringLiteral("Please Visit:"));
    EXPECT_EQ(Find<QLabel>(&dlg, QV_ID_NAME(IDC_UPLOAD_PASSWORD_LABEL))->text(), QStringLiteral("Password:"));
    EXPECT_EQ(Find<QCheckBox>(&dlg, QV_ID_NAME(IDC_UPLOAD_AUTO_SEND))->text(), QStringLiteral("Auto Send"));
    EXPECT_EQ(Find<QPushButton>(&dlg, QV_ID_NAME(IDC_UPLOAD_SAVE))->text(), QStringLiteral("Save"));
    EXPECT_EQ(Find<QPushButton>(&dlg, QV_ID_NAME(IDC_UPLOAD_EXIT))->text(), QStringLiteral("Exit"));

    QComboBox* host = Combo(dlg, QV_ID_NAME(IDC_UPLOAD_HOST));
    ASSERT_EQ(host->count(), 3);
    EXPECT_EQ(host->currentIndex(), 2);
    EXPECT_EQ(host->currentText(), QLatin1String(HOST_ENTRY_CUSTOM));
    EXPECT_EQ(Combo(dlg, QV_ID_NAME(IDC_UPLOAD_TYPE))->count(), 3);
    EXPECT_EQ(Combo(dlg, QV_ID_NAME(IDC_UPLOAD_TYPE))->currentIndex(), -1);
    EXPECT_EQ(Combo(dlg, QV_ID_NAME(IDC_UPLOAD_UPLOAD_TYPE))->currentIndex(), -1);
    for (const char* name : {QV_ID_NAME(IDC_UPLOAD_SERVER), QV_ID_NAME(IDC_UPLOAD_PORT), QV_ID_NAME(IDC_UPLOAD_USER_ID),
                             QV_ID_NAME(IDC_UPLOAD_PASSWORD)})
        EXPECT_TRUE(Edit(dlg, name)->text().isEmpty()) << name;
    EXPECT_FALSE(dlg.m_chkAutoSend->isChecked());
    EXPECT_EQ(Enabled(dlg), std::vector<bool>(7, true));
    EXPECT_EQ(Edit(dlg, QV_ID_NAME(IDC_UPLOAD_PASSWORD))->echoMode(), QLineEdit::Password);

    Find<QPushButton>(&dlg, QV_ID_NAME(IDC_UPLOAD_SAVE))->click();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(dlg.isVisible());
    const std::string custom = HOST_ENTRY_CUSTOM;
    EXPECT_EQ(ReadFile(Ini()),
              "[Web]\nWeb=" + custom + "\n[" + custom + "]\nServer=\nPort=\nID=\nPassword=\nAutoSend=0\n");
}

TEST_F(UploadTest, OnlyLowerCaseTrueLocksTheServerFields)
{
    const std::string h1 = HOST_ENTRY_1, h2 = HOST_ENTRY_2;
    WriteFile(Ini(), "[Web]\nWeb=" + h1 + "\n[" + h1 + "]\nServer=one.example\nReadOnly=True\n[" + h2 +
                         "]\nServer=two.example\nType=PHP\nPort=8080\nUploadType=Default\n"
                         "ID=me\nPassword=p w\nAutoSend=1\nReadOnly=true\n");
    CUpload dlg(m_dir.Path(), nullptr);
    dlg.show();
    EXPECT_EQ(Combo(dlg, QV_ID_NAME(IDC_UPLOAD_HOST))->currentIndex(), 0);
    EXPECT_EQ(Edit(dlg, QV_ID_NAME(IDC_UPLOAD_SERVER))->text(), QStringLiteral("one.example"));
    EXPECT_EQ(Enabled(dlg), std::vector<bool>(7, true));  // "True" is not "true"

    SelectHost(dlg, 1);
    EXPECT_EQ(Enabled(dlg), std::vector<bool>({false, false, false, false, true, true, true}));
    EXPECT_TRUE(Combo(dlg, QV_ID_NAME(IDC_UPLOAD_HOST))->isEnabled());
    EXPECT_EQ(Edit(dlg, QV_ID_NAME(IDC_UPLOAD_SERVER))->text(), QStringLiteral("two.example"));
    EXPECT_EQ(Combo(dlg, QV_ID_NAME(IDC_UPLOAD_TYPE))->currentIndex(), 2);
    EXPECT_EQ(Edit(dlg, QV_ID_NAME(IDC_UPLOAD_PORT))->text(), QStringLiteral("8080"));
    EXPECT_EQ(Combo(dlg, QV_ID_NAME(IDC_UPLOAD_UPLOAD_TYPE))->currentIndex(), 0);
    EXPECT_EQ(Edit(dlg, QV_ID_NAME(IDC_UPLOAD_USER_ID))->text(), QStringLiteral("me"));
    EXPECT_EQ(Edit(dlg, QV_ID_NAME(IDC_UPLOAD_PASSWORD))->text(), QStringLiteral("p w"));
    EXPECT_TRUE(dlg.m_chkAutoSend->isChecked());
    EXPECT_EQ(dlg.m_strHost, QString::fromLatin1(HOST_ENTRY_1));  // only Save changes it

    SelectHost(dlg, 0);
    EXPECT_EQ(Enabled(dlg), std::vector<bool>(7, true));
    EXPECT_EQ(Combo(dlg, QV_ID_NAME(IDC_UPLOAD_TYPE))->currentIndex(), -1);
    EXPECT_FALSE(dlg.m_chkAutoSend->isChecked());

    // The custom entry has no section: everything empty and unlocked again.
    SelectHost(dlg, 1);
    SelectHost(dlg, 2);
    EXPECT_EQ(Enabled(dlg), std::vector<bool>(7, true));
    EXPECT_TRUE(Edit(dlg, QV_ID_NAME(IDC_UPLOAD_SERVER))->text().isEmpty());

    // Exit writes nothing.
    const std::string before = ReadFile(Ini());
    Find<QPushButton>(&dlg, QV_ID_NAME(IDC_UPLOAD_EXIT))->click();
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(ReadFile(Ini()), before);
}

TEST_F(UploadTest, UnknownTypeShowsNothingAndSaveKeepsTheStoredOne)
{
    const std::string h2 = HOST_ENTRY_2;
    WriteFile(Ini(), "[WEB]\nweb=" + h2 + "\n[" + h2 + "]\nServer=s\nType=jsp\nUploadType=Customize\nAutoSend=yes\n");
    CUpload dlg(m_dir.Path(), nullptr);
    dlg.show();
    EXPECT_EQ(Combo(dlg, QV_ID_NAME(IDC_UPLOAD_HOST))->currentIndex(), 1);
    EXPECT_EQ(Combo(dlg, QV_ID_NAME(IDC_UPLOAD_TYPE))->currentIndex(), -1);
    EXPECT_EQ(Combo(dlg, QV_ID_NAME(IDC_UPLOAD_UPLOAD_TYPE))->currentIndex(), 1);
    EXPECT_FALSE(dlg.m_chkAutoSend->isChecked());  // only "1" ticks it

    Edit(dlg, QV_ID_NAME(IDC_UPLOAD_PORT))->setText(QStringLiteral("80a"));  // stored as typed
    Edit(dlg, QV_ID_NAME(IDC_UPLOAD_PASSWORD))->setText(QStringLiteral("sécret"));
    dlg.m_chkAutoSend->setChecked(true);
    Find<QPushButton>(&dlg, QV_ID_NAME(IDC_UPLOAD_SAVE))->click();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(GetPrivateProfileString(h2, "Type", "", Ini()), "jsp");
    EXPECT_EQ(GetPrivateProfileString(h2, "UploadType", "", Ini()), "Customize");
    EXPECT_EQ(GetPrivateProfileString(h2, "Port", "", Ini()), "80a");
    EXPECT_EQ(GetPrivateProfileString(h2, "Password", "", Ini()), "sécret");
    EXPECT_EQ(GetPrivateProfileString(h2, "AutoSend", "", Ini()), "1");
    EXPECT_EQ(GetPrivateProfileString("Web", "Web", "", Ini()), h2);

    // A type chosen in the list is written; the next showing reads the file again.
    dlg.show();
    EXPECT_EQ(dlg.m_strPort, QStringLiteral("80a"));
    QComboBox* type = Combo(dlg, QV_ID_NAME(IDC_UPLOAD_TYPE));
    type->setCurrentIndex(1);
    SelectHost(dlg, 0);  // moves to an entry without a section: the type is read as none
    EXPECT_EQ(type->currentIndex(), -1);
    type->setCurrentIndex(1);
    Find<QPushButton>(&dlg, QV_ID_NAME(IDC_UPLOAD_SAVE))->click();
    EXPECT_EQ(GetPrivateProfileString("Web", "Web", "", Ini()), HOST_ENTRY_1);
    EXPECT_EQ(GetPrivateProfileString(HOST_ENTRY_1, "Type", "", Ini()), "ASP");
    EXPECT_EQ(GetPrivateProfileString(HOST_ENTRY_1, "UploadType", "", Ini()), "");
    EXPECT_EQ(GetPrivateProfileString(h2, "Port", "", Ini()), "80a");  // the other entry kept
}
