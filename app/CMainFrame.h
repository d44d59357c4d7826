#pragma once
// The program's only top-level window: fixed size, menu, two-pane status bar, close sequence.
#include <QMainWindow>

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
};
