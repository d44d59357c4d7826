#pragma once
// A fresh temporary folder for one test, removed with everything in it at the end.
#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// A whole file as bytes ("" when it cannot be read), and a file written whole from bytes.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// Copies the shipped empty database (made by the build) to path; true on success.
bool CopyShippedDatabase(const std::string& path);
// Path of the build folder, where the program and its shipped files lie.
std::string BuildDir();
// Makes the English string table the program's (from the sources); true on success.
bool LoadEnglishStrings();
// The string table of one language, by its code ("en", "zh", ...), read from the sources.
class StringTable;
StringTable SourceStrings(const std::string& code);
