#pragma once
// The settings interface. The base fixes the program directory (the working
// directory when it is built) and the settings file in it, and publishes the
// one object through thePropaty; load and save move every setting between
// the ini file and the implementation's accessors. Channels are 0-4 (0 FTP).
#include <string>

class CZorvanePropaty {
public:
    CZorvanePropaty();
    CZorvanePropaty(const CZorvanePropaty&) = delete;
    CZorvanePropaty& operator=(const CZorvanePropaty&) = delete;

    virtual int getAcceptMode() = 0;
    virtual void setAcceptMode(int mode) = 0;
    virtual int isPortEnabled(int channel) = 0;
    virtual void setPortEnabled(int channel, int enabled) = 0;
    // The channel's local port (getFtpPort ... getGenPort2 for 0-4), -1 for
    // any other channel.
    virtual int getLocalPort(int channel);
    virtual int getAppMode() = 0;
    virtual void setAppMode(int mode) = 0;
    // Valid until the next getForwardHost call.
    virtual const char* getForwardHost(int channel) = 0;
    virtual void setForwardHost(int channel, const char* host) = 0;
    virtual int getForwardPort(int channel) = 0;
    virtual void setForwardPort(int channel, int port) = 0;
    virtual int getAutoConnect() = 0;
    virtual void setAutoConnect(int on) = 0;
    virtual std::string getAutoConnectUser() = 0;
    virtual void setAutoConnectUser(const char* name) = 0;
    virtual int getStartHidden() = 0;
    virtual void setStartHidden(int value) = 0;
    virtual void setSoundMode(int mode) = 0;
    virtual int getSoundMode() = 0;
    virtual int getFtpPort() = 0;
    virtual void setFtpPort(int port) = 0;
    virtual int getHttpPort() = 0;
    virtual void setHttpPort(int port) = 0;
    virtual int getCvsPort() = 0;
    virtual void setCvsPort(int port) = 0;
    virtual int getGenPort1() = 0;
    virtual void setGenPort1(int port) = 0;
    virtual int getGenPort2() = 0;
    virtual void setGenPort2(int port) = 0;
    virtual int allowsMultipleStreams() = 0;
    virtual ~CZorvanePropaty();
    // Skype application name of channel 0; lives as long as the program.
    virtual const char* getFtpApplicationName() = 0;

    // Reads the 26 settings from iniPath into the setters (defaults for what
    // is missing); save writes them back, one key at a time.
    void load();
    void save();

    const char* iniFileName;
    std::string directory;
    std::string iniPath;
};

// The one settings object, set by its constructor (null again once it is gone).
extern CZorvanePropaty* thePropaty;
