#pragma once
// The main window (dialog 102). It is at once the dialog, the one listener
// of the communication hub and the one implementation of the settings.
#include "app/zorvanefortcpcom.h"
#include "foundation/propaty.h"
#include "platform/ui/afxwin.h"

#include <cstdint>
#include <string>

// The stream state the last notifyStreamChange saw (0 at program start).
extern int32_t streamPresentFlag;

class CZorvaneForTcpDlg : public CDialog, public CZorvaneForTcpComListener, public CZorvanePropaty {
public:
    CZorvaneForTcpDlg();
    ~CZorvaneForTcpDlg() override;
    CZorvaneForTcpDlg(const CZorvaneForTcpDlg&) = delete;
    CZorvaneForTcpDlg& operator=(const CZorvaneForTcpDlg&) = delete;

    // Framework overrides.
    void DoDataExchange(CDataExchange* dx) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void PostNcDestroy() override;
    BOOL OnInitDialog() override;
    void OnCancel() override;

    // Message map (the settings commands of 1055, 1058, 1115, 1116, 1042 and
    // 1044 come with the settings dialogs).
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    void OnSysCommand(UINT id, LPARAM parameter) override;
    void OnDestroy() override;
    int OnCreate(CREATESTRUCTA* creation) override;
    void OnBnClickedEnablePort();
    void OnBnClickedSwitchUser();
    void OnBconnect();
    void OnTimer(UINT_PTR id) override;
    HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT kind) override;
    void OnTrayOpen();
    void OnTrayExit();
    void OnWindowPosChanging(WINDOWPOS* position) override;
    void OnBnClickedLogToggle();
    // The settings commands (zorvanefortcpdlg_settingscommands.cpp).
    void OnBnClickedSystemSettings();
    void OnBnClickedForwardSettings();
    void OnBnClickedEditHttpPort();
    void OnBnClickedEditCvsPort();
    void OnBnClickedEditGenPort1();
    void OnBnClickedEditGenPort2();

    // Listener of the hub.
    void notifyLogLine(const char* line) override;
    void notifyLinkStatus() override;
    void notifyModelChange() override;
    void notifyReserved() override;
    void notifyStreamChange() override;
    void notifyTraffic(int channel, double sent, double received) override;

    // Settings.
    int getAcceptMode() override;
    void setAcceptMode(int mode) override;
    int isPortEnabled(int channel) override;
    void setPortEnabled(int channel, int enabled) override;
    int getLocalPort(int channel) override;
    int getAppMode() override;
    void setAppMode(int mode) override;
    const char* getForwardHost(int channel) override;
    void setForwardHost(int channel, const char* host) override;
    int getForwardPort(int channel) override;
    void setForwardPort(int channel, int port) override;
    int getAutoConnect() override;
    void setAutoConnect(int on) override;
    std::string getAutoConnectUser() override;
    void setAutoConnectUser(const char* name) override;
    int getStartHidden() override;
    void setStartHidden(int value) override;
    void setSoundMode(int mode) override;
    int getSoundMode() override;
    int getFtpPort() override;
    void setFtpPort(int port) override;
    int getHttpPort() override;
    void setHttpPort(int port) override;
    int getCvsPort() override;
    void setCvsPort(int port) override;
    int getGenPort1() override;
    void setGenPort1(int port) override;
    int getGenPort2() override;
    void setGenPort2(int port) override;
    int allowsMultipleStreams() override;
    const char* getFtpApplicationName() override;

    // The message line: shown for 6 ticks of the display timer.
    void showMessage(const char* text);
    // A settings dialog confirmed after streams came up changes nothing: the
    // streams lock the settings buttons, and a stream keeps the values it
    // opened with. True (with a message) when that is the case.
    bool refusedWhileStreams();

    // Layout and texts.
    void applyAppModeLayout();
    void updateAcceptConditionText();
    void buildFooterText();
    void applyLogLayout();

    // Tray icon.
    void initTrayIcon();
    void addTrayIcon();

    // The three window timers: 500 ms display, 100 ms auto-connect, 5000 ms tray.
    void displayTick();
    void autoConnectTick();
    void trayUpkeep();
    // A local port that a new stream could not listen on: said once on the
    // message line, with the reason.
    void reportListenFailure();

    // Members, in the order the dialog declares them.
    CListBox logList;
    CButton channel4EditButton;
    CButton channel3EditButton;
    int32_t channelEnabled[5]; // by channel; bound to 1003, 1005, 1007, 1009, 1010
    std::string linkStatusText;
    std::string messageText;
    std::string contactName;
    std::string modeText;
    std::string contactStatusText;
    std::string clockText;
    int32_t lampValues[18]; // in the order of lampIds
    std::string footerText;
    std::string forwardHostText[5]; // by channel
    std::string forwardPortText[5]; // by channel
    std::string acceptConditionText;
    HICON icon;
    CZorvaneForTcpCom hub;
    int32_t visibleFlag;
    UINT openMessageId;
    std::string autoConnectUser;
    int32_t startHidden;
    int32_t autoConnect;
    int32_t acceptMode;
    int32_t messageTicks;
    int32_t messageShown;
    int32_t applicationMode;
    HWND windowHandleCopy;
    int32_t autoConnectCountdown;
    int32_t linkStatus;
    NOTIFYICONDATAA trayIconData;
    int32_t logShown;
    RECT savedWindowRect;
    int32_t soundMode;
    int32_t suspendedFlag;
    HBRUSH lightBrush;
    HBRUSH paleBrush;
    // 1 while the message line shows a listen failure (the next one waits).
    int32_t listenFailureOnLine;
    // 1 while the auto-connect contact was found missing from the contact list
    // (the message line has said so once).
    int32_t autoConnectUserMissing;

    // Lamp ids in the order of the data exchange.
    static const int lampIds[18];
};
