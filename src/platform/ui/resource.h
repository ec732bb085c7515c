#pragma once
// Resources as plain data: dialog templates, string table, menus, icons and
// wave sounds. The program fills these tables (data only) and hands them to
// the framework once, before InitInstance (AfxSetResourceModule). The tables
// are referenced, not copied: they must live as long as the process.
#include "platform/ui/uitypes.h"

#include <span>

// What a template control is. The style flags of uitypes.h refine it
// (SS_SUNKEN, ES_READONLY, WS_BORDER, WS_DISABLED, BS_FLAT, WS_VSCROLL, ...).
enum class ControlKind {
    Static,        // text label
    PushButton,
    DefPushButton, // the default button: Enter presses it
    AutoCheckBox,  // toggles itself on a click
    AutoRadioButton, // checks itself and clears the others of its group
    GroupBox,      // frame with a caption; holds nothing (controls are siblings)
    Edit,          // one-line edit field
    ListBox,
    ComboBox,      // CBS_DROPDOWN (with an edit field) or CBS_DROPDOWNLIST
    Icon,          // picture of an icon resource (DialogControl::image)
    UpDown,        // up-down arrows of a buddy edit (UDS_* styles)
    Link,          // link control: text with <a>...</a>; a click sends WM_NOTIFY NM_CLICK
};

// One control of a template. Rectangles are in dialog units (x: 1/4 of the
// font's average character width, y: 1/8 of its height). Template order is
// creation and tab order. WS_GROUP starts a group (radio buttons); WS_VISIBLE
// is implied unless the control is created hidden with hidden = true.
struct DialogControl {
    int id;              // IDC_STATIC for none
    ControlKind kind;
    const char* text;    // UTF-8; empty for none
    int x;
    int y;
    int cx;
    int cy;
    DWORD style = 0;     // extra style flags
    UINT image = 0;      // icon resource of an Icon control
    bool hidden = false; // created without WS_VISIBLE
};

struct DialogTemplate {
    UINT id;
    const char* caption;
    int cx; // client size in dialog units
    int cy;
    const char* fontName; // missing fonts fall back to a CJK font (Noto Sans CJK JP)
    int fontPoints;
    DWORD style;   // WS_POPUP, WS_CAPTION, WS_SYSMENU, WS_MINIMIZEBOX, WS_VISIBLE, DS_MODALFRAME ...
    DWORD exStyle; // WS_EX_APPWINDOW ...
    std::span<const DialogControl> controls;
};

struct StringResource {
    UINT id;
    const char* text;
};

// A menu: a bar of popups, each a list of items. An item with MF_SEPARATOR
// is a separator (id and text ignored).
struct MenuItemResource {
    UINT id;
    const char* text;
    UINT flags = MF_STRING;
};
struct MenuPopupResource {
    const char* text; // e.g. "TRAY"
    std::span<const MenuItemResource> items;
};
struct MenuResource {
    UINT id;
    std::span<const MenuPopupResource> popups;
};

// An icon drawn from a character map: rows of width characters, each
// character a palette key; a character without a palette entry is clear.
struct IconColor {
    char key;
    COLORREF color;
};
struct IconResource {
    UINT id;
    int width;
    int height;
    std::span<const IconColor> palette;
    std::span<const char* const> rows; // height rows of width characters
};

// A wave sound: the path of a .wav file among the program's Qt resources
// (":/...", embedded with zorvane_embed_files in cmake/ZorvaneResources.cmake)
// or on disk.
struct WaveResource {
    UINT id;
    const char* path;
};

struct ResourceModule {
    std::span<const DialogTemplate> dialogs;
    std::span<const StringResource> strings;
    std::span<const MenuResource> menus;
    std::span<const IconResource> icons;
    std::span<const WaveResource> waves;
};

// Installs the program's resources (replaces any earlier module). Tests may
// install their own.
void AfxSetResourceModule(const ResourceModule& module);
const ResourceModule& AfxGetResourceModule();

// Lookups (nullptr when missing).
const DialogTemplate* AfxFindDialogTemplate(UINT id);
const MenuResource* AfxFindMenu(UINT id);
const IconResource* AfxFindIcon(UINT id);
const WaveResource* AfxFindWave(UINT id);

// String table: copies string id, cut to size - 1 bytes (never inside a UTF-8
// character) and terminated; returns the bytes copied, 0 when missing.
int LoadStringA(HINSTANCE instance, UINT id, char* buffer, int size);

// The string that names an application built without a name.
constexpr UINT AFX_IDS_APP_TITLE = 0xE000;
