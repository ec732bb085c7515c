#pragma once
// Settings for tests and test programs: every value a plain public member, as
// the main dialog keeps them in its controls. The members start with the
// values load() gives when the settings file is missing; tests change what
// they need, load() fills them from the file. Channels outside 0-4 read as
// off/empty and are not stored.
#include "foundation/propaty.h"

#include <string>

class TestPropaty : public CZorvanePropaty {
public:
    int appMode = 0;
    int acceptMode = 0;
    int enabled[5] = {1, 1, 1, 1, 1};
    int startHidden = 0;
    int soundMode = 1;
    std::string forwardHost[5] = {"127.0.0.1", "127.0.0.1", "127.0.0.1", "127.0.0.1", "127.0.0.1"};
    int forwardPort[5] = {21, 80, 2401, 5900, 9023};
    int localPort[5] = {21, 80, 2401, 5900, 9023}; // FTP, HTTP, CVS, GEN1, GEN2
    int autoConnect = 0;
    std::string autoConnectUser;
    int multipleStreams = 1;
    std::string ftpApplicationName = "ZorvaneForFtp0000";

    // Sets every loadable value to a marker no load() gives, so that a test
    // sees which ones load() really set.
    void markUnset()
    {
        appMode = acceptMode = startHidden = soundMode = autoConnect = -100;
        for (int ch = 0; ch < 5; ++ch) {
            enabled[ch] = forwardPort[ch] = localPort[ch] = -100;
            forwardHost[ch] = "unset";
        }
        autoConnectUser = "unset";
    }

    int getAcceptMode() override { return acceptMode; }
    void setAcceptMode(int mode) override { acceptMode = mode; }
    int isPortEnabled(int channel) override { return valid(channel) ? enabled[channel] : 0; }
    void setPortEnabled(int channel, int on) override
    {
        if (valid(channel))
            enabled[channel] = on;
    }
    int getAppMode() override { return appMode; }
    void setAppMode(int mode) override { appMode = mode; }
    const char* getForwardHost(int channel) override
    {
        return valid(channel) ? forwardHost[channel].c_str() : "";
    }
    void setForwardHost(int channel, const char* host) override
    {
        if (valid(channel))
            forwardHost[channel] = host ? host : "";
    }
    int getForwardPort(int channel) override { return valid(channel) ? forwardPort[channel] : 0; }
    void setForwardPort(int channel, int port) override
    {
        if (valid(channel))
            forwardPort[channel] = port;
    }
    int getAutoConnect() override { return autoConnect; }
    void setAutoConnect(int on) override { autoConnect = on; }
    std::string getAutoConnectUser() override { return autoConnectUser; }
    void setAutoConnectUser(const char* name) override { autoConnectUser = name ? name : ""; }
    int getStartHidden() override { return startHidden; }
    void setStartHidden(int value) override { startHidden = value; }
    void setSoundMode(int mode) override { soundMode = mode; }
    int getSoundMode() override { return soundMode; }
    int getFtpPort() override { return localPort[0]; }
    void setFtpPort(int port) override { localPort[0] = port; }
    int getHttpPort() override { return localPort[1]; }
    void setHttpPort(int port) override { localPort[1] = port; }
    int getCvsPort() override { return localPort[2]; }
    void setCvsPort(int port) override { localPort[2] = port; }
    int getGenPort1() override { return localPort[3]; }
    void setGenPort1(int port) override { localPort[3] = port; }
    int getGenPort2() override { return localPort[4]; }
    void setGenPort2(int port) override { localPort[4] = port; }
    int allowsMultipleStreams() override { return multipleStreams; }
    const char* getFtpApplicationName() override { return ftpApplicationName.c_str(); }

private:
    static bool valid(int channel) { return channel >= 0 && channel < 5; }
};
