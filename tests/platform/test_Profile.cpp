#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/Profile.h"
#include "support/TempDir.h"

namespace {

}  // namespace

TEST(Profile, ReadMatchesNamesWithoutCaseAndTrimsBlanks)
{
    TempDir dir;
    const std::string ini = dir.File("Main.ini");
    WriteFile(ini,
              "; comment\n"
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
    WriteFile(ini, "[S]\nascii=" + ascii + "\nwide=" + wide + "\nshort=" + std::string(259, 'b') +
                       "\n");
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

    const std::string original =
        "; kept comment\n"
        "[About]\n"
        "Web = https://a.example/\n"
        "\n"
        "[Copyright]\n"
        "Copyright=Copyright (C) 2026\n"
        "odd line without equals\n";
    WriteFile(ini, original);
    // Replaces only the value, keeps the stored spelling of the name.
    ASSERT_TRUE(WritePrivateProfileString("about", "WEB", "https://b.example/", ini));
    EXPECT_EQ(ReadFile(ini),
              "; kept comment\n[About]\nWeb=https://b.example/\n\n[Copyright]\n"
              "Copyright=Copyright (C) 2026\nodd line without equals\n");
    // A new key goes to the end of its section, before the blank line.
    ASSERT_TRUE(WritePrivateProfileString("About", "Extra", "1", ini));
    EXPECT_EQ(ReadFile(ini),
              "; kept comment\n[About]\nWeb=https://b.example/\nExtra=1\n\n[Copyright]\n"
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
    EXPECT_EQ(ReadFile(ini),
              "\xEF\xBB\xBF[Web]\r\nHost=two\r\nPort=80\r\n\r\n[Other]\r\nk=v\r\n[New]\r\na=b\r\n");
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
