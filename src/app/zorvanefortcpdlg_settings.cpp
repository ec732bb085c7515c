// The main dialog as the settings: where each setting lives in the dialog.
#include "app/zorvanefortcpdlg.h"

#include "app/soundswitch.h"
#include "foundation/textutil.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
// Local-port statics of channels 0-4, and the forward-port statics.
const int localPortIds[5] = {1100, 1101, 1102, 1119, 1120};
const int forwardPortIds[5] = {1096, 1092, 1093, 1094, 1095};

// Shared by every getForwardHost call.
char forwardHostBuffer[256];

bool validChannel(int channel) { return channel >= 0 && channel < 5; }

// The number a control shows, as signed decimal; 0 when it is not a number.
int controlNumber(const CWnd& dialog, int id)
{
    char text[64] = {};
    dialog.GetDlgItemText(id, text, sizeof text);
    return static_cast<int>(std::strtol(text, nullptr, 10));
}

void setControlNumber(CWnd& dialog, int id, int value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    dialog.SetDlgItemText(id, text);
}
} // namespace

int CZorvaneForTcpDlg::getAcceptMode() { return acceptMode; }
void CZorvaneForTcpDlg::setAcceptMode(int mode) { acceptMode = mode; }

int CZorvaneForTcpDlg::isPortEnabled(int channel)
{
    UpdateData(TRUE);
    return validChannel(channel) ? channelEnabled[channel] : 0;
}

void CZorvaneForTcpDlg::setPortEnabled(int channel, int enabled)
{
    if (validChannel(channel))
        channelEnabled[channel] = enabled;
}

int CZorvaneForTcpDlg::getLocalPort(int channel)
{
    UpdateData(TRUE);
    switch (channel) {
    case 0: return getFtpPort();
    case 1: return getHttpPort();
    case 2: return getCvsPort();
    case 3: return getGenPort1();
    case 4: return getGenPort2();
    default: return CZorvanePropaty::getLocalPort(channel);
    }
}

int CZorvaneForTcpDlg::getAppMode() { return applicationMode; }
void CZorvaneForTcpDlg::setAppMode(int mode) { applicationMode = mode; }

const char* CZorvaneForTcpDlg::getForwardHost(int channel)
{
    std::memset(forwardHostBuffer, 0, sizeof forwardHostBuffer);
    // A host of 256 bytes or more keeps its first 255 (cut at a character boundary).
    if (validChannel(channel))
        copyText(forwardHostBuffer, sizeof forwardHostBuffer, forwardHostText[channel].c_str());
    return forwardHostBuffer;
}

void CZorvaneForTcpDlg::setForwardHost(int channel, const char* host)
{
    if (validChannel(channel))
        forwardHostText[channel] = host ? host : "";
}

int CZorvaneForTcpDlg::getForwardPort(int channel)
{
    return validChannel(channel) ? controlNumber(*this, forwardPortIds[channel]) : 0;
}

void CZorvaneForTcpDlg::setForwardPort(int channel, int port)
{
    if (!validChannel(channel))
        return;
    setControlNumber(*this, forwardPortIds[channel], port);
    char text[16];
    std::snprintf(text, sizeof text, "%d", port);
    forwardPortText[channel] = text;
}

int CZorvaneForTcpDlg::getAutoConnect() { return autoConnect; }
void CZorvaneForTcpDlg::setAutoConnect(int on) { autoConnect = on; }
std::string CZorvaneForTcpDlg::getAutoConnectUser() { return autoConnectUser; }
void CZorvaneForTcpDlg::setAutoConnectUser(const char* name) { autoConnectUser = name ? name : ""; }
int CZorvaneForTcpDlg::getStartHidden() { return startHidden; }
void CZorvaneForTcpDlg::setStartHidden(int value) { startHidden = value; }

void CZorvaneForTcpDlg::setSoundMode(int mode)
{
    soundMode = mode;
    soundSwitch()->enabled = mode == 1 ? 1 : 0;
}

int CZorvaneForTcpDlg::getSoundMode() { return soundMode; }

int CZorvaneForTcpDlg::getFtpPort() { return controlNumber(*this, localPortIds[0]); }
void CZorvaneForTcpDlg::setFtpPort(int port) { setControlNumber(*this, localPortIds[0], port); }
int CZorvaneForTcpDlg::getHttpPort() { return controlNumber(*this, localPortIds[1]); }
void CZorvaneForTcpDlg::setHttpPort(int port) { setControlNumber(*this, localPortIds[1], port); }
int CZorvaneForTcpDlg::getCvsPort() { return controlNumber(*this, localPortIds[2]); }
void CZorvaneForTcpDlg::setCvsPort(int port) { setControlNumber(*this, localPortIds[2], port); }
int CZorvaneForTcpDlg::getGenPort1() { return controlNumber(*this, localPortIds[3]); }
void CZorvaneForTcpDlg::setGenPort1(int port) { setControlNumber(*this, localPortIds[3], port); }
int CZorvaneForTcpDlg::getGenPort2() { return controlNumber(*this, localPortIds[4]); }
void CZorvaneForTcpDlg::setGenPort2(int port) { setControlNumber(*this, localPortIds[4], port); }

int CZorvaneForTcpDlg::allowsMultipleStreams() { return 1; }
const char* CZorvaneForTcpDlg::getFtpApplicationName() { return "ZorvaneForFtp0000"; }
