// The platform pieces around the dialogs: message boxes, tray, sound, shell,
// menus, resources, version, session notices, messages from other processes.
#include "ui_support.h"

#include "platform/fileapi.h"
#include "platform/winver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace uitesting;

namespace {

// A plain window of the message layer that records what it gets.
struct Recorded {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Recorded> received;

LRESULT recordProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    if (m >= WM_USER || m == WM_ENDSESSION || m == WM_POWERBROADCAST || m == WM_COMMAND || m == WM_COPYDATA) {
        if (m == WM_COPYDATA) {
            auto* cds = reinterpret_cast<COPYDATASTRUCT*>(lp);
            received.push_back({m, cds->dwData, static_cast<LPARAM>(cds->cbData)});
            return 1234;
        }
        received.push_back({m, wp, lp});
        return 0;
    }
    return DefWindowProcA(w, m, wp, lp);
}

HWND recordingWindow()
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSA cls{};
        cls.lpfnWndProc = recordProc;
        cls.lpszClassName = "UiTestRecorder";
        RegisterClassA(&cls);
        registered = true;
    }
    received.clear();
    return CreateWindowExA(0, "UiTestRecorder", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
}

int count(UINT message, LPARAM lParam)
{
    int n = 0;
    for (const auto& r : received)
        n += r.message == message && r.lParam == lParam;
    return n;
}

NOTIFYICONDATAA record(HWND w, const char* tip)
{
    NOTIFYICONDATAA nid;
    std::memset(&nid, 0, sizeof nid);
    nid.cbSize = 504;
    nid.hWnd = w;
    nid.uID = 0;
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = WM_USER + 100;
    nid.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(kIconId));
    std::snprintf(nid.szTip, sizeof nid.szTip, "%s", tip);
    return nid;
}

// Runs the peer program and pumps the loop until it ends; its exit status.
int runPeer(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    std::string path = UI_PEER_PATH;
    argv.push_back(path.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    bool done = false;
    PumpMessages(20000, [&] {
        done = waitpid(pid, &status, WNOHANG) == pid;
        return done;
    });
    if (!done) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string hex(HWND w)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(w)));
    return buf;
}

class DialogWithProc : public CDialog {
public:
    DialogWithProc() : CDialog(kSmallDialog) {}
    std::vector<Recorded> seen;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_COPYDATA) {
            auto* cds = reinterpret_cast<COPYDATASTRUCT*>(lParam);
            seen.push_back({message, cds->dwData, static_cast<LPARAM>(cds->cbData)});
            return 55;
        }
        if (message >= WM_APP)
            seen.push_back({message, wParam, lParam});
        return CDialog::WindowProc(message, wParam, lParam);
    }
};

} // namespace

TEST(UiPlatform, MessageBoxRecorderAnswersInTurn)
{
    uitest::MessageBoxRecorder boxes;
    boxes.queueAnswer(IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "接続中ですが終了しますか？", "確認", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "２", "c", MB_YESNO), IDYES);
    EXPECT_EQ(AfxMessageBox("text"), IDOK);
    ASSERT_EQ(boxes.calls().size(), 3u);
    EXPECT_EQ(boxes.calls()[0].text, "接続中ですが終了しますか？");
    EXPECT_EQ(boxes.calls()[0].caption, "確認");
    EXPECT_EQ(boxes.calls()[0].type, MB_YESNO);
}

TEST(UiPlatform, TrayAddFailsWhileNoTrayAndTaskbarCreatedComesWhenOneAppears)
{
    HWND w = recordingWindow();
    UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    uitest::setTray(uitest::TrayState::Absent);
    NOTIFYICONDATAA nid = record(w, "ZorvaneForTCP");
    SetLastError(0);
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &nid));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_NE(GetLastError(), 1460u) << "not a time-out: the program's retry loop would spin";
    EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &nid));

    uitest::setTray(uitest::TrayState::Present);
    ASSERT_TRUE(pumpUntil([&] { return count(taskbarCreated, 0) + (received.empty() ? 0 : 0) > 0 ||
                                       std::any_of(received.begin(), received.end(),
                                                   [&](const Recorded& r) { return r.message == taskbarCreated; }); }));
    ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &nid));
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &nid)) << "added twice";
    EXPECT_TRUE(uitest::trayIcon(w, 0).exists);
    EXPECT_EQ(uitest::trayIcon(w, 0).tip, "ZorvaneForTCP");

    // The tray goes: its icons with it; a modify fails until it is added again.
    uitest::setTray(uitest::TrayState::Absent);
    EXPECT_FALSE(uitest::trayIcon(w, 0).exists);
    EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &nid));
    uitest::setTray(uitest::TrayState::Present);
    EXPECT_TRUE(Shell_NotifyIconA(NIM_ADD, &nid));
    NOTIFYICONDATAA del{};
    del.cbSize = 504;
    del.hWnd = w;
    EXPECT_TRUE(Shell_NotifyIconA(NIM_DELETE, &del));
    EXPECT_FALSE(Shell_NotifyIconA(NIM_DELETE, &del));
    uitest::setTray(uitest::TrayState::Real);
    DestroyWindow(w);
}

TEST(UiPlatform, TrayTipIsBoundedAndMouseActionsArriveAsTheCallback)
{
    HWND w = recordingWindow();
    uitest::setTray(uitest::TrayState::Present);
    NOTIFYICONDATAA nid = record(w, "ZorvaneForTCP\r\nオンライン");
    ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &nid));
    EXPECT_EQ(uitest::trayIcon(w, 0).tip, "ZorvaneForTCP\nオンライン");
    // A tip field without a terminator is read up to its 128 bytes only.
    std::memset(nid.szTip, 'x', sizeof nid.szTip);
    std::memset(nid.szInfo, 'y', sizeof nid.szInfo);
    ASSERT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &nid));
    EXPECT_EQ(uitest::trayIcon(w, 0).tip, std::string(128, 'x'));

    received.clear();
    ASSERT_TRUE(uitest::clickTray(w, 0, uitest::TrayClick::Double));
    ASSERT_TRUE(uitest::clickTray(w, 0, uitest::TrayClick::Right));
    ASSERT_TRUE(pumpUntil([] { return received.size() >= 4; }));
    std::vector<LPARAM> mouse;
    for (const auto& r : received)
        if (r.message == WM_USER + 100) {
            EXPECT_EQ(r.wParam, 0u);
            mouse.push_back(r.lParam);
        }
    EXPECT_EQ(mouse, (std::vector<LPARAM>{WM_LBUTTONDBLCLK, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONUP}));

    NOTIFYICONDATAA tooSmall = nid;
    tooSmall.cbSize = 20;
    EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &tooSmall));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    Shell_NotifyIconA(NIM_DELETE, &nid);
    uitest::setTray(uitest::TrayState::Real);
    DestroyWindow(w);
}

TEST(UiPlatform, TheOffscreenPlatformHasNoTray)
{
    HWND w = recordingWindow();
    uitest::setTray(uitest::TrayState::Real);
    NOTIFYICONDATAA nid = record(w, "t");
    EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &nid));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    DestroyWindow(w);
}

TEST(UiPlatform, PlaySoundRecordsAndPlaysWithoutADevice)
{
    {
        uitest::SoundRecorder sounds;
        EXPECT_TRUE(PlaySoundA(MAKEINTRESOURCEA(139), nullptr, SND_RESOURCE | SND_ASYNC));
        EXPECT_FALSE(PlaySoundA(MAKEINTRESOURCEA(999), nullptr, SND_RESOURCE | SND_ASYNC));
        ASSERT_EQ(sounds.calls().size(), 2u);
        EXPECT_EQ(sounds.calls()[0].resourceId, 139u);
        EXPECT_EQ(sounds.calls()[0].flags, SND_RESOURCE | SND_ASYNC);
        EXPECT_EQ(sounds.calls()[1].resourceId, 999u);
    }
    // The real path: an embedded wave plays (or is silent without a device); no error.
    EXPECT_TRUE(PlaySoundA(MAKEINTRESOURCEA(139), nullptr, SND_RESOURCE | SND_ASYNC));
    EXPECT_FALSE(PlaySoundA(MAKEINTRESOURCEA(999), nullptr, SND_RESOURCE | SND_ASYNC));
    EXPECT_FALSE(PlaySoundA("file.wav", nullptr, SND_FILENAME | SND_ASYNC));
    EXPECT_TRUE(PlaySoundA(nullptr, nullptr, 0));
}

TEST(UiPlatform, ShellExecuteRecorder)
{
    uitest::ShellRecorder shell;
    HINSTANCE r = ShellExecuteA(nullptr, "open", "https://zorvane.invalid/", nullptr, nullptr, SW_SHOWNORMAL);
    EXPECT_GT(reinterpret_cast<intptr_t>(r), 32);
    ASSERT_EQ(shell.calls().size(), 1u);
    EXPECT_EQ(shell.calls()[0].file, "https://zorvane.invalid/");
    EXPECT_EQ(shell.calls()[0].operation, "open");
    EXPECT_LE(reinterpret_cast<intptr_t>(ShellExecuteA(nullptr, "open", "", nullptr, nullptr, 0)), 32);
}

TEST(UiPlatform, MenusFromResourcesAndTrackPopupMenu)
{
    HWND w = recordingWindow();
    CMenu menu;
    ASSERT_TRUE(menu.LoadMenu(kMenu));
    CMenu* popup = menu.GetSubMenu(0);
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->GetMenuItemCount(), 3u);
    EXPECT_EQ(popup->GetMenuItemID(0), 32771u);
    EXPECT_EQ(popup->GetMenuItemID(1), 0u);
    std::string text;
    popup->GetMenuString(32772, text, MF_BYCOMMAND);
    EXPECT_EQ(text, "終了");
    EXPECT_EQ(menu.GetSubMenu(1), nullptr);
    EXPECT_FALSE(CMenu().LoadMenu(9999));

    std::vector<uitest::MenuEntry> shown;
    uitest::setMenuChooser([&](const std::vector<uitest::MenuEntry>& e) {
        shown = e;
        return 32772u;
    });
    EXPECT_TRUE(popup->TrackPopupMenu(TPM_LEFTALIGN, 10, 10, nullptr));
    EXPECT_TRUE(::TrackPopupMenu(popup->m_hMenu, 0, 10, 10, 0, w, nullptr));
    EXPECT_EQ(::TrackPopupMenu(popup->m_hMenu, TPM_RETURNCMD, 10, 10, 0, w, nullptr), 32772);
    // A separator or an unknown id is no choice.
    uitest::setMenuChooser([](const std::vector<uitest::MenuEntry>&) { return 1u; });
    EXPECT_FALSE(::TrackPopupMenu(popup->m_hMenu, 0, 10, 10, 0, w, nullptr));
    uitest::setMenuChooser(nullptr);
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[1].flags & MF_SEPARATOR, MF_SEPARATOR);
    // The chosen entry arrives as WM_COMMAND, once (the TPM_RETURNCMD call sends nothing).
    ASSERT_TRUE(pumpUntil([] { return !received.empty(); }));
    PumpMessages(50);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].message, WM_COMMAND);
    EXPECT_EQ(received[0].wParam, 32772u);
    DestroyWindow(w);
}

TEST(UiPlatform, StringTableIconAndBounds)
{
    char buf[64];
    EXPECT_EQ(LoadStringA(nullptr, kString, buf, sizeof buf), static_cast<int>(std::strlen("バージョン情報(&A)...")));
    EXPECT_STREQ(buf, "バージョン情報(&A)...");
    char small[8];
    int n = LoadStringA(nullptr, kString, small, sizeof small);
    EXPECT_EQ(n, 6) << "two whole characters of three bytes";
    EXPECT_EQ(LoadStringA(nullptr, 9999, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "");
    HICON icon = LoadIconA(nullptr, MAKEINTRESOURCEA(kIconId));
    EXPECT_NE(icon, nullptr);
    EXPECT_EQ(LoadIconA(nullptr, MAKEINTRESOURCEA(kIconId)), icon) << "the same icon each time";
    EXPECT_EQ(LoadIconA(nullptr, MAKEINTRESOURCEA(9999)), nullptr);
}

TEST(UiPlatform, VersionIsReadBackFromTheProgramsOwnFile)
{
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, path, sizeof path), 0u);
    DWORD handle = 1;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    ASSERT_GT(size, 0u);
    EXPECT_EQ(handle, 0u);
    std::vector<char> block(size + 1);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, block.data()));
    EXPECT_FALSE(GetFileVersionInfoA(path, 0, size - 1, block.data())) << "does not fit";
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    WORD pair[2];
    std::memcpy(pair, value, sizeof pair);
    EXPECT_EQ(pair[0], 0x0411);
    EXPECT_EQ(pair[1], 0x04B0);
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\041104b0\\ProductVersion", &value, &length));
    EXPECT_STREQ(static_cast<const char*>(value), UI_EXPECTED_VERSION);
    EXPECT_EQ(length, std::strlen(UI_EXPECTED_VERSION) + 1);
    EXPECT_FALSE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\ProductVersion", &value, &length));

    // Another program's file, with a version holding commas and semicolons.
    size = GetFileVersionInfoSizeA(UI_PEER_PATH, &handle);
    ASSERT_GT(size, 0u);
    block.assign(size, 0);
    ASSERT_TRUE(GetFileVersionInfoA(UI_PEER_PATH, 0, size, block.data()));
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\041104b0\\ProductVersion", &value, &length));
    EXPECT_STREQ(static_cast<const char*>(value), "1, 2; 3, 4");

    // No section, no file.
    SetLastError(0);
    EXPECT_EQ(GetFileVersionInfoSizeA("/bin/sh", &handle), 0u);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
    EXPECT_EQ(GetFileVersionInfoSizeA("/nonexistent/zorvane", &handle), 0u);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    char garbage[64] = "ZVRS1";
    garbage[6] = 60; // a length beyond what the entries hold
    EXPECT_FALSE(VerQueryValueA(garbage, "\\VarFileInfo\\Translation", &value, &length));
}

TEST(UiPlatform, SessionEndAndSleepReachEveryTopLevelWindow)
{
    HWND w = recordingWindow();
    uitest::emitEndSession();
    uitest::emitPrepareForSleep(true);
    uitest::emitPrepareForSleep(false);
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].message, WM_ENDSESSION);
    EXPECT_EQ(received[0].wParam, static_cast<WPARAM>(TRUE));
    EXPECT_EQ(received[1].message, WM_POWERBROADCAST);
    EXPECT_EQ(received[1].wParam, PBT_APMSUSPEND);
    EXPECT_EQ(received[2].wParam, PBT_APMRESUMESUSPEND);
    DestroyWindow(w);
}

TEST(UiPlatform, MessagesFromAnotherProcessReachTheDialogInsideDoModal)
{
    DialogWithProc d;
    UINT open = RegisterWindowMessageA("ZORVANEOPEN");
    int copyStatus = -1, postStatus = -1, broadcastStatus = -1;
    runModal(d, [&](CDialog&) {
        copyStatus = runPeer({"copydata", hex(d.m_hWnd), "7", "ALTER APPLICATION"});
        postStatus = runPeer({"post", hex(d.m_hWnd), std::to_string(WM_APP + 3)});
        broadcastStatus = runPeer({"broadcast", "ZORVANEOPEN"});
        pumpUntil([&] { return d.seen.size() >= 3; });
    });
    EXPECT_EQ(copyStatus, 55 % 256) << "the peer exits with the send's result";
    EXPECT_EQ(postStatus, 0);
    EXPECT_EQ(broadcastStatus, 0);
    ASSERT_EQ(d.seen.size(), 3u);
    EXPECT_EQ(d.seen[0].message, WM_COPYDATA);
    EXPECT_EQ(d.seen[0].wParam, 7u);
    EXPECT_EQ(d.seen[0].lParam, static_cast<LPARAM>(std::strlen("ALTER APPLICATION") + 1));
    EXPECT_EQ(d.seen[1].message, WM_APP + 3);
    EXPECT_EQ(d.seen[2].message, open);
}
