#include "app/CQuorvantisApp.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QScreen>
#include <QStyle>
#include <QMenuBar>

#include <unistd.h>

#include "app/CMainFrame.h"
#include "app/Language.h"
#include "device/CDeviceState.h"
#include "platform/Profile.h"
#include "platform/StringTable.h"

CQuorvantisApp theApp;

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

void CQuorvantisApp::FixLanguage(const std::string& iniPath)
{
    std::string word = GetPrivateProfileString("Language", "Language", "", iniPath);
    if (word.empty()) {
        // First start: English unless the user picks another.
        WritePrivateProfileString("Language", "Language", "English", iniPath);
        // selectLanguage comes with the dialogs
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
    if (!m_hMutex->tryLock(0)) {
        if (m_hMutex->error() == QLockFile::LockFailedError) return false;
        // The lock cannot be made at all: go on without single-instance protection.
    }

    theDeviceState.InitDataFolder();
    for (CDB* db : {&theDeviceState.m_dbRecords, &theDeviceState.m_dbHistory,
                    &theDeviceState.m_dbGraph, &theDeviceState.m_dbCount,
                    &theDeviceState.m_dbDevice, &theDeviceState.m_dbManage})
        db->Open(theDeviceState.m_strDbPath);

    FixLanguage(theDeviceState.m_strIniPath);

    m_pMainWnd = new CMainFrame;

    QScreen* screen = qapp.primaryScreen();
    const QRect screenRect = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    theDeviceState.m_nScreenWidth = screenRect.width();
    theDeviceState.m_nScreenHeight = screenRect.height();

    const int menuHeight = m_pMainWnd->menuBar()->sizeHint().height();
    const int captionHeight = qapp.style()->pixelMetric(QStyle::PM_TitleBarHeight);
    const int width = 708;
    const int height = 522 + menuHeight + captionHeight;
    m_pMainWnd->setFixedSize(width, height - captionHeight);
    m_pMainWnd->move(screenRect.x() + (screenRect.width() - width) / 2,
                     screenRect.y() + (screenRect.height() - height) / 2);
    m_pMainWnd->show();
    return true;
}

void CQuorvantisApp::ExitInstance()
{
    delete m_pMainWnd;
    m_pMainWnd = nullptr;
}

void CQuorvantisApp::OnAppAbout() {}
