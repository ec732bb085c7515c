// The framework's test seam.
#include "platform/ui/afx_internal.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

namespace afx {

Seams& seams()
{
    static Seams s;
    return s;
}

} // namespace afx

namespace {

afx::Window* control(CWnd& dialog, int id)
{
    afx::Window* d = afx::find(dialog.m_hWnd);
    return id == 0 ? d : afx::child(d, id);
}


} // namespace

namespace uitest {

bool pressButton(CWnd& dialog, int id)
{
    afx::Window* c = control(dialog, id);
    if (!c || !c->widget || !c->object->IsWindowVisible() || (c->style & WS_DISABLED))
        return false;
    afx::clickButton(*c);
    return true;
}

void pressKey(CWnd& dialog, UINT vk)
{
    afx::Window* d = afx::find(dialog.m_hWnd);
    if (!d || !d->widget)
        return;
    int key = 0;
    QString text;
    switch (vk) {
    case VK_RETURN:
        key = Qt::Key_Return;
        text = "\r";
        break;
    case VK_ESCAPE:
        key = Qt::Key_Escape;
        text = QString(QChar(27));
        break;
    case VK_SPACE:
        key = Qt::Key_Space;
        text = " ";
        break;
    case VK_TAB:
        key = Qt::Key_Tab;
        text = "\t";
        break;
    case VK_UP:
        key = Qt::Key_Up;
        break;
    case VK_DOWN:
        key = Qt::Key_Down;
        break;
    default:
        return;
    }
    QPointer<QWidget> target = d->widget->focusWidget() ? d->widget->focusWidget() : d->widget.data();
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    if (target) {
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
        QApplication::sendEvent(target, &release);
    }
}

void pressAltSpace(CWnd& dialog)
{
    afx::Window* d = afx::find(dialog.m_hWnd);
    if (!d || !d->widget)
        return;
    QWidget* target = d->widget->focusWidget() ? d->widget->focusWidget() : d->widget.data();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::AltModifier, " ");
    QApplication::sendEvent(target, &press);
}

void pressCloseBox(CWnd& dialog)
{
    afx::Window* d = afx::find(dialog.m_hWnd);
    if (!d || !d->widget)
        return;
    QCloseEvent e;
    QApplication::sendEvent(d->widget, &e);
}

void rightClick(CWnd& dialog, POINT client)
{
    afx::Window* d = afx::find(dialog.m_hWnd);
    if (!d || !d->widget)
        return;
    QPoint pos(client.x, client.y);
    QWidget* target = d->widget->childAt(pos);
    if (!target)
        target = d->widget;
    QPoint local = target->mapFrom(d->widget, pos);
    QContextMenuEvent e(QContextMenuEvent::Mouse, local, target->mapToGlobal(local));
    // As Qt delivers it: to the widget under the mouse, then up to its parents.
    for (QWidget* w = target; w; w = w->parentWidget()) {
        e.ignore();
        QContextMenuEvent here(QContextMenuEvent::Mouse, w->mapFromGlobal(e.globalPos()), e.globalPos());
        QApplication::sendEvent(w, &here);
        if (here.isAccepted())
            break;
        if (w == d->widget)
            break;
    }
}

bool clickLink(CWnd& dialog, int id)
{
    afx::Window* c = control(dialog, id);
    auto* label = c ? qobject_cast<QLabel*>(c->widget.data()) : nullptr;
    if (!label || c->kind != ControlKind::Link || (c->style & WS_DISABLED))
        return false;
    emit label->linkActivated("#");
    return true;
}

bool typeText(CWnd& dialog, int id, const char* text)
{
    afx::Window* c = control(dialog, id);
    auto* edit = c ? qobject_cast<QLineEdit*>(c->widget.data()) : nullptr;
    if (!edit || edit->isReadOnly() || (c->style & WS_DISABLED))
        return false;
    edit->setFocus();
    edit->selectAll();
    edit->insert(afx::qs(text));
    return true;
}

void setMenuChooser(MenuChooser chooser) { afx::seams().menuChooser = std::move(chooser); }

std::vector<MenuEntry> lastMenu() { return afx::seams().lastMenu; }

MessageBoxRecorder::MessageBoxRecorder()
{
    setMessageBoxHandler([this](HWND owner, const char* text, const char* caption, UINT type) {
        m_calls.push_back({owner, text ? text : "", caption ? caption : "", type});
        if (m_onShow)
            m_onShow(m_calls.back());
        if (!m_answers.empty()) {
            int answer = m_answers.front();
            m_answers.erase(m_answers.begin());
            return answer;
        }
        return (type & 0x0F) == MB_YESNO ? IDYES : IDOK;
    });
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    bool gui = qobject_cast<QApplication*>(QCoreApplication::instance()) &&
               QGuiApplication::platformName() != QStringLiteral("offscreen");
    setMessageBoxHandler(gui ? afx::guiMessageBox : MessageBoxHandler());
}

void MessageBoxRecorder::queueAnswer(int answer) { m_answers.push_back(answer); }

void MessageBoxRecorder::onShow(std::function<void(const MessageBoxCall&)> callback) { m_onShow = std::move(callback); }

SoundRecorder::SoundRecorder() { afx::seams().sounds = &m_calls; }
SoundRecorder::~SoundRecorder() { afx::seams().sounds = nullptr; }

ShellRecorder::ShellRecorder() { afx::seams().shell = &m_calls; }
ShellRecorder::~ShellRecorder() { afx::seams().shell = nullptr; }

bool isShown(CWnd& dialog, int id)
{
    afx::Window* c = control(dialog, id);
    return c && (c->style & WS_VISIBLE);
}

Colors colorsOf(CWnd& dialog, int id)
{
    afx::Window* c = control(dialog, id);
    if (!c || !c->widget)
        return {false, 0, 0};
    afx::refreshColors(*c);
    QPalette pal = c->widget->palette();
    bool field = c->kind == ControlKind::Edit || c->kind == ControlKind::ListBox || c->kind == ControlKind::ComboBox;
    QColor bg = pal.color(field && !c->isDialog ? QPalette::Base : QPalette::Window);
    QColor fg = pal.color(field && !c->isDialog ? QPalette::Text : QPalette::WindowText);
    return {c->customColors, RGB(bg.red(), bg.green(), bg.blue()), RGB(fg.red(), fg.green(), fg.blue())};
}

RECT controlRect(CWnd& dialog, int id)
{
    afx::Window* c = control(dialog, id);
    if (!c || !c->widget)
        return {0, 0, 0, 0};
    QRect r = c->widget->geometry();
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

std::vector<StackedControl> stackingOrder(CWnd& dialog)
{
    std::vector<StackedControl> order;
    afx::Window* d = afx::find(dialog.m_hWnd);
    if (!d || !d->widget)
        return order;
    for (QObject* o : d->widget->children()) {
        auto* widget = qobject_cast<QWidget*>(o);
        afx::Window* c = widget ? afx::findByWidget(widget) : nullptr;
        if (!c || c == d || c->widget != widget || c->parent != d)
            continue;
        QRect r = widget->geometry();
        order.push_back({c->id, c->kind == ControlKind::GroupBox,
                         {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}});
    }
    return order;
}

WindowFrame frameOf(CWnd& window)
{
    WindowFrame frame{nullptr, false, false, false, {0, 0, 0, 0}};
    afx::Window* w = afx::find(window.m_hWnd);
    if (!w || !w->widget)
        return frame;
    QWidget* top = w->widget->window();
    if (QWidget* owner = top->parentWidget())
        if (afx::Window* o = afx::findByWidget(owner->window()))
            frame.owner = o->hwnd;
    Qt::WindowFlags flags = top->windowFlags();
    frame.minimizeBox = (flags & Qt::WindowMinimizeButtonHint) != 0;
    frame.maximizeBox = (flags & Qt::WindowMaximizeButtonHint) != 0;
    frame.closeBox = (flags & Qt::WindowCloseButtonHint) != 0;
    QRect r = top->geometry();
    frame.geometry = {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    return frame;
}

bool takesInput(CWnd& dialog)
{
    afx::Window* d = afx::find(dialog.m_hWnd);
    return d && d->widget && !d->blocked;
}

HWND activeWindow()
{
    QWidget* active = QApplication::activeWindow();
    afx::Window* w = active ? afx::findByWidget(active) : nullptr;
    return w ? w->hwnd : nullptr;
}

int focusedId(CWnd& dialog)
{
    afx::Window* d = afx::find(dialog.m_hWnd);
    if (!d || !d->widget || !d->widget->focusWidget())
        return 0;
    afx::Window* f = afx::findByWidget(d->widget->focusWidget());
    return f && !f->isDialog ? f->id : 0;
}

int checkState(CWnd& dialog, int id)
{
    afx::Window* c = control(dialog, id);
    return c ? afx::checkOf(*c) : -1;
}

void onNextModal(std::function<void(CDialog&)> callback) { afx::seams().nextModal = std::move(callback); }

CDialog* runningModal() { return afx::innermostModal(); }

} // namespace uitest

