// The application object, the entry routine, the user-interface start and
// the framework's message boxes.
#include "platform/ui/afx_internal.h"

#include "platform/fileapi.h"
#include "platform/trace.h"
#include "platform/winsock.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <cstdlib>
#include <cstring>
#include <string>

int __argc = 0;
char** __argv = nullptr;

namespace {

CWinApp* theApplication = nullptr;
std::string exeName = "zorvane";
std::string platformName;
char fallbackName[] = "zorvane";
char* fallbackArgv[] = {fallbackName, nullptr};
int fallbackArgc = 1;

// An application built without a name is called by the string table's
// AFX_IDS_APP_TITLE, else by its program file.
const char* applicationTitle()
{
    CWinApp* app = AfxGetApp();
    if (app && app->m_pszAppName)
        return app->m_pszAppName;
    static std::string title;
    char text[256];
    if (LoadStringA(AfxGetResourceHandle(), AFX_IDS_APP_TITLE, text, sizeof text) > 0)
        title = text;
    else
        title = exeName;
    return title.c_str();
}

// True when the command line names the toolkit's platform or display
// ("-platform xcb", "-display :1", also with two dashes): the toolkit takes
// those over the environment.
bool displayOnCommandLine(int argc, char** argv)
{
    for (int i = 1; argv && i + 1 < argc; ++i) {
        const char* arg = argv[i];
        if (!arg)
            continue;
        if (arg[0] == '-' && arg[1] == '-')
            ++arg;
        if (std::strcmp(arg, "-platform") == 0 || std::strcmp(arg, "-display") == 0)
            return true;
    }
    return false;
}

} // namespace

namespace afx {

int guiMessageBox(HWND owner, const char* text, const char* caption, UINT type)
{
    QWidget* parent = nullptr;
    if (Window* w = find(owner))
        parent = w->widget ? w->widget->window() : nullptr;
    if (!parent)
        if (CDialog* d = innermostModal())
            parent = d->GetWidget();
    QMessageBox box(parent);
    if (parent)
        box.setWindowModality(Qt::WindowModal); // as DoModal's dialogs
    box.setWindowTitle(qs(caption));
    box.setText(qs(text));
    switch (type & 0xF0) {
    case MB_ICONERROR:
        box.setIcon(QMessageBox::Critical);
        break;
    case MB_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
    case MB_ICONWARNING:
        box.setIcon(QMessageBox::Warning);
        break;
    case MB_ICONINFORMATION:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    std::vector<std::pair<QPushButton*, int>> buttons;
    auto add = [&](const char* label, QMessageBox::ButtonRole role, int answer) {
        QPushButton* b = box.addButton(qs(label), role);
        buttons.emplace_back(b, answer);
        return b;
    };
    switch (type & 0x0F) {
    case MB_YESNO:
        box.setDefaultButton(add("はい(&Y)", QMessageBox::YesRole, IDYES));
        box.setEscapeButton(add("いいえ(&N)", QMessageBox::NoRole, IDNO));
        break;
    case MB_OKCANCEL:
        box.setDefaultButton(add("OK", QMessageBox::AcceptRole, IDOK));
        box.setEscapeButton(add("キャンセル", QMessageBox::RejectRole, IDCANCEL));
        break;
    default:
        box.setDefaultButton(add("OK", QMessageBox::AcceptRole, IDOK));
        box.setEscapeButton(buttons.back().first);
        break;
    }
    box.exec(); // a nested loop: timers and messages keep running
    for (auto& [b, answer] : buttons)
        if (box.clickedButton() == b)
            return answer;
    return (type & 0x0F) == MB_YESNO ? IDNO : ((type & 0x0F) == MB_OKCANCEL ? IDCANCEL : IDOK);
}

} // namespace afx

void InitPlatformGui(int& argc, char** argv)
{
    if (!QCoreApplication::instance()) {
        const char* qpa = std::getenv("QT_QPA_PLATFORM");
        const char* display = std::getenv("DISPLAY");
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        bool noDisplay = (!display || !*display) && (!wayland || !*wayland);
        if ((!qpa || !*qpa) && noDisplay && !displayOnCommandLine(argc, argv)) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            trace("display: none found (no DISPLAY, no WAYLAND_DISPLAY)\n");
        }
        if (!argv || argc <= 0) {
            new QApplication(fallbackArgc, fallbackArgv);
        } else {
            new QApplication(argc, argv); // lives as long as the process
        }
    } else if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        trace("display: the process already has a non-GUI application object\n");
    }
    platformName = afx::u8(QGuiApplication::platformName());
    if (platformName == "offscreen")
        trace("display: running offscreen (no window is seen)\n");
    else
        trace("display: %s\n", platformName.c_str());
    QApplication::setQuitOnLastWindowClosed(false);
    InitPlatform(argc, argv);
    // Offscreen nobody could answer a box: the platform layer's default
    // writes it to standard error and answers OK / Yes.
    if (platformName != "offscreen")
        setMessageBoxHandler(afx::guiMessageBox);
    afx::registerClasses();
    afx::startNotices();
}

const char* AfxGetDisplayPlatform() { return platformName.c_str(); }

// --- CWinApp ---

CWinApp::CWinApp(const char* appName)
    : m_pszAppName(appName), m_pszExeName(exeName.c_str()), m_hInstance(nullptr)
{
    theApplication = this;
}

CWinApp::~CWinApp()
{
    if (theApplication == this)
        theApplication = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::Run()
{
    // The program's loop runs only while a main window exists.
    if (m_pMainWnd && m_pMainWnd->m_hWnd && IsWindow(m_pMainWnd->m_hWnd))
        return RunMessageLoop();
    return 0;
}

int CWinApp::ExitInstance() { return 0; }

void CWinApp::OnHelp() {}

HICON CWinApp::LoadIcon(UINT id) const { return LoadIconA(m_hInstance, MAKEINTRESOURCEA(id)); }

CWinApp* AfxGetApp() { return theApplication; }
HINSTANCE AfxGetInstanceHandle() { return theApplication ? theApplication->m_hInstance : nullptr; }
HINSTANCE AfxGetResourceHandle() { return AfxGetInstanceHandle(); }

int AfxWinMain(int argc, char** argv)
{
    if (argc > 0 && argv && argv[0]) {
        const char* slash = std::strrchr(argv[0], '/');
        exeName = slash ? slash + 1 : argv[0];
        setModuleFileName(argv[0]);
    }
    InitPlatformGui(argc, argv);
    // The toolkit has taken its own switches (-platform, -reverse, -style ...)
    // out of argv and counted them off argc: the program sees what is left.
    __argc = argc;
    __argv = argv;
    CWinApp* app = AfxGetApp();
    if (!app) {
        trace("AfxWinMain: no application object\n");
        return 1;
    }
    app->m_pszExeName = exeName.c_str();
    if (!app->m_pszAppName)
        app->m_pszAppName = applicationTitle();
    if (!app->InitInstance())
        return app->ExitInstance();
    app->Run();
    return app->ExitInstance();
}

void AfxEnableControlContainer() {}

BOOL AfxSocketInit()
{
    WSADATA data;
    return WSAStartup(0x0202, &data) == 0 ? TRUE : FALSE;
}


int AfxMessageBox(const char* text, UINT type, UINT)
{
    const char* caption = applicationTitle();
    CDialog* owner = afx::innermostModal();
    return MessageBoxA(owner ? owner->m_hWnd : nullptr, text, caption, type);
}

int AfxMessageBox(UINT idPrompt, UINT type, UINT helpId)
{
    char text[1024];
    LoadStringA(AfxGetResourceHandle(), idPrompt, text, sizeof text);
    return AfxMessageBox(text, type, helpId);
}

#if defined(__SANITIZE_ADDRESS__)
// Fontconfig keeps its caches and libdbus its connection buffers until the
// process ends, which the leak checker of an address-sanitizer build would
// report for every program with a window.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\nleak:libdbus-1.so\n"; }
#endif

#if defined(__SANITIZE_THREAD__)
// Qt's D-Bus thread (the system bus for logind's notices) runs in libraries
// built without the thread sanitizer, whose own locking it cannot see.
extern "C" const char* __tsan_default_suppressions();
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libQt6DBus.so\nrace:libdbus-1.so\ncalled_from_lib:libQt6DBus.so.6\n";
}
#endif
