// Runner of the UI tests: one QApplication for all of them, offscreen unless told otherwise. Every
// test finds and leaves the process-wide state as a fresh process has it, so the whole binary
// passes in one run as well as one test at a time.
#include <QApplication>
#include <QLocale>
#include <QPointer>

#include <gtest/gtest.h>

#include <new>
#include <string>

#include "app/CMainFrame.h"
#include "app/CQuorvantisApp.h"
#include "app/CQuorvantisView.h"
#include "platform/MessageBox.h"
#include "support/GlobalState.h"
#include "support/TestApplication.h"
#include "ui/ModalHelper.h"

namespace {

QLocale g_startLocale;

// Windows that own the device workers: a main window, or a live panel of its own.
QList<QPointer<QWidget>> WorkerWindows()
{
    QList<QPointer<QWidget>> windows;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (!w->parentWidget() && (qobject_cast<CMainFrame*>(w) || qobject_cast<CQuorvantisView*>(w)))
            windows.append(w);
    return windows;
}

// What a test left behind that the next one would trip over.
std::string LeftWindows()
{
    if (theApp.m_pMainWnd) return "theApp.m_pMainWnd set";
    if (!WorkerWindows().isEmpty()) return "a main window or live panel undeleted";
    return {};
}

void ResetUiState()
{
    // Watchers of a test that never saw their dialog must not act in the next one.
    delete TestScopeSlot().data();
    // A window left behind may still run the device workers; deleting it stops them. theApp's
    // pointer is only cleared: it may name a window the test has already destroyed.
    for (const QPointer<QWidget>& w : WorkerWindows()) delete w.data();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    theApp.m_pMainWnd = nullptr;
    SetMessageBoxService(nullptr);
    theApp.~CQuorvantisApp();
    ::new (&theApp) CQuorvantisApp;
    QLocale::setDefault(g_startLocale);
    ResetCoreState();
}

}  // namespace

int main(int argc, char** argv)
{
    const auto app = MakeTestApplication(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    RememberStartingState();
    InstallStateReset(ResetUiState, LeftWindows);
    return RUN_ALL_TESTS();
}
