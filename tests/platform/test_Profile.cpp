#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/Profile.h"
#include "support/TempDir.h"

namespace {}  // namespace

TEST(Profile, ReadMatchesNamesWithoutCaseAndTrimsBlanks)
{
    TempDir dir;
    const std::string ini = dir.File("Main.ini");
    WriteFile(ini, "; comment\n"
                   "top=outside any section\n"
                   "[Language]\n"
                   "  Language  =  French  \n"
                   "[ About ]\n"
                   "Web=https://example.invalid/a=b\n"
                   "Empty=\n"
                   "[language]\n"
                   "Language=Deutsch\n");
    EXPECT_EQ(GetPrivateProfileString("LANGUAGE", "language", "", ini), "French");
    EXPECT_EQ(GetPrivateProfileString(" Language ", "Language\t", "", ini), "French");
    EXPECT_EQ(GetPrivateProfileString("about", "WEB", "", ini), "https://example.invalid/a=b");
    EXPECT_EQ(GetPrivateProfileString("About", "Empty", "dflt", ini), "");
    EXPECT_EQ(GetPrivateProfileString("About", "Missing", "dflt", ini), "dflt");
    EXPECT_EQ(GetPrivateProfileString("Nope", "Language", "", ini), "");
    EXPECT_EQ(GetPrivateProfileString("Language", "top", "", ini), "");
    // Values are returned as stored: the caller's exact comparison sees the case.
    WriteFile(ini, "[Language]\nLanguage=english\n");
    EXPECT_EQ(GetPrivateProfileString("Language", "Language", "", ini), "english");
    EXPECT_EQ(GetPrivateProfileString("Language", "Language", "x", dir.File("none.ini")), "x");
}

TEST(Profile, ReadReturnsAtMost259Characters)
{
    TempDir dir;
    const std::string ini = dir.File("Main.ini");
    std::string ascii(300, 'a');
    std::string wide;
    for (int i = 0; i < 300; ++i) wide += "\xC3\xA9";  // U+00E9, two bytes each
    WriteFile(ini, "[S]\nascii=" + ascii + "\nwide=" + wide + "\nshort=" + std::string(259, 'b') + "\n");
    EXPECT_EQ(GetPrivateProfileString("S", "ascii", "", ini), std::string(259, 'a'));
    const std::string w = GetPrivateProfileString("S", "wide", "", ini);
    EXPECT_EQ(w.size(), 259u * 2u);  // 259 characters, none cut in half
    EXPECT_EQ(GetPrivateProfileString("S", "short", "", ini), std::string(259, 'b'));
    EXPECT_EQ(GetPrivateProfileString("S", "ascii", "", ini, 5), "aaaa");
    EXPECT_EQ(GetPrivateProfileString("S", "missing", std::string(300, 'd'), ini).size(), 259u);
}

TEST(Profile, WriteCreatesFileAndSectionAndKeepsOtherLines)
{
    TempDir dir;
    const std::string ini = dir.File("Main.ini");
    ASSERT_TRUE(WritePrivateProfileString("Language", "Language", "English", ini));
    EXPECT_EQ(ReadFile(ini), "[Language]\nLanguage=English\n");

    const std::string original = "; kept comment\n"
                                 "[About]\n"
                                 "Web = https://a.example/\n"
                                 "\n"
                                 "[Copyright]\n"
                                 "Copyright=Copyright (C) 2026\n"
                                 "odd line without equals\n";
    WriteFile(ini, original);
    // Replaces only the value, keeps the stored spelling of the name.
    ASSERT_TRUE(WritePrivateProfileString("about", "WEB", "https://b.example/", ini));
    EXPECT_EQ(ReadFile(ini), "; kept comment\n[About]\nWeb=https://b.example/\n\n[Copyright]\n"
                             "Copyright=Copyright (C) 2026\nodd line without equals\n");
    // A new key goes to the end of its section, before the blank line.
    ASSERT_TRUE(WritePrivateProfileString("About", "Extra", "1", ini));
    EXPECT_EQ(ReadFile(ini), "; kept comment\n[About]\nWeb=https://b.example/\nExtra=1\n\n[Copyright]\n"
                             "Copyright=Copyright (C) 2026\nodd line without equals\n");
    // A new section is appended.
    ASSERT_TRUE(WritePrivateProfileString("Language", "Language", "Chinese", ini));
    EXPECT_EQ(GetPrivateProfileString("Language", "Language", "", ini), "Chinese");
    EXPECT_EQ(GetPrivateProfileString("Copyright", "Copyright", "", ini), "Copyright (C) 2026");
    EXPECT_EQ(GetPrivateProfileString("About", "Web", "", ini), "https://b.example/");

    // A file whose last line has no line break.
    WriteFile(ini, "[A]\nx=1");
    ASSERT_TRUE(WritePrivateProfileString("A", "y", "2", ini));
    EXPECT_EQ(ReadFile(ini), "[A]\nx=1\ny=2\n");

    // Text that would break the file's structure is refused and the file stays as it was.
    EXPECT_FALSE(WritePrivateProfileString("A", "z", "two\nlines", ini));
    EXPECT_FALSE(WritePrivateProfileString("A", "a=b", "1", ini));
    EXPECT_FALSE(WritePrivateProfileString("A]", "z", "1", ini));
    // A key that would read back as a section header or a comment.
    EXPECT_FALSE(WritePrivateProfileString("A", "[B]", "1", ini));
    EXPECT_FALSE(WritePrivateProfileString("A", " ;z", "1", ini));
    EXPECT_EQ(ReadFile(ini), "[A]\nx=1\ny=2\n");

    // No folder: nothing written, failure reported.
    EXPECT_FALSE(WritePrivateProfileString("A", "x", "1", dir.File("missing/Main.ini")));
}

TEST(Profile, CrlfFilesStayCrlf)
{
    TempDir dir;
    const std::string ini = dir.File("Main.ini");
    WriteFile(ini, "\xEF\xBB\xBF[Web]\r\nHost=one\r\n\r\n[Other]\r\nk=v\r\n");
    EXPECT_EQ(GetPrivateProfileString("web", "host", "", ini), "one");
    EXPECT_EQ(GetPrivateProfileString("Other", "k", "", ini), "v");
    ASSERT_TRUE(WritePrivateProfileString("Web", "Host", "two", ini));
    ASSERT_TRUE(WritePrivateProfileString("Web", "Port", "80", ini));
    ASSERT_TRUE(WritePrivateProfileString("New", "a", "b", ini));
    EXPECT_EQ(ReadFile(ini), "\xEF\xBB\xBF[Web]\r\nHost=two\r\nPort=80\r\n\r\n[Other]\r\nk=v\r\n[New]\r\na=b\r\n");
}

TEST(Profile, WriteKeepsPermissionsAndLeavesNoTemporaryFiles)
{
    TempDir dir;
    const std::string ini = dir.File("Main.ini");
    WriteFile(ini, "[A]\nx=1\n");
    ASSERT_EQ(chmod(ini.c_str(), 0640), 0);
    ASSERT_TRUE(WritePrivateProfileString("A", "x", "2", ini));
    struct stat st {};
    ASSERT_EQ(stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(Profile, OnlyRegularFilesOfAProfileSizeAreRead)
{
    TempDir dir;
    const std::string fifo = dir.File("fifo.ini");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string zeroLink = dir.File("zero.ini");
    ASSERT_EQ(symlink("/dev/zero", zeroLink.c_str()), 0);
    const std::string randomLink = dir.File("random.ini");
    ASSERT_EQ(symlink("/dev/urandom", randomLink.c_str()), 0);
    const std::string folder = dir.File("folder.ini");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    // Larger than any profile could be (sparse: it takes no room).
    const std::string huge = dir.File("huge.ini");
    WriteFile(huge, "[Language]\nLanguage=Deutsch\n");
    ASSERT_EQ(truncate(huge.c_str(), (off_t{128} << 20) + 1), 0);

    // Each reads as its defaults at once (the FIFO would hang the read, the devices never end
    // it) and is never written; each stays what it was.
    for (const std::string& path : {fifo, zeroLink, randomLink, folder, huge}) {
        SCOPED_TRACE(path);
        EXPECT_TRUE(IsProfileUnreadable(path));
        EXPECT_EQ(GetPrivateProfileString("Language", "Language", "dflt", path), "dflt");
        EXPECT_FALSE(WritePrivateProfileString("Language", "Language", "French", path));
    }
    struct stat st {};
    ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(stat("/dev/zero", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    ASSERT_EQ(stat(huge.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, (off_t{128} << 20) + 1);

    // A missing file and a large but possible one are no such thing.
    EXPECT_FALSE(IsProfileUnreadable(dir.File("missing.ini")));
    ASSERT_EQ(truncate(huge.c_str(), off_t{4} << 20), 0);
    EXPECT_FALSE(IsProfileUnreadable(huge));
    EXPECT_EQ(GetPrivateProfileString("Language", "Language", "", huge), "Deutsch");
}

TEST(Profile, WritingFollowsALinkOnlyIntoTheUsersOwnFile)
{
    TempDir dir;
    // The user's own file behind a link: written, and the link stays a link.
    const std::string own = dir.File("own.ini");
    WriteFile(own, "[Language]\nLanguage=Deutsch\n");
    const std::string ini = dir.File("Main.ini");
    ASSERT_EQ(symlink(own.c_str(), ini.c_str()), 0);
    ASSERT_TRUE(WritePrivateProfileString("Language", "Language", "French", ini));
    EXPECT_EQ(ReadFile(own), "[Language]\nLanguage=French\n");
    struct stat st {};
    ASSERT_EQ(lstat(ini.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    if (geteuid() != 0) GTEST_SKIP() << "another user's file needs root to be made";
    // Run as root: a link to another user's private file, and another user's file itself. Read
    // as they are, never written, never made root's.
    const std::string foreign = dir.File("foreign.ini");
    const std::string text = "[Language]\nLanguage=Chinese\n";
    WriteFile(foreign, text);
    ASSERT_EQ(chmod(foreign.c_str(), 0600), 0);
    ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
    ASSERT_EQ(unlink(ini.c_str()), 0);
    ASSERT_EQ(symlink(foreign.c_str(), ini.c_str()), 0);
    for (const std::string& path : {ini, foreign}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(GetPrivateProfileString("Language", "Language", "", path), "Chinese");
        EXPECT_FALSE(WritePrivateProfileString("Language", "Language", "French", path));
        EXPECT_FALSE(WritePrivateProfileString("Other", "Key", "x", path));
        EXPECT_EQ(ReadFile(foreign), text);
        ASSERT_EQ(stat(foreign.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 65534u);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
    }
}

TEST(Profile, TemporaryFilesOfDeadWritersAreRemoved)
{
    TempDir dir;
    const std::string ini = dir.File("Main.ini");
    WriteFile(ini, "[Language]\nLanguage=English\n");
    // A process that has ended: its pid names no running process.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(0);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    const std::string dead = std::to_string(child);
    const std::string stale1 = ini + ".tmp." + dead + ".0";
    const std::string stale2 = ini + ".tmp." + dead + ".17";
    // Kept: a writer that runs (this process, and process 1), and names of other shapes.
    const std::string own = ini + ".tmp." + std::to_string(getpid()) + ".3";
    const std::string init = ini + ".tmp.1.0";
    const std::string other1 = ini + ".tmp.x" + dead + ".0";
    const std::string other2 = ini + ".tmp." + dead;
    const std::string other3 = dir.File("Other.ini.tmp." + dead + ".0");
    for (const std::string& path : {stale1, stale2, own, init, other1, other2, other3}) WriteFile(path, "x");

    RemoveStaleProfileTemporaries(ini);
    EXPECT_FALSE(std::filesystem::exists(stale1));
    EXPECT_FALSE(std::filesystem::exists(stale2));
    for (const std::string& path : {own, init, other1, other2, other3})
        EXPECT_TRUE(std::filesystem::exists(path)) << path;
    EXPECT_EQ(ReadFile(ini), "[Language]\nLanguage=English\n");
}
