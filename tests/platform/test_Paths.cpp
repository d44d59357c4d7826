#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/Paths.h"
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
