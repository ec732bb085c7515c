// The controls of a dialog: their widgets, their messages, their objects.
#include "platform/ui/afx_internal.h"

#include "platform/trace.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <cstring>

namespace {

using afx::Window;

// A flat check box (BS_FLAT): a plain square with a bold mark, which reads
// at a glance even while disabled (the status lamps).
class FlatCheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        int side = std::min({height() - 2, width() - 2, 13});
        if (side < 5)
            side = std::max(1, std::min(height(), width()));
        QRect box(0, (height() - side) / 2, side, side);
        if (autoFillBackground())
            p.fillRect(rect(), palette().color(QPalette::Window));
        bool on = isChecked();
        p.setPen(QColor(64, 64, 64));
        p.setBrush(on ? QColor(0, 176, 80) : QColor(255, 255, 255));
        p.drawRect(box.adjusted(0, 0, -1, -1));
        if (on) {
            QPen pen(Qt::white, std::max(1.5, side / 6.0));
            p.setPen(pen);
            p.setRenderHint(QPainter::Antialiasing);
            QPointF a(box.left() + side * 0.22, box.top() + side * 0.52);
            QPointF b(box.left() + side * 0.42, box.top() + side * 0.72);
            QPointF c(box.left() + side * 0.78, box.top() + side * 0.28);
            p.drawPolyline(QVector<QPointF>{a, b, c});
        }
        if (!text().isEmpty()) {
            p.setPen(palette().color(QPalette::WindowText));
            p.drawText(rect().adjusted(side + 4, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, text());
        }
    }
};

// The baseline of one line of text whose em box starts at top: the CJK
// fonts' tall ascent would push the text of a static sized for a Windows
// font out at the bottom.
int compactBaseline(const QFont& font, int top)
{
    QFontMetrics fm(font);
    int em = font.pixelSize() > 0 ? font.pixelSize() : fm.height();
    return top + std::min(fm.ascent(), (em * 88 + 50) / 100);
}

// A static text control: the text drawn from the top of the control as
// Windows draws it (centred vertically with SS_CENTERIMAGE), wrapped at
// words when the control has room for more lines.
class StaticText : public QFrame {
public:
    StaticText(QWidget* parent, DWORD style) : QFrame(parent), m_style(style) {}
    void setText(const QString& text)
    {
        if (text == m_text)
            return;   // the same text is not painted again
        m_text = text;
        update();
    }
    const QString& text() const { return m_text; }

protected:
    void paintEvent(QPaintEvent* e) override
    {
        QFrame::paintEvent(e);
        QPainter p(this);
        p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
        QRect r = contentsRect().adjusted(frameWidth() ? 2 : 0, 0, frameWidth() ? -1 : 0, 0);
        Qt::Alignment h = (m_style & 0x3) == SS_CENTER  ? Qt::AlignHCenter
                          : (m_style & 0x3) == SS_RIGHT ? Qt::AlignRight
                                                        : Qt::AlignLeft;
        QFontMetrics fm(font());
        int em = font().pixelSize() > 0 ? font().pixelSize() : fm.height();
        if (r.height() >= 2 * fm.height()) {
            p.drawText(r, static_cast<int>(h | Qt::AlignTop) | Qt::TextWordWrap, m_text);
            return;
        }
        int top = (m_style & SS_CENTERIMAGE) ? r.top() + std::max(0, (r.height() - em) / 2) : r.top();
        int width = fm.horizontalAdvance(m_text);
        int x = r.left();
        if (h == Qt::AlignHCenter)
            x = r.left() + (r.width() - width) / 2;
        else if (h == Qt::AlignRight)
            x = r.right() + 1 - width;
        p.setClipRect(contentsRect());
        p.drawText(x, compactBaseline(font(), top), m_text);
    }

private:
    DWORD m_style;
    QString m_text;
};

// A group box as Windows draws it: an etched frame whose top line runs
// through the middle of the caption, so that controls placed just below
// the caption (as templates place them) stay clear of the line.
class GroupFrame : public QWidget {
public:
    GroupFrame(const QString& title, QWidget* parent) : QWidget(parent), m_title(title) {}
    void setTitle(const QString& title)
    {
        if (title == m_title)
            return;
        m_title = title;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        QFontMetrics fm(font());
        int em = font().pixelSize() > 0 ? font().pixelSize() : fm.height();
        int half = std::min(em / 2, std::max(0, height() / 2));
        if (autoFillBackground())
            p.fillRect(rect(), palette().color(QPalette::Window));
        QRect frame(0, half, width() - 2, height() - half - 2);
        p.setPen(palette().color(QPalette::Mid));
        p.drawRect(frame);
        p.setPen(palette().color(QPalette::Light));
        p.drawRect(frame.translated(1, 1));
        if (m_title.isEmpty())
            return;
        int indent = fm.horizontalAdvance(QLatin1Char('x')) + 2;
        QRect text(indent, 0, std::min(fm.horizontalAdvance(m_title) + 4, width() - indent - 2), em + 1);
        p.fillRect(text, palette().color(QPalette::Window));
        p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
        p.setClipRect(text);
        p.drawText(text.left() + 2, compactBaseline(font(), 0), m_title);
    }

private:
    QString m_title;
};

// The up-down control: two arrows beside its buddy.
class UpDownWidget : public QWidget {
public:
    explicit UpDownWidget(QWidget* parent) : QWidget(parent)
    {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        up = new QToolButton(this);
        down = new QToolButton(this);
        up->setArrowType(Qt::UpArrow);
        down->setArrowType(Qt::DownArrow);
        for (QToolButton* b : {up, down}) {
            b->setAutoRepeat(true);
            b->setFocusPolicy(Qt::NoFocus);
            b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
            layout->addWidget(b);
        }
    }
    QToolButton* up;
    QToolButton* down;
};

void sendCommand(Window& control, WORD code)
{
    if (!control.parent)
        return;
    SendMessageA(control.parent->hwnd, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(control.id), code),
                 reinterpret_cast<LPARAM>(control.hwnd));
}

// "&x" shows x (underlined on Windows), "&&" shows "&".
QString withoutMnemonics(const std::string& text)
{
    QString s = afx::qs(text);
    QString out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == '&' && i + 1 < s.size()) {
            ++i;
        }
        out += s[i];
    }
    return out;
}

QString linkHtml(const std::string& text)
{
    QString s = afx::qs(text);
    s.replace("<a>", "<a href=\"#\">", Qt::CaseInsensitive);
    return s;
}

// The radio group of a button: from the nearest WS_GROUP control at or
// before it to the next WS_GROUP control.
std::vector<Window*> radioGroup(Window& w)
{
    std::vector<Window*> group;
    if (!w.parent)
        return group;
    auto& all = w.parent->children;
    auto it = std::find(all.begin(), all.end(), &w);
    if (it == all.end())
        return group;
    auto first = it;
    while (first != all.begin() && !((*first)->style & WS_GROUP))
        --first;
    for (auto i = first; i != all.end(); ++i) {
        if (i != first && ((*i)->style & WS_GROUP))
            break;
        if ((*i)->kind == ControlKind::AutoRadioButton)
            group.push_back(*i);
    }
    return group;
}

void stepSpin(Window& w, int delta)
{
    if (!(w.style & WS_DISABLED)) {
        BOOL error = FALSE;
        static_cast<CSpinButtonCtrl*>(w.object)->GetPos32(&error);
        int lo = std::min(w.spinLower, w.spinUpper);
        int hi = std::max(w.spinLower, w.spinUpper);
        int dir = w.spinLower <= w.spinUpper ? 1 : -1;
        int pos = w.spinPos + delta * dir;
        pos = std::clamp(pos, lo, hi);
        static_cast<CSpinButtonCtrl*>(w.object)->SetPos32(pos);
    }
}

void placeUpDown(Window& w)
{
    Window* buddy = w.buddy;
    if (!buddy || !buddy->widget || !w.widget || !(w.style & (UDS_ALIGNRIGHT | UDS_ALIGNLEFT)))
        return;
    QRect b = buddy->widget->geometry();
    int width = std::max(12, std::min(w.widget->width(), b.width() / 2));
    if (w.style & UDS_ALIGNRIGHT) {
        buddy->widget->setGeometry(b.x(), b.y(), b.width() - width, b.height());
        w.widget->setGeometry(b.x() + b.width() - width, b.y(), width, b.height());
    } else {
        buddy->widget->setGeometry(b.x() + width, b.y(), b.width() - width, b.height());
        w.widget->setGeometry(b.x(), b.y(), width, b.height());
    }
}

// The buddy's arrow keys step the up-down control.
class ArrowKeys : public QObject {
public:
    ArrowKeys(QObject* parent, HWND spin) : QObject(parent), m_spin(spin) {}

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() != QEvent::KeyPress)
            return false;
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() != Qt::Key_Up && k->key() != Qt::Key_Down)
            return false;
        if (Window* w = afx::find(m_spin)) {
            stepSpin(*w, k->key() == Qt::Key_Up ? 1 : -1);
            return true;
        }
        return false;
    }

private:
    HWND m_spin;
};

std::unique_ptr<CWnd> objectFor(ControlKind kind)
{
    switch (kind) {
    case ControlKind::Static:
    case ControlKind::Icon:
        return std::make_unique<CStatic>();
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
    case ControlKind::AutoCheckBox:
    case ControlKind::AutoRadioButton:
    case ControlKind::GroupBox:
        return std::make_unique<CButton>();
    case ControlKind::Edit:
        return std::make_unique<CEdit>();
    case ControlKind::ListBox:
        return std::make_unique<CListBox>();
    case ControlKind::ComboBox:
        return std::make_unique<CComboBox>();
    case ControlKind::UpDown:
        return std::make_unique<CSpinButtonCtrl>();
    case ControlKind::Link:
        return std::make_unique<CLinkCtrl>();
    }
    return std::make_unique<CWnd>();
}

QListWidget* listOf(Window& w)
{
    return w.kind == ControlKind::ListBox ? qobject_cast<QListWidget*>(w.widget.data()) : nullptr;
}
QComboBox* comboOf(Window& w)
{
    return w.kind == ControlKind::ComboBox ? qobject_cast<QComboBox*>(w.widget.data()) : nullptr;
}
Window* self(const CWnd* object) { return afx::find(object->m_hWnd); }

int findPrefix(QComboBox* combo, int startAfter, const char* text)
{
    int n = combo->count();
    if (n == 0)
        return CB_ERR;
    QString prefix = afx::qs(text);
    int start = (startAfter < 0 || startAfter >= n) ? 0 : startAfter + 1;
    for (int k = 0; k < n; ++k) {
        int i = (start + k) % n;
        QString item = combo->itemText(i);
        if (item.left(prefix.size()).compare(prefix, Qt::CaseInsensitive) == 0)
            return i;
    }
    return CB_ERR;
}

} // namespace

namespace afx {

void createControl(Window& dialog, const DialogControl& c)
{
    auto object = objectFor(c.kind);
    DWORD style = WS_CHILD | c.style | (c.hidden ? 0 : WS_VISIBLE);
    CWnd* raw = object.get();
    HWND hwnd = CreateWindowExA(0, "ZorvaneControl", c.text ? c.text : "", style, 0, 0, 0, 0, dialog.hwnd,
                                reinterpret_cast<void*>(static_cast<intptr_t>(c.id)), nullptr, raw);
    Window* w = hwnd ? find(hwnd) : nullptr;
    if (!w) {
        trace("dialog: control %d could not be created\n", c.id);
        return;
    }
    w->ownedObject = std::move(object);
    w->kind = c.kind;
    w->id = c.id;
    w->style = style;
    w->parent = &dialog;
    w->rawText = c.text ? c.text : "";
    dialog.children.push_back(w);

    QWidget* parent = dialog.widget;
    QWidget* widget = nullptr;
    const HWND h = hwnd;
    switch (c.kind) {
    case ControlKind::Static: {
        auto* label = new StaticText(parent, c.style);
        label->setText(withoutMnemonics(w->rawText));
        if (c.style & SS_SUNKEN) {
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            label->setLineWidth(1);
        }
        widget = label;
        break;
    }
    case ControlKind::Icon: {
        auto* label = new QLabel(parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        if (c.image) {
            HICON icon = LoadIconA(nullptr, MAKEINTRESOURCEA(c.image));
            label->setPixmap(iconOf(icon).pixmap(32, 32));
        }
        widget = label;
        break;
    }
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
        auto* button = new QPushButton(qs(w->rawText), parent);
        button->setAutoDefault(false);
        button->setDefault(c.kind == ControlKind::DefPushButton);
        QObject::connect(button, &QPushButton::clicked, [h] {
            if (Window* x = find(h))
                sendCommand(*x, BN_CLICKED);
        });
        widget = button;
        break;
    }
    case ControlKind::AutoCheckBox: {
        QCheckBox* box = (c.style & BS_FLAT) ? new FlatCheckBox(qs(w->rawText), parent)
                                             : new QCheckBox(qs(w->rawText), parent);
        QObject::connect(box, &QCheckBox::clicked, [h] {
            if (Window* x = find(h))
                sendCommand(*x, BN_CLICKED);
        });
        widget = box;
        break;
    }
    case ControlKind::AutoRadioButton: {
        auto* radio = new QRadioButton(qs(w->rawText), parent);
        radio->setAutoExclusive(false);
        QObject::connect(radio, &QRadioButton::clicked, [h] {
            Window* x = find(h);
            if (!x)
                return;
            // An auto radio button checks itself and clears the rest of its group.
            setCheck(*x, BST_CHECKED);
            for (Window* other : radioGroup(*x))
                if (other != x)
                    setCheck(*other, BST_UNCHECKED);
            sendCommand(*x, BN_CLICKED);
        });
        widget = radio;
        break;
    }
    case ControlKind::GroupBox: {
        auto* box = new GroupFrame(withoutMnemonics(w->rawText), parent);
        box->setAttribute(Qt::WA_TransparentForMouseEvents, false);
        widget = box;
        break;
    }
    case ControlKind::Edit: {
        auto* edit = new QLineEdit(qs(w->rawText), parent);
        edit->setReadOnly((c.style & ES_READONLY) != 0);
        edit->setFrame((c.style & WS_BORDER) != 0);
        Qt::Alignment align = (c.style & 0x3) == ES_CENTER ? Qt::AlignHCenter
                              : (c.style & 0x3) == ES_RIGHT ? Qt::AlignRight
                                                            : Qt::AlignLeft;
        edit->setAlignment(align | Qt::AlignVCenter);
        edit->setTextMargins(1, 0, 1, 0);
        widget = edit;
        break;
    }
    case ControlKind::ListBox: {
        auto* list = new QListWidget(parent);
        list->setUniformItemSizes(true);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setFrameShape((c.style & WS_BORDER) ? QFrame::StyledPanel : QFrame::NoFrame);
        auto policy = [&](DWORD bit) {
            if (!(c.style & bit))
                return Qt::ScrollBarAlwaysOff;
            return (c.style & LBS_DISABLENOSCROLL) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded;
        };
        list->setVerticalScrollBarPolicy(policy(WS_VSCROLL));
        list->setHorizontalScrollBarPolicy(policy(WS_HSCROLL));
        list->setSortingEnabled(false);
        list->setTextElideMode(Qt::ElideNone); // long lines scroll, as in a list box
        list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
        widget = list;
        break;
    }
    case ControlKind::ComboBox: {
        auto* combo = new QComboBox(parent);
        bool editable = (c.style & 0x3) != CBS_DROPDOWNLIST;
        combo->setEditable(editable);
        combo->setInsertPolicy(QComboBox::NoInsert);
        if (editable)
            combo->setEditText(qs(w->rawText));
        widget = combo;
        break;
    }
    case ControlKind::UpDown: {
        auto* updown = new UpDownWidget(parent);
        QObject::connect(updown->up, &QToolButton::clicked, [h] {
            if (Window* x = find(h))
                stepSpin(*x, 1);
        });
        QObject::connect(updown->down, &QToolButton::clicked, [h] {
            if (Window* x = find(h))
                stepSpin(*x, -1);
        });
        widget = updown;
        break;
    }
    case ControlKind::Link: {
        auto* label = new QLabel(parent);
        label->setTextFormat(Qt::RichText);
        label->setText(linkHtml(w->rawText));
        label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        label->setFocusPolicy(Qt::StrongFocus);
        QObject::connect(label, &QLabel::linkActivated, [h] {
            Window* x = find(h);
            if (!x || !x->parent)
                return;
            NMHDR nm{x->hwnd, static_cast<UINT_PTR>(x->id), NM_CLICK};
            SendMessageA(x->parent->hwnd, WM_NOTIFY, static_cast<WPARAM>(x->id), reinterpret_cast<LPARAM>(&nm));
        });
        widget = label;
        break;
    }
    }
    w->widget = widget;
    widget->setFont(dialog.font);
    QRect r = toPixels(dialog, c.x, c.y, c.cx, c.cy);
    if (c.kind == ControlKind::ComboBox) // the template height includes the drop-down list
        r.setHeight(std::min(r.height(), std::max(widget->sizeHint().height(), QFontMetrics(dialog.font).height() + 6)));
    if (c.kind == ControlKind::Icon)
        r.setSize(QSize(32, 32));
    widget->setGeometry(r);
    switch (c.kind) {
    case ControlKind::Static:
    case ControlKind::Icon:
    case ControlKind::GroupBox:
        widget->setFocusPolicy(Qt::NoFocus);
        break;
    case ControlKind::UpDown:
        widget->setFocusPolicy(Qt::NoFocus);
        break;
    default:
        widget->setFocusPolicy(Qt::StrongFocus);
        break;
    }
    widget->setEnabled(!(style & WS_DISABLED));
    widget->setVisible((style & WS_VISIBLE) != 0);
    widget->installEventFilter(dialog.widget);

    if (c.kind == ControlKind::UpDown && (c.style & UDS_AUTOBUDDY) && dialog.children.size() >= 2) {
        Window* buddy = dialog.children[dialog.children.size() - 2];
        static_cast<CSpinButtonCtrl*>(w->object)->SetBuddy(buddy->object);
    }
}

std::string windowText(const Window& w)
{
    QWidget* widget = w.widget;
    if (w.isDialog)
        return widget ? u8(widget->windowTitle()) : w.rawText;
    if (!widget)
        return w.rawText;
    switch (w.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
    case ControlKind::AutoCheckBox:
    case ControlKind::AutoRadioButton:
        return u8(static_cast<QAbstractButton*>(widget)->text());
    case ControlKind::Edit:
        return u8(static_cast<QLineEdit*>(widget)->text());
    case ControlKind::ComboBox:
        return u8(static_cast<QComboBox*>(widget)->currentText());
    default:
        return w.rawText;
    }
}

void setWindowText(Window& w, const std::string& text)
{
    w.rawText = text;
    QWidget* widget = w.widget;
    if (!widget)
        return;
    if (w.isDialog) {
        widget->setWindowTitle(qs(text));
        return;
    }
    switch (w.kind) {
    case ControlKind::Static:
        static_cast<StaticText*>(widget)->setText(withoutMnemonics(text));
        break;
    case ControlKind::Link:
        static_cast<QLabel*>(widget)->setText(linkHtml(text));
        break;
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
    case ControlKind::AutoCheckBox:
    case ControlKind::AutoRadioButton:
        static_cast<QAbstractButton*>(widget)->setText(qs(text));
        break;
    case ControlKind::GroupBox:
        static_cast<GroupFrame*>(widget)->setTitle(withoutMnemonics(text));
        break;
    case ControlKind::Edit: {
        auto* edit = static_cast<QLineEdit*>(widget);
        QString q = qs(text);
        if (edit->text() != q)
            edit->setText(q);
        edit->setCursorPosition(0);
        break;
    }
    case ControlKind::ComboBox: {
        auto* combo = static_cast<QComboBox*>(widget);
        if (combo->isEditable())
            combo->setEditText(qs(text));
        else
            combo->setCurrentIndex(combo->findText(qs(text)));
        break;
    }
    default:
        break;
    }
}

int checkOf(const Window& w)
{
    auto* button = qobject_cast<QAbstractButton*>(w.widget.data());
    if (!button || !button->isCheckable())
        return BST_UNCHECKED;
    return button->isChecked() ? BST_CHECKED : BST_UNCHECKED;
}

void setCheck(Window& w, int check)
{
    auto* button = qobject_cast<QAbstractButton*>(w.widget.data());
    if (button && button->isCheckable())
        button->setChecked(check == BST_CHECKED);
}

void clickButton(Window& w)
{
    if (auto* button = qobject_cast<QAbstractButton*>(w.widget.data()))
        button->click();
}

LRESULT controlMessage(Window& w, UINT message, WPARAM wParam, LPARAM lParam, bool& handled)
{
    handled = true;
    switch (message) {
    case WM_SETTEXT:
        setWindowText(w, reinterpret_cast<const char*>(lParam) ? reinterpret_cast<const char*>(lParam) : "");
        return TRUE;
    case WM_GETTEXT:
        return copyOut(windowText(w), reinterpret_cast<char*>(lParam), static_cast<int>(wParam));
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(windowText(w).size());
    case BM_GETCHECK:
        return checkOf(w);
    case BM_SETCHECK:
        setCheck(w, static_cast<int>(wParam));
        return 0;
    case BM_CLICK:
        clickButton(w);
        return 0;
    default:
        break;
    }
    if (QListWidget* list = listOf(w)) {
        CListBox* box = static_cast<CListBox*>(w.object);
        switch (message) {
        case LB_ADDSTRING:
            return box->AddString(reinterpret_cast<const char*>(lParam));
        case LB_DELETESTRING:
            return box->DeleteString(static_cast<UINT>(wParam));
        case LB_GETCOUNT:
            return list->count();
        case LB_RESETCONTENT:
            box->ResetContent();
            return 0;
        case LB_SETCURSEL:
            return box->SetCurSel(static_cast<int>(wParam));
        case LB_GETCURSEL:
            return box->GetCurSel();
        case LB_SETTOPINDEX:
            return box->SetTopIndex(static_cast<int>(wParam));
        case LB_GETTOPINDEX:
            return box->GetTopIndex();
        case LB_GETTEXTLEN:
            return box->GetTextLen(static_cast<int>(wParam));
        case LB_GETTEXT: {
            // Windows trusts the buffer to hold LB_GETTEXTLEN + 1 bytes.
            std::string text;
            int n = box->GetText(static_cast<int>(wParam), text);
            if (n == LB_ERR || !lParam)
                return LB_ERR;
            std::memcpy(reinterpret_cast<char*>(lParam), text.c_str(), text.size() + 1);
            return n;
        }
        default:
            break;
        }
    }
    if (comboOf(w)) {
        CComboBox* box = static_cast<CComboBox*>(w.object);
        switch (message) {
        case CB_ADDSTRING:
            return box->AddString(reinterpret_cast<const char*>(lParam));
        case CB_GETCOUNT:
            return box->GetCount();
        case CB_GETCURSEL:
            return box->GetCurSel();
        case CB_SETCURSEL:
            return box->SetCurSel(static_cast<int>(wParam));
        case CB_RESETCONTENT:
            box->ResetContent();
            return 0;
        case CB_FINDSTRING:
            return box->FindString(static_cast<int>(wParam), reinterpret_cast<const char*>(lParam));
        default:
            break;
        }
    }
    handled = false;
    return 0;
}

} // namespace afx

// --- control objects ---

HICON CStatic::SetIcon(HICON icon)
{
    Window* w = self(this);
    if (!w)
        return nullptr;
    HICON old = w->bigIcon;
    w->bigIcon = icon;
    if (auto* label = qobject_cast<QLabel*>(w->widget.data()))
        label->setPixmap(afx::iconOf(icon).pixmap(32, 32));
    return old;
}

HICON CStatic::GetIcon() const
{
    Window* w = self(this);
    return w ? w->bigIcon : nullptr;
}

int CButton::GetCheck() const
{
    Window* w = self(this);
    return w ? afx::checkOf(*w) : BST_UNCHECKED;
}

void CButton::SetCheck(int check)
{
    if (Window* w = self(this))
        afx::setCheck(*w, check);
}

void CButton::Click()
{
    if (Window* w = self(this))
        afx::clickButton(*w);
}

void CEdit::SetReadOnly(BOOL readOnly)
{
    Window* w = self(this);
    if (!w)
        return;
    if (readOnly)
        w->style |= ES_READONLY;
    else
        w->style &= ~ES_READONLY;
    if (auto* edit = qobject_cast<QLineEdit*>(w->widget.data()))
        edit->setReadOnly(readOnly != FALSE);
}

void CEdit::SetSel(int start, int end)
{
    Window* w = self(this);
    auto* edit = w ? qobject_cast<QLineEdit*>(w->widget.data()) : nullptr;
    if (!edit)
        return;
    if (start == 0 && end == -1)
        edit->selectAll();
    else if (start < 0)
        edit->deselect();
    else
        edit->setSelection(start, std::max(0, end - start));
}

int CListBox::AddString(const char* text)
{
    Window* w = self(this);
    QListWidget* list = w ? listOf(*w) : nullptr;
    if (!list)
        return LB_ERR;
    list->addItem(afx::qs(text));
    return list->count() - 1;
}

int CListBox::DeleteString(UINT index)
{
    Window* w = self(this);
    QListWidget* list = w ? listOf(*w) : nullptr;
    if (!list || index >= static_cast<UINT>(list->count()))
        return LB_ERR;
    delete list->takeItem(static_cast<int>(index));
    return list->count();
}

int CListBox::GetCount() const
{
    Window* w = self(this);
    QListWidget* list = w ? listOf(*w) : nullptr;
    return list ? list->count() : LB_ERR;
}

int CListBox::GetText(int index, std::string& text) const
{
    Window* w = self(this);
    QListWidget* list = w ? listOf(*w) : nullptr;
    if (!list || index < 0 || index >= list->count()) {
        text.clear();
        return LB_ERR;
    }
    text = afx::u8(list->item(index)->text());
    return static_cast<int>(text.size());
}

int CListBox::GetTextLen(int index) const
{
    std::string text;
    return GetText(index, text);
}

void CListBox::ResetContent()
{
    Window* w = self(this);
    if (QListWidget* list = w ? listOf(*w) : nullptr)
        list->clear();
}

int CListBox::SetCurSel(int index)
{
    Window* w = self(this);
    QListWidget* list = w ? listOf(*w) : nullptr;
    if (!list)
        return LB_ERR;
    if (index < 0) {
        list->setCurrentRow(-1);
        list->clearSelection();
        return LB_ERR;
    }
    if (index >= list->count())
        return LB_ERR;
    list->setCurrentRow(index);
    return index;
}

int CListBox::GetCurSel() const
{
    Window* w = self(this);
    QListWidget* list = w ? listOf(*w) : nullptr;
    if (!list)
        return LB_ERR;
    int row = list->currentRow();
    return (row >= 0 && list->item(row)->isSelected()) ? row : LB_ERR;
}

int CListBox::SetTopIndex(int index)
{
    Window* w = self(this);
    QListWidget* list = w ? listOf(*w) : nullptr;
    if (!list || index < 0 || index >= list->count())
        return LB_ERR;
    list->scrollToItem(list->item(index), QAbstractItemView::PositionAtTop);
    return 0;
}

int CListBox::GetTopIndex() const
{
    Window* w = self(this);
    QListWidget* list = w ? listOf(*w) : nullptr;
    if (!list || list->count() == 0)
        return 0;
    QListWidgetItem* item = list->itemAt(1, 1);
    return item ? list->row(item) : 0;
}

int CComboBox::AddString(const char* text)
{
    Window* w = self(this);
    QComboBox* combo = w ? comboOf(*w) : nullptr;
    if (!combo)
        return CB_ERR;
    QString edit = combo->currentText();
    int index = combo->currentIndex();
    combo->addItem(afx::qs(text));
    // Adding a line neither selects it nor changes the edit field.
    combo->setCurrentIndex(index);
    if (combo->isEditable())
        combo->setEditText(edit);
    return combo->count() - 1;
}

int CComboBox::GetCount() const
{
    Window* w = self(this);
    QComboBox* combo = w ? comboOf(*w) : nullptr;
    return combo ? combo->count() : CB_ERR;
}

int CComboBox::GetLBText(int index, std::string& text) const
{
    Window* w = self(this);
    QComboBox* combo = w ? comboOf(*w) : nullptr;
    if (!combo || index < 0 || index >= combo->count()) {
        text.clear();
        return CB_ERR;
    }
    text = afx::u8(combo->itemText(index));
    return static_cast<int>(text.size());
}

void CComboBox::ResetContent()
{
    Window* w = self(this);
    if (QComboBox* combo = w ? comboOf(*w) : nullptr) {
        combo->clear();
        if (combo->isEditable())
            combo->setEditText(QString());
    }
}

int CComboBox::SetCurSel(int index)
{
    Window* w = self(this);
    QComboBox* combo = w ? comboOf(*w) : nullptr;
    if (!combo)
        return CB_ERR;
    if (index < 0 || index >= combo->count()) {
        combo->setCurrentIndex(-1);
        if (combo->isEditable())
            combo->setEditText(QString());
        return CB_ERR;
    }
    combo->setCurrentIndex(index);
    return index;
}

int CComboBox::GetCurSel() const
{
    Window* w = self(this);
    QComboBox* combo = w ? comboOf(*w) : nullptr;
    if (!combo)
        return CB_ERR;
    int index = combo->currentIndex();
    if (index < 0)
        return CB_ERR;
    // An edit field changed by hand no longer shows the selected line.
    if (combo->isEditable() && combo->currentText() != combo->itemText(index))
        return CB_ERR;
    return index;
}

int CComboBox::FindString(int startAfter, const char* text) const
{
    Window* w = self(this);
    QComboBox* combo = w ? comboOf(*w) : nullptr;
    return combo ? findPrefix(combo, startAfter, text) : CB_ERR;
}

int CComboBox::SelectString(int startAfter, const char* text)
{
    int i = FindString(startAfter, text);
    if (i != CB_ERR)
        SetCurSel(i);
    return i;
}

void CSpinButtonCtrl::SetRange(short lower, short upper) { SetRange32(lower, upper); }

void CSpinButtonCtrl::SetRange32(int lower, int upper)
{
    if (Window* w = self(this)) {
        w->spinLower = lower;
        w->spinUpper = upper;
    }
}

void CSpinButtonCtrl::GetRange32(int& lower, int& upper) const
{
    Window* w = self(this);
    lower = w ? w->spinLower : 0;
    upper = w ? w->spinUpper : 0;
}

int CSpinButtonCtrl::SetPos(int pos) { return SetPos32(pos); }

int CSpinButtonCtrl::SetPos32(int pos)
{
    Window* w = self(this);
    if (!w)
        return 0;
    int old = w->spinPos;
    int lo = std::min(w->spinLower, w->spinUpper);
    int hi = std::max(w->spinLower, w->spinUpper);
    w->spinPos = std::clamp(pos, lo, hi);
    if (w->buddy && (w->style & UDS_SETBUDDYINT))
        afx::setWindowText(*w->buddy, std::to_string(w->spinPos));
    return old;
}

int CSpinButtonCtrl::GetPos32(BOOL* error) const
{
    Window* w = self(this);
    if (error)
        *error = TRUE;
    if (!w)
        return 0;
    if (w->buddy && (w->style & UDS_SETBUDDYINT)) {
        std::string text = afx::windowText(*w->buddy);
        int lo = std::min(w->spinLower, w->spinUpper);
        int hi = std::max(w->spinLower, w->spinUpper);
        bool negative = !text.empty() && text[0] == '-';
        size_t i = negative ? 1 : 0;
        long long v = 0;
        bool ok = i < text.size();
        for (; ok && i < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9' || v > 0x7FFFFFFFLL) {
                ok = false;
                break;
            }
            v = v * 10 + (text[i] - '0');
        }
        if (negative)
            v = -v;
        if (ok && v >= lo && v <= hi) {
            w->spinPos = static_cast<int>(v);
            if (error)
                *error = FALSE;
        }
        return w->spinPos;
    }
    if (error)
        *error = FALSE;
    return w->spinPos;
}

int CSpinButtonCtrl::GetPos() const
{
    BOOL error = FALSE;
    int pos = GetPos32(&error);
    return (pos & 0xFFFF) | (error ? 0x10000 : 0);
}

CWnd* CSpinButtonCtrl::SetBuddy(CWnd* buddy)
{
    Window* w = self(this);
    if (!w)
        return nullptr;
    CWnd* old = w->buddy ? w->buddy->object : nullptr;
    w->buddy = buddy ? afx::find(buddy->m_hWnd) : nullptr;
    if (w->buddy && w->buddy->widget && (w->style & UDS_ARROWKEYS))
        w->buddy->widget->installEventFilter(new ArrowKeys(w->widget, w->hwnd));
    placeUpDown(*w);
    return old;
}

CWnd* CSpinButtonCtrl::GetBuddy() const
{
    Window* w = self(this);
    return w && w->buddy ? w->buddy->object : nullptr;
}
