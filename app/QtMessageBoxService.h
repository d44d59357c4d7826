#pragma once
// The message-box service of the running program. Boxes are shown on the UI thread; a worker
// thread's call is handed over to the UI thread and waits for the answer, as a modal box would.
#include <QObject>

#include "platform/MessageBox.h"

class QtMessageBoxService : public QObject, public IMessageBoxService {
    Q_OBJECT
public:
    // Lives on the thread that creates it, which must be the UI thread.
    QtMessageBoxService();
    MsgAnswer Show(const std::string& text, const std::string& caption, MsgButtons buttons,
                   MsgIcon icon) override;
    MsgAnswer ShowWithDefault(const std::string& text, const std::string& caption,
                              MsgButtons buttons, MsgIcon icon, MsgDefault defaultButton) override;

private:
    MsgAnswer ShowHere(const std::string& text, const std::string& caption, MsgButtons buttons,
                       MsgIcon icon, MsgDefault defaultButton);
};
