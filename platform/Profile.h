#pragma once
// Settings-file access with the rules the program relies on from the classic profile API:
// section and key names match without regard to case, values are returned exactly, a read returns
// at most bufferChars - 1 characters, and a write creates the file and the section if needed and
// keeps every other line of the file as it was.
#include <cstddef>
#include <string>

constexpr std::size_t kProfileBufferChars = 260;

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& path,
                                    std::size_t bufferChars = kProfileBufferChars);

// True when the file was written. The file is replaced atomically (written beside it, then renamed).
bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path);
