#include "foundation/propaty.h"

#include "foundation/eventlog.h"
#include "platform/fileapi.h"
#include "platform/ini.h"
#include "platform/trace.h"

#include <climits>
#include <cstdio>
#include <vector>

CZorvanePropaty* thePropaty = nullptr;

CZorvanePropaty::CZorvanePropaty() : iniFileName("ZorvaneForTcp.ini")
{
    // Linux paths may be longer than MAX_PATH; 4096 covers them.
    std::vector<char> buffer(4097, '\0');
    DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
    directory = buffer.data();
    if (n == 0 || n >= buffer.size() || directory.empty()) {
        trace("CZorvanePropaty: working directory unreadable, using \".\"\n");
        directory = ".";
    }
    iniPath = directory + "/" + iniFileName;
    thePropaty = this;
}

CZorvanePropaty::~CZorvanePropaty()
{
    if (thePropaty == this)
        thePropaty = nullptr;
}

int CZorvanePropaty::getLocalPort(int channel)
{
    switch (channel) {
    case 0: return getFtpPort();
    case 1: return getHttpPort();
    case 2: return getCvsPort();
    case 3: return getGenPort1();
    case 4: return getGenPort2();
    default: return -1;
    }
}

namespace {

constexpr int textSize = 261;
const int defaultForwardPorts[5] = {21, 80, 2401, 5900, 9023};

int readInt(const char* section, const char* key, int defaultValue, const std::string& ini)
{
    return static_cast<int>(GetPrivateProfileIntA(section, key, defaultValue, ini.c_str()));
}

// A port key: a value outside lowest to 65535, or one that is no number,
// loads as the default and leaves an error line in the event log (written
// once the log is on). A missing or empty key gives the default silently.
// Local ports may be 0 (the port dialog takes it: the system picks the port);
// a forward port may not.
int readPort(const char* section, const char* key, int lowest, int defaultValue, const std::string& ini)
{
    int value = static_cast<int>(GetPrivateProfileIntA(section, key, INT_MIN, ini.c_str()));
    if (value >= lowest && value <= 65535)
        return value;
    char text[64];
    GetPrivateProfileStringA(section, key, "", text, sizeof text, ini.c_str());
    if (text[0] == '\0')
        return defaultValue;
    char line[192];
    std::snprintf(line, sizeof line,
                  "設定ファイル [%s] %s=%s はポート番号(%d-65535)ではありません。%d を使います",
                  section, key, text, lowest, defaultValue);
    trace("%s\n", line);
    QK_EVENTLOG::getInstance()->writeLogWhenEnabled(LOG_ER, line);
    return defaultValue;
}

void writeInt(const char* section, const char* key, int value, const std::string& ini)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    WritePrivateProfileStringA(section, key, text, ini.c_str());
}

} // namespace

void CZorvanePropaty::load()
{
    const std::string& ini = iniPath;
    char text[textSize];
    char key[32];
    setAppMode(readInt("SYSTEM", "APPMODE", 0, ini));
    setAcceptMode(readInt("SYSTEM", "ENABLEUSER", 0, ini));
    for (int ch = 0; ch < 5; ++ch) {
        std::snprintf(key, sizeof key, "ENABLEPORT%d", ch + 1);
        setPortEnabled(ch, readInt("SYSTEM", key, 1, ini));
    }
    setStartHidden(readInt("SYSTEM", "OPENWINDOW", 0, ini));
    setSoundMode(readInt("SYSTEM", "SOUNDMODE", 1, ini));
    for (int ch = 0; ch < 5; ++ch) {
        std::snprintf(key, sizeof key, "FOWERDHOST%d", ch + 1);
        GetPrivateProfileStringA("SERVER", key, "127.0.0.1", text, textSize, ini.c_str());
        setForwardHost(ch, text);
    }
    for (int ch = 0; ch < 5; ++ch) {
        std::snprintf(key, sizeof key, "FOWERDPORT%d", ch + 1);
        setForwardPort(ch, readPort("SERVER", key, 1, defaultForwardPorts[ch], ini));
    }
    setFtpPort(readPort("CLIENT", "FTPPORT", 0, 21, ini));
    setHttpPort(readPort("CLIENT", "HTTPPORT", 0, 80, ini));
    setCvsPort(readPort("CLIENT", "CVSPORT", 0, 2401, ini));
    setGenPort1(readPort("CLIENT", "GENPORT1", 0, 5900, ini));
    setGenPort2(readPort("CLIENT", "GENPORT2", 0, 9023, ini));
    setAutoConnect(readInt("CLIENT", "AUTOCONNECT", 0, ini));
    GetPrivateProfileStringA("CLIENT", "AUTOCONNECTUSER", "", text, textSize, ini.c_str());
    setAutoConnectUser(text);
}

void CZorvanePropaty::save()
{
    const std::string& ini = iniPath;
    char key[32];
    writeInt("SYSTEM", "APPMODE", getAppMode(), ini);
    writeInt("SYSTEM", "ENABLEUSER", getAcceptMode(), ini);
    for (int ch = 0; ch < 5; ++ch) {
        std::snprintf(key, sizeof key, "ENABLEPORT%d", ch + 1);
        writeInt("SYSTEM", key, isPortEnabled(ch), ini);
    }
    writeInt("SYSTEM", "OPENWINDOW", getStartHidden(), ini);
    writeInt("SYSTEM", "SOUNDMODE", getSoundMode(), ini);
    for (int ch = 0; ch < 5; ++ch) {
        std::snprintf(key, sizeof key, "FOWERDHOST%d", ch + 1);
        const char* host = getForwardHost(ch);
        WritePrivateProfileStringA("SERVER", key, host ? host : "", ini.c_str());
    }
    for (int ch = 0; ch < 5; ++ch) {
        std::snprintf(key, sizeof key, "FOWERDPORT%d", ch + 1);
        writeInt("SERVER", key, getForwardPort(ch), ini);
    }
    writeInt("CLIENT", "FTPPORT", getFtpPort(), ini);
    writeInt("CLIENT", "HTTPPORT", getHttpPort(), ini);
    writeInt("CLIENT", "CVSPORT", getCvsPort(), ini);
    writeInt("CLIENT", "GENPORT1", getGenPort1(), ini);
    writeInt("CLIENT", "GENPORT2", getGenPort2(), ini);
    writeInt("CLIENT", "AUTOCONNECT", getAutoConnect(), ini);
    std::string user = getAutoConnectUser();
    WritePrivateProfileStringA("CLIENT", "AUTOCONNECTUSER", user.c_str(), ini.c_str());
}
