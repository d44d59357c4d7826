#include "app/CloseSignals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>

namespace {

constexpr std::array<int, 3> kCloseSignals = {SIGTERM, SIGINT, SIGHUP};

// One watcher at a time: the handler knows only these.
int g_readFd = -1;
std::atomic<int> g_writeFd{-1};
struct sigaction g_previous[kCloseSignals.size()];

void OnCloseSignal(int signal)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    const int fd = g_writeFd.load();
    if (fd >= 0 && write(fd, &byte, 1) < 0) {
        // A full pipe already holds a request: nothing is lost.
    }
    errno = saved;
}

}  // namespace

CloseSignalWatcher::CloseSignalWatcher(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), m_onSignal(std::move(onSignal))
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;  // the default actions stay
    g_readFd = fds[0];
    g_writeFd = fds[1];
    m_pNotifier = new QSocketNotifier(g_readFd, QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &CloseSignalWatcher::OnReadable);
    struct sigaction action {};
    action.sa_handler = OnCloseSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kCloseSignals.size(); ++i) sigaction(kCloseSignals[i], &action, &g_previous[i]);
}

CloseSignalWatcher::~CloseSignalWatcher()
{
    if (g_readFd < 0) return;
    for (std::size_t i = 0; i < kCloseSignals.size(); ++i) sigaction(kCloseSignals[i], &g_previous[i], nullptr);
    delete m_pNotifier;
    m_pNotifier = nullptr;
    // A handler still running on another thread finds no descriptor rather than a reused one.
    close(g_writeFd.exchange(-1));
    close(g_readFd);
    g_readFd = -1;
}

void CloseSignalWatcher::OnReadable()
{
    unsigned char bytes[64];
    bool any = false;
    while (read(g_readFd, bytes, sizeof bytes) > 0) any = true;
    if (any && m_onSignal) m_onSignal();
}
