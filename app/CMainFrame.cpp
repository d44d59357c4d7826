#include "app/CMainFrame.h"

#include <QAction>
#include <QCloseEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QStatusBar>
#include <QTimer>

#include "app/CQuorvantisApp.h"
#include "app/CQuorvantisView.h"
#include "app/CloseDialo.h"
#include "app/Language.h"
#include "app/selectLanguage.h"
#include "device/CDeviceState.h"
#include "history/DeleteHistory.h"
#include "history/Grapsh.h"
#include "history/Main.h"
#include "platform/Paths.h"
#include "platform/StringTable.h"
#include "resources/resource.h"
#include "ui/UiWait.h"

namespace {

// The menu texts of the language fixed at start-up, keyed by command id (1 and 2 name the
// pop-ups "Menu" and "Help").
StringTable LoadMenuTexts()
{
    StringTable texts;
    const int language = theApp.m_nLanguage;
    QFile file(QStringLiteral(":/menu/%1.txt").arg(QLatin1String(kLanguageCodes[language])));
    if (file.open(QIODevice::ReadOnly)) texts.LoadFromText(file.readAll().toStdString());
    return texts;
}

QString MenuText(const StringTable& texts, int id) { return QString::fromStdString(texts.Get(id)); }

}  // namespace

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent), m_dlgUpload(this), m_dlgSetup(this)
{
    setObjectName(QStringLiteral(QV_ID_NAME(IDR_MAINFRAME)));
    setWindowTitle(QStringLiteral("Quorvantis"));
    setWindowIcon(QIcon(QStringLiteral(":/images/%1.png").arg(IDR_MAINFRAME)));
    // Fixed size: no sizing border and no maximise box, only minimise and close.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    m_fnStartProcess = [](const std::string& path) { QProcess::startDetached(QString::fromStdString(path), {}); };

    // Pane 0 stretches and stays empty; pane 1 shows the connection state.
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("AFX_IDW_STATUS_BAR"));
    bar->setSizeGripEnabled(false);
    QWidget* pane = new QWidget(bar);
    pane->setObjectName(QStringLiteral("StatusPane1"));
    pane->setFixedWidth(150);
    auto* layout = new QHBoxLayout(pane);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(3);
    m_pPaneIcon = new QLabel(pane);
    m_pPaneIcon->setObjectName(QStringLiteral("StatusPane1Icon"));
    m_pPaneIcon->setFixedSize(16, 16);
    m_pPaneText = new QLabel(pane);
    m_pPaneText->setObjectName(QStringLiteral("StatusPane1Text"));
    layout->addWidget(m_pPaneIcon);
    layout->addWidget(m_pPaneText, 1);
    bar->addPermanentWidget(pane);

    m_hIconConnected = QPixmap(QStringLiteral(":/images/%1.png").arg(IDI_CONNECTED));
    m_hIconUnconnected = QPixmap(QStringLiteral(":/images/%1.png").arg(IDI_UNCONNECTED));
    for (QPixmap* icon : {&m_hIconConnected, &m_hIconUnconnected})
        if (!icon->isNull() && icon->height() > 16)
            *icon = icon->scaled(16, 16, Qt::KeepAspectRatio, Qt::SmoothTransformation);

    BuildMenu();

    m_pView = new CQuorvantisView(this);
    m_pView->setObjectName(QStringLiteral("CQuorvantisView"));
    setCentralWidget(m_pView);
}

CMainFrame::~CMainFrame()
{
    // Whatever path leads here, no worker thread outlives the window.
    WaitForSettingsWriters();
    if (m_pView) m_pView->StopWorkerThreads();
}

void CMainFrame::BuildMenu()
{
    const StringTable texts = LoadMenuTexts();
    QMenuBar* bar = menuBar();

    auto addAction = [&](QWidget* owner, int id, const QString& name, void (CMainFrame::*handler)()) {
        auto* action = new QAction(MenuText(texts, id), this);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, handler);
        owner->addAction(action);
        return action;
    };

    QMenu* menu = new QMenu(MenuText(texts, IDM_POPUP_MENU), this);
    menu->setObjectName(QStringLiteral("MenuPopup"));
    addAction(menu, ID_MENU_SETUP, QStringLiteral(QV_ID_NAME(ID_MENU_SETUP)), &CMainFrame::OnMenuSetup);
    menu->addSeparator();
    addAction(menu, ID_MENU_HISTORY, QStringLiteral(QV_ID_NAME(ID_MENU_HISTORY)), &CMainFrame::OnMenuHistory);
    addAction(menu, ID_MENU_GRAPH, QStringLiteral(QV_ID_NAME(ID_MENU_GRAPH)), &CMainFrame::OnMenuGraph);
    menu->addSeparator();
    addAction(menu, ID_MENU_EXIT, QStringLiteral(QV_ID_NAME(ID_MENU_EXIT)), &CMainFrame::OnClose);
    bar->addMenu(menu);

    addAction(bar, ID_MENU_MANAGEMENT, QStringLiteral(QV_ID_NAME(ID_MENU_MANAGEMENT)), &CMainFrame::OnMenuManagement);
    addAction(bar, ID_MENU_LANGUAGE, QStringLiteral(QV_ID_NAME(ID_MENU_LANGUAGE)), &CMainFrame::OnMenuLanguage);

    QMenu* help = new QMenu(MenuText(texts, IDM_POPUP_HELP), this);
    help->setObjectName(QStringLiteral("HelpPopup"));
    auto* about = new QAction(MenuText(texts, ID_APP_ABOUT), this);
    about->setObjectName(QStringLiteral(QV_ID_NAME(ID_APP_ABOUT)));
    connect(about, &QAction::triggered, this, [] { theApp.OnAppAbout(); });
    help->addAction(about);
    bar->addMenu(help);
}

void CMainFrame::SetStatusConnected() { SetStatusPane(IDS_CONNECT, m_hIconConnected); }

void CMainFrame::SetStatusUnconnected() { SetStatusPane(IDS_UNCONNECT, m_hIconUnconnected); }

void CMainFrame::SetStatusPane(int textId, const QPixmap& icon)
{
    // The monitor tells the state on every tick: the pane is drawn again only when it changes (a
    // label takes the same text without a paint, but not the same picture).
    m_pPaneText->setText(QString::fromStdString(LoadString(textId)));
    if (m_pPaneIcon->pixmap().cacheKey() != icon.cacheKey()) m_pPaneIcon->setPixmap(icon);
}

CQuorvantisView* CMainFrame::GetActiveView() const { return m_pView; }

void CMainFrame::OnMenuSetup()
{
    // A dialog closed by the program's close starts nothing.
    if (m_dlgSetup.exec() != QDialog::Accepted || theDeviceState.m_bQuit) return;
    m_settingsWriter.Start(SettingsBlock::From(m_dlgSetup, theDeviceState), theDeviceState);
}

void CMainFrame::WaitForSettingsWriters()
{
    WaitServingHandOvers([this] { return !m_settingsWriter.IsRunning(); });
    m_settingsWriter.Join();
}

void CMainFrame::OnMenuHistory()
{
    Main dlg;
    dlg.exec();
}

void CMainFrame::OnMenuGraph()
{
    Grapsh dlg;
    dlg.exec();
}

void CMainFrame::OnMenuManagement()
{
    DeleteHistory dlg;
    dlg.exec();
}

void CMainFrame::OnMenuLanguage()
{
    selectLanguage dlg(theDeviceState.m_strIniPath, this);
    if (dlg.exec() != QDialog::Accepted) return;
    // Any confirmed choice restarts, the same language included.
    theDeviceState.m_bRestart = 1;
    OnClose();
}

void CMainFrame::OnClose()
{
    // The sequence runs inside the close event, so that every way of closing takes it.
    close();
}

void CMainFrame::RunCloseSequence()
{
    m_bClosing = true;
    // Decided now: a "no device" hand-over served while the close waits resets the device state,
    // the restart request with it.
    const bool restart = theDeviceState.m_bRestart != 0;

    CQuorvantisView* view = GetActiveView();
    theDeviceState.RequestQuit();

    // The notice comes at once and the window goes: the worker threads wind down while the notice
    // shows, so a slow recorder never holds the window up, and the program ends when the later
    // of the two is done.
    CloseDialo notice(this, m_nCloseNoticeMs);
    bool stopped = false;
    auto stop = [&] {
        if (stopped) return;
        stopped = true;
        hide();
        // A settings run under way still reaches the recorder: the view closes the device after
        // it. The view then waits for every worker thread, one-shot ones included, while still
        // serving their hand-overs to this thread.
        WaitForSettingsWriters();
        if (view) view->StopWorkerThreads();
    };
    QTimer::singleShot(0, &notice, stop);
    notice.exec();
    stop();

    if (restart) {
        // The new instance must find the locks free.
        theApp.ReleaseInstanceLocks();
        const std::string path = ExecutablePath();
        if (!path.empty() && m_fnStartProcess) m_fnStartProcess(path);
    }
    m_bClosed = true;
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (!m_bClosing) RunCloseSequence();
    if (m_bClosed)
        event->accept();
    else
        event->ignore();  // a close request while the notice shows
}
