#pragma once
// Settings held in memory, as the main dialog keeps them, filled by load().
#include "foundation/propaty.h"

#include <string>

class HostPropaty : public CZorvanePropaty {
public:
    int getAcceptMode() override { return acceptMode; }
    void setAcceptMode(int mode) override { acceptMode = mode; }
    int isPortEnabled(int channel) override { return valid(channel) ? portEnabled[channel] : 0; }
    void setPortEnabled(int channel, int enabled) override
    {
        if (valid(channel))
            portEnabled[channel] = enabled;
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
    int allowsMultipleStreams() override { return 1; }
    const char* getFtpApplicationName() override { return "ZorvaneForFtp0000"; }

private:
    static bool valid(int channel) { return channel >= 0 && channel < 5; }

    int acceptMode = 0;
    int portEnabled[5] = {1, 1, 1, 1, 1};
    int appMode = 0;
    std::string forwardHost[5];
    int forwardPort[5] = {};
    int autoConnect = 0;
    std::string autoConnectUser;
    int startHidden = 0;
    int soundMode = 1;
    int localPort[5] = {};
};
