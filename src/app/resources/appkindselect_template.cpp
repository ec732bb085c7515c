// Dialog 129, the system settings: application kind, sound, start window,
// the server's accept condition and the client's auto-connect contact.
#include "app/resources/settingsdialogs.h"

namespace {
constexpr DialogControl controls[] = {
    {IDC_STATIC, ControlKind::GroupBox, "C/S", 7, 4, 184, 38},
    {1001, ControlKind::AutoRadioButton, "サーバアプリケーション", 15, 15, 150, 10, WS_GROUP | WS_TABSTOP},
    {1002, ControlKind::AutoRadioButton, "クライアントプリケーション", 15, 28, 150, 10},
    {IDC_STATIC, ControlKind::GroupBox, "サウンド", 7, 46, 88, 28},
    {1128, ControlKind::AutoRadioButton, "OFF", 15, 58, 34, 10, WS_GROUP | WS_TABSTOP},
    {1127, ControlKind::AutoRadioButton, "ON", 53, 58, 34, 10},
    {IDC_STATIC, ControlKind::GroupBox, "起動時ウィンドウ", 103, 46, 88, 28},
    {1104, ControlKind::AutoRadioButton, "開く", 111, 58, 34, 10, WS_GROUP | WS_TABSTOP},
    {1105, ControlKind::AutoRadioButton, "閉じる", 149, 58, 38, 10},
    {1112, ControlKind::GroupBox, "接続受付（サーバ）", 7, 78, 184, 38},
    {1068, ControlKind::AutoRadioButton, "選択中のユーザのみ", 15, 89, 150, 10, WS_GROUP | WS_TABSTOP},
    {1110, ControlKind::AutoRadioButton, "コンタクトリストのユーザ", 15, 102, 150, 10},
    {1113, ControlKind::GroupBox, "自動接続（クライアント）", 7, 120, 184, 46},
    {1106, ControlKind::AutoCheckBox, "自動接続", 15, 131, 80, 10, WS_GROUP | WS_TABSTOP},
    {1111, ControlKind::ComboBox, "", 15, 146, 168, 80, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP},
    {1, ControlKind::DefPushButton, "OK", 84, 172, 50, 14, WS_GROUP | WS_TABSTOP},
    {2, ControlKind::PushButton, "ｷｬﾝｾﾙ", 141, 172, 50, 14, WS_TABSTOP},
};
} // namespace

constinit const DialogTemplate appKindSelectTemplate = {
    129, "システム設定", 198, 191, "MS UI Gothic", 9, DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU, 0,
    controls};
