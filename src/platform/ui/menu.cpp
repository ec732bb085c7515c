// Menus: data of our own, shown as QMenu (or handed to the test seam).
#include "platform/ui/afx_internal.h"

#include <QAction>
#include <QMenu>

#include <set>

namespace {

std::set<afx::MenuData*> liveMenus; // top-level menus made here
std::set<afx::MenuData*> allMenus;  // and their sub-menus

afx::MenuData* newMenu(std::set<afx::MenuData*>* top)
{
    auto* m = new afx::MenuData;
    allMenus.insert(m);
    if (top)
        top->insert(m);
    return m;
}

void forget(afx::MenuData* m)
{
    for (auto& p : m->popups)
        forget(p.get());
    allMenus.erase(m);
}

afx::MenuItem* itemAt(afx::MenuData* m, UINT item, UINT flags)
{
    if (flags & MF_BYPOSITION) {
        if (item >= m->items.size())
            return nullptr;
        return &m->items[item];
    }
    for (auto& i : m->items)
        if (!i.popup && !(i.flags & MF_SEPARATOR) && i.id == item)
            return &i;
    return nullptr;
}

QString menuText(const std::string& text)
{
    // "text\tAccel": Qt shows the accelerator after a tab as well.
    return afx::qs(text);
}

} // namespace

namespace afx {

MenuData* menuData(HMENU menu)
{
    auto* m = reinterpret_cast<MenuData*>(menu);
    return allMenus.count(m) ? m : nullptr;
}

HMENU menuHandle(MenuData* data) { return reinterpret_cast<HMENU>(data); }

UINT runPopup(MenuData& menu, QPoint screen, QWidget* owner)
{
    std::vector<uitest::MenuEntry> entries;
    for (const MenuItem& i : menu.items)
        entries.push_back({(i.flags & MF_SEPARATOR) ? 0u : i.id, i.text, i.flags});
    Seams& s = seams();
    s.lastMenu = entries;
    if (s.menuChooser) {
        auto chooser = s.menuChooser; // the chooser may replace itself
        UINT chosen = chooser(entries);
        for (const MenuItem& i : menu.items)
            if (!(i.flags & (MF_SEPARATOR | MF_GRAYED | MF_DISABLED)) && !i.popup && i.id == chosen)
                return chosen;
        return 0;
    }
    QMenu qmenu(owner);
    for (const MenuItem& i : menu.items) {
        if (i.flags & MF_SEPARATOR) {
            qmenu.addSeparator();
            continue;
        }
        if (i.popup)
            continue; // nested popups are not shown here (none is used)
        QAction* a = qmenu.addAction(menuText(i.text));
        a->setData(static_cast<uint>(i.id));
        a->setEnabled(!(i.flags & (MF_GRAYED | MF_DISABLED)));
        a->setCheckable((i.flags & MF_CHECKED) != 0);
        a->setChecked((i.flags & MF_CHECKED) != 0);
    }
    QAction* chosen = qmenu.exec(screen);
    return chosen ? chosen->data().toUInt() : 0;
}

} // namespace afx

HMENU CreatePopupMenu() { return afx::menuHandle(newMenu(&liveMenus)); }

HMENU LoadMenuA(HINSTANCE, const char* name)
{
    if (!IS_INTRESOURCE(name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const MenuResource* r = AfxFindMenu(static_cast<UINT>(reinterpret_cast<uintptr_t>(name)));
    if (!r) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return nullptr;
    }
    afx::MenuData* bar = newMenu(&liveMenus);
    for (const MenuPopupResource& p : r->popups) {
        afx::MenuData* sub = newMenu(nullptr);
        for (const MenuItemResource& i : p.items)
            sub->items.push_back({(i.flags & MF_SEPARATOR) ? 0u : i.id, i.text ? i.text : "", i.flags, nullptr});
        bar->items.push_back({0, p.text ? p.text : "", MF_POPUP, sub});
        bar->popups.emplace_back(sub);
    }
    return afx::menuHandle(bar);
}

BOOL DestroyMenu(HMENU menu)
{
    afx::MenuData* m = afx::menuData(menu);
    if (!m || !liveMenus.count(m))
        return FALSE;
    liveMenus.erase(m);
    forget(m);
    delete m;
    return TRUE;
}

HMENU GetSubMenu(HMENU menu, int position)
{
    afx::MenuData* m = afx::menuData(menu);
    if (!m || position < 0 || static_cast<size_t>(position) >= m->items.size())
        return nullptr;
    return afx::menuHandle(m->items[static_cast<size_t>(position)].popup);
}

BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR idNewItem, const char* text)
{
    afx::MenuData* m = afx::menuData(menu);
    if (!m)
        return FALSE;
    afx::MenuItem item;
    item.flags = flags;
    if (flags & MF_POPUP) {
        afx::MenuData* sub = afx::menuData(reinterpret_cast<HMENU>(idNewItem));
        if (!sub)
            return FALSE;
        item.popup = sub;
    } else if (!(flags & MF_SEPARATOR)) {
        item.id = static_cast<UINT>(idNewItem);
    }
    item.text = text ? text : "";
    m->items.push_back(std::move(item));
    return TRUE;
}

int GetMenuItemCount(HMENU menu)
{
    afx::MenuData* m = afx::menuData(menu);
    return m ? static_cast<int>(m->items.size()) : -1;
}

UINT GetMenuItemID(HMENU menu, int position)
{
    afx::MenuData* m = afx::menuData(menu);
    if (!m || position < 0 || static_cast<size_t>(position) >= m->items.size())
        return static_cast<UINT>(-1);
    const afx::MenuItem& i = m->items[static_cast<size_t>(position)];
    if (i.popup)
        return static_cast<UINT>(-1);
    return (i.flags & MF_SEPARATOR) ? 0 : i.id;
}

int GetMenuStringA(HMENU menu, UINT item, char* buffer, int size, UINT flags)
{
    afx::MenuData* m = afx::menuData(menu);
    afx::MenuItem* i = m ? itemAt(m, item, flags) : nullptr;
    if (!i)
        return 0;
    if (!buffer || size <= 0)
        return static_cast<int>(i->text.size());
    return afx::copyOut(i->text, buffer, size);
}

UINT GetMenuState(HMENU menu, UINT item, UINT flags)
{
    afx::MenuData* m = afx::menuData(menu);
    afx::MenuItem* i = m ? itemAt(m, item, flags) : nullptr;
    if (!i)
        return static_cast<UINT>(-1);
    return i->flags | (i->popup ? MF_POPUP : 0);
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*)
{
    afx::MenuData* m = afx::menuData(menu);
    if (!m) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    afx::Window* w = afx::find(owner);
    UINT chosen = afx::runPopup(*m, QPoint(x, y), w ? w->widget.data() : nullptr);
    if (flags & TPM_RETURNCMD)
        return static_cast<BOOL>(chosen);
    if (chosen && owner)
        PostMessageA(owner, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(chosen), 0), 0);
    return chosen ? TRUE : FALSE;
}

// --- CMenu ---

CMenu::~CMenu()
{
    if (m_owned)
        ::DestroyMenu(m_hMenu);
}

BOOL CMenu::LoadMenu(UINT id) { return Attach(::LoadMenuA(AfxGetResourceHandle(), MAKEINTRESOURCEA(id))); }

BOOL CMenu::CreatePopupMenu() { return Attach(::CreatePopupMenu()); }

BOOL CMenu::DestroyMenu()
{
    if (!m_hMenu)
        return FALSE;
    BOOL ok = m_owned ? ::DestroyMenu(m_hMenu) : FALSE;
    m_hMenu = nullptr;
    m_owned = false;
    return ok;
}

BOOL CMenu::Attach(HMENU menu)
{
    if (!menu || m_hMenu)
        return FALSE;
    m_hMenu = menu;
    m_owned = true;
    return TRUE;
}

HMENU CMenu::Detach()
{
    HMENU h = m_hMenu;
    m_hMenu = nullptr;
    m_owned = false;
    return h;
}

CMenu* CMenu::FromHandle(HMENU menu)
{
    afx::MenuData* m = afx::menuData(menu);
    if (!m)
        return nullptr;
    if (!m->object) {
        m->object = std::make_unique<CMenu>();
        m->object->m_hMenu = menu; // a view: does not own the menu
    }
    return m->object.get();
}

CMenu* CMenu::GetSubMenu(int position) const { return FromHandle(::GetSubMenu(m_hMenu, position)); }

BOOL CMenu::AppendMenu(UINT flags, UINT_PTR idNewItem, const char* text)
{
    return AppendMenuA(m_hMenu, flags, idNewItem, text);
}

UINT CMenu::GetMenuItemCount() const { return static_cast<UINT>(::GetMenuItemCount(m_hMenu)); }

UINT CMenu::GetMenuItemID(int position) const { return ::GetMenuItemID(m_hMenu, position); }

int CMenu::GetMenuString(UINT item, std::string& text, UINT flags) const
{
    afx::MenuData* m = afx::menuData(m_hMenu);
    afx::MenuItem* i = m ? itemAt(m, item, flags) : nullptr;
    text = i ? i->text : std::string();
    return static_cast<int>(text.size());
}

BOOL CMenu::TrackPopupMenu(UINT flags, int x, int y, CWnd* owner, LPCRECT rect)
{
    return ::TrackPopupMenu(m_hMenu, flags, x, y, 0, owner ? owner->m_hWnd : nullptr, rect);
}
