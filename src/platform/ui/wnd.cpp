// CWnd: framework windows over winuser handles and Qt widgets.
#include "platform/ui/afx_internal.h"

#include "platform/trace.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

std::unordered_map<HWND, std::unique_ptr<afx::Window>> registry;

} // namespace

namespace afx {

Window* find(HWND hwnd)
{
    auto it = registry.find(hwnd);
    return it == registry.end() ? nullptr : it->second.get();
}

Window* findByWidget(const QWidget* widget)
{
    for (; widget; widget = widget->parentWidget())
        for (auto& [h, w] : registry)
            if (w->widget == widget)
                return w.get();
    return nullptr;
}

Window* child(Window* dialog, int id)
{
    if (!dialog)
        return nullptr;
    for (Window* c : dialog->children)
        if (c->id == id)
            return c;
    return nullptr;
}

QRect toPixels(const Window& d, int x, int y, int cx, int cy)
{
    auto mul = [](int v, int base, int div) { return (v * base + div / 2) / div; };
    int left = mul(x, d.baseX, 4);
    int top = mul(y, d.baseY, 8);
    int right = mul(x + cx, d.baseX, 4);
    int bottom = mul(y + cy, d.baseY, 8);
    return QRect(left, top, right - left, bottom - top);
}

// Registers a new window at WM_NCCREATE; lpCreateParams is its object.
void registerWindow(HWND hwnd, CWnd* object)
{
    auto w = std::make_unique<Window>();
    w->hwnd = hwnd;
    w->object = object;
    object->m_hWnd = hwnd;
    registry[hwnd] = std::move(w);
}

std::unique_ptr<Window> unregister(HWND hwnd)
{
    auto it = registry.find(hwnd);
    if (it == registry.end())
        return nullptr;
    auto w = std::move(it->second);
    registry.erase(it);
    return w;
}

// A top-level window's rectangle: its frame's position (where move() puts
// it) and its client size. The window manager's frame is left out, so that
// what GetWindowRect gives SetWindowPos takes back unchanged, whether the
// frame is known yet or not (it is not before the first showing).
QRect windowRect(const QWidget* widget)
{
    if (!widget->isWindow())
        return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
    return QRect(widget->pos(), widget->size());
}

void bringModalsForward(QWidget& owner)
{
    // Every modal window whose chain of owners leads to this one, outermost first.
    std::vector<std::pair<int, QWidget*>> modals;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top == &owner || top->windowModality() == Qt::NonModal || !top->isVisible())
            continue;
        int depth = 1;
        for (QWidget* o = top->parentWidget(); o; o = o->parentWidget(), ++depth) {
            o = o->window();
            if (o == &owner) {
                modals.emplace_back(depth, top);
                break;
            }
        }
    }
    if (modals.empty())
        return;
    std::stable_sort(modals.begin(), modals.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [depth, modal] : modals) {
        if (modal->isMinimized())
            modal->showNormal();
        modal->raise();
    }
    modals.back().second->activateWindow();
}

BOOL setWindowPos(Window& w, HWND insertAfter, int x, int y, int cx, int cy, UINT flags)
{
    QWidget* widget = w.widget;
    if (!widget)
        return FALSE;
    WINDOWPOS pos{w.hwnd, insertAfter, x, y, cx, cy, flags};
    if (w.isDialog) {
        // Current values for what the caller keeps, as Windows fills them in.
        QRect frame = windowRect(widget);
        if (flags & SWP_NOMOVE) {
            pos.x = frame.x();
            pos.y = frame.y();
        }
        if (flags & SWP_NOSIZE) {
            pos.cx = frame.width();
            pos.cy = frame.height();
        }
        SendMessageA(w.hwnd, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
        if (!find(pos.hwnd) || !w.widget)
            return FALSE;
    }
    flags = pos.flags;
    if (!(flags & SWP_NOSIZE)) {
        int width = std::max(0, pos.cx);
        int height = std::max(0, pos.cy);
        if (w.isDialog)
            widget->setFixedSize(width, height);
        else
            widget->resize(width, height);
    }
    if (!(flags & SWP_NOMOVE))
        widget->move(pos.x, pos.y); // a top-level window's move places its frame
    if (flags & SWP_SHOWWINDOW) {
        w.style |= WS_VISIBLE;
        widget->setVisible(true);
    } else if (flags & SWP_HIDEWINDOW) {
        w.style &= ~WS_VISIBLE;
        widget->setVisible(false);
    }
    if (!(flags & SWP_NOZORDER) && pos.hwndInsertAfter == HWND_TOP && widget->isVisible()) {
        widget->raise();
        if (widget->isWindow())
            bringModalsForward(*widget);
    }
    if (w.isDialog)
        SendMessageA(w.hwnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
    return TRUE;
}

} // namespace afx

struct AfxWindowAccess {
    static LRESULT call(CWnd* object, UINT message, WPARAM wParam, LPARAM lParam)
    {
        // Default() passes the message being handled on; keep the outer one.
        UINT m = object->m_curMessage;
        WPARAM wp = object->m_curWParam;
        LPARAM lp = object->m_curLParam;
        object->m_curMessage = message;
        object->m_curWParam = wParam;
        object->m_curLParam = lParam;
        LRESULT r = object->WindowProc(message, wParam, lParam);
        object->m_curMessage = m;
        object->m_curWParam = wp;
        object->m_curLParam = lp;
        return r;
    }
    static void postNcDestroy(CWnd* object) { object->PostNcDestroy(); }
};

namespace afx {

void registerClasses()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    for (const char* name : {"ZorvaneDialog", "ZorvaneControl"}) {
        WNDCLASSA cls{};
        cls.lpfnWndProc = windowProcedure;
        cls.lpszClassName = name;
        RegisterClassA(&cls);
    }
}

LRESULT windowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
        auto* object = static_cast<CWnd*>(cs->lpCreateParams);
        if (!object)
            return FALSE;
        afx::registerWindow(hwnd, object);
    }
    afx::Window* w = afx::find(hwnd);
    if (!w)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    CWnd* object = w->object;
    LRESULT r = AfxWindowAccess::call(object, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        std::unique_ptr<afx::Window> gone = afx::unregister(hwnd);
        if (gone && gone->parent) {
            auto& sib = gone->parent->children;
            sib.erase(std::remove(sib.begin(), sib.end(), gone.get()), sib.end());
        }
        for (afx::Window* c : gone ? gone->children : std::vector<afx::Window*>{})
            c->parent = nullptr;
        if (gone && gone->systemMenu)
            DestroyMenu(gone->systemMenu);
        if (gone && gone->widget && gone->widget->isWindow())
            delete gone->widget.data();
        object->m_hWnd = nullptr;
        AfxWindowAccess::postNcDestroy(object);
        // gone (and a control's own object) ends here
    }
    return r;
}

} // namespace afx

// --- CWnd ---

CWnd::CWnd() = default;

CWnd::~CWnd()
{
    // A window whose object goes first is destroyed with it.
    if (m_hWnd && afx::find(m_hWnd) && afx::find(m_hWnd)->object == this)
        ::DestroyWindow(m_hWnd);
}

CWnd* CWnd::FromHandle(HWND window)
{
    afx::Window* w = afx::find(window);
    return w ? w->object : nullptr;
}

QWidget* CWnd::GetWidget() const
{
    afx::Window* w = afx::find(m_hWnd);
    return w ? w->widget.data() : nullptr;
}

BOOL CWnd::ShowWindow(int cmdShow)
{
    afx::Window* w = afx::find(m_hWnd);
    if (!w || !w->widget)
        return FALSE;
    BOOL wasVisible = (w->style & WS_VISIBLE) ? TRUE : FALSE;
    if (!w->isDialog) {
        bool show = cmdShow != SW_HIDE;
        if (show)
            w->style |= WS_VISIBLE;
        else
            w->style &= ~WS_VISIBLE;
        w->widget->setVisible(show);
        return wasVisible;
    }
    QWidget* widget = w->widget;
    switch (cmdShow) {
    case SW_HIDE:
        if (wasVisible)
            afx::setWindowPos(*w, nullptr, 0, 0, 0, 0,
                              SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        break;
    case SW_MINIMIZE:
    case SW_SHOWMINIMIZED:
    case SW_SHOWMINNOACTIVE:
        afx::setWindowPos(*w, nullptr, 0, 0, 0, 0, SWP_SHOWWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
        if (w->widget && (w->style & WS_VISIBLE))
            widget->showMinimized();
        break;
    default:
        afx::setWindowPos(*w, nullptr, 0, 0, 0, 0, SWP_SHOWWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
        if (w->widget && (w->style & WS_VISIBLE) &&
            (cmdShow == SW_SHOWNORMAL || cmdShow == SW_RESTORE) && widget->isMinimized())
            widget->showNormal();
        break;
    }
    return wasVisible;
}

BOOL CWnd::IsWindowVisible() const
{
    for (afx::Window* w = afx::find(m_hWnd); w; w = w->parent)
        if (!(w->style & WS_VISIBLE))
            return FALSE;
    return afx::find(m_hWnd) ? TRUE : FALSE;
}

BOOL CWnd::IsIconic() const
{
    QWidget* widget = GetWidget();
    return widget && widget->isWindow() && widget->isMinimized();
}

BOOL CWnd::EnableWindow(BOOL enable)
{
    afx::Window* w = afx::find(m_hWnd);
    if (!w)
        return FALSE;
    BOOL wasDisabled = (w->style & WS_DISABLED) ? TRUE : FALSE;
    if (enable)
        w->style &= ~WS_DISABLED;
    else
        w->style |= WS_DISABLED;
    if (w->widget)
        w->widget->setEnabled(enable != FALSE);
    if (wasDisabled != !enable)
        SendMessageA(m_hWnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
    return wasDisabled;
}

BOOL CWnd::IsWindowEnabled() const
{
    afx::Window* w = afx::find(m_hWnd);
    return w && !(w->style & WS_DISABLED);
}

DWORD CWnd::GetStyle() const
{
    afx::Window* w = afx::find(m_hWnd);
    return w ? w->style : 0;
}

DWORD CWnd::GetExStyle() const
{
    afx::Window* w = afx::find(m_hWnd);
    return w ? w->exStyle : 0;
}

int CWnd::GetDlgCtrlID() const
{
    afx::Window* w = afx::find(m_hWnd);
    return w && !w->isDialog ? w->id : 0;
}

CWnd* CWnd::GetParent() const
{
    afx::Window* w = afx::find(m_hWnd);
    return w && w->parent ? w->parent->object : nullptr;
}

void CWnd::SetWindowText(const char* text)
{
    ::SendMessageA(m_hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : ""));
}

int CWnd::GetWindowText(char* buffer, int size) const
{
    afx::Window* w = afx::find(m_hWnd);
    if (!buffer || size <= 0)
        return 0;
    if (!w) {
        buffer[0] = '\0';
        return 0;
    }
    return afx::copyOut(afx::windowText(*w), buffer, size);
}

void CWnd::GetWindowText(std::string& text) const
{
    afx::Window* w = afx::find(m_hWnd);
    text = w ? afx::windowText(*w) : std::string();
}

int CWnd::GetWindowTextLength() const
{
    afx::Window* w = afx::find(m_hWnd);
    return w ? static_cast<int>(afx::windowText(*w).size()) : 0;
}

void CWnd::GetWindowRect(LPRECT rect) const
{
    if (!rect)
        return;
    *rect = RECT{0, 0, 0, 0};
    QWidget* widget = GetWidget();
    if (!widget)
        return;
    QRect r = afx::windowRect(widget);
    *rect = RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

void CWnd::GetClientRect(LPRECT rect) const
{
    if (!rect)
        return;
    QWidget* widget = GetWidget();
    *rect = RECT{0, 0, widget ? widget->width() : 0, widget ? widget->height() : 0};
}

void CWnd::ScreenToClient(LPRECT rect) const
{
    QWidget* widget = GetWidget();
    if (!rect || !widget)
        return;
    QPoint o = widget->mapToGlobal(QPoint(0, 0));
    rect->left -= o.x();
    rect->right -= o.x();
    rect->top -= o.y();
    rect->bottom -= o.y();
}

void CWnd::ClientToScreen(LPRECT rect) const
{
    QWidget* widget = GetWidget();
    if (!rect || !widget)
        return;
    QPoint o = widget->mapToGlobal(QPoint(0, 0));
    rect->left += o.x();
    rect->right += o.x();
    rect->top += o.y();
    rect->bottom += o.y();
}

BOOL CWnd::SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags)
{
    return ::SetWindowPos(m_hWnd, insertAfter ? insertAfter->m_hWnd : HWND_TOP, x, y, cx, cy, flags);
}

void CWnd::MoveWindow(int x, int y, int width, int height, BOOL)
{
    ::SetWindowPos(m_hWnd, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWnd::MoveWindow(LPCRECT rect, BOOL repaint)
{
    if (rect)
        MoveWindow(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, repaint);
}

void CWnd::CenterWindow(CWnd* alternate)
{
    afx::Window* w = afx::find(m_hWnd);
    if (!w || !w->widget)
        return;
    QRect area;
    CWnd* over = alternate ? alternate : GetParent();
    if (over && over->GetWidget() && over->GetWidget()->isVisible()) {
        area = afx::windowRect(over->GetWidget());
    } else {
        QScreen* screen = w->widget->screen() ? w->widget->screen() : QGuiApplication::primaryScreen();
        area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    }
    RECT r;
    GetWindowRect(&r);
    int width = r.right - r.left;
    int height = r.bottom - r.top;
    int x = area.x() + (area.width() - width) / 2;
    int y = area.y() + (area.height() - height) / 2;
    ::SetWindowPos(m_hWnd, nullptr, std::max(x, area.x()), std::max(y, area.y()), 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWnd::Invalidate(BOOL)
{
    if (QWidget* widget = GetWidget())
        widget->update();
}

void CWnd::UpdateWindow()
{
    if (QWidget* widget = GetWidget())
        widget->repaint();
}

BOOL CWnd::SetForegroundWindow() { return ::SetForegroundWindow(m_hWnd); }

CWnd* CWnd::SetFocus()
{
    CWnd* old = GetFocus();
    if (QWidget* widget = GetWidget())
        widget->setFocus(Qt::OtherFocusReason);
    return old;
}

CWnd* CWnd::GetFocus()
{
    QWidget* focus = QApplication::focusWidget();
    if (!focus) {
        if (CDialog* d = afx::innermostModal())
            if (QWidget* top = d->GetWidget())
                focus = top->focusWidget();
    }
    afx::Window* w = afx::findByWidget(focus);
    return w ? w->object : nullptr;
}

CWnd* CWnd::GetDlgItem(int id) const
{
    afx::Window* c = afx::child(afx::find(m_hWnd), id);
    return c ? c->object : nullptr;
}

void CWnd::SetDlgItemText(int id, const char* text) { ::SetDlgItemTextA(m_hWnd, id, text); }

int CWnd::GetDlgItemText(int id, char* buffer, int size) const
{
    return static_cast<int>(::GetDlgItemTextA(m_hWnd, id, buffer, size));
}

int CWnd::GetDlgItemText(int id, std::string& text) const
{
    afx::Window* c = afx::child(afx::find(m_hWnd), id);
    text = c ? afx::windowText(*c) : std::string();
    return static_cast<int>(text.size());
}

UINT CWnd::GetDlgItemInt(int id, BOOL* translated, BOOL isSigned) const
{
    if (translated)
        *translated = FALSE;
    std::string text;
    if (!afx::child(afx::find(m_hWnd), id))
        return 0;
    GetDlgItemText(id, text);
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (isSigned && i < text.size() && text[i] == '-') {
        negative = true;
        ++i;
    }
    if (i >= text.size() || text[i] < '0' || text[i] > '9')
        return 0;
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 0xFFFFFFFFLL)
            return 0; // out of range
    }
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    if (i != text.size())
        return 0;
    if (isSigned && (negative ? value > 0x80000000LL : value > 0x7FFFFFFFLL))
        return 0;
    if (translated)
        *translated = TRUE;
    return static_cast<UINT>(negative ? -value : value);
}

void CWnd::SetDlgItemInt(int id, UINT value, BOOL isSigned)
{
    std::string text = isSigned ? std::to_string(static_cast<int>(value)) : std::to_string(value);
    SetDlgItemText(id, text.c_str());
}

LRESULT CWnd::SendDlgItemMessage(int id, UINT message, WPARAM wParam, LPARAM lParam) const
{
    return ::SendDlgItemMessageA(m_hWnd, id, message, wParam, lParam);
}

void CWnd::CheckDlgButton(int id, UINT check)
{
    if (afx::Window* c = afx::child(afx::find(m_hWnd), id))
        afx::setCheck(*c, static_cast<int>(check));
}

UINT CWnd::IsDlgButtonChecked(int id) const
{
    afx::Window* c = afx::child(afx::find(m_hWnd), id);
    return c ? static_cast<UINT>(afx::checkOf(*c)) : 0;
}

HICON CWnd::SetIcon(HICON icon, BOOL bigIcon)
{
    return reinterpret_cast<HICON>(SendMessage(WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL,
                                               reinterpret_cast<LPARAM>(icon)));
}

HICON CWnd::GetIcon(BOOL bigIcon) const
{
    afx::Window* w = afx::find(m_hWnd);
    return w ? (bigIcon ? w->bigIcon : w->smallIcon) : nullptr;
}

CMenu* CWnd::GetSystemMenu(BOOL revert)
{
    afx::Window* w = afx::find(m_hWnd);
    if (!w || !w->isDialog || !(w->style & WS_SYSMENU))
        return nullptr;
    if (revert && w->systemMenu) {
        DestroyMenu(w->systemMenu);
        w->systemMenu = nullptr;
    }
    if (!w->systemMenu) {
        w->systemMenu = ::CreatePopupMenu();
        if (w->style & WS_MINIMIZEBOX) {
            AppendMenuA(w->systemMenu, MF_STRING, SC_RESTORE, "元のサイズに戻す(&R)");
            AppendMenuA(w->systemMenu, MF_STRING, SC_MINIMIZE, "最小化(&N)");
            AppendMenuA(w->systemMenu, MF_SEPARATOR, 0, nullptr);
        }
        AppendMenuA(w->systemMenu, MF_STRING, SC_CLOSE, "閉じる(&C)\tAlt+F4");
    }
    return revert ? nullptr : CMenu::FromHandle(w->systemMenu);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapseMs, TIMERPROC proc) { return ::SetTimer(m_hWnd, id, elapseMs, proc); }

BOOL CWnd::KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }

BOOL CWnd::DestroyWindow() { return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE; }

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProc(message, wParam, lParam);
    return result;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    LRESULT r = 0;
    switch (message) {
    case WM_CREATE:
        r = OnCreate(reinterpret_cast<CREATESTRUCTA*>(lParam));
        break;
    case WM_DESTROY:
        OnDestroy();
        break;
    case WM_TIMER:
        OnTimer(wParam);
        break;
    case WM_SYSCOMMAND:
        OnSysCommand(static_cast<UINT>(wParam), lParam);
        break;
    case WM_CLOSE:
        OnClose();
        break;
    case WM_COMMAND:
        if (!OnCommand(wParam, lParam))
            return FALSE;
        break;
    case WM_NOTIFY:
        if (!OnNotify(wParam, lParam, &r))
            return FALSE;
        break;
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
        CDC* dc = CDC::FromHandle(reinterpret_cast<HDC>(wParam));
        CWnd* control = FromHandle(reinterpret_cast<HWND>(lParam));
        r = reinterpret_cast<LRESULT>(OnCtlColor(dc, control, message - WM_CTLCOLORMSGBOX));
        break;
    }
    case WM_WINDOWPOSCHANGING:
        OnWindowPosChanging(reinterpret_cast<WINDOWPOS*>(lParam));
        break;
    case WM_WINDOWPOSCHANGED:
        OnWindowPosChanged(reinterpret_cast<WINDOWPOS*>(lParam));
        break;
    default:
        return FALSE;
    }
    if (result)
        *result = r;
    return TRUE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    afx::Window* w = afx::find(m_hWnd);
    if (!w)
        return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
    switch (message) {
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE:
            ::SendMessageA(m_hWnd, WM_CLOSE, 0, 0);
            return 0;
        case SC_MINIMIZE:
            if (w->widget)
                w->widget->showMinimized();
            return 0;
        case SC_RESTORE:
            if (w->widget && w->widget->isMinimized())
                w->widget->showNormal();
            return 0;
        default:
            return 0;
        }
    case WM_CLOSE:
        DestroyWindow();
        return 0;
    case WM_SETICON: {
        HICON old;
        if (wParam == ICON_BIG) {
            old = w->bigIcon;
            w->bigIcon = reinterpret_cast<HICON>(lParam);
        } else {
            old = w->smallIcon;
            w->smallIcon = reinterpret_cast<HICON>(lParam);
        }
        if (w->widget && w->widget->isWindow()) {
            QIcon icon = afx::iconOf(w->bigIcon ? w->bigIcon : w->smallIcon);
            w->widget->setWindowIcon(icon);
        }
        return reinterpret_cast<LRESULT>(old);
    }
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    default:
        break;
    }
    bool handled = false;
    LRESULT r = afx::controlMessage(*w, message, wParam, lParam, handled);
    if (handled)
        return r;
    return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::OnCommand(WPARAM, LPARAM) { return FALSE; }
BOOL CWnd::OnNotify(WPARAM, LPARAM, LRESULT*) { return FALSE; }
int CWnd::OnCreate(CREATESTRUCTA*) { return static_cast<int>(Default()); }
void CWnd::OnDestroy() { Default(); }
void CWnd::OnTimer(UINT_PTR) { Default(); }
void CWnd::OnSysCommand(UINT, LPARAM) { Default(); }
void CWnd::OnClose() { Default(); }
HBRUSH CWnd::OnCtlColor(CDC*, CWnd*, UINT) { return reinterpret_cast<HBRUSH>(Default()); }
void CWnd::OnWindowPosChanging(WINDOWPOS*) { Default(); }
void CWnd::OnWindowPosChanged(WINDOWPOS*) { Default(); }
void CWnd::PostNcDestroy() {}

LRESULT CWnd::Default() { return DefWindowProc(m_curMessage, m_curWParam, m_curLParam); }

// --- the same by handle ---

HWND GetDlgItem(HWND dialog, int id)
{
    afx::Window* c = afx::child(afx::find(dialog), id);
    return c ? c->hwnd : nullptr;
}

BOOL SetDlgItemTextA(HWND dialog, int id, const char* text)
{
    afx::Window* c = afx::child(afx::find(dialog), id);
    if (!c)
        return FALSE;
    ::SendMessageA(c->hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : ""));
    return TRUE;
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND c = GetDlgItem(dialog, id);
    return c ? ::SendMessageA(c, message, wParam, lParam) : 0;
}

UINT GetDlgItemTextA(HWND dialog, int id, char* buffer, int size)
{
    afx::Window* c = afx::child(afx::find(dialog), id);
    if (!buffer || size <= 0)
        return 0;
    if (!c) {
        buffer[0] = '\0';
        return 0;
    }
    return static_cast<UINT>(afx::copyOut(afx::windowText(*c), buffer, size));
}

BOOL ShowWindow(HWND window, int cmdShow)
{
    CWnd* w = CWnd::FromHandle(window);
    return w ? w->ShowWindow(cmdShow) : FALSE;
}

BOOL IsWindowVisible(HWND window)
{
    CWnd* w = CWnd::FromHandle(window);
    return w ? w->IsWindowVisible() : FALSE;
}

BOOL EnableWindow(HWND window, BOOL enable)
{
    CWnd* w = CWnd::FromHandle(window);
    return w ? w->EnableWindow(enable) : FALSE;
}

BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags)
{
    afx::Window* w = afx::find(window);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return afx::setWindowPos(*w, insertAfter, x, y, cx, cy, flags);
}

BOOL GetWindowRect(HWND window, LPRECT rect)
{
    CWnd* w = CWnd::FromHandle(window);
    if (!w || !rect)
        return FALSE;
    w->GetWindowRect(rect);
    return TRUE;
}

BOOL SetForegroundWindow(HWND window)
{
    afx::Window* w = afx::find(window);
    if (!w || !w->widget)
        return FALSE;
    QWidget* top = w->widget->window();
    top->raise();
    top->activateWindow();
    afx::bringModalsForward(*top); // the input goes to the modal window open over it
    return TRUE;
}

BOOL GetCursorPos(POINT* point)
{
    if (!point)
        return FALSE;
    QPoint p = QCursor::pos();
    *point = POINT{p.x(), p.y()};
    return TRUE;
}

int GetSystemMetrics(int index)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    switch (index) {
    case SM_CXSCREEN:
        return screen ? screen->geometry().width() : 0;
    case SM_CYSCREEN:
        return screen ? screen->geometry().height() : 0;
    case SM_CXICON:
    case SM_CYICON:
        return 32;
    default:
        return 0;
    }
}
