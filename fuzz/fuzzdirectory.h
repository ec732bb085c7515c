#pragma once
// A private temporary directory for one fuzzing process (its desktop, its
// settings file), removed when the process exits normally.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <stdlib.h>

inline std::string makeFuzzDirectory(const char* base, const char* tag)
{
    static std::string made;
    std::string pattern = std::string(base) + "/zorvane-fuzz-" + tag + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        std::abort();
    made = pattern;
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(made, ignored);
    });
    return made;
}
