// The program's resources: dialog templates 102 (main window) and 100 (about
// box), the string table, the tray menu 135, icon 137 and the sounds 139-142.
#include "app/resources/resources.h"
#include "app/resources/settingsdialogs.h"

#include "platform/ui/resource.h"

namespace {
const DialogControl mainControls[] = {
    {1066, ControlKind::Static, "", 7, 4, 193, 12, SS_SUNKEN, 0},
    {1063, ControlKind::Static, "APP 動作モード", 205, 4, 130, 12, SS_SUNKEN, 0},
    {1065, ControlKind::Static, "", 337, 4, 57, 12, SS_SUNKEN, 0},
    {IDC_STATIC, ControlKind::GroupBox, "", 7, 14, 387, 9, 0, 0},
    {IDC_STATIC, ControlKind::GroupBox, "TCP設定", 7, 25, 192, 146, 0, 0},
    {1103, ControlKind::Static, "L", 64, 33, 8, 8, 0, 0},
    {IDC_STATIC, ControlKind::Static, "C", 74, 33, 8, 8, 0, 0},
    {IDC_STATIC, ControlKind::Static, "P", 84, 33, 8, 8, 0, 0},
    {1058, ControlKind::PushButton, "転送先設定", 109, 31, 75, 14, 0, 0},
    {IDC_STATIC, ControlKind::GroupBox, "FTP", 14, 42, 179, 27, 0, 0},
    {1003, ControlKind::AutoCheckBox, "", 18, 51, 11, 13, 0, 0},
    {1100, ControlKind::Static, "21", 33, 53, 15, 9, SS_SUNKEN, 0},
    {IDC_STATIC, ControlKind::Static, "制", 51, 49, 10, 8, 0, 0},
    {IDC_STATIC, ControlKind::Static, "デ", 51, 59, 9, 8, 0, 0},
    {1032, ControlKind::AutoCheckBox, "", 61, 48, 9, 10, BS_FLAT | WS_DISABLED, 0},
    {1043, ControlKind::AutoCheckBox, "", 61, 57, 9, 10, BS_FLAT | WS_DISABLED, 0},
    {1045, ControlKind::AutoCheckBox, "", 71, 48, 10, 10, BS_FLAT | WS_DISABLED, 0},
    {1033, ControlKind::AutoCheckBox, "", 71, 57, 10, 10, BS_FLAT | WS_DISABLED, 0},
    {1047, ControlKind::AutoCheckBox, "", 82, 48, 11, 10, BS_FLAT | WS_DISABLED, 0},
    {1048, ControlKind::AutoCheckBox, "", 82, 57, 10, 10, BS_FLAT | WS_DISABLED, 0},
    {1086, ControlKind::Static, "255.255.255.255", 99, 53, 62, 12, SS_SUNKEN, 0},
    {1096, ControlKind::Static, "65535", 164, 53, 24, 12, SS_SUNKEN, 0},
    {IDC_STATIC, ControlKind::GroupBox, "設定１", 14, 71, 179, 23, 0, 0},
    {1005, ControlKind::AutoCheckBox, "", 18, 79, 10, 15, 0, 0},
    {1101, ControlKind::Static, "80", 32, 81, 27, 10, SS_SUNKEN, 0},
    {1115, ControlKind::PushButton, "編集", 96, 79, 37, 13, 0, 0},
    {1034, ControlKind::AutoCheckBox, "", 61, 80, 9, 10, BS_FLAT | WS_DISABLED, 0},
    {1035, ControlKind::AutoCheckBox, "", 71, 80, 10, 10, BS_FLAT | WS_DISABLED, 0},
    {1049, ControlKind::AutoCheckBox, "", 82, 80, 10, 10, BS_FLAT | WS_DISABLED, 0},
    {1087, ControlKind::Static, "255.255.255.255", 99, 79, 61, 11, SS_SUNKEN, 0},
    {1092, ControlKind::Static, "80", 164, 79, 23, 11, SS_SUNKEN, 0},
    {IDC_STATIC, ControlKind::GroupBox, "設定２", 14, 98, 179, 22, 0, 0},
    {1007, ControlKind::AutoCheckBox, "", 18, 107, 10, 8, 0, 0},
    {1102, ControlKind::Static, "2401", 32, 106, 28, 11, SS_SUNKEN, 0},
    {1116, ControlKind::PushButton, "編集", 96, 103, 38, 14, 0, 0},
    {1036, ControlKind::AutoCheckBox, "", 61, 105, 10, 10, BS_FLAT | WS_DISABLED, 0},
    {1037, ControlKind::AutoCheckBox, "", 71, 105, 9, 10, BS_FLAT | WS_DISABLED, 0},
    {1050, ControlKind::AutoCheckBox, "", 82, 105, 9, 10, BS_FLAT | WS_DISABLED, 0},
    {1088, ControlKind::Static, "255.255.255.255", 99, 103, 61, 12, SS_SUNKEN, 0},
    {1093, ControlKind::Static, "2401", 164, 103, 24, 12, SS_SUNKEN, 0},
    {IDC_STATIC, ControlKind::GroupBox, "設定３", 14, 121, 179, 21, 0, 0},
    {1009, ControlKind::AutoCheckBox, "", 18, 129, 11, 12, 0, 0},
    {1038, ControlKind::AutoCheckBox, "", 61, 129, 10, 10, BS_FLAT | WS_DISABLED, 0},
    {1039, ControlKind::AutoCheckBox, "", 72, 129, 9, 10, BS_FLAT | WS_DISABLED, 0},
    {1042, ControlKind::PushButton, "編集", 96, 127, 38, 13, 0, 0},
    {1051, ControlKind::AutoCheckBox, "", 82, 129, 9, 10, BS_FLAT | WS_DISABLED, 0},
    {1094, ControlKind::Static, "5900", 164, 127, 24, 11, SS_SUNKEN, 0},
    {IDC_STATIC, ControlKind::GroupBox, "設定４", 14, 145, 179, 21, 0, 0},
    {1010, ControlKind::AutoCheckBox, "", 18, 154, 8, 9, 0, 0},
    {1044, ControlKind::PushButton, "編集", 96, 152, 38, 13, 0, 0},
    {1040, ControlKind::AutoCheckBox, "", 61, 153, 9, 10, BS_FLAT | WS_DISABLED, 0},
    {1041, ControlKind::AutoCheckBox, "", 72, 153, 9, 10, BS_FLAT | WS_DISABLED, 0},
    {1052, ControlKind::AutoCheckBox, "", 82, 153, 9, 10, BS_FLAT | WS_DISABLED, 0},
    {1095, ControlKind::Static, "65535", 164, 152, 24, 12, SS_SUNKEN, 0},
    {1012, ControlKind::Edit, "", 7, 175, 339, 12, ES_READONLY | WS_BORDER, 0},
    {1055, ControlKind::PushButton, "システム設定", 205, 31, 92, 16, 0, 0},
    {1000, ControlKind::DefPushButton, "ウィドウを閉じる", 303, 31, 91, 16, 0, 0},
    {IDC_STATIC, ControlKind::GroupBox, "", 206, 50, 189, 87, 0, 0},
    {1023, ControlKind::PushButton, "切替↓", 210, 62, 29, 16, 0, 0},
    {1006, ControlKind::Edit, "", 242, 63, 75, 14, ES_READONLY | WS_BORDER, 0},
    {1064, ControlKind::Static, "ユーザ接続状態", 322, 63, 66, 14, SS_SUNKEN, 0},
    {1024, ControlKind::PushButton, "手動接続", 210, 84, 179, 16, 0, 0},
    {1025, ControlKind::Static, "SKYPEとの接続状態", 209, 103, 180, 12, 0, 0},
    {1026, ControlKind::Static, "接続許可条件", 209, 119, 180, 12, 0, 0},
    {IDC_STATIC, ControlKind::Icon, "", 376, 150, 20, 20, 0, 137},
    {1114, ControlKind::PushButton, "↓lLOG表示", 351, 174, 46, 14, 0, 0},
    {1057, ControlKind::ListBox, "", 7, 203, 389, 113, WS_BORDER | WS_VSCROLL | WS_HSCROLL | LBS_DISABLENOSCROLL | LBS_NOINTEGRALHEIGHT, 0},
    {1089, ControlKind::Static, "255.255.255.255", 99, 127, 61, 10, SS_SUNKEN, 0},
    {1090, ControlKind::Static, "255.255.255.255", 99, 151, 62, 12, SS_SUNKEN, 0},
    {1119, ControlKind::Static, "5900", 33, 130, 26, 10, SS_SUNKEN, 0},
    {1120, ControlKind::Static, "65535", 32, 153, 27, 11, SS_SUNKEN, 0},
    {1122, ControlKind::Static, "", 95, 54, 92, 9, 0, 0},
    {1123, ControlKind::Static, "", 96, 81, 92, 9, 0, 0},
    {1124, ControlKind::Static, "", 96, 106, 92, 9, 0, 0},
    {1125, ControlKind::Static, "", 96, 130, 92, 9, 0, 0},
    {1126, ControlKind::Static, "", 96, 153, 92, 9, 0, 0},
};
const DialogControl aboutControls[] = {
    {IDC_STATIC, ControlKind::Icon, "", 11, 13, 20, 20, 0, 137},
    {1099, ControlKind::Static, "zorvaneForTcp(Ver. 0-0-1-004", 42, 13, 122, 8, 0, 0},
    {1, ControlKind::DefPushButton, "OK", 178, 7, 50, 14, 0, 0},
    {1129, ControlKind::Link, "<a>Tessivarnelホームページ</a>", 40, 57, 115, 10, 0, 0},
};

const DialogTemplate dialogs[] = {
    {102, "ZorvaneForTcp", 404, 323, "ＭＳ ゴシック", 9,
     WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE, 0, mainControls},
    {100, "zorvaneForTcpのﾊﾞｰｼﾞｮﾝ情報", 235, 79, "ＭＳ Ｐゴシック", 9,
     DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_APPWINDOW, aboutControls},
    // The settings dialogs 129, 134 and 138.
    appKindSelectTemplate,
    fowerdTemplate,
    portSettingTemplate,
};

const StringResource strings[] = {
    {101, "zorvaneForTcp のﾊﾞｰｼﾞｮﾝ情報(&A)..."},
    {103, "Windows ｿｹｯﾄの初期化に失敗しました。"},
    {AFX_IDS_APP_TITLE, "ZorvaneForTcp"},
};

const MenuItemResource trayItems[] = {
    {32771, "メイン画面を起動"},
    {0, "", MF_SEPARATOR},
    {32772, "終了"},
};
const MenuPopupResource trayPopups[] = {{"TRAY", trayItems}};
const MenuResource menus[] = {{135, trayPopups}};

// A dark blue tile with a white "Z" and a green lamp.
const IconColor iconPalette[] = {
    {'d', RGB(16, 40, 96)},
    {'b', RGB(32, 80, 168)},
    {'w', RGB(255, 255, 255)},
    {'g', RGB(40, 200, 60)},
};
const char* const iconRows[] = {
    "..dddddddddddddddddddddddddddd..",
    ".bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb.",
    "dbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbd",
    "dbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbd",
    "dbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbd",
    "dbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbd",
    "dbbbbbwwwwwwwwwwwwwwwwwwwwbbbbbd",
    "dbbbbbwwwwwwwwwwwwwwwwwwwwbbbbbd",
    "dbbbbbwwwwwwwwwwwwwwwwwwwwbbbbbd",
    "dbbbbbwwwwwwwwwwwwwwwwwwwwbbbbbd",
    "dbbbbbbbbbbbbbbbbbbbbbwwwwbbbbbd",
    "dbbbbbbbbbbbbbbbbbbbwwwwwbbbbbbd",
    "dbbbbbbbbbbbbbbbbbbwwwwbbbbbbbbd",
    "dbbbbbbbbbbbbbbbbwwwwwbbbbbbbbbd",
    "dbbbbbbbbbbbbbbbwwwwbbbbbbbbbbbd",
    "dbbbbbbbbbbbbbbwwwwbbbbbbbbbbbbd",
    "dbbbbbbbbbbbbwwwwbbbbbbbbbbbbbbd",
    "dbbbbbbbbbbbwwwwbbbbbbbbbbbbbbbd",
    "dbbbbbbbbbwwwwwbbbbbbbbbbbbbbbbd",
    "dbbbbbbbbwwwwbbbbbbbbbbbbbbbbbbd",
    "dbbbbbbwwwwwbbbbbbbbbbbbbbbbbbbd",
    "dbbbbbwwwwbbbbbbbbbbbbbbbbbbbbbd",
    "dbbbbbwwwwwwwwwwwwwwwwwwwwbbbbbd",
    "dbbbbbwwwwwwwwwwwwwwwwwwwwbbbbbd",
    "dbbbbbwwwwwwwwwwwwwwwwwwwwbbbbbd",
    "dbbbbbwwwwwwwwwwwwwwwwwwwgggbbbd",
    "dbbbbbbbbbbbbbbbbbbbbbbbgggggbbd",
    "dbbbbbbbbbbbbbbbbbbbbbbbgggggbbd",
    "dbbbbbbbbbbbbbbbbbbbbbbbgggggbbd",
    "dbbbbbbbbbbbbbbbbbbbbbbbbgggbbbd",
    ".bbbbbbbbbbbbbbbbbbbbbbbbbbbbbb.",
    "..dddddddddddddddddddddddddddd..",
};
const IconResource icons[] = {{137, 32, 32, iconPalette, iconRows}};

// 141: first stream opened, 139: last stream closed, 140 / 142: the contact
// switch selected a connectable / a not connectable contact.
const WaveResource waves[] = {
    {139, ":/sounds/139.wav"},
    {140, ":/sounds/140.wav"},
    {141, ":/sounds/141.wav"},
    {142, ":/sounds/142.wav"},
};

const ResourceModule module = {dialogs, strings, menus, icons, waves};
} // namespace

const ResourceModule& programResources() { return module; }
