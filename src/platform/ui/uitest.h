#pragma once
// Test seam of the dialog framework: drive and inspect real dialogs without a
// display (QT_QPA_PLATFORM=offscreen) and without user input. Tests only.
#include "platform/ui/dialog.h"
#include "platform/ui/uitypes.h"

#include <functional>
#include <string>
#include <vector>

namespace uitest {

// --- input, as a user gives it ---
// A click on the control: FALSE (nothing happens) when it is missing,
// disabled or not visible. An auto check box toggles, an auto radio button
// checks itself; the dialog gets BN_CLICKED.
bool pressButton(CWnd& dialog, int id);
// A key press on the focused control of the dialog (VK_RETURN, VK_ESCAPE,
// VK_SPACE, VK_TAB, VK_UP, VK_DOWN), or on the dialog itself.
void pressKey(CWnd& dialog, UINT virtualKey);
// Alt+Space: opens the system menu.
void pressAltSpace(CWnd& dialog);
// The window manager's close box.
void pressCloseBox(CWnd& dialog);
// A right click at a point of the client area (the background: the system menu).
void rightClick(CWnd& dialog, POINT client);
// A click on the link of a link control.
bool clickLink(CWnd& dialog, int id);
// Types into an edit (replaces its text, as a user would).
bool typeText(CWnd& dialog, int id, const char* text);

// --- menus ---
struct MenuEntry {
    UINT id;       // 0 for a separator
    std::string text;
    UINT flags;    // MF_SEPARATOR, MF_GRAYED ...
};
// While set, every popup menu (system menu, TrackPopupMenu) is handed to the
// chooser instead of being shown; it returns the chosen id, 0 for none.
using MenuChooser = std::function<UINT(const std::vector<MenuEntry>& entries)>;
void setMenuChooser(MenuChooser chooser);
// The entries of the last popup that was shown or handed to the chooser.
std::vector<MenuEntry> lastMenu();

// --- message boxes ---
struct MessageBoxCall {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};
// Takes every MessageBoxA / AfxMessageBox while it lives: records it and
// answers the next queued answer, else IDOK (IDYES for MB_YESNO). The
// framework's own message box comes back when it ends.
class MessageBoxRecorder {
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;
    void queueAnswer(int answer);
    // Called with each box, inside the call (the box is modal there).
    void onShow(std::function<void(const MessageBoxCall&)> callback);
    const std::vector<MessageBoxCall>& calls() const { return m_calls; }

private:
    std::vector<MessageBoxCall> m_calls;
    std::vector<int> m_answers;
    std::function<void(const MessageBoxCall&)> m_onShow;
};

// --- sounds and the shell ---
struct SoundCall {
    UINT resourceId; // 0 for a stop or a sound not named by id
    DWORD flags;
};
// Takes every PlaySoundA while it lives (records it; nothing is heard).
class SoundRecorder {
public:
    SoundRecorder();
    ~SoundRecorder();
    SoundRecorder(const SoundRecorder&) = delete;
    SoundRecorder& operator=(const SoundRecorder&) = delete;
    const std::vector<SoundCall>& calls() const { return m_calls; }

private:
    std::vector<SoundCall> m_calls;
};

struct ShellCall {
    HWND owner;
    std::string operation;
    std::string file;
};
// Takes every ShellExecuteA while it lives (records it, opens nothing).
class ShellRecorder {
public:
    ShellRecorder();
    ~ShellRecorder();
    ShellRecorder(const ShellRecorder&) = delete;
    ShellRecorder& operator=(const ShellRecorder&) = delete;
    const std::vector<ShellCall>& calls() const { return m_calls; }

private:
    std::vector<ShellCall> m_calls;
};

// --- the tray ---
enum class TrayState { Real, Absent, Present };
// Absent/Present override QSystemTrayIcon::isSystemTrayAvailable; a change
// takes effect at once (Absent drops the icons, Present posts
// "TaskbarCreated" when the tray was absent). Real goes back to the platform.
void setTray(TrayState state);
struct TrayIconState {
    bool exists;       // added and not deleted
    std::string tip;   // as shown ("\r\n" became a line break)
    UINT callbackMessage;
    HICON icon;
};
TrayIconState trayIcon(HWND window, UINT id);
enum class TrayClick { Left, Double, Right, Middle };
// As a user's click on the icon: posts the callback messages.
bool clickTray(HWND window, UINT id, TrayClick click);

// --- platform notices, as the session manager and logind give them ---
void emitEndSession();              // the session manager's logout request
void emitPrepareForSleep(bool sleeping);

// --- reading back ---
// The control's own WS_VISIBLE (whatever its parents).
bool isShown(CWnd& dialog, int id);
struct Colors {
    bool custom;        // OnCtlColor answered a brush of its own
    COLORREF background;
    COLORREF text;
};
// The colours the control (id 0: the dialog) is painted with now.
Colors colorsOf(CWnd& dialog, int id);
// The control's rectangle in the dialog's client area, in pixels.
RECT controlRect(CWnd& dialog, int id);
struct StackedControl {
    int id;
    bool groupBox;
    RECT rect; // in the dialog's client area, in pixels
};
// The dialog's controls from the bottom of the stacking order to the top: a
// later one is painted over an earlier one where they overlap.
std::vector<StackedControl> stackingOrder(CWnd& dialog);
struct WindowFrame {
    HWND owner;        // the window it is transient for, nullptr when none
    bool minimizeBox;
    bool maximizeBox;
    bool closeBox;
    RECT geometry;     // on the screen, without the window manager's frame
};
// How the window asks the window manager to frame it.
WindowFrame frameOf(CWnd& window);
// False while a modal window takes the user's clicks and keys from the dialog.
bool takesInput(CWnd& dialog);
// The framework window that is active now (the one the keys go to), nullptr
// when none.
HWND activeWindow();
// The id of the focused control of the dialog (0 when none).
int focusedId(CWnd& dialog);
// Checked state of a check box or radio button; -1 when missing.
int checkState(CWnd& dialog, int id);

// --- modal runs ---
// Runs callback with the next dialog whose modal loop starts, once, from
// inside its loop (after OnInitDialog and the first showing).
void onNextModal(std::function<void(CDialog& dialog)> callback);
// The innermost dialog whose modal loop runs, nullptr when none.
CDialog* runningModal();

} // namespace uitest
