#include "platform/Profile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Paths.h"
#include "platform/TextCompare.h"

namespace {

// Serialises read-modify-write cycles of this process so that two writers never lose a change.
std::mutex g_profileMutex;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string Trim(const std::string& text, std::size_t begin, std::size_t end)
{
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// At most maxChars code points of a UTF-8 text, never cutting a character in two.
std::string TruncateChars(const std::string& text, std::size_t maxChars)
{
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool lead = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (lead) {
            if (chars == maxChars) return text.substr(0, i);
            ++chars;
        }
    }
    return text;
}

struct Line {
    enum Kind { Other, Section, Key } kind = Other;
    std::string name;   // section or key name, blanks trimmed
    std::string value;  // key value, blanks trimmed
};

Line Classify(const std::string& raw)
{
    Line line;
    std::size_t begin = 0;
    while (begin < raw.size() && IsBlank(raw[begin])) ++begin;
    if (begin == raw.size() || raw[begin] == ';') return line;
    if (raw[begin] == '[') {
        std::size_t close = raw.find(']', begin + 1);
        if (close == std::string::npos) close = raw.size();
        line.kind = Line::Section;
        line.name = Trim(raw, begin + 1, close);
        return line;
    }
    const std::size_t eq = raw.find('=', begin);
    if (eq == std::string::npos) return line;
    line.kind = Line::Key;
    line.name = Trim(raw, begin, eq);
    line.value = Trim(raw, eq + 1, raw.size());
    return line;
}

// The file split into lines without their '\n' (a '\r' stays with its line).
struct ProfileText {
    std::vector<std::string> lines;
    bool finalNewline = true;
    bool crlf = false;
};

ProfileText Split(const std::string& content)
{
    ProfileText text;
    std::size_t start = 0;
    while (start < content.size()) {
        const std::size_t nl = content.find('\n', start);
        if (nl == std::string::npos) {
            text.lines.push_back(content.substr(start));
            text.finalNewline = false;
            break;
        }
        text.lines.push_back(content.substr(start, nl - start));
        start = nl + 1;
    }
    const std::size_t firstNl = content.find('\n');
    text.crlf = firstNl != std::string::npos && firstNl > 0 && content[firstNl - 1] == '\r';
    return text;
}

// A byte-order mark stays in the file but is no part of the first line's name.
Line ClassifyAt(const ProfileText& text, std::size_t index)
{
    const std::string& raw = text.lines[index];
    if (index == 0 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) return Classify(raw.substr(3));
    return Classify(raw);
}

// Larger files are no profile of this program (it writes a few hundred bytes); they are still
// read up to this size, so that a profile swollen by some mishap keeps working.
constexpr off_t kMaxProfileBytes = off_t{128} << 20;

// Opens a profile for reading. -1 with missing set for a missing file (or a link to none); -1
// alone when something stands at path that is no profile: no regular file (a FIFO would hang the
// read, a device would never end it), larger than kMaxProfileBytes, or not readable.
int OpenProfile(const std::string& path, bool& missing, struct stat& st)
{
    missing = false;
    // Looked at before it is opened: opening a device can do something by itself.
    if (stat(path.c_str(), &st) != 0) {
        missing = errno == ENOENT;
        return -1;
    }
    if (!S_ISREG(st.st_mode) || st.st_size > kMaxProfileBytes) return -1;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return -1;
    // The file may have been replaced between the look and the open.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxProfileBytes) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads a whole profile. nullopt when something stands at path that is no profile (OpenProfile);
// a missing file is an empty text.
std::optional<std::string> ReadFile(const std::string& path, bool& exists)
{
    exists = false;
    bool missing = false;
    struct stat st {};
    const int fd = OpenProfile(path, missing, st);
    if (fd < 0) return missing ? std::optional<std::string>(std::string()) : std::nullopt;
    std::string content;
    content.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    bool ok = true;
    for (;;) {
        if (got == content.size()) {
            // A file that grows while it is read: take what comes, up to the limit.
            if (content.size() > static_cast<std::size_t>(kMaxProfileBytes)) {
                ok = false;
                break;
            }
            content.resize(content.size() + 4096);
        }
        const ssize_t n = read(fd, content.data() + got, content.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    if (!ok) return std::nullopt;
    content.resize(got);
    exists = true;
    return content;
}

struct Found {
    std::optional<std::size_t> section;  // first header of the section
    std::optional<std::size_t> key;      // line of the key
};

// The names asked for are trimmed like the names in the file.
Found FindKey(const ProfileText& text, const std::string& sectionArg, const std::string& keyArg)
{
    const std::string section = Trim(sectionArg, 0, sectionArg.size());
    const std::string key = Trim(keyArg, 0, keyArg.size());
    Found found;
    bool inSection = false;
    for (std::size_t i = 0; i < text.lines.size(); ++i) {
        const Line line = ClassifyAt(text, i);
        if (line.kind == Line::Section) {
            inSection = EqualsNoCase(line.name, section);
            if (inSection && !found.section) found.section = i;
        } else if (inSection && line.kind == Line::Key && EqualsNoCase(line.name, key)) {
            found.key = i;
            return found;
        }
    }
    return found;
}

bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

// The name a profile's temporary copies get beside the file they replace.
std::string TemporaryPrefix(const std::string& target) { return target + ".tmp."; }

// Writes content beside path and renames it over path, so a reader sees the old or the new file,
// never a half-written one. A link is kept a link and its file replaced, but only a regular file
// of the user's own: the program never writes into another user's file, however it got there.
bool ReplaceFile(const std::string& path, const std::string& content, bool exists)
{
    std::string target = path;
    struct stat st {};
    if (exists) {
        char resolved[PATH_MAX];
        if (!realpath(path.c_str(), resolved)) return false;
        target = resolved;
        if (lstat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) return false;
    }
    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = TemporaryPrefix(target) + std::to_string(getpid()) + "." + std::to_string(counter++);
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = !exists || fchmod(fd, st.st_mode & 07777) == 0;
    ok = ok && WriteAll(fd, content.data(), content.size()) && fsync(fd) == 0;
    if (close(fd) != 0) ok = false;
    if (ok) ok = rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) unlink(temp.c_str());
    return ok;
}

// "<digits>.<digits>" after the prefix: the process id and a counter.
std::optional<pid_t> TemporaryOwner(const std::string& name, const std::string& prefix)
{
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    const std::string rest = name.substr(prefix.size());
    const auto dot = rest.find('.');
    if (dot == 0 || dot == std::string::npos || dot + 1 == rest.size() || dot > 9) return std::nullopt;
    for (std::size_t i = 0; i < rest.size(); ++i)
        if (i != dot && (rest[i] < '0' || rest[i] > '9')) return std::nullopt;
    return static_cast<pid_t>(std::stol(rest.substr(0, dot)));
}

bool IsRunning(pid_t pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

}  // namespace

bool IsProfileUnreadable(const std::string& path)
{
    CompletePendingCopy(path);
    bool missing = false;
    struct stat st {};
    const int fd = OpenProfile(path, missing, st);
    if (fd >= 0) close(fd);
    return fd < 0 && !missing;
}

void RemoveStaleProfileTemporaries(const std::string& path)
{
    // A writer puts them beside the file a link leads to, but only when that file is the user's
    // own: nothing is removed from another user's folder.
    std::string target = path;
    char resolved[PATH_MAX];
    struct stat st {};
    if (realpath(path.c_str(), resolved) && stat(resolved, &st) == 0 && st.st_uid == geteuid()) target = resolved;
    const std::string prefix = NameOf(TemporaryPrefix(target));
    RemoveFilesNamed(FolderOf(target), [&prefix](const std::string& name) {
        const std::optional<pid_t> owner = TemporaryOwner(name, prefix);
        // A running process may still be writing it, this one included.
        return owner && *owner != getpid() && !IsRunning(*owner);
    });
}

std::string GetPrivateProfileString(const std::string& section, const std::string& key, const std::string& defaultValue,
                                    const std::string& path, std::size_t bufferChars)
{
    if (bufferChars == 0) return {};
    CompletePendingCopy(path);
    std::string result = defaultValue;
    {
        std::lock_guard<std::mutex> lock(g_profileMutex);
        bool exists = false;
        const std::optional<std::string> content = ReadFile(path, exists);
        if (content && exists) {
            const ProfileText text = Split(*content);
            const Found found = FindKey(text, section, key);
            if (found.key) result = ClassifyAt(text, *found.key).value;
        }
    }
    return TruncateChars(result, bufferChars - 1);
}

bool WritePrivateProfileString(const std::string& sectionArg, const std::string& keyArg, const std::string& value,
                               const std::string& path)
{
    const std::string section = Trim(sectionArg, 0, sectionArg.size());
    const std::string key = Trim(keyArg, 0, keyArg.size());
    // Names and values that would break the line structure of the file are refused, and so is a
    // key that would read back as a section header or a comment.
    if (section.empty() || key.empty() || HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value) ||
        section.find(']') != std::string::npos || key.find('=') != std::string::npos || key.front() == '[' ||
        key.front() == ';')
        return false;

    CompletePendingCopy(path);
    std::lock_guard<std::mutex> lock(g_profileMutex);
    bool exists = false;
    const std::optional<std::string> content = ReadFile(path, exists);
    if (!content) return false;
    ProfileText text = Split(*content);
    const std::string cr = text.crlf ? "\r" : "";
    const Found found = FindKey(text, section, key);

    if (found.key) {
        std::string& raw = text.lines[*found.key];
        const bool hadCr = !raw.empty() && raw.back() == '\r';
        raw = ClassifyAt(text, *found.key).name + "=" + value + (hadCr ? "\r" : "");
    } else if (found.section) {
        // After the section's last entry, before the blank lines that set off the next section.
        std::size_t insertAt = *found.section + 1;
        for (std::size_t i = *found.section + 1; i < text.lines.size(); ++i) {
            const Line line = ClassifyAt(text, i);
            if (line.kind == Line::Section) break;
            if (Trim(text.lines[i], 0, text.lines[i].size()).size() > 0) insertAt = i + 1;
        }
        if (insertAt == text.lines.size()) text.finalNewline = true;
        text.lines.insert(text.lines.begin() + static_cast<std::ptrdiff_t>(insertAt), key + "=" + value + cr);
    } else {
        text.lines.push_back("[" + section + "]" + cr);
        text.lines.push_back(key + "=" + value + cr);
        text.finalNewline = true;
    }

    std::string out;
    for (std::size_t i = 0; i < text.lines.size(); ++i) {
        out += text.lines[i];
        if (i + 1 < text.lines.size() || text.finalNewline) out += '\n';
    }
    return ReplaceFile(path, out, exists);
}
