// The ini reader and writer: a settings file of arbitrary content, then a
// series of writes. Whatever a write accepted reads back with the same
// section and key, as text and, for numbers written as "%d", as an integer;
// every value written before still reads as it was, unless a later write
// replaced it; a write that is refused leaves the file as it was.
#include "fuzzdirectory.h"
#include "platform/ini.h"
#include "platform/trace.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <unistd.h>

namespace {

// A broken promise: named on standard error, then the run stops as on a crash.
std::string context; // the write being checked

void failed(const char* what, int line)
{
    std::fprintf(stderr, "fuzz check failed (line %d): %s\n%s\n", line, what, context.c_str());
    std::abort();
}
#define check(condition) ((condition) ? (void)0 : failed(#condition, __LINE__))

std::string path;

std::string readAll()
{
    std::string all;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            all.append(buffer, n);
        std::fclose(f);
    }
    return all;
}

std::string trimmed(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
        --e;
    return s.substr(b, e - b);
}

// How the reader matches names: without blanks around them, in any ASCII case.
std::string nameKey(const std::string& s)
{
    std::string t = trimmed(s);
    for (char& c : t)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return t;
}

struct Written {
    std::string section;
    std::string key;
    std::string value;
};

std::string readText(const std::string& section, const std::string& key)
{
    static char buffer[70000];
    GetPrivateProfileStringA(section.c_str(), key.c_str(), "\x01missing", buffer, sizeof buffer,
                             path.c_str());
    return buffer;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (std::getenv("ZORVANE_FUZZ_TRACE") == nullptr)
        setTraceEnabled(false);
    // On a memory file system where there is one: every write is synced.
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    path = makeFuzzDirectory(base, "ini") + "/ZorvaneForTcp.ini";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    unlink(path.c_str());
    if (in.ConsumeBool()) {
        std::string content = in.ConsumeRandomLengthString(4096);
        FILE* f = std::fopen(path.c_str(), "wb");
        check(f != nullptr);
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
    }
    std::map<std::pair<std::string, std::string>, Written> written;
    for (int i = 0; i < 8 && in.remaining_bytes() > 0; ++i) {
        // As the callers pass them: texts end at their first NUL.
        std::string section = in.ConsumeRandomLengthString(40).c_str();
        std::string key = in.ConsumeRandomLengthString(40).c_str();
        std::string value;
        bool number = in.ConsumeBool();
        int integer = 0;
        if (number) {
            integer = in.ConsumeIntegral<int>();
            value = std::to_string(integer);
        } else {
            value = in.ConsumeRandomLengthString(300).c_str();
        }
        context = "write [" + section + "] <" + key + "> = <" + value + ">";
        std::string before = readAll();
        BOOL ok = WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path.c_str());
        if (!ok) {
            check(readAll() == before);
            continue;
        }
        check(readText(section, key) == trimmed(value));
        if (number)
            check(static_cast<int>(GetPrivateProfileIntA(section.c_str(), key.c_str(), integer ^ 1,
                                                         path.c_str())) == integer);
        written[{nameKey(section), nameKey(key)}] = Written{section, key, value};
        for (const auto& [name, w] : written)
            check(readText(w.section, w.key) == trimmed(w.value));
    }
    return 0;
}
