#pragma once
// Where the program finds its files.
#include <functional>
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
// Writes all size bytes to fd, again after an interrupting signal; false on a write error.
bool WriteAll(int fd, const char* data, std::size_t size);
// Copies a file only when the target does not exist yet (never overwrites); true when copied.
// On failure error gets the errno of why (EEXIST when the target is there already).
bool CopyFileIfMissing(const std::string& source, const std::string& target, int* error = nullptr);
// The first copy of a shipped file into the data folder: made now when the target is missing.
// One that cannot be made now (no room on the disk, say) is owed, and made when the target is
// next needed (CompletePendingCopy).
void CopyForFirstStart(const std::string& source, const std::string& target);
// Makes the first copy still owed for target, if any. 0 when none is owed (any more); else the
// errno of why it still cannot be made.
int CompletePendingCopy(const std::string& target);
// True for the errors of a disk without room for a file: full, over quota, over a file-size limit.
bool IsNoRoomError(int error);
// Removes what an interrupted copy to target left beside it ("<target>.copy-XXXXXX"). Only for a
// folder no other copy of the program uses meanwhile.
void RemoveInterruptedCopies(const std::string& target);
// Removes the regular files of a folder whose names accept takes.
void RemoveFilesNamed(const std::string& folder, const std::function<bool(const std::string&)>& accept);
// The folder part and the name part of a path ("." and the path when it has no slash).
std::string FolderOf(const std::string& path);
std::string NameOf(const std::string& path);
bool FileExists(const std::string& path);
// True when path is a folder itself (not a link to one) owned by the user owner.
bool IsFolderOwnedBy(const std::string& path, unsigned owner);
// A folder for owner alone under a folder others share: made (mode 0700) when missing, and
// made private again when it is owner's. False when something else stands there (another
// user's folder, a link, a file): such a folder is refused, never used.
bool MakePrivateFolder(const std::string& path, unsigned owner);
