#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/Paths.h"
#include "support/FileSizeLimit.h"
#include "support/TempDir.h"

namespace {

// Sets an environment variable for one scope and restores it afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name)) m_old = old, m_had = true;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_had)
            setenv(m_name.c_str(), m_old.c_str(), 1);
        else
            unsetenv(m_name.c_str());
    }

private:
    std::string m_name, m_old;
    bool m_had = false;
};

}  // namespace

TEST(Paths, ExecutableLocation)
{
    const std::string path = ExecutablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), '/');
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(ExecutableDir() + "/core_tests", path);
}

TEST(Paths, DataFolderChoice)
{
    {
        ScopedEnv own("QUORVANTIS_DATA_DIR", "/tmp/q-data/");
        ScopedEnv xdg("XDG_DATA_HOME", "/tmp/xdg");
        EXPECT_EQ(DataFolder(), "/tmp/q-data");
    }
    ScopedEnv own("QUORVANTIS_DATA_DIR", nullptr);
    {
        ScopedEnv xdg("XDG_DATA_HOME", "/tmp/xdg");
        EXPECT_EQ(DataFolder(), "/tmp/xdg/Quorvantis3.2");
    }
    ScopedEnv home("HOME", "/home/someone");
    {
        ScopedEnv xdg("XDG_DATA_HOME", nullptr);
        EXPECT_EQ(DataFolder(), "/home/someone/.local/share/Quorvantis3.2");
    }
    {
        ScopedEnv xdg("XDG_DATA_HOME", "relative/ignored");
        EXPECT_EQ(DataFolder(), "/home/someone/.local/share/Quorvantis3.2");
    }
}

TEST(Paths, MakeFoldersAndCopyWithoutOverwriting)
{
    TempDir dir;
    const std::string nested = dir.File("a/b/c/");
    EXPECT_TRUE(MakeSureDirectoryPathExists(nested));
    EXPECT_TRUE(MakeSureDirectoryPathExists(nested));  // already there
    EXPECT_TRUE(FileExists(dir.File("a/b/c")));

    const std::string source = dir.File("source.db");
    std::ofstream(source, std::ios::binary) << "shipped";
    ASSERT_EQ(chmod(source.c_str(), 0444), 0);

    const std::string target = dir.File("a/b/c/Quorvantis.db");
    EXPECT_FALSE(FileExists(target));
    EXPECT_TRUE(CopyFileIfMissing(source, target));
    EXPECT_EQ(ReadFile(target), "shipped");
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IWUSR);  // the user's copy is writable

    // An existing file, even an empty one, is never replaced.
    std::ofstream(target, std::ios::binary | std::ios::trunc) << "user data";
    EXPECT_FALSE(CopyFileIfMissing(source, target));
    EXPECT_EQ(ReadFile(target), "user data");
    const std::string empty = dir.File("empty.ini");
    std::ofstream(empty, std::ios::binary).flush();
    EXPECT_FALSE(CopyFileIfMissing(source, empty));
    EXPECT_EQ(ReadFile(empty), "");

    // A missing source copies nothing and leaves no file behind.
    EXPECT_FALSE(CopyFileIfMissing(dir.File("nope"), dir.File("a/x.db")));
    EXPECT_FALSE(FileExists(dir.File("a/x.db")));
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.File("a/b/c"))) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(Paths, PrivateFolderOnlyWhenItIsTheUsersOwn)
{
    TempDir dir;
    const unsigned me = geteuid();
    auto mode = [](const std::string& path) {
        struct stat st {};
        return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
    };

    // Missing: made for the user alone; the user's own: made private again.
    const std::string own = dir.File("own");
    EXPECT_TRUE(MakePrivateFolder(own, me));
    EXPECT_EQ(mode(own), 0700u);
    ASSERT_EQ(chmod(own.c_str(), 0777), 0);
    EXPECT_TRUE(MakePrivateFolder(own, me));
    EXPECT_EQ(mode(own), 0700u);

    // Refused and left as they are: a folder of another user (this one, seen by user me + 1),
    // a link to the user's own folder, a file.
    ASSERT_EQ(chmod(own.c_str(), 0777), 0);
    EXPECT_FALSE(MakePrivateFolder(own, me + 1));
    EXPECT_EQ(mode(own), 0777u);
    const std::string link = dir.File("link");
    ASSERT_EQ(symlink(own.c_str(), link.c_str()), 0);
    EXPECT_FALSE(MakePrivateFolder(link, me));
    EXPECT_EQ(mode(own), 0777u);
    const std::string file = dir.File("file");
    std::ofstream(file).flush();
    EXPECT_FALSE(MakePrivateFolder(file, me));

    // Run as root, a folder that really belongs to another user.
    if (me == 0) {
        const std::string foreign = dir.File("foreign");
        ASSERT_EQ(mkdir(foreign.c_str(), 0777), 0);
        ASSERT_EQ(chmod(foreign.c_str(), 0777), 0);
        ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
        EXPECT_FALSE(MakePrivateFolder(foreign, me));
        EXPECT_EQ(mode(foreign), 0777u);
    }
}

namespace {

int EntriesIn(const std::string& folder)
{
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        (void)e;
        ++n;
    }
    return n;
}

}  // namespace

TEST(Paths, FirstCopyWithoutRoomIsMadeWhenItsFileIsNextNeeded)
{
    TempDir dir;
    const std::string source = dir.File("shipped.db");
    WriteFile(source, std::string(64 * 1024, 'q'));
    const std::string data = dir.File("data");
    ASSERT_TRUE(MakeSureDirectoryPathExists(data));
    const std::string target = data + "/Quorvantis.db";
    {
        ScopedFileSizeLimit limit(16 * 1024);
        CopyForFirstStart(source, target);
        // Still no room: the copy stays owed, and says why; nothing half-copied is left.
        EXPECT_TRUE(IsNoRoomError(CompletePendingCopy(target)));
    }
    EXPECT_FALSE(FileExists(target));
    EXPECT_EQ(EntriesIn(data), 0);
    // Room again: the next need makes it, once.
    EXPECT_EQ(CompletePendingCopy(target), 0);
    EXPECT_EQ(ReadFile(target), std::string(64 * 1024, 'q'));
    WriteFile(target, "the user's data");
    EXPECT_EQ(CompletePendingCopy(target), 0);
    EXPECT_EQ(ReadFile(target), "the user's data");
    // A copy that could be made at once owes nothing; neither does a target that exists.
    CopyForFirstStart(source, data + "/other.db");
    EXPECT_EQ(CompletePendingCopy(data + "/other.db"), 0);
    EXPECT_FALSE(IsNoRoomError(ENOENT));
}

TEST(Paths, LeftoversOfAnInterruptedCopyAreRemoved)
{
    TempDir dir;
    const std::string target = dir.File("Quorvantis.db");
    WriteFile(target, "db");
    const std::string left = target + ".copy-Ab3xYz";
    WriteFile(left, std::string(1000, 'x'));
    // Kept: other names, and a folder or link of the copy's shape.
    const std::string shorter = target + ".copy-Ab3xY";
    const std::string otherFile = dir.File("Main.ini.copy-Ab3xYz");
    WriteFile(shorter, "x");
    WriteFile(otherFile, "x");
    const std::string folder = target + ".copy-FOLDER";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string link = target + ".copy-LINKED";
    ASSERT_EQ(symlink(otherFile.c_str(), link.c_str()), 0);

    RemoveInterruptedCopies(target);
    EXPECT_FALSE(FileExists(left));
    for (const std::string& kept : {target, shorter, otherFile, folder}) EXPECT_TRUE(FileExists(kept)) << kept;
    struct stat st {};
    EXPECT_EQ(lstat(link.c_str(), &st), 0);
}
