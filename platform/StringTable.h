#pragma once
// Program texts by numeric string id, for the language fixed at start-up.
// The file format: one entry per line, "<id><TAB><text>"; in the text "\n", "\t" and "\\" are
// escapes. Empty lines and lines starting with '#' are ignored.
#include <map>
#include <string>
#include <string_view>

class StringTable {
public:
    // Replaces the table's entries; false (and the table left empty) when a line is malformed.
    bool LoadFromText(std::string_view text);
    bool Has(int id) const;
    // "" for a missing id.
    std::string Get(int id) const;
    std::size_t Size() const { return m_texts.size(); }

private:
    std::map<int, std::string> m_texts;
};

// The table of the language fixed at start-up; filled by the application, read everywhere.
StringTable& AppStrings();
// Shorthand for AppStrings().Get(id).
std::string LoadString(int id);
// The text of id with its "%s" replaced by arg: a path or an ID fills in as it stands, whatever
// characters it holds, and a stray "%" in a translation does nothing.
std::string LoadString(int id, const std::string& arg);
