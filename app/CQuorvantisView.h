#pragma once
// The live panel: one painted surface over a 700 x 500 background, and the owner of the device
// worker threads (monitor, record writer, and the one-shot history and live readers).
#include <QWidget>

#include <atomic>

class CQuorvantisView : public QWidget {
    Q_OBJECT
public:
    explicit CQuorvantisView(QWidget* parent = nullptr);
    ~CQuorvantisView() override;

    // Loads the texts, sets the placeholders, allocates the record-queue head, opens the device and
    // starts the monitor and record-writer threads. Runs once per view.
    void OnInitialUpdate();

    // Sets the stop flag and waits, still dispatching the monitor's blocking hand-overs, until every
    // worker thread (one-shot ones included) has ended. Safe to call more than once.
    void StopWorkerThreads();

    std::atomic<int> m_bThreadExited{0};
};
