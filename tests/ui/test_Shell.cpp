// Start-up, language, main window, close sequence, About and the message-box hand-over.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/CAboutDlg.h"
#include "app/CMainFrame.h"
#include "app/CQuorvantisApp.h"
#include "app/CQuorvantisView.h"
#include "app/CloseDialo.h"
#include "app/Language.h"
#include "app/selectLanguage.h"
#include "device/CDeviceState.h"
#include "platform/InstanceLock.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/StringTable.h"
#include "resources/resource.h"
#include "support/TempDir.h"
#include "ui/DialogUnits.h"
#include "ui/ModalHelper.h"
#include "ui/QtMessageBoxService.h"
#include "ui/ViewTestSupport.h"

namespace {

void LoadEnglish()
{
    QFile file(QStringLiteral(":/strings/en.txt"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    ASSERT_TRUE(AppStrings().LoadFromText(file.readAll().toStdString()));
}

void Click(QWidget* widget, QPoint point)
{
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(point), widget->mapToGlobal(QPointF(point)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(point), widget->mapToGlobal(QPointF(point)), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

// Every test runs with its own data and runtime folders and a message-box recorder.
class ShellTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("QUORVANTIS_DATA_DIR", m_data.Path().c_str());
        qputenv("XDG_RUNTIME_DIR", m_runtime.Path().c_str());
        theDeviceState.m_bQuit = 0;
        theDeviceState.m_bRestart = 0;
        LoadEnglish();
    }

    std::string Ini() const { return m_data.File("Main.ini"); }

    TempDir m_data;
    TempDir m_runtime;
    ScopedMessageBoxRecorder m_boxes;
};

}  // namespace

TEST_F(ShellTest, FirstStartWritesTheUsersLanguageThenAsks)
{
    // Cancel keeps the word written before the dialog opened: the user's language.
    for (int user : {0, 2}) {
        WriteFile(Ini(), "[About]\nWeb=https://example.org/\n");
        CQuorvantisApp app;
        std::string seenBeforeAnswer;
        QString preselected;
        WhenModal(QStringLiteral("IDD_SELECTLANGUAGE"), [&](QWidget* dlg) {
            seenBeforeAnswer = GetPrivateProfileString("Language", "Language", "", Ini());
            preselected = dlg->findChild<QComboBox*>(QStringLiteral("IDC_LANGUAGE_LIST"))->currentText();
            dlg->findChild<QPushButton*>(QStringLiteral("IDC_LANGUAGE_CANCEL"))->click();
        });
        app.FixLanguage(Ini(), user);
        EXPECT_EQ(seenBeforeAnswer, kLanguageWords[user]);
        EXPECT_EQ(preselected, QLatin1String(kLanguageWords[user]));
        EXPECT_EQ(app.m_nLanguage, user);
        EXPECT_EQ(GetPrivateProfileString("Language", "Language", "", Ini()), kLanguageWords[user]);
        EXPECT_EQ(GetPrivateProfileString("About", "Web", "", Ini()), "https://example.org/");
    }

    // Save of another word is read back at once.
    WriteFile(Ini(), "[About]\nWeb=https://example.org/\n");
    {
        CQuorvantisApp app;
        WhenModal(QStringLiteral("IDD_SELECTLANGUAGE"), [&](QWidget* dlg) {
            auto* list = dlg->findChild<QComboBox*>(QStringLiteral("IDC_LANGUAGE_LIST"));
            EXPECT_EQ(list->currentText(), QStringLiteral("Chinese"));
            list->setCurrentIndex(4);
            dlg->findChild<QPushButton*>(QStringLiteral("IDC_LANGUAGE_SAVE"))->click();
        });
        app.FixLanguage(Ini(), 1);
        EXPECT_EQ(app.m_nLanguage, 4);
        EXPECT_EQ(GetPrivateProfileString("Language", "Language", "", Ini()), "French");
    }
}

TEST_F(ShellTest, StoredWordsMatchExactly)
{
    // A stored word, matching or not, never opens the dialog.
    bool asked = false;
    auto fixIni = [&](const std::string& ini) {
        WriteFile(Ini(), ini);
        CQuorvantisApp app;
        auto* guard = new QTimer;
        guard->setInterval(5);
        QObject::connect(guard, &QTimer::timeout, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                asked = true;
                modal->close();
            }
        });
        guard->start();
        app.FixLanguage(Ini(), 3);
        delete guard;
        return app.m_nLanguage;
    };
    auto fix = [&](const std::string& word) { return fixIni("[Language]\nLanguage=" + word + "\n"); };
    EXPECT_EQ(fix("english"), 0);
    EXPECT_EQ(fix("English "), 0);
    EXPECT_EQ(fix("Chinese"), 1);
    EXPECT_EQ(fix("Deutsch"), 2);
    EXPECT_EQ(fix("Portuguese"), 3);
    EXPECT_EQ(fix("French"), 4);
    // Section and key names are not case-sensitive, the value is.
    EXPECT_EQ(fixIni("[LANGUAGE]\nlanguage=Deutsch\n"), 2);
    EXPECT_FALSE(asked);
}

TEST_F(ShellTest, LanguageDialogSaveAndCancel)
{
    const std::string original = "; settings\n[Language]\nLanguage=Deutsch\n[About]\nWeb=x\n";
    WriteFile(Ini(), original);
    {
        selectLanguage dlg(Ini());
        EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Language"));
        EXPECT_EQ(dlg.findChild<QLabel*>(QStringLiteral("IDC_LANGUAGE_LABEL"))->text(), QStringLiteral("Language:"));
        ASSERT_EQ(dlg.m_cmbLanguage->count(), 5);
        EXPECT_EQ(dlg.m_cmbLanguage->itemText(3), QStringLiteral("Portuguese"));
        EXPECT_EQ(dlg.m_cmbLanguage->currentIndex(), 2);  // the stored word is preselected
        dlg.m_cmbLanguage->setCurrentIndex(0);
        WhenModal(QStringLiteral("IDD_SELECTLANGUAGE"),
                  [](QWidget* w) { w->findChild<QPushButton*>(QStringLiteral("IDC_LANGUAGE_CANCEL"))->click(); });
        EXPECT_EQ(dlg.exec(), QDialog::Rejected);
        EXPECT_EQ(ReadFile(Ini()), original);  // Cancel writes nothing
    }
    {
        selectLanguage dlg(Ini());
        dlg.m_cmbLanguage->setCurrentIndex(3);
        WhenModal(QStringLiteral("IDD_SELECTLANGUAGE"),
                  [](QWidget* w) { w->findChild<QPushButton*>(QStringLiteral("IDC_LANGUAGE_SAVE"))->click(); });
        EXPECT_EQ(dlg.exec(), QDialog::Accepted);
        EXPECT_EQ(GetPrivateProfileString("Language", "Language", "", Ini()), "Portuguese");
        EXPECT_EQ(GetPrivateProfileString("About", "Web", "", Ini()), "x");
    }
    // An unknown stored word selects nothing; Save then closes with OK and writes nothing.
    const std::string unknown = "[Language]\nLanguage=Klingon\n";
    WriteFile(Ini(), unknown);
    {
        selectLanguage dlg(Ini());
        EXPECT_EQ(dlg.m_cmbLanguage->currentIndex(), -1);
        WhenModal(QStringLiteral("IDD_SELECTLANGUAGE"),
                  [](QWidget* w) { w->findChild<QPushButton*>(QStringLiteral("IDC_LANGUAGE_SAVE"))->click(); });
        EXPECT_EQ(dlg.exec(), QDialog::Accepted);
        EXPECT_EQ(ReadFile(Ini()), unknown);
    }
}

// Starts the program on a data folder from a session with the given runtime folder; true when it
// ended on its own, normally, with code 0 and without a word.
bool CopyEndsAtOnce(const std::string& data, const std::string& runtime)
{
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QUORVANTIS_DATA_DIR"), QString::fromStdString(data));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(runtime));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(QUORVANTIS_BUILD_DIR "/quorvantis"), {});
    if (!program.waitForStarted()) return false;
    // The bound only keeps a copy that stays up from hanging the test.
    if (!program.waitForFinished(static_cast<int>(kWaitBound.count()))) {
        program.kill();
        program.waitForFinished();
        return false;
    }
    return program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0 && program.readAll().isEmpty();
}

TEST_F(ShellTest, SecondInstanceEndsAtOnce)
{
    InstanceLock held;
    ASSERT_EQ(held.Take(CQuorvantisApp::SingleInstanceLockPath().toStdString()), InstanceLock::Result::Taken);
    EXPECT_TRUE(CopyEndsAtOnce(m_data.Path(), m_runtime.Path()));
    // It ended before it laid out the data folder, so it can have shown nothing.
    EXPECT_FALSE(FileExists(Ini()));
    EXPECT_FALSE(FileExists(m_data.File("Quorvantis.db")));
}

TEST_F(ShellTest, RuntimeLockFolderMustBeTheUsers)
{
    // The two variables come back as they were, whatever the outcome.
    struct Restore {
        QByteArray runtime = qgetenv("XDG_RUNTIME_DIR"), tmp = qgetenv("TMPDIR");
        bool hadTmp = qEnvironmentVariableIsSet("TMPDIR");
        ~Restore()
        {
            qputenv("XDG_RUNTIME_DIR", runtime);
            if (hadTmp)
                qputenv("TMPDIR", tmp);
            else
                qunsetenv("TMPDIR");
        }
    } restore;
    TempDir shared;
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", shared.Path().c_str());
    const std::string folder = shared.File("quorvantis-" + std::to_string(getuid()));

    // Without a runtime folder: a folder of the user's own under the temporary folder.
    EXPECT_EQ(CQuorvantisApp::SingleInstanceLockPath().toStdString(), folder + "/tickets");
    struct stat st {};
    ASSERT_EQ(lstat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A runtime folder of another user is not taken either (root can write into it).
    if (getuid() == 0) {
        ASSERT_EQ(chown(m_runtime.Path().c_str(), 65534, 65534), 0);
        qputenv("XDG_RUNTIME_DIR", m_runtime.Path().c_str());
        EXPECT_EQ(CQuorvantisApp::SingleInstanceLockPath().toStdString(), folder + "/tickets");
        qunsetenv("XDG_RUNTIME_DIR");
        // A temporary folder made first by another user, open to all: refused, no lock there.
        ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
        ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
        EXPECT_EQ(CQuorvantisApp::SingleInstanceLockPath(), QString());
        ASSERT_EQ(lstat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0777u);
    }
}

TEST_F(ShellTest, MainWindowAndCloseSequence)
{
    WriteFile(Ini(), "[Language]\nLanguage=English\n");
    // Lock files no process holds, as a power cut or a full disk leaves them, are taken over.
    WriteFile(m_runtime.File("tickets"), "");
    WriteFile(m_data.File("Quorvantis.lock"), std::string(4096, '\0'));
    ASSERT_TRUE(theApp.InitInstance(*qApp));
    CMainFrame* frame = theApp.m_pMainWnd;
    ASSERT_NE(frame, nullptr);

    // The lock is held: a second lock attempt in the same folder fails, and a copy from another
    // session (its own runtime folder) on this data folder ends at once.
    {
        InstanceLock other;
        EXPECT_EQ(other.Take(CQuorvantisApp::SingleInstanceLockPath().toStdString()), InstanceLock::Result::Held);
        EXPECT_EQ(other.Take(CQuorvantisApp::DataFolderLockPath().toStdString()), InstanceLock::Result::Held);
        TempDir otherSession;
        EXPECT_TRUE(CopyEndsAtOnce(m_data.Path(), otherSession.Path()));
    }

    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Quorvantis"));
    EXPECT_EQ(frame->minimumSize(), frame->maximumSize());
    EXPECT_EQ(frame->width(), 708);
    EXPECT_EQ(frame->height(), 522 + frame->menuBar()->sizeHint().height());
    EXPECT_FALSE(frame->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_GT(theDeviceState.m_nScreenWidth.load(), 0);
    EXPECT_GT(theDeviceState.m_nScreenHeight.load(), 0);
    EXPECT_EQ(frame->centralWidget(), frame->GetActiveView());

    // The menu in English, each command under its constant's name.
    const std::pair<const char*, const char*> items[] = {{"ID_MENU_SETUP", "Setup"},
                                                         {"ID_MENU_HISTORY", "History"},
                                                         {"ID_MENU_GRAPH", "Graph"},
                                                         {"ID_MENU_EXIT", "Exit"},
                                                         {"ID_MENU_MANAGEMENT", "Management"},
                                                         {"ID_MENU_LANGUAGE", "Language"},
                                                         {"ID_APP_ABOUT", "About Quorvantis..."}};
    for (const auto& [name, text] : items) {
        auto* action = frame->findChild<QAction*>(QLatin1String(name));
        ASSERT_NE(action, nullptr) << name;
        EXPECT_EQ(action->text().remove(QLatin1Char('&')), QLatin1String(text)) << name;
    }

    // Status pane 1: empty until the first report, then the connection state.
    auto* paneText = frame->findChild<QLabel*>(QStringLiteral("StatusPane1Text"));
    auto* paneIcon = frame->findChild<QLabel*>(QStringLiteral("StatusPane1Icon"));
    frame->SetStatusConnected();
    EXPECT_EQ(paneText->text(), QStringLiteral("Connect"));
    EXPECT_FALSE(paneIcon->pixmap().isNull());
    frame->SetStatusUnconnected();
    EXPECT_EQ(paneText->text(), QStringLiteral("Unconnect"));

    // The window's close button runs the sequence: the notice at once while the workers stop,
    // then the window closed, no restart.
    std::vector<std::string> started;
    frame->m_fnStartProcess = [&](const std::string& path) { started.push_back(path); };
    frame->m_nCloseNoticeMs = 100;
    bool noticeShown = false;
    WhenModal(QStringLiteral("IDD_CLOSEDIALO"), [&](QWidget* notice) {
        noticeShown = true;
        EXPECT_EQ(notice->size(), QSize(477, 299));
        EXPECT_EQ(theDeviceState.m_bQuit.load(), 1);
    });
    EXPECT_FALSE(frame->GetActiveView()->WorkersStopped());
    frame->close();
    EXPECT_TRUE(noticeShown);
    EXPECT_FALSE(frame->isVisible());
    EXPECT_TRUE(frame->GetActiveView()->WorkersStopped());
    EXPECT_TRUE(started.empty());
    // A second request after the sequence does nothing more.
    frame->OnClose();
    EXPECT_TRUE(started.empty());

    theApp.ExitInstance();
    theApp.m_hMutex.reset();
    theApp.m_hDataLock.reset();
    EXPECT_EQ(theApp.m_pMainWnd, nullptr);
}

TEST_F(ShellTest, LockFileThatCannotBeUsedIsReportedInTheUsersLanguage)
{
    // The user's language is the stored one, before it is fixed.
    WriteFile(Ini(), "[Language]\nLanguage=Deutsch\n");
    StringTable german;
    QFile file(QStringLiteral(":/strings/de.txt"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    ASSERT_TRUE(german.LoadFromText(file.readAll().toStdString()));
    const std::string tickets = m_runtime.File("tickets");
    const std::string dataLock = m_data.File("Quorvantis.lock");
    const std::string target = m_data.File("target");
    WriteFile(target, "keep");

    std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {tickets, [&] { ASSERT_EQ(symlink(target.c_str(), tickets.c_str()), 0); }},
        {dataLock, [&] { ASSERT_EQ(symlink("/dev/null", dataLock.c_str()), 0); }},
    };
    if (geteuid() == 0)
        cases.push_back({tickets, [&] {
                             WriteFile(tickets, "");
                             ASSERT_EQ(chown(tickets.c_str(), 65534, 65534), 0);
                         }});
    for (const auto& [path, make] : cases) {
        SCOPED_TRACE(path);
        unlink(tickets.c_str());
        unlink(dataLock.c_str());
        make();
        m_boxes->Clear();
        EXPECT_FALSE(theApp.InitInstance(*qApp));
        EXPECT_EQ(theApp.m_nExitCode, 1);
        EXPECT_EQ(theApp.m_pMainWnd, nullptr);
        ASSERT_EQ(m_boxes->Count(), 1u);
        std::string text = german.Get(IDS_LOCK_FILE_UNUSABLE);
        text.replace(text.find("%s"), 2, path);
        EXPECT_EQ(m_boxes->Entries()[0].text, text);
        EXPECT_EQ(ReadFile(target), "keep");
        theApp.m_hMutex.reset();
        theApp.m_hDataLock.reset();
    }
}

TEST_F(ShellTest, ProfileThatIsNoFileGivesDefaultsAndOneMessage)
{
    ASSERT_EQ(mkfifo(Ini().c_str(), 0600), 0);
    CQuorvantisApp app;
    bool asked = false;
    WhenModal(QStringLiteral("IDD_SELECTLANGUAGE"), [&](QWidget* dlg) {
        asked = true;
        dlg->findChild<QPushButton*>(QStringLiteral("IDC_LANGUAGE_CANCEL"))->click();
    });
    app.FixLanguage(Ini(), 0);
    EXPECT_TRUE(asked);
    EXPECT_EQ(app.m_nLanguage, 0);
    ASSERT_EQ(m_boxes->Count(), 1u);
    EXPECT_EQ(m_boxes->Entries()[0].text, LoadString(IDS_PROFILE_UNREADABLE, Ini()));
    struct stat st {};
    ASSERT_EQ(lstat(Ini().c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

namespace {

// The program with a simulated recorder (tests/program/SimulatedProgram.cpp), as a child process.
class SimulatedProgram {
public:
    SimulatedProgram(const std::string& data, const std::string& runtime, const QStringList& args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("QUORVANTIS_DATA_DIR"), QString::fromStdString(data));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(runtime));
        m_process.setProcessEnvironment(env);
        m_process.start(QStringLiteral(QUORVANTIS_BUILD_DIR "/quorvantis_simulated"),
                        args + QStringList{QStringLiteral("--notice-ms"), QStringLiteral("10")});
    }
    ~SimulatedProgram()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    // Waits until the program has printed line (bounded, so that a failure does not hang).
    bool WaitForLine(const QString& line)
    {
        QElapsedTimer timer;
        timer.start();
        while (!m_output.split(QLatin1Char('\n')).contains(line)) {
            if (timer.elapsed() > kWaitBound.count() || m_process.state() == QProcess::NotRunning) return false;
            m_process.waitForReadyRead(100);
            m_output += QString::fromUtf8(m_process.readAllStandardOutput());
        }
        return true;
    }
    void Signal(int signal) { ::kill(static_cast<pid_t>(m_process.processId()), signal); }
    // True when it ended on its own, normally, with code 0.
    bool EndsNormally()
    {
        if (!m_process.waitForFinished(static_cast<int>(kWaitBound.count()))) return false;
        m_output += QString::fromUtf8(m_process.readAllStandardOutput());
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }
    const QString& Output() const { return m_output; }

private:
    QProcess m_process;
    QString m_output;
};

}  // namespace

TEST_F(ShellTest, CloseSignalsEndTheProgramAsExitDoes)
{
    WriteFile(Ini(), "[Language]\nLanguage=English\n");
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        SimulatedProgram program(m_data.Path(), m_runtime.Path(), {});
        ASSERT_TRUE(program.WaitForLine(QStringLiteral("ready"))) << program.Output().toStdString();
        program.Signal(signal);
        EXPECT_TRUE(program.EndsNormally()) << program.Output().toStdString();
        // Both locks are free again.
        InstanceLock lock;
        EXPECT_EQ(lock.Take(CQuorvantisApp::SingleInstanceLockPath().toStdString()), InstanceLock::Result::Taken);
        EXPECT_EQ(lock.Take(m_data.File("Quorvantis.lock")), InstanceLock::Result::Taken);
    }
}

TEST_F(ShellTest, SigtermInTheMiddleOfTheSettingsWriterLetsItsSequenceFinish)
{
    // The user confirmed a mode change; the recorder has taken the new parameters when the
    // desktop ends the program. It must still get the periods and the erase.
    WriteFile(Ini(), "[Language]\nLanguage=English\n");
    SimulatedProgram program(m_data.Path(), m_runtime.Path(), {QStringLiteral("--settings")});
    ASSERT_TRUE(program.WaitForLine(QStringLiteral("params"))) << program.Output().toStdString();
    program.Signal(SIGTERM);
    EXPECT_TRUE(program.EndsNormally()) << program.Output().toStdString();
    EXPECT_TRUE(program.Output().contains(QStringLiteral("params=1 periods=1 erases=1")))
        << program.Output().toStdString();
}

TEST_F(ShellTest, SigtermWhileADialogIsOpenStartsNothing)
{
    // The settings dialog, closed as Cancel closes it, starts no settings run; the language
    // question of a first start, closed so, lets no window come up.
    const struct {
        const char* option;
        const char* shown;
        const char* ini;
    } cases[] = {
        {"--setup-dialog", "dialog", "[Language]\nLanguage=English\n"},
        {"", "language", "[About]\nWeb=x\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        WriteFile(Ini(), c.ini);
        QStringList args;
        if (*c.option) args << QString::fromLatin1(c.option);
        SimulatedProgram program(m_data.Path(), m_runtime.Path(), args);
        ASSERT_TRUE(program.WaitForLine(QString::fromLatin1(c.shown))) << program.Output().toStdString();
        program.Signal(SIGTERM);
        EXPECT_TRUE(program.EndsNormally()) << program.Output().toStdString();
        EXPECT_TRUE(program.Output().contains(QStringLiteral("params=0 periods=0 erases=0")))
            << program.Output().toStdString();
        EXPECT_EQ(program.Output().contains(QStringLiteral("ready")), *c.option != '\0');
    }
}

TEST_F(ShellTest, MainWindowIsCentredWithSignedHalves)
{
    EXPECT_EQ(CQuorvantisApp::MainWindowRect(QRect(0, 0, 1024, 768), 20, 24), QRect(158, 101, 708, 566));
    // Narrower and lower than the window: it overhangs both edges; halves round toward zero.
    EXPECT_EQ(CQuorvantisApp::MainWindowRect(QRect(0, 0, 601, 401), 20, 24), QRect(-53, -82, 708, 566));
    EXPECT_EQ(CQuorvantisApp::MainWindowRect(QRect(1920, 0, 1024, 768), 20, 24).x(), 2078);
}

TEST_F(ShellTest, LanguageChangeRestarts)
{
    WriteFile(Ini(), "[Language]\nLanguage=English\n");
    ASSERT_TRUE(theApp.InitInstance(*qApp));
    CMainFrame* frame = theApp.m_pMainWnd;
    std::vector<std::string> started;
    bool locksFreeAtStart = false;
    frame->m_fnStartProcess = [&](const std::string& path) {
        started.push_back(path);
        InstanceLock next, data;
        locksFreeAtStart =
            next.Take(CQuorvantisApp::SingleInstanceLockPath().toStdString()) == InstanceLock::Result::Taken &&
            data.Take(CQuorvantisApp::DataFolderLockPath().toStdString()) == InstanceLock::Result::Taken;
    };
    frame->m_nCloseNoticeMs = 100;

    // The same language confirmed again still restarts.
    WhenModal(QStringLiteral("IDD_SELECTLANGUAGE"),
              [](QWidget* dlg) { dlg->findChild<QPushButton*>(QStringLiteral("IDC_LANGUAGE_SAVE"))->click(); });
    // A "no device" hand-over served while the close waits forgets the device; the decision to
    // restart stays.
    WhenModal(QStringLiteral("IDD_CLOSEDIALO"), [frame](QWidget*) { frame->GetActiveView()->OnDeviceUnconnect(); });
    frame->findChild<QAction*>(QStringLiteral("ID_MENU_LANGUAGE"))->trigger();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0], ExecutablePath());
    EXPECT_TRUE(locksFreeAtStart);
    EXPECT_FALSE(frame->isVisible());
    EXPECT_TRUE(frame->GetActiveView()->WorkersStopped());
    theApp.ExitInstance();
    theApp.m_hMutex.reset();
    theApp.m_hDataLock.reset();
}

TEST_F(ShellTest, LanguageCancelAndExitDoNotRestart)
{
    WriteFile(Ini(), "[Language]\nLanguage=Deutsch\n");
    ASSERT_TRUE(theApp.InitInstance(*qApp));
    EXPECT_EQ(theApp.m_nLanguage, 2);
    CMainFrame* frame = theApp.m_pMainWnd;
    std::vector<std::string> started;
    frame->m_fnStartProcess = [&](const std::string& path) { started.push_back(path); };
    frame->m_nCloseNoticeMs = 100;

    WhenModal(QStringLiteral("IDD_SELECTLANGUAGE"),
              [](QWidget* dlg) { dlg->findChild<QPushButton*>(QStringLiteral("IDC_LANGUAGE_CANCEL"))->click(); });
    frame->findChild<QAction*>(QStringLiteral("ID_MENU_LANGUAGE"))->trigger();
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(theDeviceState.m_bRestart.load(), 0);
    EXPECT_EQ(theDeviceState.m_bQuit.load(), 0);

    frame->findChild<QAction*>(QStringLiteral("ID_MENU_EXIT"))->trigger();
    EXPECT_FALSE(frame->isVisible());
    EXPECT_TRUE(started.empty());
    EXPECT_TRUE(frame->GetActiveView()->WorkersStopped());
    theApp.ExitInstance();
    theApp.m_hMutex.reset();
    theApp.m_hDataLock.reset();
}

TEST_F(ShellTest, AboutDialog)
{
    WriteFile(Ini(), "[About]\nWeb=https://www.example.org/\n[Copyright]\nCopyright=(C) Someone\n");
    {
        CAboutDlg dlg(Ini());
        std::vector<QString> opened;
        dlg.m_fnOpenLink = [&](const QString& link) { opened.push_back(link); };
        EXPECT_EQ(dlg.size(), DluSize(191, 63));
        EXPECT_EQ(dlg.windowTitle(), QStringLiteral("About Quorvantis"));
        EXPECT_EQ(dlg.findChild<QLabel*>(QStringLiteral("IDC_ABOUT_PRODUCT"))->text(),
                  QStringLiteral("Quorvantis 3.2"));
        EXPECT_EQ(dlg.findChild<QLabel*>(QStringLiteral("IDC_ABOUT_COPYRIGHT"))->text(), QStringLiteral("(C) Someone"));
        auto* link = dlg.findChild<QLabel*>(QStringLiteral("IDC_ABOUT_LINK"));
        EXPECT_FALSE(link->isHidden());
        EXPECT_TRUE(link->font().underline());
        EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        EXPECT_EQ(dlg.m_rcLink, DluRect(21, 44, 104, 10));

        const QRect r = dlg.m_rcLink;
        const int midX = r.x() + r.width() / 2, midY = r.y() + r.height() / 2;
        // The border rows and columns do nothing; one pixel inside opens the link.
        for (QPoint p : {QPoint(midX, r.y()), QPoint(r.x(), midY), QPoint(midX, r.y() + r.height()),
                         QPoint(r.x() + r.width(), midY), QPoint(5, 5)})
            Click(&dlg, p);
        EXPECT_TRUE(opened.empty());
        Click(&dlg, QPoint(midX, r.y() + 1));
        Click(&dlg, QPoint(r.x() + r.width() - 1, r.y() + r.height() - 1));
        ASSERT_EQ(opened.size(), 2u);
        EXPECT_EQ(opened[0], QStringLiteral("https://www.example.org/"));

        auto* exitButton = dlg.findChild<QPushButton*>(QStringLiteral("IDC_ABOUT_EXIT"));
        EXPECT_EQ(exitButton->text(), QStringLiteral("Exit"));
        WhenModal(QStringLiteral("IDD_ABOUTBOX"),
                  [](QWidget* w) { w->findChild<QPushButton*>(QStringLiteral("IDC_ABOUT_EXIT"))->click(); });
        EXPECT_EQ(dlg.exec(), QDialog::Rejected);
    }

    // No link: link and label hidden, clicks in their place do nothing; no copyright: blank line.
    WriteFile(Ini(), "[About]\nWeb=\n");
    {
        CAboutDlg dlg(Ini());
        bool opened = false;
        dlg.m_fnOpenLink = [&](const QString&) { opened = true; };
        EXPECT_TRUE(dlg.findChild<QLabel*>(QStringLiteral("IDC_ABOUT_LINK"))->isHidden());
        EXPECT_TRUE(dlg.findChild<QLabel*>(QStringLiteral("IDC_ABOUT_VISIT"))->isHidden());
        EXPECT_EQ(dlg.findChild<QLabel*>(QStringLiteral("IDC_ABOUT_COPYRIGHT"))->text(), QString());
        const QRect former = DluRect(21, 44, 104, 10);
        Click(&dlg, former.center());
        EXPECT_FALSE(opened);
    }
}

TEST_F(ShellTest, ClosingNoticeClosesItself)
{
    CloseDialo notice(nullptr, 10);
    EXPECT_EQ(notice.size(), QSize(477, 299));
    EXPECT_EQ(notice.exec(), QDialog::Accepted);
}

TEST_F(ShellTest, DialogUnitsRoundEdgesToNearestPixel)
{
    EXPECT_EQ(DluRect(0, 0, 4, 8), QRect(0, 0, 6, 13));
    // 21 * 1.5 = 31.5 and 44 * 1.625 = 71.5 round up; the far edges 187.5 and 87.75 likewise.
    EXPECT_EQ(DluRect(21, 44, 104, 10), QRect(32, 72, 156, 16));
    EXPECT_EQ(DluSize(191, 63), QSize(287, 102));
}

TEST_F(ShellTest, MessageBoxFromWorkerIsAnsweredOnUiThread)
{
    QtMessageBoxService service;
    MsgAnswer answer = MsgAnswer::Ok;
    std::atomic<bool> done{false};
    QThread* boxThread = nullptr;
    QString text, caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    WhenModal(QStringLiteral("MessageBox"), [&](QWidget* w) {
        auto* box = static_cast<QMessageBox*>(w);
        boxThread = box->thread();
        text = box->text();
        caption = box->windowTitle();
        icon = box->icon();
        box->button(QMessageBox::No)->click();
    });
    std::thread worker([&] {
        answer = service.Show("Delete?", "quorvantis", MsgButtons::YesNo, MsgIcon::Question);
        done = true;
    });
    EXPECT_TRUE(WaitUntil([&] { return done.load(); })) << "the worker's box was never answered";
    JoinWithin(worker, "the worker to get its answer");
    EXPECT_EQ(answer, MsgAnswer::No);
    EXPECT_EQ(boxThread, qApp->thread());
    EXPECT_EQ(text, QStringLiteral("Delete?"));
    EXPECT_EQ(caption, QStringLiteral("quorvantis"));
    EXPECT_EQ(icon, QMessageBox::Question);
}

TEST_F(ShellTest, MessageBoxesFromTwoWorkersEachGetTheirAnswer)
{
    QtMessageBoxService service;
    std::atomic<int> done{0};
    MsgAnswer answerA = MsgAnswer::Ok, answerB = MsgAnswer::Ok;
    std::thread a([&] {
        answerA = service.Show("A", "c", MsgButtons::YesNo, MsgIcon::Question);
        ++done;
    });
    std::thread b([&] {
        answerB = service.Show("B", "c", MsgButtons::OkCancel, MsgIcon::Warning);
        ++done;
    });
    // Answers whichever box is on top; the second box may open inside the first one's loop.
    int answered = 0;
    QTimer answerer;
    answerer.setInterval(5);
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        ++answered;
        if (box->text() == QStringLiteral("A"))
            box->button(QMessageBox::Yes)->click();
        else
            box->button(QMessageBox::Cancel)->click();
    });
    answerer.start();
    EXPECT_TRUE(WaitUntil([&] { return done == 2; })) << "the two workers' boxes were never both answered";
    JoinWithin(a, "worker A to get its answer");
    JoinWithin(b, "worker B to get its answer");
    EXPECT_EQ(answered, 2);
    EXPECT_EQ(answerA, MsgAnswer::Yes);
    EXPECT_EQ(answerB, MsgAnswer::Cancel);
}

// Qt's own buttons speak the interface language, as the system's boxes did on Windows.
TEST(QtTranslation, MessageBoxButtonsInTheInterfaceLanguage)
{
    const char* const cancel[] = {"Cancel", "取消", "Abbrechen", "Cancelar", "Annuler"};
    for (int language = 0; language < 5; ++language) {
        SCOPED_TRACE(language);
        CQuorvantisApp app;
        app.LoadQtTranslation(language);
        QMessageBox box;
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QString::fromUtf8(cancel[language]));
    }
    QMessageBox box;  // the translation leaves with the application object
    box.setStandardButtons(QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("Cancel"));
}
