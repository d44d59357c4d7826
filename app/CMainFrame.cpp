#include "app/CMainFrame.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QStatusBar>

#include "app/CQuorvantisView.h"
#include "device/CDeviceState.h"
#include "platform/StringTable.h"

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Quorvantis"));

    // Pane 0 stretches and stays empty; pane 1 shows the connection state.
    QStatusBar* bar = statusBar();
    QWidget* pane = new QWidget(bar);
    pane->setFixedWidth(150);
    auto* layout = new QHBoxLayout(pane);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(3);
    m_pPaneIcon = new QLabel(pane);
    m_pPaneText = new QLabel(pane);
    layout->addWidget(m_pPaneIcon);
    layout->addWidget(m_pPaneText, 1);
    bar->addPermanentWidget(pane);

    m_pView = new CQuorvantisView(this);
    setCentralWidget(m_pView);
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::SetStatusConnected()
{
    m_pPaneText->setText(QString::fromStdString(LoadString(1018)));
    m_pPaneIcon->setPixmap(m_hIconConnected);
}

void CMainFrame::SetStatusUnconnected()
{
    m_pPaneText->setText(QString::fromStdString(LoadString(1019)));
    m_pPaneIcon->setPixmap(m_hIconUnconnected);
}

CQuorvantisView* CMainFrame::GetActiveView() const { return m_pView; }

void CMainFrame::OnClose()
{
    if (m_bClosing) return;
    m_bClosing = true;
    theDeviceState.m_bQuit = 1;
    if (m_pView) m_pView->StopWorkerThreads();
    m_bClosed = true;
    close();
}

void CMainFrame::OnMenuSetup() {}
void CMainFrame::OnMenuHistory() {}
void CMainFrame::OnMenuGraph() {}
void CMainFrame::OnMenuManagement() {}
void CMainFrame::OnMenuLanguage() {}
void CMainFrame::BuildMenu() {}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (m_bClosed) {
        event->accept();
        return;
    }
    event->ignore();
    OnClose();
}
