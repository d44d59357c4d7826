#pragma once
// The application object: start-up in order, single instance, language, main window.
#include <memory>
#include <string>

class QApplication;
class QLockFile;
class CMainFrame;

class CQuorvantisApp {
public:
    CQuorvantisApp();
    ~CQuorvantisApp();

    // Brings the program up; false ends it at once (second instance, failed window).
    bool InitInstance(QApplication& qapp);
    void OnAppAbout();

    int m_nLanguage = 0;                 // 0 English, 1 Chinese, 2 Deutsch, 3 Portuguese, 4 French
    std::unique_ptr<QLockFile> m_hMutex;  // the single-instance lock "tickets"
    CMainFrame* m_pMainWnd = nullptr;
};

extern CQuorvantisApp theApp;
