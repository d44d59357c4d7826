#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
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
