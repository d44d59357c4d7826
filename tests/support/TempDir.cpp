#include "support/TempDir.h"

#include "platform/StringTable.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "quorvantis-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

std::string BuildDir() { return QUORVANTIS_BUILD_DIR; }

bool CopyShippedDatabase(const std::string& path)
{
    std::error_code ec;
    fs::copy_file(BuildDir() + "/Quorvantis.db", path, fs::copy_options::overwrite_existing, ec);
    return !ec;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

namespace {

std::string SourceStringsText(const std::string& code)
{
    return ReadFile(std::string(QUORVANTIS_SOURCE_DIR) + "/resources/strings/" + code + ".txt");
}

}  // namespace

bool LoadEnglishStrings() { return AppStrings().LoadFromText(SourceStringsText("en")); }

StringTable SourceStrings(const std::string& code)
{
    StringTable table;
    table.LoadFromText(SourceStringsText(code));
    return table;
}
