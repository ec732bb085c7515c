#pragma once
// A settings object for tests: keeps every value in plain members, as the main
// dialog keeps them in its controls; a temporary working directory for it.
#include "foundation/propaty.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class TestPropaty : public CZorvanePropaty {
public:
    int acceptMode = -100, appMode = -100, autoConnect = -100, startHidden = -100,
        soundMode = -100;
    int enabled[5] = {-100, -100, -100, -100, -100};
    int forwardPort[5] = {-100, -100, -100, -100, -100};
    std::string forwardHost[5] = {"unset", "unset", "unset", "unset", "unset"};
    std::string autoConnectUser = "unset";
    int ftpPort = -100, httpPort = -100, cvsPort = -100, genPort1 = -100, genPort2 = -100;

    int getAcceptMode() override { return acceptMode; }
    void setAcceptMode(int mode) override { acceptMode = mode; }
    int isPortEnabled(int channel) override { return enabled[channel]; }
    void setPortEnabled(int channel, int on) override { enabled[channel] = on; }
    int getLocalPort(int channel) override { return CZorvanePropaty::getLocalPort(channel); }
    int getAppMode() override { return appMode; }
    void setAppMode(int mode) override { appMode = mode; }
    const char* getForwardHost(int channel) override { return forwardHost[channel].c_str(); }
    void setForwardHost(int channel, const char* host) override { forwardHost[channel] = host; }
    int getForwardPort(int channel) override { return forwardPort[channel]; }
    void setForwardPort(int channel, int port) override { forwardPort[channel] = port; }
    int getAutoConnect() override { return autoConnect; }
    void setAutoConnect(int on) override { autoConnect = on; }
    std::string getAutoConnectUser() override { return autoConnectUser; }
    void setAutoConnectUser(const char* name) override { autoConnectUser = name; }
    int getStartHidden() override { return startHidden; }
    void setStartHidden(int value) override { startHidden = value; }
    void setSoundMode(int mode) override { soundMode = mode; }
    int getSoundMode() override { return soundMode; }
    int getFtpPort() override { return ftpPort; }
    void setFtpPort(int port) override { ftpPort = port; }
    int getHttpPort() override { return httpPort; }
    void setHttpPort(int port) override { httpPort = port; }
    int getCvsPort() override { return cvsPort; }
    void setCvsPort(int port) override { cvsPort = port; }
    int getGenPort1() override { return genPort1; }
    void setGenPort1(int port) override { genPort1 = port; }
    int getGenPort2() override { return genPort2; }
    void setGenPort2(int port) override { genPort2 = port; }
    int allowsMultipleStreams() override { return 1; }
    const char* getFtpApplicationName() override { return "ZorvaneForFtp0000"; }
};

// Runs each test in a fresh, empty working directory (the program directory).
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
