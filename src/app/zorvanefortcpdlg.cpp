// The main dialog: construction, data exchange, initialisation and shut-down.
#include "app/zorvanefortcpdlg.h"

#include "app/aboutdlg.h"
#include "app/boundedformat.h"
#include "app/soundswitch.h"
#include "app/versiontext.h"
#include "foundation/eventlog.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {
constexpr UINT aboutCommand = 0x10;
} // namespace

CZorvaneForTcpDlg::CZorvaneForTcpDlg()
    : CDialog(102, nullptr),
      CZorvanePropaty(),
      channelEnabled{0, 0, 0, 0, 0},
      lampValues{},
      icon(nullptr),
      hub(),
      visibleFlag(0),
      openMessageId(0),
      startHidden(0),
      autoConnect(0),
      acceptMode(0),
      messageTicks(0),
      messageShown(0),
      applicationMode(0),
      windowHandleCopy(nullptr),
      autoConnectCountdown(0),
      linkStatus(0),
      trayIconData{},
      logShown(0),
      savedWindowRect{},
      soundMode(0),
      suspendedFlag(0),
      lightBrush(nullptr),
      paleBrush(nullptr),
      listenFailureOnLine(0),
      autoConnectUserMissing(0)
{
    icon = LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(137));
}

CZorvaneForTcpDlg::~CZorvaneForTcpDlg()
{
    if (paleBrush)
        DeleteObject(paleBrush);
    if (lightBrush)
        DeleteObject(lightBrush);
}

void CZorvaneForTcpDlg::DoDataExchange(CDataExchange* dx)
{
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, 1057, logList);
    DDX_Control(dx, 1044, channel4EditButton);
    DDX_Control(dx, 1042, channel3EditButton);
    DDX_Check(dx, 1003, channelEnabled[0]);
    DDX_Check(dx, 1007, channelEnabled[2]);
    DDX_Check(dx, 1005, channelEnabled[1]);
    DDX_Check(dx, 1009, channelEnabled[3]);
    DDX_Check(dx, 1010, channelEnabled[4]);
    DDX_Text(dx, 1025, linkStatusText);
    DDX_Text(dx, 1012, messageText);
    DDX_Text(dx, 1006, contactName);
    DDX_Text(dx, 1063, modeText);
    DDX_Text(dx, 1064, contactStatusText);
    DDX_Text(dx, 1065, clockText);
    for (int i = 0; i < 18; ++i)
        DDX_Check(dx, lampIds[i], lampValues[i]);
    DDX_Text(dx, 1066, footerText);
    DDX_Text(dx, 1088, forwardHostText[2]);
    DDX_Text(dx, 1086, forwardHostText[0]);
    DDX_Text(dx, 1089, forwardHostText[3]);
    DDX_Text(dx, 1090, forwardHostText[4]);
    DDX_Text(dx, 1087, forwardHostText[1]);
    DDX_Text(dx, 1093, forwardPortText[2]);
    DDX_Text(dx, 1096, forwardPortText[0]);
    DDX_Text(dx, 1094, forwardPortText[3]);
    DDX_Text(dx, 1095, forwardPortText[4]);
    DDX_Text(dx, 1092, forwardPortText[1]);
    DDX_Text(dx, 1026, acceptConditionText);
}

int CZorvaneForTcpDlg::OnCreate(CREATESTRUCTA* creation)
{
    if (CDialog::OnCreate(creation) == -1)
        return -1;
    hub.addListener(this);
    CenterWindow();
    return 0;
}

BOOL CZorvaneForTcpDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    CMenu* systemMenu = GetSystemMenu(FALSE);
    if (systemMenu != nullptr) {
        char about[100] = {};
        LoadStringA(AfxGetResourceHandle(), 101, about, sizeof about);
        if (about[0] != '\0') {
            systemMenu->AppendMenu(MF_SEPARATOR);
            systemMenu->AppendMenu(MF_STRING, aboutCommand, about);
        }
    }
    SetIcon(icon, TRUE);
    SetIcon(icon, FALSE);
    openMessageId = RegisterWindowMessageA("ZORVANEOPEN");

    bool settingsMissing = !std::filesystem::exists(iniPath);
    load();
    buildFooterText();

    QK_EVENTLOG* log = QK_EVENTLOG::getInstance();
    log->enabled = 1;
    log->restore(log->fileIndex == 0 ? 1 : 0);
    log->restore(log->fileIndex);
    char version[256];
    copyVersionForDisplay(version, sizeof version, getVersionText());
    char startLine[300];
    formatBounded(startLine, sizeof startLine, "ZorvaneForTCP %s", version);
    log->writeLog(LOG_EV, startLine);
    if (settingsMissing) {
        char line[400];
        formatNamed(line, sizeof line, "設定ファイル%sがありません。既定値で動作します", iniPath.c_str());
        log->writeLog(LOG_EV, line);
    }

    updateAcceptConditionText();
    GetWindowRect(&savedWindowRect);
    logShown = applicationMode == 0 ? 1 : 0;
    applyLogLayout();
    UpdateData(FALSE);
    lightBrush = CreateSolidBrush(RGB(255, 255, 180));
    paleBrush = CreateSolidBrush(RGB(240, 240, 220));
    initTrayIcon();
    addTrayIcon();
    if (startHidden == 0) {
        visibleFlag = 1;
        ShowWindow(SW_SHOW);
        ShowWindow(SW_SHOWNORMAL);
    } else {
        visibleFlag = 0;
        ShowWindow(SW_HIDE);
    }
    hub.start(GetSafeHwnd());
    SetTimer(1, 500, nullptr);
    SetTimer(2, 100, nullptr);
    SetTimer(3, 5000, nullptr);
    autoConnectCountdown = 0;
    notifyStreamChange();
    applyAppModeLayout();
    soundSwitch()->owner = GetSafeHwnd();

    // A log file that cannot be written would otherwise lose every line silently.
    std::string logFile = directory + "/" + log->logFileName(log->fileIndex);
    if (std::FILE* probe = std::fopen(logFile.c_str(), "ab")) {
        std::fclose(probe);
    } else {
        char message[100];
        formatBounded(message, sizeof message, "ログファイル%sに書き込めません",
                      log->logFileName(log->fileIndex).c_str());
        showMessage(message);
    }
    return TRUE;
}

BOOL CZorvaneForTcpDlg::OnCommand(WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
    case 1000: OnCancel(); return TRUE;
    case 1003:
    case 1005:
    case 1007:
    case 1009:
    case 1010: OnBnClickedEnablePort(); return TRUE;
    case 1023: OnBnClickedSwitchUser(); return TRUE;
    case 1024: OnBconnect(); return TRUE;
    case 1114: OnBnClickedLogToggle(); return TRUE;
    case 1055: OnBnClickedSystemSettings(); return TRUE;
    case 1058: OnBnClickedForwardSettings(); return TRUE;
    case 1115: OnBnClickedEditHttpPort(); return TRUE;
    case 1116: OnBnClickedEditCvsPort(); return TRUE;
    case 1042: OnBnClickedEditGenPort1(); return TRUE;
    case 1044: OnBnClickedEditGenPort2(); return TRUE;
    case 32771: OnTrayOpen(); return TRUE;
    case 32772: OnTrayExit(); return TRUE;
    default: return CDialog::OnCommand(wParam, lParam);
    }
}

void CZorvaneForTcpDlg::OnSysCommand(UINT id, LPARAM parameter)
{
    if ((id & 0xFFF0) == aboutCommand) {
        CAboutDlg about;
        about.DoModal();
    } else {
        CDialog::OnSysCommand(id, parameter);
    }
}

void CZorvaneForTcpDlg::OnCancel()
{
    visibleFlag = 0;
    ShowWindow(SW_HIDE);
}

void CZorvaneForTcpDlg::OnDestroy()
{
    KillTimer(1);
    KillTimer(2);
    CDialog::OnDestroy();
}
