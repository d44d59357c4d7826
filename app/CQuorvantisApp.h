#pragma once
// The application object: start-up in order, single instance, language, main window.
#include <memory>
#include <string>

#include "platform/InstanceLock.h"

class QApplication;
class QRect;
class QString;
class QTranslator;
class CMainFrame;
class QtMessageBoxService;

// The main window as a whole: 708 wide, 522 high plus menu bar and caption.
inline constexpr int kMainWindowWidth = 708;
inline constexpr int kMainWindowBaseHeight = 522;

class CQuorvantisApp {
public:
    CQuorvantisApp();
    ~CQuorvantisApp();

    // The whole run of the program: start-up, the event loop, the end. Returns the exit code.
    int Run(QApplication& qapp);
    // Brings the program up; false ends it at once (second instance, a lock file that cannot be
    // used, failed window, a close signal during start-up) with m_nExitCode.
    bool InitInstance(QApplication& qapp);
    // After the event loop: stops whatever still runs and destroys the main window.
    void ExitInstance();
    // A close signal (SIGTERM, SIGINT, SIGHUP), on the UI thread: dialogs and boxes still open
    // are closed as their Cancel or Escape closes them, then the frame closes as Exit closes it.
    void OnCloseSignal();
    void OnAppAbout();

    // The language index (0..4) the user's locale asks for, as Qt's system locale gives it: the
    // first of the message languages that is one of ours, English when none is.
    static int UserLanguage();
    // The language the program is about to use: the one Main.ini names (m_nLanguage for a word
    // that is none of the five), userLanguage when it names none (the very first start).
    int StartLanguage(const std::string& iniPath, int userLanguage) const;
    // Reads the language word from Main.ini and sets m_nLanguage. On the very first start it
    // writes the word of userLanguage and asks, with that language preselected.
    void FixLanguage(const std::string& iniPath, int userLanguage);
    // Qt's own texts (the buttons of message boxes and file dialogs) in the interface language,
    // when Qt's translations are installed; English otherwise.
    void LoadQtTranslation(int language);

    // Where the single-instance lock lives: $XDG_RUNTIME_DIR/tickets when that folder is the
    // user's, else in a private folder under the temporary folder; "" when that folder is not the
    // user's either (no such lock then).
    static QString SingleInstanceLockPath();
    // The lock that keeps a second copy off the same data folder; "" without a data folder.
    static QString DataFolderLockPath();
    // Frees both locks for the instance a restart starts.
    void ReleaseInstanceLocks();

    // The main window as a whole, caption included: 708 x (522 + menu bar + caption), centred.
    static QRect MainWindowRect(const QRect& screen, int menuHeight, int captionHeight);

    int m_nLanguage = 0;                        // 0 English, 1 Chinese, 2 Deutsch, 3 Portuguese, 4 French
    std::unique_ptr<InstanceLock> m_hMutex;     // the single-instance lock "tickets"
    std::unique_ptr<InstanceLock> m_hDataLock;  // the data folder's lock
    CMainFrame* m_pMainWnd = nullptr;
    int m_nExitCode = 0;  // when InitInstance ends the program

private:
    // The string table and Qt's own texts of a language.
    void UseLanguage(int language);
    // Takes a start-up lock; false ends the start: silently when another copy holds it, with a
    // message when it cannot be used at all.
    bool TakeStartLock(std::unique_ptr<InstanceLock>& lock, const QString& path);
    // Texts in the start-up language and the message-box service, for what start-up shows.
    void PrepareMessages();
    // Closes the open dialogs one after the other, then the frame.
    void CloseDialogsThenFrame();
    bool m_bCloseRequested = false;

    std::unique_ptr<QtMessageBoxService> m_pMessageBoxService;
    std::unique_ptr<QTranslator> m_pQtTranslator;
};

extern CQuorvantisApp theApp;
