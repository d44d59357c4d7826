// The start-up lock on real files: what a power cut or another program can leave at its place.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/InstanceLock.h"
#include "support/TempDir.h"

extern char** environ;

TEST(InstanceLock, AnyFileNoProcessHoldsIsTakenOver)
{
    TempDir dir;
    struct Case {
        const char* name;
        std::string bytes;  // what the file holds; "-" for no file at all
    } cases[] = {
        {"no file", "-"},
        {"empty", ""},
        {"zeros of a power cut", std::string(4096, '\0')},
        {"another program's text", "12345\nhost\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File("tickets");
        unlink(path.c_str());
        if (c.bytes != "-") WriteFile(path, c.bytes);
        InstanceLock lock;
        ASSERT_EQ(lock.Take(path), InstanceLock::Result::Taken);
        // While it is held nobody else gets it; once given up the next one does.
        InstanceLock second;
        EXPECT_EQ(second.Take(path), InstanceLock::Result::Held);
        EXPECT_FALSE(second.IsHeld());
        lock.Release();
        EXPECT_EQ(second.Take(path), InstanceLock::Result::Taken);
        // What the file held is left as it was.
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        if (c.bytes != "-") {
            EXPECT_EQ(ReadFile(path), c.bytes);
        } else {
            EXPECT_EQ(st.st_mode & 0777, 0600u);
        }
    }
}

TEST(InstanceLock, LockOfAProcessThatDiedIsTakenOver)
{
    TempDir dir;
    const std::string path = dir.File("Quorvantis.lock");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        InstanceLock lock;
        const bool taken = lock.Take(path) == InstanceLock::Result::Taken;
        (void)!write(ready[1], taken ? "1" : "0", 1);
        pause();  // killed below, as a power cut or a crash ends it
        _exit(0);
    }
    close(ready[1]);
    char taken = 0;
    ASSERT_EQ(read(ready[0], &taken, 1), 1);
    close(ready[0]);
    ASSERT_EQ(taken, '1');
    InstanceLock lock;
    EXPECT_EQ(lock.Take(path), InstanceLock::Result::Held);
    kill(child, SIGKILL);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    EXPECT_EQ(lock.Take(path), InstanceLock::Result::Taken);
}

TEST(InstanceLock, ProgramStartedWhileItIsHeldDoesNotKeepIt)
{
    // The restart starts the new program before the old one has ended; the lock must be free for
    // it as soon as the old one gives it up.
    TempDir dir;
    const std::string path = dir.File("tickets");
    InstanceLock lock;
    ASSERT_EQ(lock.Take(path), InstanceLock::Result::Taken);
    pid_t child = 0;
    char sleepArg[] = "30";
    char sleepName[] = "sleep";
    char* argv[] = {sleepName, sleepArg, nullptr};
    ASSERT_EQ(posix_spawnp(&child, "sleep", nullptr, nullptr, argv, environ), 0);
    lock.Release();
    InstanceLock next;
    EXPECT_EQ(next.Take(path), InstanceLock::Result::Taken);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

TEST(InstanceLock, FilesThatCannotBeALockAreRefusedAndLeftAlone)
{
    TempDir dir;
    const std::string target = dir.File("target");
    WriteFile(target, "precious");
    const std::string link = dir.File("tickets-link");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    const std::string dangling = dir.File("tickets-dangling");
    ASSERT_EQ(symlink(dir.File("nowhere").c_str(), dangling.c_str()), 0);
    const std::string fifo = dir.File("tickets-fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = dir.File("tickets-folder");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);

    InstanceLock lock;
    EXPECT_EQ(lock.Take(link), InstanceLock::Result::Unusable);
    EXPECT_EQ(lock.Error(), ELOOP);
    EXPECT_EQ(lock.Take(dangling), InstanceLock::Result::Unusable);
    EXPECT_EQ(lock.Take(fifo), InstanceLock::Result::Unusable);
    EXPECT_EQ(lock.Take(folder), InstanceLock::Result::Unusable);
    EXPECT_EQ(lock.Take(dir.File("no-folder/tickets")), InstanceLock::Result::Unusable);
    EXPECT_FALSE(lock.IsHeld());
    EXPECT_EQ(ReadFile(target), "precious");
    struct stat st {};
    EXPECT_NE(lstat(dir.File("nowhere").c_str(), &st), 0);  // no file made through the link

    if (geteuid() != 0) GTEST_SKIP() << "another user's file needs root to be made";
    const std::string foreign = dir.File("tickets-foreign");
    WriteFile(foreign, "");
    ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
    EXPECT_EQ(lock.Take(foreign), InstanceLock::Result::Unusable);
    EXPECT_EQ(lock.Error(), EPERM);
    ASSERT_EQ(stat(foreign.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
}
