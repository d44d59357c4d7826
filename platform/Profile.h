#pragma once
// Settings-file access with the rules the program relies on from the classic profile API:
// section and key names match without regard to case, values are returned exactly, a read returns
// at most bufferChars - 1 characters, and a write creates the file and the section if needed and
// keeps every other line of the file as it was.
#include <cstddef>
#include <string>

constexpr std::size_t kProfileBufferChars = 260;

std::string GetPrivateProfileString(const std::string& section, const std::string& key, const std::string& defaultValue,
                                    const std::string& path, std::size_t bufferChars = kProfileBufferChars);

// True when the file was written. The file is replaced atomically (written beside it, then renamed).
// Refused when something stands at path that is no profile, or a file of another user (a link
// into another user's file included).
bool WritePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& path);

// True when something stands at path that the reader does not read: no regular file (a FIFO, a
// device), a file far larger than any profile, or one that may not be read. Reads then give their
// defaults. A missing file is no such thing.
bool IsProfileUnreadable(const std::string& path);

// Removes the temporary files that writers of the profile at path left when they died before
// renaming them ("<file>.tmp.<pid>.<n>" of processes that no longer run).
void RemoveStaleProfileTemporaries(const std::string& path);
