#pragma once
// Private to the framework: the state behind every framework window handle,
// and helpers shared by its files. User-interface thread only.
#include "platform/ui/afxwin.h"
#include "platform/ui/uitest.h"

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace afx {

struct MenuData;

// One framework window: a dialog or one of its controls.
struct Window {
    HWND hwnd = nullptr;
    CWnd* object = nullptr;             // gets the messages (the dialog, or ownedObject)
    std::unique_ptr<CWnd> ownedObject;  // the permanent object of a control
    QPointer<QWidget> widget;
    bool isDialog = false;
    bool blocked = false;               // a dialog's input is taken by a modal window over it
    ControlKind kind = ControlKind::Static;
    int id = 0;
    DWORD style = 0;    // WS_VISIBLE and WS_DISABLED kept up to date
    DWORD exStyle = 0;
    Window* parent = nullptr;           // the dialog of a control
    std::vector<Window*> children;      // controls in template order
    // dialogs
    QFont font;
    int baseX = 6; // dialog base units
    int baseY = 12;
    std::string rawText; // the text as given, for kinds that show it changed
    HICON bigIcon = nullptr;
    HICON smallIcon = nullptr;
    HMENU systemMenu = nullptr;
    // up-down controls
    int spinLower = 0;
    int spinUpper = 100;
    int spinPos = 0;
    Window* buddy = nullptr;
    // colours last applied (OnCtlColor)
    bool customColors = false;
    bool customText = false;
    COLORREF background = 0;
    COLORREF text = 0;
};

// The procedure of the framework's window classes ("ZorvaneDialog",
// "ZorvaneControl"); lpCreateParams of CreateWindowExA is the window's CWnd.
LRESULT windowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void registerClasses();

Window* find(HWND hwnd);
Window* findByWidget(const QWidget* widget); // the widget or its nearest framework ancestor
Window* child(Window* dialog, int id);
// The dialog-unit rectangle in pixels.
QRect toPixels(const Window& dialog, int x, int y, int cx, int cy);

// Windows text (UTF-8) to and from Qt.
QString qs(const char* text);
QString qs(const std::string& text);
std::string u8(const QString& text);
// Bounded copy into a caller's buffer (never splits a UTF-8 character);
// returns the bytes copied.
int copyOut(const std::string& text, char* buffer, int size);

// Icons and brushes.
QIcon iconOf(HICON icon);
QColor qcolor(COLORREF c);
bool isSystemBrush(HBRUSH brush);

// A window's rectangle as GetWindowRect gives it (screen coordinates).
QRect windowRect(const QWidget* widget);
// Brings the modal windows open over a top-level window (its dialogs and
// message boxes, and theirs) back above it, restored, the innermost active:
// what raising the window does while they are open.
void bringModalsForward(QWidget& owner);
// Show, hide, move and size a window through WM_WINDOWPOSCHANGING; HWND_TOP
// raises it (and brings its modal windows forward).
BOOL setWindowPos(Window& w, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
// Asks the dialog's OnCtlColor for the window and applies the answer.
void refreshColors(Window& w);
void refreshAllColors(Window& dialog);

// Controls: create the widget of a template control, and its messages.
void createControl(Window& dialog, const DialogControl& control);
LRESULT controlMessage(Window& w, UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
std::string windowText(const Window& w);
void setWindowText(Window& w, const std::string& text);
int checkOf(const Window& w);
void setCheck(Window& w, int check);
// A user's click on a button: toggles auto check boxes, checks auto radio
// buttons (clearing the rest of the group), sends BN_CLICKED.
void clickButton(Window& w);

// Menus: the entries of a popup, and showing one (the seam may choose).
struct MenuItem {
    UINT id = 0;
    std::string text;
    UINT flags = 0;
    MenuData* popup = nullptr;
};
struct MenuData {
    std::vector<MenuItem> items;
    std::vector<std::unique_ptr<MenuData>> popups; // owned sub-menus
    std::unique_ptr<CMenu> object;                 // FromHandle's object
};
MenuData* menuData(HMENU menu);
HMENU menuHandle(MenuData* data);
// Shows the popup at the screen point; returns the chosen id, 0 for none.
UINT runPopup(MenuData& menu, QPoint screen, QWidget* owner);
// The system menu of the dialog at the screen point; sends WM_SYSCOMMAND.
void showSystemMenu(Window& dialog, QPoint screen);

// The framework's message box (QMessageBox); the default MessageBoxA handler.
int guiMessageBox(HWND owner, const char* text, const char* caption, UINT type);

// The innermost running modal dialog.
CDialog* innermostModal();
// Moves a window of an owner's over it (in the middle of the screen while the
// owner is hidden), inside the screen.
void placeOver(QWidget& window, const QWidget& owner);
void notifyModalStarted(CDialog& dialog);

// The tray and the platform notices.
void startNotices();
void startTrayWatch();
bool trayAvailable();
// The process's top-level windows get the message (sent or posted).
void toTopLevelWindows(UINT message, WPARAM wParam, LPARAM lParam, bool post);

// Seams (uitest.h) installed by tests.
struct Seams {
    std::function<UINT(const std::vector<uitest::MenuEntry>&)> menuChooser;
    std::vector<uitest::MenuEntry> lastMenu;
    std::vector<uitest::SoundCall>* sounds = nullptr;
    std::vector<uitest::ShellCall>* shell = nullptr;
    std::function<void(CDialog&)> nextModal;
};
Seams& seams();

} // namespace afx
