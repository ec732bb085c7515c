// Dialog 134, the forward settings: per channel a localhost box, the host
// and the port to which the server application connects.
#include "app/resources/settingsdialogs.h"

namespace {
constexpr DWORD hostStyle = ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
constexpr DWORD portStyle = ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;

constexpr DialogControl controls[] = {
    {IDC_STATIC, ControlKind::Static, "HOST名/IPADDRESS", 64, 5, 108, 8},
    {IDC_STATIC, ControlKind::Static, "PORT", 178, 5, 40, 8},
    {IDC_STATIC, ControlKind::GroupBox, "FTP-SERVER", 7, 14, 218, 34},
    {1082, ControlKind::AutoCheckBox, "localhost", 14, 29, 46, 10, WS_GROUP | WS_TABSTOP},
    {1083, ControlKind::Edit, "", 64, 28, 108, 12, hostStyle},
    {1084, ControlKind::Edit, "", 178, 28, 40, 12, portStyle},
    {IDC_STATIC, ControlKind::GroupBox, "設定１-SERVER", 7, 52, 218, 34},
    {1085, ControlKind::AutoCheckBox, "localhost", 14, 67, 46, 10, WS_GROUP | WS_TABSTOP},
    {1086, ControlKind::Edit, "", 64, 66, 108, 12, hostStyle},
    {1087, ControlKind::Edit, "", 178, 66, 40, 12, portStyle},
    {IDC_STATIC, ControlKind::GroupBox, "設定２-SERVER", 7, 90, 218, 34},
    {1088, ControlKind::AutoCheckBox, "localhost", 14, 105, 46, 10, WS_GROUP | WS_TABSTOP},
    {1089, ControlKind::Edit, "", 64, 104, 108, 12, hostStyle},
    {1090, ControlKind::Edit, "", 178, 104, 40, 12, portStyle},
    {IDC_STATIC, ControlKind::GroupBox, "設定３-SERVER", 7, 128, 218, 34},
    {1091, ControlKind::AutoCheckBox, "localhost", 14, 143, 46, 10, WS_GROUP | WS_TABSTOP},
    {1092, ControlKind::Edit, "", 64, 142, 108, 12, hostStyle},
    {1093, ControlKind::Edit, "", 178, 142, 40, 12, portStyle},
    {IDC_STATIC, ControlKind::GroupBox, "設定４-SERVER", 7, 166, 218, 34},
    {1094, ControlKind::AutoCheckBox, "localhost", 14, 181, 46, 10, WS_GROUP | WS_TABSTOP},
    {1095, ControlKind::Edit, "", 64, 180, 108, 12, hostStyle},
    {1096, ControlKind::Edit, "", 178, 180, 40, 12, portStyle},
    {1098, ControlKind::DefPushButton, "OK", 118, 215, 50, 14, WS_GROUP | WS_TABSTOP},
    {2, ControlKind::PushButton, "ｷｬﾝｾﾙ", 175, 215, 50, 14, WS_TABSTOP},
};
} // namespace

constinit const DialogTemplate fowerdTemplate = {
    134, "転送設定ダイアログ", 232, 238, "MS UI Gothic", 9, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, 0,
    controls};
