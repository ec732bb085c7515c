#pragma once
// Menus: loaded from menu resources, built by AppendMenu (the system menu),
// shown with TrackPopupMenu. A menu lives until DestroyMenu or its CMenu ends;
// a sub-menu belongs to its menu.
#include "platform/ui/uitypes.h"

#include <string>

class CWnd;

HMENU CreatePopupMenu();
HMENU LoadMenuA(HINSTANCE instance, const char* name); // MAKEINTRESOURCEA(id)
BOOL DestroyMenu(HMENU menu);
HMENU GetSubMenu(HMENU menu, int position);
BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR idNewItem, const char* text);
int GetMenuItemCount(HMENU menu);                 // -1 for an unknown menu
UINT GetMenuItemID(HMENU menu, int position);     // 0 for a separator, -1 for a sub-menu
int GetMenuStringA(HMENU menu, UINT item, char* buffer, int size, UINT flags); // MF_BYCOMMAND / MF_BYPOSITION
UINT GetMenuState(HMENU menu, UINT item, UINT flags); // MF_SEPARATOR, MF_POPUP, MF_GRAYED ...; -1 when missing
// Shows the popup at the screen position, owned by the window, and waits in
// a nested loop (timers and messages keep running) until it closes. With
// TPM_RETURNCMD the chosen id is returned (0 for none) and nothing is sent;
// otherwise WM_COMMAND (id, 0) is posted to the owner and the result is
// nonzero when an entry was chosen. The test seam (uitest.h) may choose instead.
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* rect);

class CMenu {
public:
    CMenu() = default;
    virtual ~CMenu();
    CMenu(const CMenu&) = delete;
    CMenu& operator=(const CMenu&) = delete;

    BOOL LoadMenu(UINT id);
    BOOL CreatePopupMenu();
    BOOL DestroyMenu();
    BOOL Attach(HMENU menu); // takes ownership
    HMENU Detach();
    CMenu* GetSubMenu(int position) const; // owned by this menu object
    BOOL AppendMenu(UINT flags, UINT_PTR idNewItem = 0, const char* text = nullptr);
    UINT GetMenuItemCount() const;
    UINT GetMenuItemID(int position) const;
    int GetMenuString(UINT item, std::string& text, UINT flags) const;
    BOOL TrackPopupMenu(UINT flags, int x, int y, CWnd* owner, LPCRECT rect = nullptr);
    HMENU GetSafeHmenu() const { return m_hMenu; }
    operator HMENU() const { return m_hMenu; }
    // The permanent object of a menu handle (one per handle; the menu keeps it).
    static CMenu* FromHandle(HMENU menu);

    HMENU m_hMenu = nullptr;

private:
    bool m_owned = false;
};
