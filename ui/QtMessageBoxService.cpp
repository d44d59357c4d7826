#include "ui/QtMessageBoxService.h"

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QThread>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

QtMessageBoxService::QtMessageBoxService()
{
    setObjectName(QStringLiteral("QtMessageBoxService"));
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd >= 0) {
        m_pNotifier = new QSocketNotifier(m_wakeFd, QSocketNotifier::Read, this);
        connect(m_pNotifier, &QSocketNotifier::activated, this, &QtMessageBoxService::OnWake);
    }
}

QtMessageBoxService::~QtMessageBoxService()
{
    delete m_pNotifier;
    if (m_wakeFd >= 0) ::close(m_wakeFd);
}

MsgAnswer QtMessageBoxService::Show(const std::string& text, const std::string& caption, MsgButtons buttons,
                                    MsgIcon icon)
{
    return ShowWithDefault(text, caption, buttons, icon, MsgDefault::First);
}

MsgAnswer QtMessageBoxService::ShowWithDefault(const std::string& text, const std::string& caption, MsgButtons buttons,
                                               MsgIcon icon, MsgDefault defaultButton)
{
    if (QThread::currentThread() == thread()) return ShowHere(text, caption, buttons, icon, defaultButton);

    Request request{text, caption, buttons, icon, defaultButton};
    {
        std::lock_guard<std::mutex> lock(m_cs);
        m_pending.push_back(&request);
    }
    if (m_wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    } else {
        QMetaObject::invokeMethod(this, &QtMessageBoxService::OnWake, Qt::QueuedConnection);
    }
    std::unique_lock<std::mutex> lock(m_cs);
    m_cv.wait(lock, [&] { return request.done; });
    return request.answer;
}

void QtMessageBoxService::OnWake()
{
    if (m_wakeFd >= 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &count, sizeof count);
    }
    // A box's own event loop may come back here for a box of another worker; each request is
    // taken off the queue before its box opens, so each is shown once.
    for (;;) {
        Request* request = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_cs);
            if (m_pending.empty()) return;
            request = m_pending.front();
            m_pending.pop_front();
        }
        const MsgAnswer answer =
            ShowHere(request->text, request->caption, request->buttons, request->icon, request->defaultButton);
        {
            std::lock_guard<std::mutex> lock(m_cs);
            request->answer = answer;
            request->done = true;
        }
        m_cv.notify_all();
    }
}

MsgAnswer QtMessageBoxService::ShowHere(const std::string& text, const std::string& caption, MsgButtons buttons,
                                        MsgIcon icon, MsgDefault defaultButton)
{
    const bool second = defaultButton == MsgDefault::Second;
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent) parent = QApplication::activeWindow();
    QMessageBox box(parent);
    box.setObjectName(QStringLiteral("MessageBox"));
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    switch (icon) {
    case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MsgIcon::Stop: box.setIcon(QMessageBox::Critical); break;
    case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
    case MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    }
    switch (buttons) {
    case MsgButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        break;
    case MsgButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(second ? QMessageBox::Cancel : QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case MsgButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(second ? QMessageBox::No : QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok: return MsgAnswer::Ok;
    case QMessageBox::Cancel: return MsgAnswer::Cancel;
    case QMessageBox::Yes: return MsgAnswer::Yes;
    case QMessageBox::No: return MsgAnswer::No;
    default: break;
    }
    // A box closed some other way (its window closed) counts as the safe answer.
    if (buttons == MsgButtons::YesNo) return MsgAnswer::No;
    if (buttons == MsgButtons::OkCancel) return MsgAnswer::Cancel;
    return MsgAnswer::Ok;
}
