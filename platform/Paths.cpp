#include "platform/Paths.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string StripTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string EnvValue(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string HomeFolder()
{
    std::string home = EnvValue("HOME");
    if (!home.empty()) return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result && result->pw_dir)
        return result->pw_dir;
    return {};
}

}  // namespace

bool WriteAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

namespace {

// Copies the contents of an open source file into fd; false on any read or write error.
bool CopyContents(int source, int fd)
{
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(source, buffer, sizeof buffer);
        if (got == 0) return true;
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (!WriteAll(fd, buffer, static_cast<std::size_t>(got))) return false;
    }
}

// Puts a finished file at target unless something is there already.
bool PlaceWithoutReplacing(const std::string& temp, const std::string& target)
{
    if (link(temp.c_str(), target.c_str()) == 0) return true;
    if (errno == EEXIST) return false;
    // File systems without hard links: an exclusive rename does the same.
    return renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0;
}

}  // namespace

std::string ExecutablePath()
{
    std::error_code ec;
    const fs::path path = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    // A program file replaced while running (a rebuild, an update) reads as "<path> (deleted)";
    // the path itself is what callers want.
    std::string text = path.string();
    const std::string deleted = " (deleted)";
    if (text.size() > deleted.size() && text.compare(text.size() - deleted.size(), deleted.size(), deleted) == 0)
        text.resize(text.size() - deleted.size());
    return text;
}

std::string ExecutableDir()
{
    const std::string path = ExecutablePath();
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string DataFolder()
{
    const std::string own = EnvValue("QUORVANTIS_DATA_DIR");
    if (!own.empty()) return StripTrailingSlashes(own);
    // A relative XDG_DATA_HOME is invalid and ignored.
    const std::string xdg = EnvValue("XDG_DATA_HOME");
    if (!xdg.empty() && xdg.front() == '/') return StripTrailingSlashes(xdg) + "/Quorvantis3.2";
    const std::string home = HomeFolder();
    if (home.empty()) return {};
    return StripTrailingSlashes(home) + "/.local/share/Quorvantis3.2";
}

bool MakeSureDirectoryPathExists(const std::string& path)
{
    if (path.empty()) return false;
    std::error_code ec;
    fs::create_directories(path, ec);
    return fs::is_directory(path, ec);
}

bool CopyFileIfMissing(const std::string& source, const std::string& target, int* error)
{
    int ignored = 0;
    int& why = error ? *error : ignored;
    why = 0;
    struct stat st {};
    if (lstat(target.c_str(), &st) == 0) {
        why = EEXIST;
        return false;
    }

    const int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        why = errno;
        return false;
    }
    struct stat sourceStat {};
    if (fstat(in, &sourceStat) != 0 || !S_ISREG(sourceStat.st_mode)) {
        why = EINVAL;
        close(in);
        return false;
    }

    // Copy beside the target under a temporary name, so that no half-copied file ever appears
    // under the real name.
    std::string temp = target + ".copy-XXXXXX";
    const int out = mkostemp(temp.data(), O_CLOEXEC);
    if (out < 0) {
        why = errno;
        close(in);
        return false;
    }
    // The copy must be writable by its user even when the shipped file is read-only.
    bool ok =
        CopyContents(in, out) && fchmod(out, (sourceStat.st_mode & 0777) | S_IRUSR | S_IWUSR) == 0 && fsync(out) == 0;
    if (!ok) why = errno;
    close(in);
    if (close(out) != 0 && ok) {
        ok = false;
        why = errno;
    }
    if (ok && !PlaceWithoutReplacing(temp, target)) {
        ok = false;
        why = errno;
    }
    unlink(temp.c_str());
    return ok;
}

namespace {

// First copies owed, by target.
std::mutex g_pendingMutex;
std::map<std::string, std::string> g_pendingCopies;
std::atomic<bool> g_anyPending{false};

}  // namespace

void CopyForFirstStart(const std::string& source, const std::string& target)
{
    int error = 0;
    const bool copied = CopyFileIfMissing(source, target, &error);
    std::lock_guard<std::mutex> lock(g_pendingMutex);
    if (copied || error == EEXIST)
        g_pendingCopies.erase(target);
    else
        g_pendingCopies[target] = source;
    g_anyPending = !g_pendingCopies.empty();
}

int CompletePendingCopy(const std::string& target)
{
    if (!g_anyPending) return 0;
    std::lock_guard<std::mutex> lock(g_pendingMutex);
    const auto it = g_pendingCopies.find(target);
    if (it == g_pendingCopies.end()) return 0;
    int error = 0;
    if (!CopyFileIfMissing(it->second, target, &error) && error != EEXIST) return error;
    g_pendingCopies.erase(it);
    g_anyPending = !g_pendingCopies.empty();
    return 0;
}

bool IsNoRoomError(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

std::string FolderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void RemoveFilesNamed(const std::string& folder, const std::function<bool(const std::string&)>& accept)
{
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    const int fd = dirfd(dir);
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (!accept(name)) continue;
        struct stat st {};
        if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            unlinkat(fd, name.c_str(), 0);
    }
    closedir(dir);
}

void RemoveInterruptedCopies(const std::string& target)
{
    // mkostemp's six characters after the fixed part.
    const std::string prefix = NameOf(target) + ".copy-";
    RemoveFilesNamed(FolderOf(target), [&prefix](const std::string& name) {
        return name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0;
    });
}

bool FileExists(const std::string& path)
{
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

bool IsFolderOwnedBy(const std::string& path, unsigned owner)
{
    struct stat st {};
    return !path.empty() && lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == owner;
}

bool MakePrivateFolder(const std::string& path, unsigned owner)
{
    if (path.empty()) return false;
    if (mkdir(path.c_str(), S_IRWXU) != 0 && errno != EEXIST) return false;
    if (!IsFolderOwnedBy(path, owner)) return false;
    return chmod(path.c_str(), S_IRWXU) == 0;
}
