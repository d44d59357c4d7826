// The very first start under a user's locale, given on the command line (first_start_tests
// de_DE): the language question is asked in the locale's language with it preselected (English for
// a locale of none of the five), and a database that cannot be used is reported in the language
// the program is about to use. The locale is compiled and made the user's before the application
// object is built, as a login does; CTest runs the binary once per locale.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLockFile>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "app/CQuorvantisApp.h"
#include "app/Language.h"
#include "device/CDeviceState.h"
#include "platform/MessageBox.h"
#include "platform/Profile.h"
#include "platform/StringTable.h"
#include "resources/resource.h"
#include "simulator/VT583Simulator.h"
#include "support/TempDir.h"
#include "support/TestApplication.h"
#include "support/UserLocale.h"
#include "ui/ModalHelper.h"

namespace {

// The locale of this run and the language index it must give.
struct UserLocaleCase {
    const char* locale;
    int language;
};
constexpr UserLocaleCase kCases[] = {{"de_DE", 2}, {"fr_FR", 4}, {"pt_PT", 3}, {"pt_BR", 3},
                                     {"zh_CN", 1}, {"en_US", 0}, {"es_ES", 0}, {"C", 0}};
std::string g_locale;

int ExpectedLanguage()
{
    for (const UserLocaleCase& c : kCases)
        if (g_locale == c.locale) return c.language;
    return -1;
}

StringTable Texts(int language) { return SourceStrings(kLanguageCodes[language]); }

class UserEnvironment : public ::testing::Environment {
public:
    UserEnvironment(int& argc, char** argv) : m_argc(argc), m_argv(argv) {}

    void SetUp() override
    {
        ASSERT_GE(ExpectedLanguage(), 0) << "no expectation for the locale \"" << g_locale << "\"";
        std::string error;
        ASSERT_NE(MakeUserLocale(g_locale, m_dir.Path(), error), "") << error;
        m_app = MakeTestApplication(m_argc, m_argv);
    }

    void TearDown() override { m_app.reset(); }

private:
    int& m_argc;
    char** m_argv;
    TempDir m_dir;
    std::unique_ptr<QuorvantisApplication> m_app;
};

// What the language question showed, and its answer.
struct Question {
    bool asked = false;
    std::string title, label, save, cancel, preselected;
};

void AnswerQuestion(Question& seen, const char* button)
{
    WhenModal(QStringLiteral("IDD_SELECTLANGUAGE"), [&seen, button](QWidget* dlg) {
        seen.asked = true;
        seen.title = dlg->windowTitle().toStdString();
        seen.label = dlg->findChild<QLabel*>(QStringLiteral("IDC_LANGUAGE_LABEL"))->text().toStdString();
        seen.save = dlg->findChild<QPushButton*>(QStringLiteral("IDC_LANGUAGE_SAVE"))->text().toStdString();
        seen.cancel = dlg->findChild<QPushButton*>(QStringLiteral("IDC_LANGUAGE_CANCEL"))->text().toStdString();
        seen.preselected = dlg->findChild<QComboBox*>(QStringLiteral("IDC_LANGUAGE_LIST"))->currentText().toStdString();
        dlg->findChild<QPushButton*>(QLatin1String(button))->click();
    });
}

// What a message box of the real service showed; answered with its OK button.
struct Box {
    int count = 0;
    std::string text, ok;
};

void AnswerBox(Box& seen)
{
    WhenModal(QStringLiteral("MessageBox"), [&seen](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ++seen.count;
        seen.text = box->text().toStdString();
        seen.ok = box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->text().toStdString() : "";
        box->button(QMessageBox::Ok)->click();
    });
}

// A start of the program on fresh data and runtime folders, without a recorder.
class FirstStart : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("QUORVANTIS_DATA_DIR", m_data.Path().c_str(), 1);
        setenv("XDG_RUNTIME_DIR", m_runtime.Path().c_str(), 1);
        static auto* transport = new sim::SimulatorTransport;  // outlives theDeviceState's link
        theDeviceState.m_Link.SetTransport(transport);
        theDeviceState.m_bQuit = 0;  // a start before in this process was closed
        theDeviceState.Reset();
        theApp.~CQuorvantisApp();
        ::new (&theApp) CQuorvantisApp;
    }

    void TearDown() override
    {
        delete TestScopeSlot().data();  // watchers of a dialog that never came
        theApp.ExitInstance();
        theApp.m_hMutex.reset();
        theApp.m_hDataLock.reset();
    }

    std::string Ini() const { return m_data.File("Main.ini"); }

    // Starts the program on a database without tables with the real message-box service; the
    // box is answered OK, a language question Cancel.
    Box StartOnUnusableDatabase(Question& seen)
    {
        WriteFile(m_data.File("Quorvantis.db"), "");
        Box box;
        AnswerBox(box);
        AnswerQuestion(seen, "IDC_LANGUAGE_CANCEL");
        EXPECT_TRUE(theApp.InitInstance(*qApp));
        return box;
    }

    // One report of the database, in the texts of language, Qt's OK button included.
    void ExpectReportIn(const Box& box, int language)
    {
        ASSERT_EQ(box.count, 1);
        EXPECT_EQ(box.text, Texts(language).Get(IDS_DB_NO_TABLES) + "\n" + m_data.File("Quorvantis.db"));
        EXPECT_EQ(box.ok, language == 1 ? "确定" : "OK");
    }

    TempDir m_data;
    TempDir m_runtime;
};

}  // namespace

TEST_F(FirstStart, AsksInTheUsersLanguageWithItPreselected)
{
    const int user = ExpectedLanguage();
    EXPECT_EQ(CQuorvantisApp::UserLanguage(), user);
    const StringTable texts = Texts(user);
    ScopedMessageBoxRecorder boxes;
    Question seen;
    AnswerQuestion(seen, "IDC_LANGUAGE_SAVE");
    ASSERT_TRUE(theApp.InitInstance(*qApp));

    ASSERT_TRUE(seen.asked);
    EXPECT_EQ(seen.title, texts.Get(IDS_LANGUAGE));
    EXPECT_EQ(seen.label, texts.Get(IDS_LANGUAGE) + ":");
    EXPECT_EQ(seen.save, texts.Get(IDS_SAVE));
    EXPECT_EQ(seen.cancel, texts.Get(IDS_CANCEL));
    EXPECT_EQ(seen.preselected, kLanguageWords[user]);
    if (user != 0) {
        EXPECT_NE(seen.save, "Save");
    }
    // Save of the preselected word: the program runs in it and keeps it.
    EXPECT_EQ(theApp.m_nLanguage, user);
    EXPECT_EQ(GetPrivateProfileString("Language", "Language", "", Ini()), kLanguageWords[user]);
    EXPECT_EQ(LoadString(IDS_LANGUAGE), texts.Get(IDS_LANGUAGE));
    EXPECT_EQ(boxes->Count(), 0u);
}

TEST_F(FirstStart, DatabaseFailureInTheLanguageAboutToBeUsed)
{
    // A database without tables: the first start tells it in the user's language, with Qt's own
    // button in it too, before it asks; Cancel keeps the user's language.
    const int user = ExpectedLanguage();
    Question seen;
    ExpectReportIn(StartOnUnusableDatabase(seen), user);
    EXPECT_TRUE(seen.asked);
    EXPECT_EQ(theApp.m_nLanguage, user);
    EXPECT_EQ(GetPrivateProfileString("Language", "Language", "", Ini()), kLanguageWords[user]);
}

TEST_F(FirstStart, LaterStartsReportInTheStoredLanguage)
{
    // Main.ini names another language than the user's: the report comes in that one, unasked.
    const int stored = ExpectedLanguage() == 1 ? 2 : 1;
    WriteFile(Ini(), std::string("[Language]\nLanguage=") + kLanguageWords[stored] + "\n");
    Question seen;
    ExpectReportIn(StartOnUnusableDatabase(seen), stored);
    EXPECT_FALSE(seen.asked);
    EXPECT_EQ(theApp.m_nLanguage, stored);
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s LOCALE (de_DE, fr_FR, pt_PT, zh_CN, ..., C)\n", argv[0]);
        return 2;
    }
    g_locale = argv[1];
    ::testing::AddGlobalTestEnvironment(new UserEnvironment(argc, argv));
    return RUN_ALL_TESTS();
}
