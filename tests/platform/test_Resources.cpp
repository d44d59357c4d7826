// The shipped string tables and menu texts: complete in every language, format directives intact,
// every id the program asks for present, and every file listed for embedding.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/StringTable.h"
#include "resources/resource.h"

namespace {

const char* const kLanguages[] = {"en", "zh", "de", "pt", "fr"};

std::string ReadSourceFile(const std::string& relative)
{
    std::ifstream in(std::string(QUORVANTIS_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

StringTable LoadTable(const std::string& relative)
{
    StringTable table;
    const std::string text = ReadSourceFile(relative);
    EXPECT_FALSE(text.empty()) << relative;
    EXPECT_TRUE(table.LoadFromText(text)) << relative;
    return table;
}

// printf directives in order, "%%" included.
std::vector<std::string> Directives(const std::string& text)
{
    static const std::regex directive(R"(%[-+ #0]*[0-9]*(\.[0-9]+)?(l|ll|h)?[diouxXfFeEgGcsp%])");
    std::vector<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), directive); it != std::sregex_iterator(); ++it)
        found.push_back(it->str());
    return found;
}

} // namespace

TEST(Resources, StringTablesCompleteWithSameDirectives)
{
    const StringTable english = LoadTable("resources/strings/en.txt");
    std::set<int> headerIds;
    for (const ResourceId& s : kStringIds)
        headerIds.insert(s.id);
    ASSERT_EQ(headerIds.size(), std::size(kStringIds)) << "a string id is listed twice";

    for (const char* language : kLanguages) {
        const std::string file = std::string("resources/strings/") + language + ".txt";
        SCOPED_TRACE(file);
        const StringTable table = LoadTable(file);
        // Every id the header names, and no other.
        EXPECT_EQ(table.Size(), headerIds.size());
        for (const ResourceId& s : kStringIds) {
            ASSERT_TRUE(table.Has(s.id)) << s.name;
            EXPECT_FALSE(table.Get(s.id).empty()) << s.name;
            EXPECT_EQ(Directives(table.Get(s.id)), Directives(english.Get(s.id))) << s.name;
        }
    }
}

TEST(Resources, EnglishTextsKeepTheirExactSpacingAndWording)
{
    const StringTable english = LoadTable("resources/strings/en.txt");
    // Blanks at either end survive the file format.
    EXPECT_EQ(english.Get(IDS_APP_ABOUT_PROMPT), " ");
    EXPECT_EQ(english.Get(IDS_ORIGINAL_VALUE), "Original value: ");
    EXPECT_EQ(english.Get(IDS_AUTO_OFF_NOTE).substr(0, 8), "  Note: ");
    EXPECT_EQ(english.Get(IDS_DEVICE_INFORMAT), "Device Informat");
    EXPECT_EQ(english.Get(IDS_PROCESSING_RECORDS), "Processing records,don't close the soft");
    EXPECT_EQ(english.Get(IDS_TEMP_OFFSET_RANGE_C), "Offset value range is %0.1f\u00B0C to %0.1f\u00B0C");
    EXPECT_EQ(english.Get(IDS_HUMI_OFFSET_RANGE), "Offset value range is %d%% to %d%%");
    EXPECT_EQ(Directives(english.Get(IDS_HUMI_OFFSET_RANGE)),
              (std::vector<std::string>{"%d", "%%", "%d", "%%"}));

    // The panel appends ":" to its labels itself, so they carry none.
    for (const int id : {IDS_DEVICE_ID, IDS_TEMPERATURE_UNIT, IDS_DATABASE_RECORDS, IDS_INTERVAL, IDS_MODE,
                         IDS_START, IDS_END}) {
        for (const char* language : kLanguages) {
            const std::string text = LoadTable(std::string("resources/strings/") + language + ".txt").Get(id);
            ASSERT_FALSE(text.empty());
            EXPECT_NE(text.back(), ':') << language << " " << id;
        }
    }
}

TEST(Resources, MenuTextsCompleteInEveryLanguage)
{
    std::set<int> expected = {IDM_POPUP_MENU, IDM_POPUP_HELP};
    for (const ResourceId& c : kMenuCommandIds)
        expected.insert(c.id);

    for (const char* language : kLanguages) {
        const std::string file = std::string("resources/menu/") + language + ".txt";
        SCOPED_TRACE(file);
        const StringTable menu = LoadTable(file);
        EXPECT_EQ(menu.Size(), expected.size());
        for (const int id : expected)
            EXPECT_FALSE(menu.Get(id).empty()) << id;
    }
    const StringTable english = LoadTable("resources/menu/en.txt");
    EXPECT_EQ(english.Get(IDM_POPUP_MENU), "Menu");
    EXPECT_EQ(english.Get(ID_MENU_SETUP), "Setup");
    EXPECT_EQ(english.Get(ID_APP_ABOUT), "About Quorvantis...");
}

TEST(Resources, EveryShippedFileIsEmbedded)
{
    const std::string qrc = ReadSourceFile("resources/resources.qrc");
    std::vector<std::string> files;
    for (const char* language : kLanguages) {
        files.push_back(std::string("strings/") + language + ".txt");
        files.push_back(std::string("menu/") + language + ".txt");
    }
    for (const int id : {IDR_MAINFRAME, IDI_CONNECTED, IDI_UNCONNECTED, IDB_CLOSING_BACKGROUND, IDB_VIEW_BACKGROUND})
        files.push_back("images/" + std::to_string(id) + ".png");
    for (const std::string& file : files) {
        EXPECT_NE(qrc.find("<file>" + file + "</file>"), std::string::npos) << file;
        EXPECT_FALSE(ReadSourceFile("resources/" + file).empty()) << file;
    }
}
