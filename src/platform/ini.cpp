#include "platform/ini.h"

#include "platform/trace.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Serialises read-modify-write cycles of this process.
std::mutex writeMutex;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && (isBlank(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

// One line of the file; text holds its line end, if any.
struct Line {
    std::string text;

    std::string_view content() const
    {
        std::string_view s = text;
        if (!s.empty() && s.back() == '\n')
            s.remove_suffix(1);
        if (!s.empty() && s.back() == '\r')
            s.remove_suffix(1);
        return s;
    }
    bool hasEnd() const { return !text.empty() && text.back() == '\n'; }
    // Section header: "[name]".
    bool header(std::string_view* name) const
    {
        std::string_view s = trim(content());
        if (s.empty() || s.front() != '[')
            return false;
        size_t close = s.find(']');
        if (close == std::string_view::npos)
            return false;
        *name = trim(s.substr(1, close - 1));
        return true;
    }
    // "key=value" (comments excluded).
    bool entry(std::string_view* key, std::string_view* value) const
    {
        std::string_view s = trim(content());
        if (s.empty() || s.front() == ';' || s.front() == '#' || s.front() == '[')
            return false;
        size_t eq = s.find('=');
        if (eq == std::string_view::npos)
            return false;
        *key = trim(s.substr(0, eq));
        *value = trim(s.substr(eq + 1));
        return true;
    }
};

enum class ReadResult { Ok, Missing, Failed };

ReadResult readLines(const char* fileName, std::vector<Line>* lines)
{
    FILE* f = std::fopen(fileName, "rb");
    if (!f)
        return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    std::string all;
    char buffer[8192];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        all.append(buffer, n);
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed)
        return ReadResult::Failed;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\n', start);
        end = end == std::string::npos ? all.size() : end + 1;
        lines->push_back(Line{all.substr(start, end - start)});
        start = end;
    }
    return ReadResult::Ok;
}

// Finds the value of section/key; false when absent.
bool findValue(const char* section, const char* key, const char* fileName, std::string* value)
{
    if (!section || !key || !fileName)
        return false;
    std::vector<Line> lines;
    if (readLines(fileName, &lines) != ReadResult::Ok)
        return false;
    // Names without the blanks around them, as the writer stores them.
    const std::string_view sectionName = trim(section), keyName = trim(key);
    bool inSection = false;
    for (const Line& line : lines) {
        std::string_view name, k, v;
        if (line.header(&name)) {
            if (inSection)
                return false; // the first section of that name counts
            inSection = sameName(name, sectionName);
        } else if (inSection && line.entry(&k, &v) && sameName(k, keyName)) {
            value->assign(v);
            return true;
        }
    }
    return false;
}

bool parseDecimal(std::string_view s, int* out)
{
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty())
        return false;
    long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
        if (v > static_cast<long long>(INT_MAX) + 1)
            return false;
    }
    if (negative)
        v = -v;
    if (v > INT_MAX || v < INT_MIN)
        return false;
    *out = static_cast<int>(v);
    return true;
}

bool hasLineEnd(const char* s) { return std::strpbrk(s, "\r\n") != nullptr; }

bool writeAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Replaces fileName with data: temporary file beside it, flushed to disk, renamed.
bool replaceFile(const char* fileName, const std::string& data)
{
    std::string target = fileName;
    struct stat st {};
    bool existed = ::stat(fileName, &st) == 0;
    if (existed && !S_ISREG(st.st_mode)) {
        trace("ini: %s is not a regular file\n", fileName);
        return false;
    }
    // Write through a symbolic link to the file it names.
    if (char* real = ::realpath(fileName, nullptr)) {
        target = real;
        std::free(real);
    }
    std::string temp = target + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        trace("ini: cannot create a temporary file for %s (errno %d)\n", fileName, errno);
        return false;
    }
    bool ok = ::fchmod(fd, existed ? (st.st_mode & 07777) : 0644) == 0;
    ok = ok && writeAll(fd, data) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        trace("ini: cannot write %s (errno %d)\n", fileName, errno);
        ::unlink(temp.c_str());
    }
    return ok;
}

} // namespace

UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                           const char* fileName)
{
    std::string text;
    int value = defaultValue;
    if (findValue(section, key, fileName, &text) && !parseDecimal(text, &value))
        value = defaultValue;
    return static_cast<UINT>(value);
}

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* returned, DWORD size, const char* fileName)
{
    if (!returned || size == 0)
        return 0;
    std::string text;
    if (!findValue(section, key, fileName, &text))
        text = defaultValue ? defaultValue : "";
    size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(returned, text.data(), n);
    returned[n] = '\0';
    return static_cast<DWORD>(n);
}

BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName)
{
    if (!section || !key || !value || !fileName || !*fileName)
        return FALSE;
    std::string_view sectionName = trim(section), keyName = trim(key);
    if (hasLineEnd(section) || hasLineEnd(key) || hasLineEnd(value) || std::strchr(section, ']') ||
        std::strchr(key, '=') || keyName.empty() || keyName.front() == '[' ||
        keyName.front() == ';' || keyName.front() == '#') {
        trace("ini: refused to write [%s] %s\n", section, key);
        return FALSE;
    }

    std::lock_guard<std::mutex> lock(writeMutex);
    std::vector<Line> lines;
    if (readLines(fileName, &lines) == ReadResult::Failed) {
        trace("ini: cannot read %s (errno %d)\n", fileName, errno);
        return FALSE;
    }
    const char* eol = "\n";
    if (!lines.empty() && lines.front().text.size() >= 2 &&
        lines.front().text.compare(lines.front().text.size() - 2, 2, "\r\n") == 0)
        eol = "\r\n";
    std::string entry = std::string(keyName) + "=" + std::string(trim(value));

    // Locate the section and, inside it, the key or the place for a new key.
    size_t sectionAt = lines.size(), keyAt = lines.size(), lastFilled = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string_view name, k, v;
        if (lines[i].header(&name)) {
            if (sectionAt != lines.size())
                break;
            if (sameName(name, sectionName))
                sectionAt = lastFilled = i;
        } else if (sectionAt != lines.size()) {
            if (lines[i].entry(&k, &v) && sameName(k, keyName)) {
                keyAt = i;
                break;
            }
            if (!trim(lines[i].content()).empty())
                lastFilled = i;
        }
    }

    if (keyAt != lines.size()) {
        std::string_view old = lines[keyAt].text;
        std::string end(old.substr(lines[keyAt].content().size()));
        lines[keyAt].text = entry + end;
    } else {
        size_t at = sectionAt != lines.size() ? lastFilled + 1 : lines.size();
        if (at > 0 && !lines[at - 1].hasEnd())
            lines[at - 1].text += eol;
        std::vector<Line> added;
        if (sectionAt == lines.size())
            added.push_back(Line{"[" + std::string(sectionName) + "]" + eol});
        added.push_back(Line{entry + eol});
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), added.begin(), added.end());
    }

    std::string data;
    for (const Line& line : lines)
        data += line.text;
    return replaceFile(fileName, data) ? TRUE : FALSE;
}
