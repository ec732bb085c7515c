// The dialog framework on the offscreen platform: templates, controls read
// back, data exchange, the modal loop, keys, the system menu, colours.
#include "ui_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace uitesting;

namespace {

constexpr UINT kPosted = WM_APP + 7;

class TestDialog : public CDialog {
public:
    explicit TestDialog(UINT id = kDialog) : CDialog(id) {}

    std::string text = "初期値";
    int number = 42;
    int check = 1;
    int radio = 1;
    std::string combo = "bob";
    CListBox list;
    CSpinButtonCtrl spin;

    std::vector<int> clicks;
    int oks = 0;
    int cancels = 0;
    std::vector<UINT> sysCommands;
    std::vector<UINT_PTR> timers;
    std::vector<std::pair<UINT, WPARAM>> messages; // posted and registered messages seen
    std::vector<UINT> notifications;
    bool keepHidden = false;      // OnWindowPosChanging drops every show
    bool hideInInit = false;
    bool appendSystemEntry = false;
    CBrush light{RGB(255, 255, 180)};
    CBrush pale{RGB(240, 240, 220)};
    UINT watchMessage = 0;

protected:
    void DoDataExchange(CDataExchange* dx) override
    {
        DDX_Control(dx, kList, list);
        DDX_Control(dx, kSpin, spin);
        DDX_Text(dx, kEdit, text);
        DDX_Text(dx, kNumber, number);
        DDX_Check(dx, kCheck, check);
        DDX_Radio(dx, kRadioA, radio);
        DDX_CBString(dx, kCombo, combo);
    }
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        if (appendSystemEntry) {
            CMenu* menu = GetSystemMenu(FALSE);
            menu->AppendMenu(MF_SEPARATOR);
            menu->AppendMenu(MF_STRING, 0x10, "バージョン情報(&A)...");
        }
        if (hideInInit)
            ShowWindow(SW_HIDE);
        return TRUE;
    }
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override
    {
        if (HIWORD(wParam) == BN_CLICKED)
            clicks.push_back(LOWORD(wParam));
        return CDialog::OnCommand(wParam, lParam);
    }
    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) override
    {
        auto* nm = reinterpret_cast<NMHDR*>(lParam);
        notifications.push_back(nm->code);
        EXPECT_EQ(static_cast<int>(wParam), kLink);
        EXPECT_EQ(nm->idFrom, static_cast<UINT_PTR>(kLink));
        *result = 0;
        return TRUE;
    }
    void OnOK() override
    {
        ++oks;
        CDialog::OnOK();
    }
    void OnCancel() override
    {
        ++cancels;
        CDialog::OnCancel();
    }
    void OnSysCommand(UINT id, LPARAM lParam) override
    {
        sysCommands.push_back(id);
        if ((id & 0xFFF0) != 0x10)
            CDialog::OnSysCommand(id, lParam);
    }
    void OnTimer(UINT_PTR id) override
    {
        timers.push_back(id);
        CDialog::OnTimer(id);
    }
    void OnWindowPosChanging(WINDOWPOS* pos) override
    {
        CDialog::OnWindowPosChanging(pos);
        if (keepHidden)
            pos->flags &= ~SWP_SHOWWINDOW;
    }
    HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT kind) override
    {
        HBRUSH brush = CDialog::OnCtlColor(dc, control, kind);
        if (kind == CTLCOLOR_DLG)
            return pale;
        if (kind == CTLCOLOR_STATIC) {
            dc->SetBkMode(TRANSPARENT);
            if (control && control->GetDlgCtrlID() == kSunken) {
                dc->SetTextColor(RGB(0, 0, 128));
                return light;
            }
            return pale;
        }
        return brush;
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == kPosted || (watchMessage && message == watchMessage))
            messages.emplace_back(message, wParam);
        return CDialog::WindowProc(message, wParam, lParam);
    }
};

std::string textOf(CWnd& dialog, int id)
{
    std::string s;
    dialog.GetDlgItemText(id, s);
    return s;
}

} // namespace

TEST(UiDialog, ControlsByIdReadBackTheTemplate)
{
    TestDialog d;
    runModal(d, [&](CDialog& dlg) {
        EXPECT_EQ(textOf(dlg, kStatic), "ラベル&A");
        EXPECT_EQ(textOf(dlg, kSunken), "255.255.255.255");
        EXPECT_EQ(textOf(dlg, kButton), "押す");
        std::string caption;
        dlg.GetWindowText(caption);
        EXPECT_EQ(caption, "テスト");
        ASSERT_NE(dlg.GetDlgItem(kLamp), nullptr);
        EXPECT_FALSE(dlg.GetDlgItem(kLamp)->IsWindowEnabled());
        EXPECT_FALSE(dlg.GetDlgItem(kDisabled)->IsWindowEnabled());
        EXPECT_TRUE(dlg.GetDlgItem(kButton)->IsWindowEnabled());
        EXPECT_EQ(dlg.GetDlgItem(kSunken)->GetStyle() & SS_SUNKEN, SS_SUNKEN);
        EXPECT_EQ(dlg.GetDlgItem(9999), nullptr);
        EXPECT_EQ(dlg.GetDlgItem(kEdit)->GetDlgCtrlID(), kEdit);
        EXPECT_EQ(dlg.GetDlgItem(kEdit)->GetParent(), &dlg);
        // Every control is a window of the message layer with the dialog's object behind it.
        EXPECT_TRUE(IsWindow(dlg.GetDlgItem(kEdit)->m_hWnd));
        EXPECT_EQ(CWnd::FromHandle(dlg.m_hWnd), &dlg);
        // Text, visibility and enabled state are what was last set.
        CWnd* button = dlg.GetDlgItem(kButton);
        button->SetWindowText("切断");
        EXPECT_EQ(textOf(dlg, kButton), "切断");
        button->ShowWindow(SW_HIDE);
        EXPECT_FALSE(button->IsWindowVisible());
        EXPECT_FALSE(uitest::isShown(dlg, kButton));
        button->ShowWindow(SW_SHOW);
        EXPECT_TRUE(button->IsWindowVisible());
        EXPECT_TRUE(button->EnableWindow(FALSE) == FALSE);
        EXPECT_FALSE(button->IsWindowEnabled());
        EXPECT_TRUE(button->EnableWindow(TRUE) == TRUE);
        // A bounded copy never cuts a UTF-8 character.
        char small[5];
        EXPECT_EQ(dlg.GetDlgItemText(kButton, small, sizeof small), 3);
        EXPECT_STREQ(small, "切");
        // Through messages to the control's handle.
        SendDlgItemMessageA(dlg.m_hWnd, kCheck, BM_SETCHECK, BST_CHECKED, 0);
        EXPECT_EQ(dlg.IsDlgButtonChecked(kCheck), static_cast<UINT>(BST_CHECKED));
    });
}

TEST(UiDialog, DialogUnitsFollowTheFontAndTheTemplate)
{
    TestDialog d;
    runModal(d, [&](CDialog& dlg) {
        RECT client;
        dlg.GetClientRect(&client);
        // 200 x 144 dialog units of a 9-point font at 96 dpi: 12 pixels per 8 units high.
        EXPECT_EQ(client.bottom, 144 * 12 / 8);
        EXPECT_GT(client.right, 200);
        RECT button = uitest::controlRect(dlg, kDefault);
        EXPECT_EQ(button.top, 126 * 12 / 8);
        EXPECT_EQ(button.bottom - button.top, 14 * 12 / 8);
        // Controls lie within the client area.
        for (int id : {int{kGroup}, int{kList}, int{kCombo}, int{kIcon}, IDCANCEL}) {
            RECT r = uitest::controlRect(dlg, id);
            EXPECT_LE(r.right, client.right) << id;
            EXPECT_LE(r.bottom, client.bottom) << id;
        }
    });
}

TEST(UiDialog, UpdateDataBothWays)
{
    TestDialog d;
    runModal(d, [&](CDialog&) {
        // OnInitDialog showed the members.
        EXPECT_EQ(textOf(d, kEdit), "初期値");
        EXPECT_EQ(textOf(d, kNumber), "42");
        EXPECT_EQ(uitest::checkState(d, kCheck), BST_CHECKED);
        EXPECT_EQ(uitest::checkState(d, kRadioA), BST_UNCHECKED);
        EXPECT_EQ(uitest::checkState(d, kRadioB), BST_CHECKED);
        EXPECT_EQ(textOf(d, kCombo), "bob");
        // Controls to members.
        uitest::typeText(d, kEdit, "変更後");
        uitest::typeText(d, kNumber, "-17");
        uitest::pressButton(d, kCheck);
        uitest::pressButton(d, kRadioA);
        EXPECT_EQ(uitest::checkState(d, kRadioB), BST_UNCHECKED) << "an auto radio clears its group";
        EXPECT_EQ(uitest::checkState(d, kRadioC), BST_UNCHECKED);
        ASSERT_TRUE(d.UpdateData(TRUE));
        EXPECT_EQ(d.text, "変更後");
        EXPECT_EQ(d.number, -17);
        EXPECT_EQ(d.check, 0);
        EXPECT_EQ(d.radio, 0);
        // Members to controls; a radio value outside the group clears it.
        d.radio = 5;
        d.text = "";
        ASSERT_TRUE(d.UpdateData(FALSE));
        EXPECT_EQ(textOf(d, kEdit), "");
        EXPECT_EQ(uitest::checkState(d, kRadioA), BST_UNCHECKED);
        EXPECT_EQ(uitest::checkState(d, kRadioB), BST_UNCHECKED);
        ASSERT_TRUE(d.UpdateData(TRUE));
        EXPECT_EQ(d.radio, -1) << "no radio of the group checked";
        // A number that is not one is refused with a box; the member keeps its value.
        uitest::MessageBoxRecorder boxes;
        uitest::typeText(d, kNumber, "12x");
        EXPECT_FALSE(d.UpdateData(TRUE));
        EXPECT_EQ(d.number, -17);
        ASSERT_EQ(boxes.calls().size(), 1u);
        EXPECT_EQ(uitest::focusedId(d), kNumber);
    });
}

TEST(UiDialog, DataExchangeControlsViewTheSameWindow)
{
    TestDialog d;
    runModal(d, [&](CDialog&) {
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(d.list.AddString(("行" + std::to_string(i)).c_str()), i);
        auto* viaId = static_cast<CListBox*>(d.GetDlgItem(kList));
        EXPECT_EQ(viaId->GetCount(), 5);
        EXPECT_EQ(SendDlgItemMessageA(d.m_hWnd, kList, LB_GETCOUNT, 0, 0), 5);
        EXPECT_EQ(d.list.DeleteString(0), 4);
        EXPECT_EQ(d.list.DeleteString(7), LB_ERR);
        std::string line;
        EXPECT_EQ(d.list.GetText(0, line), static_cast<int>(std::string("行1").size()));
        EXPECT_EQ(line, "行1");
        EXPECT_EQ(d.list.GetText(9, line), LB_ERR);
        char buffer[32];
        EXPECT_EQ(SendDlgItemMessageA(d.m_hWnd, kList, LB_GETTEXT, 3, reinterpret_cast<LPARAM>(buffer)), 4);
        EXPECT_STREQ(buffer, "行4");
        EXPECT_EQ(d.list.SetCurSel(2), 2);
        EXPECT_EQ(d.list.GetCurSel(), 2);
        for (int i = 0; i < 100; ++i)
            d.list.AddString("more");
        d.list.SetTopIndex(d.list.GetCount() - 1);
        EXPECT_GT(d.list.GetTopIndex(), 90) << "the list shows its end";
        d.list.ResetContent();
        EXPECT_EQ(viaId->GetCount(), 0);
    });
}

TEST(UiDialog, ComboSearchUpDownAndLink)
{
    TestDialog d;
    d.combo = "";
    runModal(d, [&](CDialog&) {
        auto* combo = static_cast<CComboBox*>(d.GetDlgItem(kCombo));
        for (const char* name : {"bob", "bob2", "alice"})
            combo->AddString(name);
        EXPECT_EQ(combo->GetCount(), 3);
        EXPECT_EQ(combo->GetCurSel(), CB_ERR) << "adding selects nothing";
        // From the line after startAfter to the end, then from the first; case-insensitive prefix.
        EXPECT_EQ(combo->FindString(0, "BOB"), 1);
        EXPECT_EQ(combo->FindString(1, "bob"), 0);
        EXPECT_EQ(combo->FindString(-1, "ali"), 2);
        EXPECT_EQ(combo->FindString(0, "carol"), CB_ERR);
        EXPECT_EQ(combo->SetCurSel(2), 2);
        EXPECT_EQ(textOf(d, kCombo), "alice");
        // Typed text not in the list is the combo's text.
        combo->SetWindowText("dave");
        ASSERT_TRUE(d.UpdateData(TRUE));
        EXPECT_EQ(d.combo, "dave");

        d.spin.SetRange32(0, 65535);
        d.spin.SetPos32(8080);
        EXPECT_EQ(textOf(d, kPortEdit), "8080");
        EXPECT_EQ(d.spin.GetBuddy(), d.GetDlgItem(kPortEdit));
        // Arrow keys in the buddy step it.
        d.GetDlgItem(kPortEdit)->SetFocus();
        d.GotoDlgCtrl(d.GetDlgItem(kPortEdit));
        uitest::pressKey(d, VK_UP);
        EXPECT_EQ(textOf(d, kPortEdit), "8081");
        BOOL error = TRUE;
        for (const auto& [typed, pos, bad] : std::vector<std::tuple<const char*, int, bool>>{
                 {"65535", 65535, false}, {"0", 0, false}, {"65536", 0, true}, {"abc", 0, true}, {"", 0, true},
                 {"-1", 0, true}, {"1,000", 0, true}, {"443", 443, false}}) {
            uitest::typeText(d, kPortEdit, typed);
            EXPECT_EQ(d.spin.GetPos32(&error), pos) << typed;
            EXPECT_EQ(error != FALSE, bad) << typed;
        }
        uitest::typeText(d, kPortEdit, "zz");
        EXPECT_EQ(d.spin.GetPos() & 0xFFFF, 443);
        EXPECT_NE(d.spin.GetPos() >> 16, 0);

        EXPECT_TRUE(uitest::clickLink(d, kLink));
        ASSERT_EQ(d.notifications.size(), 1u);
        EXPECT_EQ(d.notifications[0], NM_CLICK);
        EXPECT_FALSE(uitest::clickLink(d, kStatic));
    });
}

TEST(UiDialog, ModalLoopKeepsTimersAndPostsRunningAndEndsOnEndDialog)
{
    TestDialog d;
    static int threadTicks;
    threadTicks = 0;
    UINT_PTR threadTimer = 0;
    uitest::onNextModal([&](CDialog&) {
        ASSERT_TRUE(d.IsModalRunning());
        d.SetTimer(5, 20, nullptr);
        threadTimer = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) { ++threadTicks; });
        PostMessageA(d.m_hWnd, kPosted, 1, 0);
        // End from a posted message's handling: the loop takes posts and timers meanwhile.
        d.PostMessage(kPosted, 2, 0);
        d.SetTimer(6, 400, [](HWND w, UINT, UINT_PTR id, DWORD) {
            KillTimer(w, id);
            static_cast<CDialog*>(CWnd::FromHandle(w))->EndDialog(77);
        });
    });
    INT_PTR result = d.DoModal();
    KillTimer(nullptr, threadTimer);
    EXPECT_EQ(result, 77);
    EXPECT_GE(std::count(d.timers.begin(), d.timers.end(), 5u), 3);
    EXPECT_GE(threadTicks, 3);
    ASSERT_EQ(d.messages.size(), 2u);
    EXPECT_EQ(d.messages[1].second, 2u);
    EXPECT_EQ(d.m_hWnd, nullptr) << "the window is gone when DoModal returns";
}

TEST(UiDialog, BroadcastAndRegisteredMessagesReachTheDialogInsideTheLoop)
{
    TestDialog d;
    d.watchMessage = RegisterWindowMessageA("ZORVANEOPEN");
    runModal(d, [&](CDialog&) {
        PostMessageA(HWND_BROADCAST, d.watchMessage, 9, 0);
        EXPECT_TRUE(pumpUntil([&] { return !d.messages.empty(); }));
    });
    ASSERT_EQ(d.messages.size(), 1u);
    EXPECT_EQ(d.messages[0].second, 9u);
}

TEST(UiDialog, EnterPressesTheDefaultButtonUnlessAPushButtonHasTheFocus)
{
    TestDialog d;
    runModal(d, [&](CDialog&) {
        d.GotoDlgCtrl(d.GetDlgItem(kEdit));
        uitest::pressKey(d, VK_RETURN);
        ASSERT_EQ(d.clicks.size(), 1u);
        EXPECT_EQ(d.clicks[0], kDefault);
        d.GotoDlgCtrl(d.GetDlgItem(kButton));
        uitest::pressKey(d, VK_RETURN);
        ASSERT_EQ(d.clicks.size(), 2u);
        EXPECT_EQ(d.clicks[1], kButton);
        // A check box with the focus: still the default button.
        d.GotoDlgCtrl(d.GetDlgItem(kCheck));
        uitest::pressKey(d, VK_RETURN);
        ASSERT_EQ(d.clicks.size(), 3u);
        EXPECT_EQ(d.clicks[2], kDefault);
        // A disabled default button takes no Enter.
        d.GetDlgItem(kDefault)->EnableWindow(FALSE);
        d.GotoDlgCtrl(d.GetDlgItem(kEdit));
        uitest::pressKey(d, VK_RETURN);
        EXPECT_EQ(d.clicks.size(), 3u);
        EXPECT_FALSE(uitest::pressButton(d, kDisabled));
        EXPECT_FALSE(uitest::pressButton(d, kDefault));
    });
    EXPECT_EQ(d.cancels, 0);
}

TEST(UiDialog, EnterOnOkRunsOnOkAndEndsWithIdok)
{
    class Small : public CDialog {
    public:
        Small() : CDialog(kSmallDialog) {}
    } small;
    INT_PTR r = runModal(small, [](CDialog& dlg) { uitest::pressKey(dlg, VK_RETURN); });
    EXPECT_EQ(r, IDOK);
}

TEST(UiDialog, EscCloseBoxAndSystemMenuCloseReachOnCancel)
{
    struct Case {
        const char* name;
        std::function<void(TestDialog&)> act;
    };
    const std::vector<Case> cases = {
        {"Esc", [](TestDialog& d) { uitest::pressKey(d, VK_ESCAPE); }},
        {"close box", [](TestDialog& d) { uitest::pressCloseBox(d); }},
        {"system menu Close", [](TestDialog& d) {
             uitest::setMenuChooser([](const std::vector<uitest::MenuEntry>&) { return SC_CLOSE; });
             uitest::pressAltSpace(d);
             uitest::setMenuChooser(nullptr);
         }},
        {"Cancel button", [](TestDialog& d) { uitest::pressButton(d, IDCANCEL); }},
    };
    for (const Case& c : cases) {
        TestDialog d;
        INT_PTR r = runModal(d, [&](CDialog&) { c.act(d); });
        EXPECT_EQ(d.cancels, 1) << c.name;
        EXPECT_EQ(r, IDCANCEL) << c.name;
    }
}

TEST(UiDialog, SystemMenuShowsTheAppendedEntriesAndSendsSysCommand)
{
    for (bool rightClick : {false, true}) {
        TestDialog d;
        d.appendSystemEntry = true;
        std::vector<uitest::MenuEntry> shown;
        runModal(d, [&](CDialog&) {
            uitest::setMenuChooser([&](const std::vector<uitest::MenuEntry>& entries) {
                shown = entries;
                return 0x10u;
            });
            if (rightClick) {
                RECT group = uitest::controlRect(d, kGroup);
                uitest::rightClick(d, POINT{group.right + 2, group.top + 4}); // the background
            } else {
                uitest::pressAltSpace(d);
            }
            uitest::setMenuChooser(nullptr);
        });
        ASSERT_GE(shown.size(), 3u) << rightClick;
        bool hasClose = false;
        for (const auto& e : shown)
            hasClose |= e.id == SC_CLOSE;
        EXPECT_TRUE(hasClose);
        EXPECT_EQ(shown[shown.size() - 2].flags & MF_SEPARATOR, MF_SEPARATOR);
        EXPECT_EQ(shown.back().id, 0x10u);
        EXPECT_EQ(shown.back().text, "バージョン情報(&A)...");
        ASSERT_EQ(d.sysCommands.size(), 1u);
        EXPECT_EQ(d.sysCommands[0], 0x10u);
        EXPECT_EQ(d.cancels, 0);
    }
}

TEST(UiDialog, RightClickOnAnEditIsNotTheBackground)
{
    TestDialog d;
    bool menuShown = false;
    runModal(d, [&](CDialog&) {
        uitest::setMenuChooser([&](const std::vector<uitest::MenuEntry>&) {
            menuShown = true;
            return 0u;
        });
        RECT list = uitest::controlRect(d, kList);
        uitest::rightClick(d, POINT{list.left + 5, list.top + 5});
        uitest::setMenuChooser(nullptr);
    });
    EXPECT_FALSE(menuShown);
}

TEST(UiDialog, OnCtlColorBecomesThePalette)
{
    TestDialog d;
    runModal(d, [&](CDialog&) {
        uitest::Colors sunken = uitest::colorsOf(d, kSunken);
        EXPECT_TRUE(sunken.custom);
        EXPECT_EQ(sunken.background, RGB(255, 255, 180));
        EXPECT_EQ(sunken.text, RGB(0, 0, 128));
        uitest::Colors label = uitest::colorsOf(d, kStatic);
        EXPECT_TRUE(label.custom);
        EXPECT_EQ(label.background, RGB(240, 240, 220));
        uitest::Colors dialog = uitest::colorsOf(d, 0);
        EXPECT_TRUE(dialog.custom);
        EXPECT_EQ(dialog.background, RGB(240, 240, 220));
        // An editable edit gets the default brush: the platform's colours.
        EXPECT_FALSE(uitest::colorsOf(d, kEdit).custom);
    });
}

TEST(UiDialog, AWindowStartedHiddenStaysHiddenThroughTheLoopsStart)
{
    TestDialog d(kHiddenDialog);
    d.hideInInit = true;
    d.keepHidden = true;
    bool visibleInLoop = true;
    RECT before{}, after{};
    runModal(d, [&](CDialog&) {
        pumpUntil([] { return false; }, 100);
        visibleInLoop = d.IsWindowVisible() != FALSE;
        // A fold of 183 pixels and back keeps it hidden too.
        d.GetWindowRect(&before);
        d.SetWindowPos(nullptr, 0, 0, before.right - before.left, before.bottom - before.top - 183,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_SHOWWINDOW);
        d.GetWindowRect(&after);
        EXPECT_FALSE(d.IsWindowVisible());
        // Once the program wants it seen, a show goes through.
        d.keepHidden = false;
        d.ShowWindow(SW_SHOW);
        EXPECT_TRUE(d.IsWindowVisible());
    });
    EXPECT_FALSE(visibleInLoop);
    EXPECT_EQ((before.bottom - before.top) - (after.bottom - after.top), 183);
    EXPECT_EQ(after.right - after.left, before.right - before.left);
}

TEST(UiDialog, AHiddenWindowWithoutAnOverrideIsShownWhenTheLoopGoesIdle)
{
    TestDialog d(kHiddenDialog);
    d.hideInInit = true;
    bool visible = false;
    runModal(d, [&](CDialog&) { visible = d.IsWindowVisible() != FALSE; });
    EXPECT_TRUE(visible);
}

TEST(UiDialog, FoldAndUnfoldKeepPositionAndWidth)
{
    TestDialog d;
    runModal(d, [&](CDialog&) {
        d.CenterWindow();
        RECT start;
        d.GetWindowRect(&start);
        int w = start.right - start.left, h = start.bottom - start.top;
        d.SetWindowPos(nullptr, 0, 0, w, h - 183, SWP_NOMOVE | SWP_NOZORDER | SWP_SHOWWINDOW);
        RECT folded;
        d.GetWindowRect(&folded);
        EXPECT_EQ(folded.left, start.left);
        EXPECT_EQ(folded.top, start.top);
        EXPECT_EQ(folded.bottom - folded.top, h - 183);
        d.SetWindowPos(nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_SHOWWINDOW);
        RECT back;
        d.GetWindowRect(&back);
        EXPECT_EQ(back.bottom - back.top, h);
        EXPECT_TRUE(d.IsWindowVisible());
    });
}

TEST(UiDialog, NestedModalDialogAndModelessCreate)
{
    TestDialog outer;
    INT_PTR inner = 0;
    runModal(outer, [&](CDialog&) {
        class Small : public CDialog {
        public:
            Small() : CDialog(kSmallDialog) {}
        } small;
        inner = runModal(small, [&](CDialog& s) {
            EXPECT_EQ(uitest::runningModal(), &s);
            uitest::pressKey(s, VK_ESCAPE);
        });
        EXPECT_EQ(uitest::runningModal(), &outer);
    });
    EXPECT_EQ(inner, IDCANCEL);

    TestDialog modeless;
    ASSERT_TRUE(modeless.Create(kDialog));
    EXPECT_TRUE(modeless.IsWindowVisible());
    EXPECT_EQ(textOf(modeless, kEdit), "初期値");
    modeless.DestroyWindow();
    EXPECT_EQ(modeless.m_hWnd, nullptr);
    EXPECT_EQ(TestDialog(9999).DoModal(), -1) << "a missing template";
}

class OwnedDialog : public CDialog {
public:
    explicit OwnedDialog(CWnd* owner = nullptr) : CDialog(kSmallDialog, owner) {}
};

TEST(UiDialog, AModalDialogTakesTheInputOfItsOwnerOnly)
{
    TestDialog owner;
    ASSERT_TRUE(owner.Create(kDialog));
    TestDialog other; // a window of no owner's, as the tray icon's
    ASSERT_TRUE(other.Create(kDialog));
    OwnedDialog modal(&owner);
    runModal(modal, [&](CDialog& m) {
        OwnedDialog inner; // owned by the running modal
        runModal(inner, [&](CDialog& i) {
            EXPECT_FALSE(uitest::takesInput(owner));
            EXPECT_FALSE(uitest::takesInput(m));
            EXPECT_TRUE(uitest::takesInput(i));
            EXPECT_TRUE(uitest::takesInput(other)) << "a window outside the modal's chain of owners";
        });
        EXPECT_FALSE(uitest::takesInput(owner));
        EXPECT_TRUE(uitest::takesInput(m));
        EXPECT_TRUE(uitest::takesInput(other));
    });
    EXPECT_TRUE(uitest::takesInput(owner)) << "the modal run is over";
    owner.DestroyWindow();
    other.DestroyWindow();
}

// Raising a window while modal dialogs are open over it, even minimised (a
// window manager's minimise button iconifies the owner with them), brings
// them back above it, restored, the innermost one active.
struct RaiseCase {
    const char* name;
    std::function<void(CWnd&)> raise;
};

void PrintTo(const RaiseCase& c, std::ostream* os) { *os << c.name; }

class ModalForwardTest : public testing::TestWithParam<RaiseCase> {};

TEST_P(ModalForwardTest, RaisingTheOwnerBringsItsMinimisedModalsBack)
{
    TestDialog owner;
    ASSERT_TRUE(owner.Create(kDialog));
    OwnedDialog modal(&owner);
    runModal(modal, [&](CDialog& m) {
        OwnedDialog inner;
        runModal(inner, [&](CDialog& i) {
            i.ShowWindow(SW_MINIMIZE);
            m.ShowWindow(SW_MINIMIZE);
            owner.ShowWindow(SW_MINIMIZE);
            ASSERT_TRUE(i.IsIconic() && m.IsIconic() && owner.IsIconic());
            owner.ShowWindow(SW_SHOWNORMAL);
            GetParam().raise(owner);
            EXPECT_FALSE(m.IsIconic());
            EXPECT_FALSE(i.IsIconic());
            EXPECT_TRUE(pumpUntil([&] { return uitest::activeWindow() == i.m_hWnd; }, 2000))
                << "the innermost modal takes the keys";
        });
    });
    owner.DestroyWindow();
}

INSTANTIATE_TEST_SUITE_P(
    Ways, ModalForwardTest,
    testing::Values(RaiseCase{"to_the_top", [](CWnd& w) { w.SetWindowPos(nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE); }},
                    RaiseCase{"foreground", [](CWnd& w) { w.SetForegroundWindow(); }}),
    [](const testing::TestParamInfo<RaiseCase>& p) { return p.param.name; });

TEST(UiDialog, RaisingAWindowLeavesModalsOverOtherWindowsAlone)
{
    TestDialog owner;
    ASSERT_TRUE(owner.Create(kDialog));
    TestDialog other;
    ASSERT_TRUE(other.Create(kDialog));
    OwnedDialog modal(&owner);
    runModal(modal, [&](CDialog& m) {
        m.ShowWindow(SW_MINIMIZE);
        other.SetWindowPos(nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        other.SetForegroundWindow();
        EXPECT_TRUE(m.IsIconic()) << "not a modal of the raised window's";
    });
    owner.DestroyWindow();
    other.DestroyWindow();
}
