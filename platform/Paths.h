#pragma once
// Where the program finds its files.
#include <string>

// Folder of the running executable (from /proc/self/exe), without a trailing slash; "" if unknown.
std::string ExecutableDir();
// Full path of the running executable; "" if unknown.
std::string ExecutablePath();
// The data folder: $QUORVANTIS_DATA_DIR when set, else $XDG_DATA_HOME/Quorvantis3.2,
// else ~/.local/share/Quorvantis3.2. Not created here.
std::string DataFolder();
// Creates a folder and its parents; true when it exists afterwards.
bool MakeSureDirectoryPathExists(const std::string& path);
// Copies a file only when the target does not exist yet (never overwrites); true when copied.
bool CopyFileIfMissing(const std::string& source, const std::string& target);
bool FileExists(const std::string& path);
// True when path is a folder itself (not a link to one) owned by the user owner.
bool IsFolderOwnedBy(const std::string& path, unsigned owner);
// A folder for owner alone under a folder others share: made (mode 0700) when missing, and
// made private again when it is owner's. False when something else stands there (another
// user's folder, a link, a file): such a folder is refused, never used.
bool MakePrivateFolder(const std::string& path, unsigned owner);
