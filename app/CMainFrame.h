#pragma once
// The program's only top-level window: fixed size, menu, two-pane status bar, close sequence.
#include <QMainWindow>

#include <QPixmap>

#include <functional>
#include <string>

#include "app/ApplySettingsThread.h"
#include "settings/CSetupParam.h"
#include "settings/CUpload.h"

class QLabel;
class QAction;
class CQuorvantisView;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Status pane 1, called by the view on the UI thread on every monitor tick.
    void SetStatusConnected();
    void SetStatusUnconnected();

    CQuorvantisView* GetActiveView() const;

    // The close sequence: stop the workers, show the closing notice, restart after a language
    // change, close the window. Window close, Exit, a confirmed language change and a close
    // signal all end here.
    void OnClose();
    // The close sequence has begun.
    bool IsClosing() const { return m_bClosing; }

    void OnMenuSetup();
    void OnMenuHistory();
    void OnMenuGraph();
    void OnMenuManagement();
    void OnMenuLanguage();

    // How the restart starts the program again; tests replace it.
    std::function<void(const std::string& path)> m_fnStartProcess;
    // How long the closing notice stays (ms); tests shorten it.
    int m_nCloseNoticeMs = 2100;

    // Built with the frame in this order and kept for its whole life: the upload settings dialog
    // (nothing opens it) and the device settings dialog, whose settings block outlasts each showing.
    CUpload m_dlgUpload;
    CSetupParam m_dlgSetup;
    // Runs of the settings writer started by the Setup command.
    CSettingsWriter m_settingsWriter;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMenu();
    void SetStatusPane(int textId, const QPixmap& icon);
    void RunCloseSequence();
    // Waits for running settings writers, still serving their message boxes on this thread.
    void WaitForSettingsWriters();

    CQuorvantisView* m_pView = nullptr;
    QLabel* m_pPaneIcon = nullptr;
    QLabel* m_pPaneText = nullptr;
    QPixmap m_hIconConnected;
    QPixmap m_hIconUnconnected;
    bool m_bClosing = false;  // the sequence has started; it runs only once
    bool m_bClosed = false;   // the sequence has finished: the window may close
};
