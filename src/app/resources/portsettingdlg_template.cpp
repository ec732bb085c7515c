// Dialog 138, the port setting: one local listening port, an edit with its
// up-down control.
#include "app/resources/settingsdialogs.h"

namespace {
constexpr DialogControl controls[] = {
    {IDC_STATIC, ControlKind::GroupBox, "ポート設定", 7, 2, 113, 33},
    {IDC_STATIC, ControlKind::Static, "Port番号", 15, 18, 34, 8},
    {1117, ControlKind::Edit, "", 52, 16, 60, 12, ES_RIGHT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
    {1118, ControlKind::UpDown, "", 102, 16, 10, 12,
     UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_AUTOBUDDY | UDS_ARROWKEYS | UDS_NOTHOUSANDS},
    {1, ControlKind::DefPushButton, "OK", 14, 39, 48, 14, WS_GROUP | WS_TABSTOP},
    {2, ControlKind::PushButton, "ｷｬﾝｾﾙ", 66, 39, 48, 14, WS_TABSTOP},
};
} // namespace

constinit const DialogTemplate portSettingTemplate = {
    138, "ポート設定", 127, 56, "MS UI Gothic", 9, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, controls};
