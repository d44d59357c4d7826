#pragma once
// SIGTERM, SIGINT and SIGHUP (a logout, kill, Ctrl+C in a terminal) end the program as its Exit
// command does. The handler only writes into a pipe; the event loop reads it and calls back on the
// UI thread, where the close sequence may run.
#include <QObject>

#include <functional>

class QSocketNotifier;

class CloseSignalWatcher : public QObject {
public:
    explicit CloseSignalWatcher(std::function<void()> onSignal, QObject* parent = nullptr);
    // The signals' earlier actions come back.
    ~CloseSignalWatcher() override;

private:
    void OnReadable();

    std::function<void()> m_onSignal;
    QSocketNotifier* m_pNotifier = nullptr;
};
