// make install into a temporary DESTDIR: the program beside its shipped files, the command that
// leads to it, the udev rule, the desktop entry and its icon; then the installed program started
// from there, offscreen, until it has set up its data folder from its shipped files.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/BoundedWait.h"
#include "support/TempDir.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// A child process with the environment of this one plus extra (NAME=value entries).
pid_t Start(const std::vector<std::string>& args, const std::vector<std::string>& extra)
{
    std::vector<std::string> env(extra);
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    std::vector<char*> argv, envp;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
    return pid;
}

// The exit code of a child that ended normally within the wait bound; -1 when it was ended by a
// signal, -2 when it had not ended (it is killed then).
int EndOf(pid_t pid, const std::string& what)
{
    int status = 0;
    const bool ended = WaitFor(what, [&] { return waitpid(pid, &status, WNOHANG) == pid; });
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -2;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The output of a command, and its exit code.
int RunCommand(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::string& output,
               std::string& text)
{
    std::vector<std::string> shell = {"sh", "-c", "exec \"$@\" >\"$0\" 2>&1", output};
    shell.insert(shell.end(), args.begin(), args.end());
    const int code = EndOf(Start(shell, env), args[0] + " to end");
    text = ReadFile(output);
    return code;
}

}  // namespace

TEST(Install, InstalledProgramFindsItsFilesAndTheDesktopItsEntry)
{
    TempDir dir;
    const std::string destdir = dir.File("root"), prefix = "/usr/local", root = destdir + prefix;
    std::string text;
    ASSERT_EQ(RunCommand({QUORVANTIS_CMAKE, "--install", QUORVANTIS_BUILD_DIR, "--prefix", prefix},
                         {"DESTDIR=" + destdir}, dir.File("install.txt"), text),
              0)
        << text;

    // The program and the files it ships, side by side; the command leads there.
    const std::string program = root + "/lib/quorvantis/quorvantis";
    EXPECT_EQ(access(program.c_str(), X_OK), 0);
    for (const char* shipped : {"Quorvantis.db", "Main.ini"})
        EXPECT_EQ(ReadFile(root + "/lib/quorvantis/" + shipped), ReadFile(BuildDir() + "/" + shipped)) << shipped;
    const std::string command = root + "/bin/quorvantis";
    EXPECT_TRUE(fs::is_symlink(command));
    EXPECT_EQ(fs::canonical(command), fs::canonical(program));
    // udev reads rules from lib/udev/rules.d under /usr and /usr/local.
    EXPECT_EQ(ReadFile(root + "/lib/udev/rules.d/70-vt583.rules"),
              ReadFile(QUORVANTIS_SOURCE_DIR "/resources/70-vt583.rules"));

    // The desktop entry starts the command and shows the program's icon, found by its name.
    const std::string entry = root + "/share/applications/quorvantis.desktop";
    EXPECT_EQ(RunCommand({"desktop-file-validate", entry}, {}, dir.File("validate.txt"), text), 0) << text;
    EXPECT_EQ(text, "");
    const std::string desktop = ReadFile(entry);
    EXPECT_NE(desktop.find("\nExec=" + prefix + "/bin/quorvantis\n"), std::string::npos) << desktop;
    EXPECT_NE(desktop.find("\nIcon=quorvantis\n"), std::string::npos) << desktop;
    EXPECT_EQ(ReadFile(root + "/share/icons/hicolor/32x32/apps/quorvantis.png"),
              ReadFile(QUORVANTIS_SOURCE_DIR "/resources/images/128.png"));

    // Started through the command, the program copies its shipped files into its data folder
    // (it then asks for the language); SIGTERM closes it as Exit does.
    const std::string data = dir.File("data"), runtime = dir.File("runtime");
    ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
    const pid_t pid =
        Start({command}, {"QT_QPA_PLATFORM=offscreen", "QUORVANTIS_DATA_DIR=" + data, "XDG_RUNTIME_DIR=" + runtime});
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(WaitFor("the installed program to copy its shipped files into the data folder", [&] {
        return ReadFile(data + "/Main.ini") == ReadFile(root + "/lib/quorvantis/Main.ini") &&
               fs::exists(data + "/Quorvantis.db");
    }));
    kill(pid, SIGTERM);
    EXPECT_EQ(EndOf(pid, "the installed program to end on SIGTERM"), 0);
}
