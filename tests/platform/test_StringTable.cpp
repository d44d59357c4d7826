#include <gtest/gtest.h>

#include "platform/StringTable.h"

TEST(StringTable, ParsesEntriesAndEscapes)
{
    StringTable table;
    ASSERT_TRUE(table.LoadFromText("\xEF\xBB\xBF# English\r\n"
                                   "\r\n"
                                   "1055\tLanguage\r\n"
                                   "1056\tline one\\nline two\\tTab \\\\ backslash\n"
                                   "1057\t\n"
                                   "1058\t  blanks kept  \n"
                                   "1059\t\xE8\xAF\xAD\xE8\xA8\x80 # not a comment"));
    EXPECT_EQ(table.Size(), 5u);
    EXPECT_EQ(table.Get(1055), "Language");
    EXPECT_EQ(table.Get(1056), "line one\nline two\tTab \\ backslash");
    EXPECT_TRUE(table.Has(1057));
    EXPECT_EQ(table.Get(1057), "");
    EXPECT_EQ(table.Get(1058), "  blanks kept  ");
    EXPECT_EQ(table.Get(1059), "\xE8\xAF\xAD\xE8\xA8\x80 # not a comment");
    EXPECT_FALSE(table.Has(9999));
    EXPECT_EQ(table.Get(9999), "");
}

TEST(StringTable, MalformedTextLeavesTableEmpty)
{
    for (const char* bad : {"1055 Language\n",         // no tab
                            "\tLanguage\n",            // no id
                            "10x5\tLanguage\n",        // not a number
                            "-5\tLanguage\n",          // negative
                            "1055\tbad \\q escape\n",  // unknown escape
                            "1055\tends in \\",        // lone backslash
                            "1055\tone\n1055\ttwo\n",  // id twice
                            "1234567890\tlong id\n",   // beyond any id
                            "1055\t\xC3\n",            // cut-off UTF-8
                            "1055\t\xC0\xAF\n",        // overlong UTF-8
                            " # indented comment\n"}) {
        StringTable table;
        ASSERT_TRUE(table.LoadFromText("1\tkept before\n"));
        EXPECT_FALSE(table.LoadFromText(std::string("2\tgood\n") + bad)) << bad;
        EXPECT_EQ(table.Size(), 0u) << bad;
        EXPECT_FALSE(table.Has(2));
    }
}

TEST(StringTable, AppStringsIsShared)
{
    ASSERT_TRUE(AppStrings().LoadFromText("100\tOLE initialization failed.\n"));
    EXPECT_EQ(LoadString(100), "OLE initialization failed.");
    EXPECT_EQ(LoadString(101), "");
    // The argument fills the text's "%s" as it stands; other "%" signs stay text.
    ASSERT_TRUE(AppStrings().LoadFromText("102\tThe file %s cannot be written (100%).\n"));
    EXPECT_EQ(LoadString(102, "/tmp/50%s %d.txt"), "The file /tmp/50%s %d.txt cannot be written (100%).");
    EXPECT_EQ(LoadString(100, "x"), "");
    AppStrings().LoadFromText("");
    EXPECT_EQ(LoadString(100), "");
}
