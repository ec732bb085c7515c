// CDialog: the window from its template, the modal loop, keys, colours and
// data exchange.
#include "platform/ui/afx_internal.h"

#include "platform/trace.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include <map>

namespace {

using afx::Window;

std::vector<CDialog*> modalStack;

struct ExchangeFailed {};

// The dialog's top-level widget: keys, close box, background clicks, and the
// colour requests at paint time.
class DialogWidget : public QWidget {
public:
    // An owned dialog is a window of its owner's (transient for it).
    DialogWidget(HWND hwnd, QWidget* owner) : QWidget(owner, owner ? Qt::Dialog : Qt::Window), m_hwnd(hwnd) {}

protected:
    bool event(QEvent* e) override
    {
        // A modal window open over this one takes its input meanwhile.
        if (e->type() == QEvent::WindowBlocked || e->type() == QEvent::WindowUnblocked)
            if (Window* w = afx::find(m_hwnd))
                w->blocked = e->type() == QEvent::WindowBlocked;
        // Activated meanwhile (a window manager focuses a window it maps):
        // the keys go to the modal window, which comes in front again.
        if (e->type() == QEvent::WindowActivate)
            if (Window* w = afx::find(m_hwnd); w && w->blocked)
                QTimer::singleShot(0, this, [this] { afx::bringModalsForward(*this); });
        return QWidget::event(e);
    }
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() == QEvent::KeyPress) {
            if (handleKey(static_cast<QKeyEvent*>(e)))
                return true;
        } else if (e->type() == QEvent::Paint) {
            if (Window* w = afx::findByWidget(static_cast<QWidget*>(watched)))
                if (w->widget == watched)
                    afx::refreshColors(*w);
        }
        return QWidget::eventFilter(watched, e);
    }
    void keyPressEvent(QKeyEvent* e) override
    {
        if (!handleKey(e))
            QWidget::keyPressEvent(e);
    }
    void closeEvent(QCloseEvent* e) override
    {
        // The window manager's close box: the program decides.
        e->ignore();
        SendMessageA(m_hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    void contextMenuEvent(QContextMenuEvent* e) override
    {
        QWidget* at = childAt(e->pos());
        Window* w = afx::find(m_hwnd);
        Window* c = at ? afx::findByWidget(at) : nullptr;
        bool background = !c || c == w || c->kind == ControlKind::Static || c->kind == ControlKind::GroupBox ||
                          c->kind == ControlKind::Icon;
        if (w && background)
            afx::showSystemMenu(*w, e->globalPos());
        e->accept();
    }
    void paintEvent(QPaintEvent* e) override
    {
        if (Window* w = afx::find(m_hwnd))
            afx::refreshColors(*w);
        QWidget::paintEvent(e);
    }

private:
    bool handleKey(QKeyEvent* k)
    {
        Window* w = afx::find(m_hwnd);
        if (!w)
            return false;
        if (k->key() == Qt::Key_Space && (k->modifiers() & Qt::AltModifier)) {
            afx::showSystemMenu(*w, mapToGlobal(QPoint(0, 0)));
            return true;
        }
        if (k->key() == Qt::Key_Escape) {
            Window* cancel = afx::child(w, IDCANCEL);
            SendMessageA(m_hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                         reinterpret_cast<LPARAM>(cancel ? cancel->hwnd : nullptr));
            return true;
        }
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            Window* focus = afx::findByWidget(focusWidget());
            if (focus && focus != w &&
                (focus->kind == ControlKind::PushButton || focus->kind == ControlKind::DefPushButton)) {
                afx::clickButton(*focus);
                return true;
            }
            auto* dialog = static_cast<CDialog*>(w->object);
            int id = static_cast<int>(LOWORD(dialog->GetDefID()));
            Window* def = afx::child(w, id);
            if (def) {
                if ((def->style & WS_DISABLED) || !(def->style & WS_VISIBLE))
                    return true;
                afx::clickButton(*def);
            } else {
                SendMessageA(m_hwnd, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED), 0);
            }
            return true;
        }
        return false;
    }

    HWND m_hwnd;
};

QFont templateFont(const DialogTemplate& t)
{
    static std::map<std::string, QString> resolved;
    std::string name = t.fontName ? t.fontName : "";
    auto it = resolved.find(name);
    if (it == resolved.end()) {
        QString family = afx::qs(name);
        QStringList families = QFontDatabase::families();
        if (family.isEmpty() || !families.contains(family)) {
            // The Windows Japanese fonts are not on Linux: the CJK fonts take
            // their place (Mono for the fixed-pitch "ＭＳ ゴシック").
            bool proportional = name.find("Ｐ") != std::string::npos || name.find("UI") != std::string::npos;
            QStringList candidates = proportional
                                         ? QStringList{"Noto Sans CJK JP", "Noto Sans Mono CJK JP"}
                                         : QStringList{"Noto Sans Mono CJK JP", "Noto Sans CJK JP"};
            QString chosen;
            for (const QString& c : candidates)
                if (families.contains(c)) {
                    chosen = c;
                    break;
                }
            if (chosen.isEmpty())
                chosen = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
            trace("dialog: font \"%s\" is missing, using \"%s\"\n", name.c_str(), afx::u8(chosen).c_str());
            family = chosen;
        }
        it = resolved.emplace(name, family).first;
    }
    QFont font(it->second);
    int points = t.fontPoints > 0 ? t.fontPoints : 9;
    font.setPixelSize((points * 96 + 36) / 72); // as at 96 dots per inch
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

// Dialog base units: the average width of the letters and the font's em
// height (its line gap would stretch every CJK dialog by half).
void baseUnits(Window& d)
{
    QFontMetrics m(d.font);
    int width = m.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    d.baseX = std::max(1, (width / 26 + 1) / 2);
    d.baseY = std::max(1, d.font.pixelSize());
}

UINT ctlColorMessage(const Window& w)
{
    if (w.isDialog)
        return WM_CTLCOLORDLG;
    switch (w.kind) {
    case ControlKind::Edit:
        return (w.style & (ES_READONLY | WS_DISABLED)) ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT;
    case ControlKind::ComboBox:
        return WM_CTLCOLOREDIT;
    case ControlKind::ListBox:
        return WM_CTLCOLORLISTBOX;
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
    case ControlKind::UpDown:
        return WM_CTLCOLORBTN;
    default:
        return WM_CTLCOLORSTATIC;
    }
}

} // namespace

namespace afx {

CDialog* innermostModal() { return modalStack.empty() ? nullptr : modalStack.back(); }

void placeOver(QWidget& window, const QWidget& owner)
{
    QScreen* screen = owner.screen() ? owner.screen() : QGuiApplication::primaryScreen();
    QRect area = screen ? screen->availableGeometry() : QRect();
    // Over the owner's frame while it shows, else in the middle of the screen.
    QPoint centre = owner.isVisible() ? owner.frameGeometry().center() : area.center();
    QRect r(QPoint(0, 0), window.size());
    r.moveCenter(centre);
    if (area.isValid()) {
        r.moveRight(std::min(r.right(), area.right()));
        r.moveBottom(std::min(r.bottom(), area.bottom()));
        r.moveLeft(std::max(r.left(), area.left()));
        r.moveTop(std::max(r.top(), area.top()));
    }
    window.move(r.topLeft());
}

void refreshColors(Window& w)
{
    Window* dialog = w.isDialog ? &w : w.parent;
    if (!dialog || !w.widget)
        return;
    UINT message = ctlColorMessage(w);
    if (message == WM_CTLCOLORBTN)
        return; // push buttons keep the platform's look
    CDC dc;
    auto brush = reinterpret_cast<HBRUSH>(
        SendMessageA(dialog->hwnd, message, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), reinterpret_cast<LPARAM>(w.hwnd)));
    if (!find(w.hwnd) || !w.widget)
        return;
    bool custom = !isSystemBrush(brush);
    COLORREF background = custom ? AfxGetBrushColor(brush) : 0;
    bool customText = dc.m_textColorSet;
    COLORREF text = dc.GetTextColor();
    if (custom == w.customColors && customText == w.customText && (!custom || background == w.background) &&
        (!customText || text == w.text))
        return;
    w.customColors = custom;
    w.customText = customText;
    w.background = background;
    w.text = text;
    QPalette pal = QApplication::palette(w.widget);
    if (custom) {
        QColor c = qcolor(background);
        pal.setColor(QPalette::Window, c);
        pal.setColor(QPalette::Base, c);
        pal.setColor(QPalette::AlternateBase, c);
    }
    if (customText) {
        QColor c = qcolor(text);
        pal.setColor(QPalette::WindowText, c);
        pal.setColor(QPalette::Text, c);
        pal.setColor(QPalette::ButtonText, c);
    }
    w.widget->setPalette(pal);
    bool fill = custom && w.kind != ControlKind::Edit && w.kind != ControlKind::ListBox &&
                w.kind != ControlKind::ComboBox;
    w.widget->setAutoFillBackground(fill || (w.isDialog && custom));
}

void refreshAllColors(Window& dialog)
{
    refreshColors(dialog);
    std::vector<HWND> children;
    for (Window* c : dialog.children)
        children.push_back(c->hwnd);
    for (HWND h : children)
        if (Window* c = find(h))
            refreshColors(*c);
}

void showSystemMenu(Window& dialog, QPoint screen)
{
    CMenu* menu = dialog.object->GetSystemMenu(FALSE);
    MenuData* data = menu ? menuData(menu->m_hMenu) : nullptr;
    if (!data)
        return;
    HWND hwnd = dialog.hwnd;
    // Restore only while minimised.
    for (MenuItem& i : data->items)
        if (i.id == SC_RESTORE && !(i.flags & MF_SEPARATOR))
            i.flags = (i.flags & ~MF_GRAYED) | (dialog.widget && dialog.widget->isMinimized() ? 0 : MF_GRAYED);
    UINT chosen = runPopup(*data, screen, dialog.widget);
    if (chosen && find(hwnd))
        SendMessageA(hwnd, WM_SYSCOMMAND, chosen, MAKELPARAM(static_cast<WORD>(screen.x()), static_cast<WORD>(screen.y())));
}

} // namespace afx

struct AfxDialogAccess {
    static HWND create(CDialog& d, CWnd* owner, bool modal);
};

// --- CDataExchange ---

CDataExchange::CDataExchange(CDialog* dialog, BOOL saveAndValidate)
    : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog)
{
}

HWND CDataExchange::PrepareCtrl(int id)
{
    HWND h = ::GetDlgItem(m_pDlgWnd->m_hWnd, id);
    if (!h) {
        trace("DDX: dialog %u has no control %d\n", m_pDlgWnd->GetTemplateId(), id);
        Fail();
    }
    m_hWndLastControl = h;
    return h;
}

HWND CDataExchange::PrepareEditCtrl(int id) { return PrepareCtrl(id); }

void CDataExchange::Fail()
{
    if (m_bSaveAndValidate && m_hWndLastControl)
        if (CWnd* c = CWnd::FromHandle(m_hWndLastControl))
            m_pDlgWnd->GotoDlgCtrl(c);
    throw ExchangeFailed{};
}

// --- CDialog ---

CDialog::CDialog(UINT templateId, CWnd* parent) : m_pParentWnd(parent), m_templateId(templateId) {}

CDialog::~CDialog()
{
    if (m_hWnd)
        ::DestroyWindow(m_hWnd);
}

// Creates the window and its controls and runs the initialisation; the
// window is shown when the template has WS_VISIBLE. nullptr on failure.
HWND AfxDialogAccess::create(CDialog& d, CWnd* owner, bool modal)
{
    const DialogTemplate* t = AfxFindDialogTemplate(d.m_templateId);
    if (!t) {
        trace("dialog: no dialog template %u\n", d.m_templateId);
        return nullptr;
    }
    afx::registerClasses();
    d.m_result = IDCANCEL;
    d.m_ending = false;
    d.m_defId = 0;
    HWND ownerHwnd = owner ? owner->m_hWnd : nullptr;
    // The widget is made at WM_NCCREATE (DefWindowProc), before WM_CREATE.
    DWORD style = t->style & ~WS_VISIBLE & ~WS_CHILD;
    HWND hwnd = CreateWindowExA(t->exStyle, "ZorvaneDialog", t->caption ? t->caption : "", style, 0, 0, 0, 0,
                                ownerHwnd, nullptr, nullptr, &d);
    afx::Window* w = hwnd ? afx::find(hwnd) : nullptr;
    if (!w || !d.m_hWnd) {
        trace("dialog: dialog %u could not be created\n", d.m_templateId);
        return nullptr;
    }
    for (const DialogControl& c : t->controls) {
        afx::createControl(*w, c);
        if (c.kind == ControlKind::DefPushButton && !d.m_defId)
            d.m_defId = static_cast<UINT>(c.id);
    }
    // Group boxes lie beneath the controls they frame or touch (a later one
    // would paint its background over them), in template order among
    // themselves; the tab order is the template's still.
    for (auto it = w->children.rbegin(); it != w->children.rend(); ++it)
        if ((*it)->kind == ControlKind::GroupBox && (*it)->widget)
            (*it)->widget->lower();
    if (modal) {
        modalStack.push_back(&d);
        d.m_running = true;
        // Modal to its owner's windows only, set before any showing (the
        // toolkit ignores a change on a visible window): the tray icon and
        // the program's other windows still take the user's clicks.
        if (ownerHwnd && w->widget && w->widget->parentWidget())
            w->widget->setWindowModality(Qt::WindowModal);
    }
    BOOL setFocus = static_cast<BOOL>(SendMessageA(hwnd, WM_INITDIALOG, 0, 0));
    w = afx::find(hwnd);
    if (w && setFocus && !d.m_ending) {
        // The first tab stop that can take the focus.
        for (afx::Window* c : w->children)
            if (c->widget && c->widget->focusPolicy() != Qt::NoFocus && !(c->style & WS_DISABLED) &&
                (c->style & WS_VISIBLE)) {
                c->widget->setFocus(Qt::TabFocusReason);
                break;
            }
    }
    if (w)
        afx::refreshAllColors(*w);
    // The dialog manager shows a visible template once its initialisation is done.
    if (w && (t->style & WS_VISIBLE) && !d.m_ending)
        d.ShowWindow(SW_SHOWNORMAL);
    return afx::find(hwnd) ? hwnd : nullptr;
}

BOOL CDialog::Create(UINT templateId, CWnd* parent)
{
    if (m_hWnd)
        return FALSE;
    m_templateId = templateId;
    if (parent)
        m_pParentWnd = parent;
    return AfxDialogAccess::create(*this, m_pParentWnd, false) ? TRUE : FALSE;
}

INT_PTR CDialog::DoModal()
{
    if (m_hWnd)
        return -1;
    CWnd* owner = m_pParentWnd;
    if (!owner)
        owner = afx::innermostModal();
    QPointer<QWidget> ownerWidget = owner ? owner->GetWidget() : nullptr;
    HWND hwnd = AfxDialogAccess::create(*this, owner, true);
    if (!hwnd && !m_running)
        return -1;
    afx::Window* w = hwnd ? afx::find(hwnd) : nullptr;

    if (!m_ending && w) {
        QEventLoop loop;
        m_loop = &loop;
        // First idle: a window still hidden is shown once more (the program's
        // OnWindowPosChanging may keep it hidden), then the seam's callback.
        QTimer::singleShot(0, &loop, [this, hwnd] {
            if (!afx::find(hwnd) || m_ending)
                return;
            if (!IsWindowVisible())
                ShowWindow(SW_SHOWNORMAL);
            if (auto cb = std::move(afx::seams().nextModal)) {
                afx::seams().nextModal = nullptr;
                cb(*this);
            }
        });
        if (!m_ending)
            loop.exec();
        m_loop = nullptr;
    }
    m_running = false;
    modalStack.erase(std::remove(modalStack.begin(), modalStack.end(), this), modalStack.end());

    // Hide, then destroy: OnDestroy, the controls, PostNcDestroy.
    if (afx::Window* x = hwnd ? afx::find(hwnd) : nullptr) {
        if (x->style & WS_VISIBLE)
            afx::setWindowPos(*x, nullptr, 0, 0, 0, 0,
                              SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        ::DestroyWindow(hwnd);
    }
    if (ownerWidget)
        ownerWidget->activateWindow();
    return m_result;
}

void CDialog::EndDialog(int result)
{
    m_result = result;
    m_ending = true;
    if (m_loop)
        static_cast<QEventLoop*>(m_loop)->exit(0);
}

BOOL CDialog::UpdateData(BOOL saveAndValidate)
{
    if (!m_hWnd)
        return FALSE;
    CDataExchange dx(this, saveAndValidate);
    try {
        DoDataExchange(&dx);
    } catch (const ExchangeFailed&) {
        return FALSE;
    }
    return TRUE;
}

void CDialog::GotoDlgCtrl(CWnd* control)
{
    if (!control)
        return;
    afx::Window* c = afx::find(control->m_hWnd);
    if (!c || !c->widget)
        return;
    c->widget->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(c->widget.data()))
        edit->selectAll();
}

void CDialog::NextDlgCtrl() const
{
    if (QWidget* w = GetWidget())
        if (QWidget* f = w->focusWidget())
            f->nextInFocusChain()->setFocus(Qt::TabFocusReason);
}

void CDialog::PrevDlgCtrl() const
{
    if (QWidget* w = GetWidget())
        if (QWidget* f = w->focusWidget())
            f->previousInFocusChain()->setFocus(Qt::BacktabFocusReason);
}

void CDialog::SetDefID(UINT id) { m_defId = id; }

DWORD CDialog::GetDefID() const { return m_defId ? (0x534B0000u | m_defId) : 0x534B0000u | IDOK; }

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
        return OnInitDialog();
    return CWnd::WindowProc(message, wParam, lParam);
}

LRESULT CDialog::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    afx::Window* w = afx::find(m_hWnd);
    switch (message) {
    case WM_NCCREATE: {
        // The widget is made here, so that WM_CREATE finds it.
        if (!w)
            return FALSE;
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
        const DialogTemplate* t = AfxFindDialogTemplate(m_templateId);
        w->isDialog = true;
        w->style = static_cast<DWORD>(cs->style);
        w->exStyle = cs->dwExStyle;
        w->rawText = cs->lpszName ? cs->lpszName : "";
        afx::Window* ownerWindow = afx::find(cs->hwndParent);
        QWidget* owner = ownerWindow && ownerWindow->widget ? ownerWindow->widget->window() : nullptr;
        auto* widget = new DialogWidget(m_hWnd, owner);
        w->widget = widget;
        if (t) {
            w->font = templateFont(*t);
            baseUnits(*w);
        }
        widget->setFont(w->font);
        widget->setWindowTitle(afx::qs(w->rawText));
        // An owned window has neither a minimise nor a maximise button.
        Qt::WindowFlags flags = (owner ? Qt::Dialog : Qt::Window) | Qt::WindowTitleHint | Qt::CustomizeWindowHint;
        if (w->style & WS_SYSMENU)
            flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if ((w->style & WS_MINIMIZEBOX) && !owner)
            flags |= Qt::WindowMinimizeButtonHint;
        widget->setWindowFlags(flags);
        if (t) {
            QRect r = afx::toPixels(*w, 0, 0, t->cx, t->cy);
            widget->setFixedSize(r.size());
        }
        if (owner)
            afx::placeOver(*widget, *owner);
        widget->setAttribute(Qt::WA_DeleteOnClose, false);
        return TRUE;
    }
    case WM_CLOSE:
        // A dialog's close is its Cancel.
        ::SendMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return 0;
    case WM_NEXTDLGCTL:
        if (lParam) {
            GotoDlgCtrl(CWnd::FromHandle(reinterpret_cast<HWND>(wParam)));
        } else if (wParam) {
            PrevDlgCtrl();
        } else {
            NextDlgCtrl();
        }
        return 0;
    default:
        return CWnd::DefWindowProc(message, wParam, lParam);
    }
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnCommand(WPARAM wParam, LPARAM)
{
    WORD code = HIWORD(wParam);
    if (code != BN_CLICKED)
        return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK:
        OnOK();
        return TRUE;
    case IDCANCEL:
        OnCancel();
        return TRUE;
    default:
        return FALSE;
    }
}

HBRUSH CDialog::OnCtlColor(CDC* dc, CWnd* control, UINT ctlColor) { return CWnd::OnCtlColor(dc, control, ctlColor); }

// --- data exchange ---

void DDX_Control(CDataExchange* dx, int id, CWnd& control)
{
    HWND h = dx->PrepareCtrl(id);
    control.m_hWnd = h;
}

void DDX_Check(CDataExchange* dx, int id, int& value)
{
    afx::Window* c = afx::find(dx->PrepareCtrl(id));
    if (dx->m_bSaveAndValidate)
        value = afx::checkOf(*c);
    else
        afx::setCheck(*c, value == BST_CHECKED ? BST_CHECKED : BST_UNCHECKED);
}

void DDX_Radio(CDataExchange* dx, int firstId, int& value)
{
    afx::Window* first = afx::find(dx->PrepareCtrl(firstId));
    std::vector<afx::Window*> group;
    if (first && first->parent) {
        auto& all = first->parent->children;
        auto it = std::find(all.begin(), all.end(), first);
        for (auto i = it; i != all.end(); ++i) {
            if (i != it && ((*i)->style & WS_GROUP))
                break;
            if ((*i)->kind != ControlKind::AutoRadioButton)
                break;
            group.push_back(*i);
        }
    }
    if (dx->m_bSaveAndValidate) {
        value = -1;
        for (size_t i = 0; i < group.size(); ++i)
            if (afx::checkOf(*group[i]) == BST_CHECKED) {
                value = static_cast<int>(i);
                break;
            }
    } else {
        for (size_t i = 0; i < group.size(); ++i)
            afx::setCheck(*group[i], static_cast<int>(i) == value ? BST_CHECKED : BST_UNCHECKED);
    }
}

void DDX_Text(CDataExchange* dx, int id, std::string& value)
{
    afx::Window* c = afx::find(dx->PrepareEditCtrl(id));
    if (dx->m_bSaveAndValidate)
        value = afx::windowText(*c);
    else
        afx::setWindowText(*c, value);
}

void DDX_Text(CDataExchange* dx, int id, int& value)
{
    HWND h = dx->PrepareEditCtrl(id);
    afx::Window* c = afx::find(h);
    if (dx->m_bSaveAndValidate) {
        BOOL ok = FALSE;
        int v = static_cast<int>(dx->m_pDlgWnd->GetDlgItemInt(id, &ok, TRUE));
        if (!ok) {
            AfxMessageBox("整数を入力してください。", MB_OK | MB_ICONWARNING);
            dx->Fail();
        }
        value = v;
    } else {
        afx::setWindowText(*c, std::to_string(value));
    }
}

void DDX_CBString(CDataExchange* dx, int id, std::string& value) { DDX_Text(dx, id, value); }
