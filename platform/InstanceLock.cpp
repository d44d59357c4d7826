#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

InstanceLock::~InstanceLock() { Release(); }

void InstanceLock::Release()
{
    if (m_fd >= 0) close(m_fd);  // closing the only descriptor drops the lock
    m_fd = -1;
}

InstanceLock::Result InstanceLock::Take(const std::string& path)
{
    Release();
    m_error = 0;
    // Close-on-exec: a program started from here (the restart) must not keep the lock alive.
    // Non-blocking: opening a FIFO put there must not hang the start.
    const int fd =
        open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        m_error = errno;
        return Result::Unusable;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
        m_error = !S_ISREG(st.st_mode) ? EINVAL : EPERM;
        close(fd);
        return Result::Unusable;
    }
    int rc;
    do rc = flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        m_fd = fd;
        return Result::Taken;
    }
    const int error = errno;
    close(fd);
    if (error == EWOULDBLOCK) return Result::Held;
    if (error == ENOLCK || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP) return Result::NoLocking;
    m_error = error;
    return Result::Unusable;
}
