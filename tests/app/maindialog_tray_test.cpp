// The tray icon's menu, the session-end and power notices.
#include "maindialog_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

size_t disconnects(const Strings& commands)
{
    return static_cast<size_t>(std::count_if(commands.begin(), commands.end(), [](const std::string& c) {
        return c.find(" DISCONNECT ") != std::string::npos;
    }));
}

} // namespace

TEST_F(MainDialogTest, TrayMenuHoldsOpenAndExit)
{
    run([&] {
        std::vector<uitest::MenuEntry> seen;
        uitest::setMenuChooser([&](const std::vector<uitest::MenuEntry>& entries) {
            seen = entries;
            return 0u;
        });
        ASSERT_TRUE(uitest::clickTray(dialog->GetSafeHwnd(), 0, uitest::TrayClick::Right));
        pumpUntil([&] { return !seen.empty(); }, 2000);
        ASSERT_EQ(seen.size(), 3u);
        EXPECT_EQ(seen[0].id, 32771u);
        EXPECT_EQ(seen[0].text, "メイン画面を起動");
        EXPECT_EQ(seen[1].id, 0u);
        EXPECT_EQ(seen[2].id, 32772u);
        EXPECT_EQ(seen[2].text, "終了");
    });
}

struct ExitCase {
    const char* name;
    bool stream;
    int answer;       // to the question, when one is asked
    bool ends;
};

class TrayExitTest : public MainDialogTest, public testing::WithParamInterface<ExitCase> {};

TEST_P(TrayExitTest, QuestionOnlyWithAStream)
{
    const ExitCase& c = GetParam();
    writeSettings({"SYSTEM/ENABLEUSER=1"});
    INT_PTR result = run(
        [&] {
        attach();
        setContacts("bob");
        if (c.stream)
            appNotify(1, "STREAMS bob:1");
        boxes->queueAnswer(c.answer);
        takeCommands();
        dialog->SendMessage(WM_COMMAND, 32772, 0);
        EXPECT_TRUE(uitest::trayIcon(dialog->GetSafeHwnd(), 0).exists);
        EXPECT_TRUE(dialog->IsWindowVisible());
        if (!c.ends) {
            EXPECT_NE(dialog->hub.a2aModel->hasStream(), 0) << "the stream stays";
            EXPECT_EQ(disconnects(takeCommands()), 0u);
        }
        },
        false);
    std::vector<uitest::MessageBoxCall> questions;
    for (const uitest::MessageBoxCall& call : boxes->calls()) {
        if (call.text == "接続中ですが終了しますか？")
            questions.push_back(call);
    }
    ASSERT_EQ(questions.size(), c.stream ? 1u : 0u);
    if (c.stream) {
        EXPECT_EQ(questions[0].type & 0xF, static_cast<UINT>(MB_YESNO));
        EXPECT_EQ(questions[0].caption, "ZorvaneForTcp") << "the application's name";
        EXPECT_EQ(questions[0].owner, dialog->windowHandleCopy) << "owned by the main window";
    }
    EXPECT_EQ(result, c.ends ? IDCANCEL : endedByTest) << "the dialog ends only by the exit";
    EXPECT_FALSE(uitest::trayIcon(dialog->windowHandleCopy, 0).exists) << "removed with the window";
}

INSTANTIATE_TEST_SUITE_P(Cases, TrayExitTest,
                         testing::Values(ExitCase{"no_stream_ends_at_once", false, IDYES, true},
                                         ExitCase{"stream_answer_no_keeps_everything", true, IDNO, false},
                                         ExitCase{"stream_answer_yes_ends", true, IDYES, true}),
                         [](const testing::TestParamInfo<ExitCase>& p) { return p.param.name; });

TEST_F(MainDialogTest, SuspendTwiceDisconnectsOnce)
{
    writeSettings({"SYSTEM/ENABLEUSER=1"});
    run([&] {
        attach();
        setContacts("bob");
        appNotify(1, "STREAMS bob:1");
        takeCommands();
        dialog->SendMessage(WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
        EXPECT_EQ(disconnects(takeCommands()), 1u);
        EXPECT_EQ(text(1012), "SKYPE STREAM切断操作を行いました");
        EXPECT_EQ(dialog->suspendedFlag, 1);
        dialog->SendMessage(WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
        EXPECT_EQ(disconnects(takeCommands()), 0u);
        dialog->SendMessage(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
        EXPECT_EQ(dialog->suspendedFlag, 0);
        dialog->SendMessage(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
        EXPECT_EQ(dialog->suspendedFlag, 0) << "a resume without a suspend changes nothing";
        dialog->SendMessage(WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
        EXPECT_EQ(disconnects(takeCommands()), 1u) << "the next suspend disconnects again";
    });
}

TEST_F(MainDialogTest, AutoConnectWaitsWhileSuspended)
{
    writeSettings({"SYSTEM/APPMODE=1", "CLIENT/AUTOCONNECT=1", "CLIENT/AUTOCONNECTUSER=bob"});
    run([&] {
        attach();
        setContacts("bob");
        setConnectable(1, "bob");
        dialog->SendMessage(WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
        takeCommands();
        tick(2, 10);
        EXPECT_TRUE(takeCommands().empty());
        dialog->SendMessage(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
        tick(2);
        EXPECT_FALSE(takeCommands().empty());
    });
}

class EndSessionTest : public MainDialogTest, public testing::WithParamInterface<WPARAM> {};

TEST_P(EndSessionTest, DisconnectsWhateverWParamSays)
{
    writeSettings({"SYSTEM/ENABLEUSER=1"});
    run([&] {
        attach();
        setContacts("bob");
        appNotify(1, "STREAMS bob:1");
        appNotify(2, "STREAMS bob:2");
        takeCommands();
        dialog->SendMessage(WM_ENDSESSION, GetParam(), 0);
        EXPECT_EQ(disconnects(takeCommands()), 2u);
        EXPECT_EQ(text(1012), "SKYPE STREAM切断操作を行いました");
        EXPECT_TRUE(dialog->IsModalRunning());
    });
}

INSTANTIATE_TEST_SUITE_P(WParam, EndSessionTest, testing::Values(WPARAM{TRUE}, WPARAM{FALSE}),
                         [](const testing::TestParamInfo<WPARAM>& p) {
                             return p.param ? std::string("ending") : std::string("called_off");
                         });

// Enter, Esc, the close box and the system menu's Close hide the window; the
// program, its stream and its tray icon go on.
enum class HideWay { Enter, Escape, CloseBox, SystemMenuClose };

struct HideCase {
    const char* name;
    HideWay way;
};

class HideTest : public MainDialogTest, public testing::WithParamInterface<HideCase> {};

TEST_P(HideTest, WindowHidesAndTheProgramGoesOn)
{
    const HideCase& c = GetParam();
    writeSettings({"SYSTEM/ENABLEUSER=1"});
    INT_PTR result = run(
        [&] {
            attach();
            setContacts("bob");
            appNotify(1, "STREAMS bob:1");
            takeCommands();
            ASSERT_TRUE(dialog->IsWindowVisible());
            switch (c.way) {
            case HideWay::Enter:
                uitest::pressKey(*dialog, VK_RETURN);
                break;
            case HideWay::Escape:
                uitest::pressKey(*dialog, VK_ESCAPE);
                break;
            case HideWay::CloseBox:
                uitest::pressCloseBox(*dialog);
                break;
            case HideWay::SystemMenuClose: {
                bool offered = false;
                uitest::setMenuChooser([&](const std::vector<uitest::MenuEntry>& entries) {
                    for (const uitest::MenuEntry& e : entries)
                        if (e.id == SC_CLOSE && !(e.flags & MF_GRAYED))
                            offered = true;
                    return offered ? static_cast<UINT>(SC_CLOSE) : 0u;
                });
                uitest::pressAltSpace(*dialog);
                uitest::setMenuChooser({});
                EXPECT_TRUE(offered) << "the system menu holds Close";
                break;
            }
            }
            pumpUntil([] { return false; }, 100);
            EXPECT_FALSE(dialog->IsWindowVisible());
            EXPECT_EQ(dialog->visibleFlag, 0);
            EXPECT_TRUE(uitest::trayIcon(dialog->GetSafeHwnd(), 0).exists);
            EXPECT_NE(dialog->hub.a2aModel->hasStream(), 0) << "the stream stays";
            EXPECT_EQ(disconnects(takeCommands()), 0u);
            EXPECT_TRUE(boxes->calls().empty()) << "no question";
        },
        true);
    EXPECT_EQ(result, endedByTest) << "the dialog went on until the test ended it";
}

INSTANTIATE_TEST_SUITE_P(Ways, HideTest,
                         testing::Values(HideCase{"enter", HideWay::Enter}, HideCase{"escape", HideWay::Escape},
                                         HideCase{"close_box", HideWay::CloseBox},
                                         HideCase{"system_menu_close", HideWay::SystemMenuClose}),
                         [](const testing::TestParamInfo<HideCase>& p) { return p.param.name; });

// The about box minimised (the window manager iconifies the main window with
// it): a click on the tray icon brings both back, the about box in front and
// active, whichever way the window is asked for.
struct ModalTrayCase {
    const char* name;
    uitest::TrayClick click;
    UINT menuChoice; // the tray menu's entry chosen, 0 to close it
};

void PrintTo(const ModalTrayCase& c, std::ostream* os) { *os << c.name; }

class TrayDuringModalTest : public MainDialogTest, public testing::WithParamInterface<ModalTrayCase> {};

TEST_P(TrayDuringModalTest, BringsTheMinimisedAboutBoxBack)
{
    const ModalTrayCase& c = GetParam();
    run([&] {
        uitest::setMenuChooser([&](const std::vector<uitest::MenuEntry>&) { return c.menuChoice; });
        bool back = false;
        uitest::onNextModal([&](CDialog& about) {
            about.ShowWindow(SW_MINIMIZE);
            dialog->ShowWindow(SW_MINIMIZE);
            ASSERT_TRUE(about.IsIconic());
            ASSERT_TRUE(uitest::clickTray(dialog->GetSafeHwnd(), 0, c.click));
            back = pumpUntil([&] { return !about.IsIconic() && uitest::activeWindow() == about.m_hWnd; }, 2000);
            EXPECT_FALSE(uitest::takesInput(*dialog)) << "the about box still holds the main window";
            about.EndDialog(IDOK);
        });
        dialog->SendMessage(WM_SYSCOMMAND, 0x10, 0);
        uitest::setMenuChooser({});
        EXPECT_TRUE(back) << "the about box is not back in front";
        EXPECT_TRUE(uitest::takesInput(*dialog));
    });
}

INSTANTIATE_TEST_SUITE_P(Clicks, TrayDuringModalTest,
                         testing::Values(ModalTrayCase{"double_click", uitest::TrayClick::Double, 0},
                                         ModalTrayCase{"right_click", uitest::TrayClick::Right, 0},
                                         ModalTrayCase{"menu_open", uitest::TrayClick::Right, 32771}),
                         [](const testing::TestParamInfo<ModalTrayCase>& p) { return p.param.name; });
