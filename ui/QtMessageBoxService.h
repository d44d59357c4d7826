#pragma once
// The message-box service of the running program. Boxes are shown on the UI thread; a worker
// thread's call is handed over to the UI thread and waits for the answer, as a modal box would.
#include <QObject>

#include <condition_variable>
#include <deque>
#include <mutex>

#include "platform/MessageBox.h"

class QSocketNotifier;

class QtMessageBoxService : public QObject, public IMessageBoxService {
    Q_OBJECT
public:
    // Lives on the thread that creates it, which must be the UI thread.
    QtMessageBoxService();
    ~QtMessageBoxService() override;

    MsgAnswer Show(const std::string& text, const std::string& caption, MsgButtons buttons, MsgIcon icon) override;
    MsgAnswer ShowWithDefault(const std::string& text, const std::string& caption, MsgButtons buttons, MsgIcon icon,
                              MsgDefault defaultButton) override;

private:
    struct Request {
        std::string text, caption;
        MsgButtons buttons;
        MsgIcon icon;
        MsgDefault defaultButton;
        MsgAnswer answer = MsgAnswer::Ok;
        bool done = false;
    };

    MsgAnswer ShowHere(const std::string& text, const std::string& caption, MsgButtons buttons, MsgIcon icon,
                       MsgDefault defaultButton);
    // UI thread: shows every box that workers are waiting for.
    void OnWake();

    // The hand-over is kept in standard primitives (and an eventfd to wake the UI thread), which
    // the thread sanitizer follows; Qt's own cross-thread calls it cannot see into.
    std::mutex m_cs;
    std::condition_variable m_cv;
    std::deque<Request*> m_pending;
    int m_wakeFd = -1;
    QSocketNotifier* m_pNotifier = nullptr;
};
