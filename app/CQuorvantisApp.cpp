#include "app/CQuorvantisApp.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QScreen>
#include <QStyle>
#include <QMenuBar>

#include <unistd.h>

#include "app/CAboutDlg.h"
#include "app/CMainFrame.h"
#include "app/CQuorvantisView.h"
#include "app/Language.h"
#include "app/QtMessageBoxService.h"
#include "app/selectLanguage.h"
#include "device/CDeviceState.h"
#include "platform/Profile.h"
#include "platform/StringTable.h"

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
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !QDir(dir).exists()) {
        dir = QDir::tempPath() + QStringLiteral("/quorvantis-") + QString::number(getuid());
        QDir().mkpath(dir);
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    return dir + QStringLiteral("/tickets");
}

QRect CQuorvantisApp::MainWindowRect(const QRect& screen, int menuHeight, int captionHeight)
{
    const int width = kMainWindowWidth;
    const int height = kMainWindowBaseHeight + menuHeight + captionHeight;
    // Centred with signed halves: a screen smaller than the window gets it overhanging both edges.
    return QRect(screen.x() + (screen.width() - width) / 2,
                 screen.y() + (screen.height() - height) / 2, width, height);
}

void CQuorvantisApp::FixLanguage(const std::string& iniPath)
{
    std::string word = GetPrivateProfileString("Language", "Language", "", iniPath);
    if (word.empty()) {
        // First start: English unless the user picks another.
        WritePrivateProfileString("Language", "Language", "English", iniPath);
        selectLanguage dlg(iniPath);
        dlg.exec();
        word = GetPrivateProfileString("Language", "Language", "", iniPath);
    }
    const int index = LanguageIndex(word);
    if (index >= 0) m_nLanguage = index;
}

bool CQuorvantisApp::InitInstance(QApplication& qapp)
{
    // One instance only; the lock of a process that died is taken over.
    m_hMutex = std::make_unique<QLockFile>(SingleInstanceLockPath());
    m_hMutex->setStaleLockTime(0);
    if (!m_hMutex->tryLock(0) && m_hMutex->error() == QLockFile::LockFailedError)
        return false;
    // Any other failure (the lock cannot be made at all): go on without the protection.

    // Texts and boxes work from here on (a failing database open reports itself); the table is
    // replaced once the language is known. A service installed before (a test's recorder) stays.
    LoadLanguageStrings(0);
    if (!m_pMessageBoxService) m_pMessageBoxService = std::make_unique<QtMessageBoxService>();
    if (IMessageBoxService* previous = SetMessageBoxService(m_pMessageBoxService.get()))
        SetMessageBoxService(previous);

    theDeviceState.InitDataFolder();
    for (CDB* db : {&theDeviceState.m_dbRecords, &theDeviceState.m_dbHistory,
                    &theDeviceState.m_dbGraph, &theDeviceState.m_dbCount,
                    &theDeviceState.m_dbDevice, &theDeviceState.m_dbManage})
        db->Open(theDeviceState.m_strDbPath);

    FixLanguage(theDeviceState.m_strIniPath);
    LoadLanguageStrings(m_nLanguage);

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
