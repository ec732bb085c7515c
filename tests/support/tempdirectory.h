#pragma once
// A fixture that runs each test in a fresh, empty working directory (the
// program directory), with small file helpers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class InTempDirectory : public testing::Test {
protected:
    void SetUp() override
    {
        static std::atomic<int> serial{0};
        previous = std::filesystem::current_path();
        dir = std::filesystem::temp_directory_path() /
              ("zorvane-found-" + std::to_string(std::chrono::steady_clock::now()
                                                      .time_since_epoch()
                                                      .count()) +
               "-" + std::to_string(serial++));
        std::filesystem::create_directories(dir);
        std::filesystem::current_path(dir);
    }
    void TearDown() override
    {
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(dir);
    }

    static std::string readFile(const std::filesystem::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static void writeFile(const std::filesystem::path& path, const std::string& text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }

    std::filesystem::path previous;
    std::filesystem::path dir;
};
