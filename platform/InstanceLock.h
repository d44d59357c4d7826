#pragma once
// The lock that keeps a second copy of the program off: an advisory flock on a regular file, which
// the kernel drops when its holder ends, however it ends. What the file holds does not matter, so
// a file left empty or filled with zeros by a power cut never locks the user out.
#include <string>

class InstanceLock {
public:
    enum class Result {
        Taken,      // this process holds the lock now
        Held,       // another running process holds it
        Unusable,   // no lock can be taken at path: a link, no regular file, another user's file,
                    // or a file that cannot be opened or made (Error() says why)
        NoLocking,  // the file system keeps no locks: nothing is held
    };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock at path, making the file (mode 0600) when it is missing. Never follows a link.
    Result Take(const std::string& path);
    // Gives the lock up; the file stays.
    void Release();
    bool IsHeld() const { return m_fd >= 0; }
    // The errno of the last Unusable result (ELOOP for a link, EPERM for another user's file,
    // EINVAL for no regular file).
    int Error() const { return m_error; }

private:
    int m_fd = -1;
    int m_error = 0;
};
