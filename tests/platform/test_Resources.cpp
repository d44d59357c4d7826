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

}  // namespace

TEST(Resources, StringTablesCompleteWithSameDirectives)
{
    const StringTable english = LoadTable("resources/strings/en.txt");
    std::set<int> headerIds;
    for (const ResourceId& s : kStringIds) headerIds.insert(s.id);
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
    // Every English text the program shows, as it stands: odd wording, blanks at either end and
    // format directives included.
    const struct {
        int id;
        const char* text;
    } texts[] = {
        {IDS_DEVICE_INFORMAT, "Device Informat"},
        {IDS_UPDATE_TIME, "Update Time"},
        {IDS_RECORD_TIME, "Record Time"},
        {IDS_TEMPERATURE, "Temperature"},
        {IDS_HUMIDITY, "Humidity"},
        {IDS_INTERVAL, "Interval"},
        {IDS_DATABASE_RECORDS, "Database records"},
        {IDS_DEVICE_ID, "Device ID"},
        {IDS_MAX_TEMPERATURE, "Max Temperature"},
        {IDS_MIN_TEMPERATURE, "Min Temperature"},
        {IDS_MAX_HUMIDITY, "Max Humidity"},
        {IDS_MIN_HUMIDITY, "Min Humidity"},
        {IDS_CURRENT_DEVICE_ID, "Current Device ID"},
        {IDS_START_TIME, "Start time"},
        {IDS_END_TIME, "End time"},
        {IDS_SEARCH, "Search"},
        {IDS_TYPE, "Type"},
        {IDS_CONNECT, "Connect"},
        {IDS_UNCONNECT, "Unconnect"},
        {IDS_YESTERDAY, "Yesterday"},
        {IDS_HISTORY, "History"},
        {IDS_MAX_MIN, "Max/Min"},
        {IDS_PROCESSING_RECORDS, "Processing records,don't close the soft"},
        {IDS_HISTORY_COMPLETE, "Complete historical record deal"},
        {IDS_SYNCRONIZING, "Syncronizing"},
        {IDS_SYNC_SUCCESS, "To successful synchronization device time."},
        {IDS_SYNC_FAILED, "Failed to synchronize the device time."},
        {IDS_OBTAINING_DATA, "Obtaining data"},
        {IDS_ACCESS_NEW_DEVICE, "Access a new device"},
        {IDS_READING, "Reading"},
        {IDS_NOTICE, "Notice"},
        {IDS_CONFIRM_DELETE_DATABASE, "Are you sure to delete device information from database of the ID %s?"},
        {IDS_EXIT, "Exit"},
        {IDS_TIME_ERROR, "Time Error"},
        {IDS_PROGRAM_CLOSING, "Program is closing"},
        {IDS_GRAPH, "Graph"},
        {IDS_MANAGEMENT, "Management"},
        {IDS_SETUP, "Setup"},
        {IDS_TEMPERATURE_UNIT, "Temperature Unit"},
        {IDS_DATE, "Date"},
        {IDS_DISPLAY, "Display"},
        {IDS_MINUTE, "Minute"},
        {IDS_DATABASE_DELETED, "Successfully deleted information and history data from database"},
        {IDS_EXPORT_SUCCESS, "Successfully exported the history records"},
        {IDS_EXPORT_CSV, "Export as csv"},
        {IDS_LANGUAGE, "Language"},
        {IDS_SAVE, "Save"},
        {IDS_CANCEL, "Cancel"},
        {IDS_DELETE_HISTORY, "Delete History"},
        {IDS_ABOUT_TITLE, "About Quorvantis"},
        {IDS_PRODUCT_VERSION, "Quorvantis 3.2"},
        {IDS_NUMBER, "Number"},
        {IDS_EXPORT_IMAGE, "Export as image"},
        {IDS_PLEASE_VISIT, "Please Visit:"},
        {IDS_SERVER, "Server:"},
        {IDS_PORT, "Port:"},
        {IDS_UPLOAD_TYPE, "Upload Type:"},
        {IDS_USER_ID, "ID:"},
        {IDS_PASSWORD, "Password:"},
        {IDS_AUTO_SEND, "Auto Send"},
        {IDS_UPLOAD, "Upload"},
        {IDS_TIME_DISPLAY, "Time Display"},
        {IDS_MODE, "Mode"},
        {IDS_SECONDS, "Seconds"},
        {IDS_OFFSET_VALUE, "Offset value"},
        {IDS_TEMP_OFFSET, "Temp offset"},
        {IDS_HUMI_OFFSET, "Humi Offset"},
        {IDS_TIME_PERIOD, "Time period"},
        {IDS_FIRST_TIME, "The first time"},
        {IDS_SECOND_TIME, "The Second time"},
        {IDS_THIRD_TIME, "The three time"},
        {IDS_FOURTH_TIME, "The fourth time"},
        {IDS_START, "Start"},
        {IDS_END, "End"},
        {IDS_PERIOD_DATE, "Date"},
        {IDS_PERIOD_TIME, "Time"},
        {IDS_START1_AFTER_NOW, "The first start time should be after the current time"},
        {IDS_START2_AFTER_END1, "The second start time should be after the first end time"},
        {IDS_START3_AFTER_END2, "The three start time should be after the second end time"},
        {IDS_START4_AFTER_END3, "The fourth start time should be after the three end time"},
        {IDS_REALTIME_DATA, "Real-Time Data"},
        {IDS_ACYCLIC_MODE, "Acyclic mode"},
        {IDS_CYCLE_MODE, "Cycle mode"},
        {IDS_SEGMENTED_MODE, "Segmented mode"},
        {IDS_DELETE_DATABASE_RECORDS, "Delete database records"},
        {IDS_INTERVAL_TIP, "Tip: Value range is 1 to 240"},
        {IDS_TEMP_OFFSET_INVALID, "Temperature range of offset is not valid"},
        {IDS_HUMI_OFFSET_INVALID, "Humidity is not valid offset range"},
        {IDS_AUTO_OFF_NOTE, "  Note: When OFF is selected, indicating that the device goes to sleep without any "
                            "operation within 10 minutes, otherwise steady state has been"},
        {IDS_CONFIRM_PERIOD_CHANGE, "Change the time period, will clear history record"},
        {IDS_DELETE_DEVICE_RECORDS, "Delete device records"},
        {IDS_DEVICE_ERASED, "Successfully Delete device records"},
        {IDS_DEVICE_ERASE_FAILED, "Failed Delete device records"},
        {IDS_DEVICE_ID_MISMATCH, "The device ID does not match the current"},
        {IDS_CONFIRM_DELETE_DEVICE, "Are you sure to delete device history record of the ID %s?"},
        {IDS_PROCESSING_FAILED, "Processing data failed"},
        {IDS_READ_CONFIG_SUCCESS, "Read Device ID and Configuration success"},
        {IDS_READ_CONFIG_FAILED, "Read the device ID or configuration failure"},
        {IDS_READING_CONFIG, "Read the device configuration ......"},
        {IDS_ONE_DECIMAL_PLACE, "Most only one decimal place"},
        {IDS_ORIGINAL_VALUE, "Original value: "},
        {IDS_TEMP_OFFSET_RANGE_C, "Offset value range is %0.1f°C to %0.1f°C"},
        {IDS_TEMP_OFFSET_RANGE_F, "Offset value range is %0.1f°F to %0.1f°F"},
        {IDS_HUMI_OFFSET_RANGE, "Offset value range is %d%% to %d%%"},
        {IDS_CHANGE_SETTINGS_FAIL, "Change settings fail"},
        {IDS_CHANGE_PERIOD_FAIL, "Change the time period failed"},
        {IDS_END1_AFTER_START1, "The first end time should be after first start time"},
        {IDS_END2_AFTER_START2, "The second end time should be after second start time"},
        {IDS_END3_AFTER_START3, "The three end time should be after three start time"},
        {IDS_END4_AFTER_START4, "The fourth end time should be after fourth start time"},
        {IDS_START2_AFTER_NOW, "The second start time should be after the current time"},
        {IDS_START3_AFTER_NOW, "The three start time should be after the current time"},
        {IDS_START4_AFTER_NOW, "The fourth start time should be after the current time"},
        {IDS_START3_AFTER_END1, "The three start time should be after the first end time"},
        {IDS_START4_AFTER_END1, "The fourth start time should be after the first end time"},
        {IDS_START4_AFTER_END2, "The fourth start time should be after the second end time"},
        {IDS_CONFIRM_MODE_CHANGE, "Change the mode, will clear history record"},
        {IDS_DATA_READ_COMPLETE, "Data Read Complete"},
        {IDS_READING_DATA, "Reading Data......"},
        {IDS_APP_ABOUT_PROMPT, " "},
        {IDS_APP_ABOUT_PROMPT, " "},
    };
    const StringTable english = LoadTable("resources/strings/en.txt");
    for (const auto& t : texts) EXPECT_EQ(english.Get(t.id), t.text) << t.id;
    EXPECT_EQ(Directives(english.Get(IDS_HUMI_OFFSET_RANGE)), (std::vector<std::string>{"%d", "%%", "%d", "%%"}));

    const StringTable menu = LoadTable("resources/menu/en.txt");
    const std::pair<int, const char*> items[] = {
        {IDM_POPUP_MENU, "Menu"},       {ID_MENU_SETUP, "Setup"}, {ID_MENU_HISTORY, "History"},
        {ID_MENU_GRAPH, "Graph"},       {ID_MENU_EXIT, "Exit"},   {ID_MENU_MANAGEMENT, "Management"},
        {ID_MENU_LANGUAGE, "Language"}, {IDM_POPUP_HELP, "Help"}, {ID_APP_ABOUT, "About Quorvantis..."},
    };
    for (const auto& [id, text] : items) EXPECT_EQ(menu.Get(id), text) << id;

    // The panel appends ":" to its labels itself, so they carry none.
    for (const int id :
         {IDS_DEVICE_ID, IDS_TEMPERATURE_UNIT, IDS_DATABASE_RECORDS, IDS_INTERVAL, IDS_MODE, IDS_START, IDS_END}) {
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
    for (const ResourceId& c : kMenuCommandIds) expected.insert(c.id);

    for (const char* language : kLanguages) {
        const std::string file = std::string("resources/menu/") + language + ".txt";
        SCOPED_TRACE(file);
        const StringTable menu = LoadTable(file);
        EXPECT_EQ(menu.Size(), expected.size());
        for (const int id : expected) EXPECT_FALSE(menu.Get(id).empty()) << id;
    }
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
