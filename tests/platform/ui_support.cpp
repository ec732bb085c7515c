#include "ui_support.h"

namespace uitesting {
namespace {

constexpr DWORD dialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE;

const DialogControl controls[] = {
    {kGroup, ControlKind::GroupBox, "グループ", 4, 2, 190, 120},
    {kStatic, ControlKind::Static, "ラベル&A", 8, 12, 60, 10},
    {kSunken, ControlKind::Static, "255.255.255.255", 72, 12, 70, 10, SS_SUNKEN},
    {kEdit, ControlKind::Edit, "", 8, 24, 80, 12, WS_BORDER | ES_AUTOHSCROLL},
    {kNumber, ControlKind::Edit, "0", 92, 24, 40, 12, WS_BORDER},
    {kCheck, ControlKind::AutoCheckBox, "確認", 8, 38, 60, 10},
    {kLamp, ControlKind::AutoCheckBox, "", 72, 38, 10, 10, BS_FLAT | WS_DISABLED},
    {kRadioA, ControlKind::AutoRadioButton, "A", 8, 50, 30, 10, WS_GROUP},
    {kRadioB, ControlKind::AutoRadioButton, "B", 40, 50, 30, 10},
    {kRadioC, ControlKind::AutoRadioButton, "C", 72, 50, 30, 10, WS_GROUP},
    {kList, ControlKind::ListBox, "", 8, 62, 120, 40, WS_BORDER | WS_VSCROLL | WS_HSCROLL | LBS_DISABLENOSCROLL | LBS_NOINTEGRALHEIGHT},
    {kCombo, ControlKind::ComboBox, "", 132, 62, 60, 60, CBS_DROPDOWN | WS_VSCROLL},
    {kPortEdit, ControlKind::Edit, "", 132, 80, 40, 12, WS_BORDER | ES_RIGHT},
    {kSpin, ControlKind::UpDown, "", 172, 80, 10, 12, UDS_AUTOBUDDY | UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS},
    {kLink, ControlKind::Link, "<a>ホームページ</a>", 8, 106, 80, 10},
    {kIcon, ControlKind::Icon, "", 160, 100, 20, 20, 0, kIconId},
    {kButton, ControlKind::PushButton, "押す", 4, 126, 50, 14},
    {kDisabled, ControlKind::PushButton, "無効", 58, 126, 50, 14, WS_DISABLED},
    {kDefault, ControlKind::DefPushButton, "既定", 112, 126, 40, 14},
    {IDCANCEL, ControlKind::PushButton, "ｷｬﾝｾﾙ", 156, 126, 40, 14},
};

const DialogControl smallControls[] = {
    {IDOK, ControlKind::DefPushButton, "OK", 4, 4, 40, 14},
    {IDCANCEL, ControlKind::PushButton, "ｷｬﾝｾﾙ", 48, 4, 40, 14},
};

const DialogTemplate dialogs[] = {
    {kDialog, "テスト", 200, 144, "ＭＳ ゴシック", 9, dialogStyle, 0, controls},
    {kHiddenDialog, "隠れ", 200, 144, "ＭＳ ゴシック", 9, dialogStyle, 0, controls},
    {kSmallDialog, "小", 92, 22, "ＭＳ Ｐゴシック", 9, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE, 0,
     smallControls},
};

const StringResource strings[] = {
    {kString, "バージョン情報(&A)..."},
};

const MenuItemResource trayItems[] = {
    {32771, "メイン画面を起動"},
    {0, nullptr, MF_SEPARATOR},
    {32772, "終了"},
};
const MenuPopupResource trayPopups[] = {{"TRAY", trayItems}};
const MenuResource menus[] = {{kMenu, trayPopups}};

const IconColor iconColors[] = {{'#', RGB(0, 64, 160)}, {'o', RGB(255, 200, 0)}};
const char* const iconRows[] = {
    "..####..",
    ".#oooo#.",
    "#oo##oo#",
    "#o#..#o#",
    "#o#..#o#",
    "#oo##oo#",
    ".#oooo#.",
    "..####..",
};
const IconResource icons[] = {{kIconId, 8, 8, iconColors, iconRows}};

const WaveResource waves[] = {
    {139, ":/waves/139.wav"},
    {140, ":/waves/missing.wav"},
};

} // namespace

void installResources() { AfxSetResourceModule({dialogs, strings, menus, icons, waves}); }

INT_PTR runModal(CDialog& dialog, const std::function<void(CDialog&)>& fn)
{
    uitest::onNextModal([fn](CDialog& d) {
        fn(d);
        if (d.IsModalRunning() && !d.IsEnding())
            d.EndDialog(IDABORT);
    });
    return dialog.DoModal();
}

bool pumpUntil(const std::function<bool()>& done, int ms) { return PumpMessages(ms, done); }

} // namespace uitesting
