#include "app/CQuorvantisApp.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenuBar>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QTranslator>

#include <csignal>

#include <unistd.h>

#include "app/CAboutDlg.h"
#include "app/CMainFrame.h"
#include "app/CQuorvantisView.h"
#include "app/CloseSignals.h"
#include "app/Language.h"
#include "app/selectLanguage.h"
#include "device/CDeviceState.h"
#include "platform/InstanceLock.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"
#include "platform/Profile.h"
#include "platform/StringTable.h"
#include "resources/resource.h"
#include "ui/QtMessageBoxService.h"

CQuorvantisApp theApp;

namespace {

// Loads the string table of a language from the resources; false when it is missing or malformed.
bool LoadLanguageStrings(int language)
{
    QFile file(QStringLiteral(":/strings/%1.txt").arg(QLatin1String(kLanguageCodes[language])));
    if (!file.open(QIODevice::ReadOnly)) return false;
    return AppStrings().LoadFromText(file.readAll().toStdString());
}

}  // namespace

CQuorvantisApp::CQuorvantisApp() = default;

CQuorvantisApp::~CQuorvantisApp() = default;

QString CQuorvantisApp::SingleInstanceLockPath()
{
    const unsigned uid = getuid();
    std::string dir = qEnvironmentVariable("XDG_RUNTIME_DIR").toStdString();
    if (dir.empty() || !IsFolderOwnedBy(dir, uid)) {
        // Anyone may make this folder first under the shared temporary folder; a lock in another
        // user's folder would let that user keep the program from starting.
        dir = (QDir::tempPath() + QStringLiteral("/quorvantis-") + QString::number(uid)).toStdString();
        if (!MakePrivateFolder(dir, uid)) return {};
    }
    return QString::fromStdString(dir) + QStringLiteral("/tickets");
}

QString CQuorvantisApp::DataFolderLockPath()
{
    const std::string dir = DataFolder();
    if (dir.empty()) return {};
    return QString::fromStdString(dir) + QStringLiteral("/Quorvantis.lock");
}

void CQuorvantisApp::ReleaseInstanceLocks()
{
    if (m_hMutex) m_hMutex->Release();
    if (m_hDataLock) m_hDataLock->Release();
}

void CQuorvantisApp::PrepareMessages()
{
    // A service installed before (a test's recorder) stays.
    const std::string dir = DataFolder();
    UseLanguage(StartLanguage(dir.empty() ? std::string() : dir + "/Main.ini", UserLanguage()));
    if (!m_pMessageBoxService) m_pMessageBoxService = std::make_unique<QtMessageBoxService>();
    if (IMessageBoxService* previous = SetMessageBoxService(m_pMessageBoxService.get())) SetMessageBoxService(previous);
}

bool CQuorvantisApp::TakeStartLock(std::unique_ptr<InstanceLock>& lock, const QString& path)
{
    lock = std::make_unique<InstanceLock>();
    // Without a place for the lock (a temporary folder of another user's) the program runs
    // without it, as on a file system that keeps no locks.
    if (path.isEmpty()) return true;
    switch (lock->Take(path.toStdString())) {
    case InstanceLock::Result::Taken:
    case InstanceLock::Result::NoLocking: return true;
    case InstanceLock::Result::Held: return false;  // the other copy is the program: no word
    case InstanceLock::Result::Unusable: break;
    }
    // Ending silently here would lock the user out for good without telling why.
    PrepareMessages();
    AfxMessageBox(LoadString(IDS_LOCK_FILE_UNUSABLE, path.toStdString()), MsgButtons::Ok, MsgIcon::Stop);
    m_nExitCode = 1;
    return false;
}

int CQuorvantisApp::Run(QApplication& qapp)
{
    // Over a file-size limit a write fails, and says so, instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    CloseSignalWatcher closeSignals([this] { OnCloseSignal(); });
    if (!InitInstance(qapp)) return m_nExitCode;
    const int result = qapp.exec();
    ExitInstance();
    return result;
}

void CQuorvantisApp::OnCloseSignal()
{
    m_bCloseRequested = true;
    CloseDialogsThenFrame();
}

void CQuorvantisApp::CloseDialogsThenFrame()
{
    if (m_pMainWnd && m_pMainWnd->IsClosing()) return;  // already on its way
    if (QWidget* modal = QApplication::activeModalWidget()) {
        // As Cancel or Escape closes it: a settings dialog or a confirmation closed so starts
        // nothing. The next one, if any, once its loop has returned.
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
        QTimer::singleShot(10, [this] { CloseDialogsThenFrame(); });
        return;
    }
    // During start-up InitInstance ends the start itself.
    if (m_pMainWnd) m_pMainWnd->OnClose();
}

QRect CQuorvantisApp::MainWindowRect(const QRect& screen, int menuHeight, int captionHeight)
{
    const int width = kMainWindowWidth;
    const int height = kMainWindowBaseHeight + menuHeight + captionHeight;
    // Centred with signed halves: a screen smaller than the window gets it overhanging both edges.
    return QRect(screen.x() + (screen.width() - width) / 2, screen.y() + (screen.height() - height) / 2, width, height);
}

int CQuorvantisApp::UserLanguage()
{
    // The message languages in the user's order (LANGUAGE, else LC_ALL, LC_MESSAGES or LANG); the
    // first of ours decides, as on Windows the system's language chose the string tables.
    for (const QString& name : QLocale::system().uiLanguages()) {
        switch (QLocale(name).language()) {
        case QLocale::English: return 0;
        case QLocale::Chinese: return 1;
        case QLocale::German: return 2;
        case QLocale::Portuguese: return 3;
        case QLocale::French: return 4;
        default: break;
        }
    }
    return 0;
}

int CQuorvantisApp::StartLanguage(const std::string& iniPath, int userLanguage) const
{
    const std::string word = GetPrivateProfileString("Language", "Language", "", iniPath);
    if (word.empty()) return userLanguage;
    const int index = LanguageIndex(word);
    return index >= 0 ? index : m_nLanguage;
}

void CQuorvantisApp::FixLanguage(const std::string& iniPath, int userLanguage)
{
    // Read as empty, which asks for the language; said once, since every setting is a default.
    if (IsProfileUnreadable(iniPath))
        AfxMessageBox(LoadString(IDS_PROFILE_UNREADABLE, iniPath), MsgButtons::Ok, MsgIcon::Warning);
    std::string word = GetPrivateProfileString("Language", "Language", "", iniPath);
    if (word.empty()) {
        // First start: the user's language unless the user picks another.
        const bool known = userLanguage >= 0 && userLanguage < static_cast<int>(kLanguageWords.size());
        WritePrivateProfileString("Language", "Language", kLanguageWords[known ? userLanguage : 0], iniPath);
        selectLanguage dlg(iniPath);
        dlg.exec();
        word = GetPrivateProfileString("Language", "Language", "", iniPath);
    }
    const int index = LanguageIndex(word);
    if (index >= 0) m_nLanguage = index;
}

void CQuorvantisApp::UseLanguage(int language)
{
    LoadLanguageStrings(language);
    LoadQtTranslation(language);
}

void CQuorvantisApp::LoadQtTranslation(int language)
{
    // Qt ships Portuguese only as spoken in Brazil, whose words differ from Portugal's in places
    // ("Salvar" for "Guardar", "Arquivos" for "Ficheiros"); still closer to our Portuguese than
    // English is.
    static constexpr std::array<const char*, 5> kQtFiles = {"", "qtbase_zh_CN", "qtbase_de", "qtbase_pt_BR",
                                                            "qtbase_fr"};
    m_pQtTranslator.reset();
    if (language < 0 || language >= static_cast<int>(kQtFiles.size()) || !*kQtFiles[language]) return;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QLatin1String(kQtFiles[language]), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return;
    QCoreApplication::installTranslator(translator.get());
    m_pQtTranslator = std::move(translator);
}

bool CQuorvantisApp::InitInstance(QApplication& qapp)
{
    m_nExitCode = 0;
    m_bCloseRequested = false;
    // One instance only, and one copy per data folder whatever its runtime folder (another
    // session's copy would store every record a second time).
    if (!TakeStartLock(m_hMutex, SingleInstanceLockPath())) return false;
    MakeSureDirectoryPathExists(DataFolder());
    if (!TakeStartLock(m_hDataLock, DataFolderLockPath())) {
        m_hMutex.reset();
        return false;
    }

    // Texts and boxes work from here on, in the language the program is about to use: a failing
    // database open reports itself in it, and the very first start asks its question in the user's.
    PrepareMessages();
    const int userLanguage = UserLanguage();

    theDeviceState.InitDataFolder();
    for (CDB* db : {&theDeviceState.m_dbRecords, &theDeviceState.m_dbHistory, &theDeviceState.m_dbGraph,
                    &theDeviceState.m_dbCount, &theDeviceState.m_dbDevice, &theDeviceState.m_dbManage})
        db->Open(theDeviceState.m_strDbPath);

    FixLanguage(theDeviceState.m_strIniPath, userLanguage);
    // Closed while it asked for the language: no window comes up.
    if (m_bCloseRequested) return false;
    UseLanguage(m_nLanguage);

    m_pMainWnd = new CMainFrame;
    // The view's one set-up: texts, device, worker threads.
    m_pMainWnd->GetActiveView()->OnInitialUpdate();

    QScreen* screen = qapp.primaryScreen();
    const QRect screenRect = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    theDeviceState.m_nScreenWidth = screenRect.width();
    theDeviceState.m_nScreenHeight = screenRect.height();

    // The caption is the window manager's: the client area is set without it, the position
    // counts it in.
    const int menuHeight = m_pMainWnd->menuBar()->sizeHint().height();
    const int captionHeight = qapp.style()->pixelMetric(QStyle::PM_TitleBarHeight);
    const QRect frame = MainWindowRect(screenRect, menuHeight, captionHeight);
    m_pMainWnd->setFixedSize(frame.width(), frame.height() - captionHeight);
    m_pMainWnd->move(frame.topLeft());
    m_pMainWnd->show();
    return true;
}

void CQuorvantisApp::ExitInstance()
{
    // The frame's destructor stops whatever worker thread still runs (when the loop ended without
    // the close sequence), so no thread outlives the window or the device state.
    delete m_pMainWnd;
    m_pMainWnd = nullptr;
    if (m_pMessageBoxService) {
        IMessageBoxService* previous = SetMessageBoxService(nullptr);
        if (previous != m_pMessageBoxService.get()) SetMessageBoxService(previous);
    }
}

void CQuorvantisApp::OnAppAbout()
{
    CAboutDlg dlg(theDeviceState.m_strIniPath, m_pMainWnd);
    dlg.exec();
}
