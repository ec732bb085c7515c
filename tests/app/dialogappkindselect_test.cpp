// The system settings dialog (129), offscreen, opened over the real main
// dialog (its owner, whose hub holds the contact model).
#include "app/dialogappkindselect.h"
#include "maindialog_fixture.h"
#include "modalrun.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const int serverSide[] = {1112, 1068, 1110};
const int clientSide[] = {1113, 1106, 1111};

class SystemSettingsDialogTest : public MainDialogTest {
protected:
    // Runs the main dialog with these contacts ("" for none) and, inside it,
    // the system settings with `prepare` filling its members and `body`
    // driving it. Returns the settings dialog's result.
    INT_PTR runSettings(const std::string& contacts, const std::function<void(CDialogAppKindSelect&)>& prepare,
                        const std::function<void(CDialogAppKindSelect&)>& body)
    {
        // A fresh main dialog for each run (its hub owns the singletons).
        dialog.reset();
        skype.reset();
        INT_PTR result = -1;
        run([&] {
            attach();
            if (!contacts.empty())
                setContacts(contacts);
            CDialogAppKindSelect opened;
            opened.owner = dialog.get();
            prepare(opened);
            // Only the boxes of this dialog.
            boxes.reset();
            boxes = std::make_unique<uitest::MessageBoxRecorder>();
            result = runModal(opened, [&] { body(opened); });
            returned = opened;
        });
        return result;
    }

    struct Returned {
        int appKind = -2;
        int autoConnect = -2;
        int acceptMode = -2;
        int startWindow = -2;
        std::string autoConnectUser;
        int soundMode = -2;
        Returned& operator=(const CDialogAppKindSelect& d)
        {
            appKind = d.appKind;
            autoConnect = d.autoConnect;
            acceptMode = d.acceptMode;
            startWindow = d.startWindow;
            autoConnectUser = d.autoConnectUser;
            soundMode = d.soundMode;
            return *this;
        }
    } returned;

    static std::vector<std::string> lines(CDialogAppKindSelect& d)
    {
        std::vector<std::string> all;
        for (int i = 0; i < d.contactCombo.GetCount(); ++i) {
            std::string line;
            d.contactCombo.GetLBText(i, line);
            all.push_back(line);
        }
        return all;
    }
    static std::string comboText(CDialogAppKindSelect& d)
    {
        std::string text;
        d.GetDlgItemText(1111, text);
        return text;
    }
    static bool isEnabled(CDialogAppKindSelect& d, int id) { return d.GetDlgItem(id)->IsWindowEnabled() != FALSE; }
};

} // namespace

TEST_F(SystemSettingsDialogTest, SavedContactIsFoundInTheContactList)
{
    struct Case {
        const char* contacts;
        const char* saved;
        std::vector<std::string> lines;
        int selected; // CB_ERR: none
        const char* shown;
    };
    const Case cases[] = {
        // An equal name wins over the search from the second entry.
        {"bob, bob2", "bob", {"bob", "bob2"}, 0, "bob"},
        {"bob2, bob", "bob", {"bob2", "bob"}, 1, "bob"},
        {"bob, bob2", "BOB", {"bob", "bob2"}, 0, "bob"},
        {"bob2, Bob", "bob", {"bob2", "Bob"}, 1, "Bob"},
        // No equal name: the first beginning with it, from the second entry on, wrapping.
        {"bob, bobby, bo3", "bo", {"bob", "bobby", "bo3"}, 1, "bobby"},
        {"alice, bob", "AL", {"alice", "bob"}, 0, "alice"},
        {"bob", "bo", {"bob"}, 0, "bob"},
        // Not among the contacts: the saved name stays.
        {"bob, bob2", "dave", {"bob", "bob2"}, CB_ERR, "dave"},
        // No contacts: the saved name alone.
        {"", "dave", {"dave"}, 0, "dave"},
        {"", "", {}, CB_ERR, ""},
        {"bob, bob2", "", {"bob", "bob2"}, CB_ERR, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("contacts \"") + c.contacts + "\", saved \"" + c.saved + "\"");
        INT_PTR result = runSettings(
            c.contacts,
            [&](CDialogAppKindSelect& d) {
                d.appKind = 1;
                d.autoConnectUser = c.saved;
            },
            [&](CDialogAppKindSelect& d) {
                EXPECT_EQ(lines(d), c.lines);
                EXPECT_EQ(d.contactCombo.GetCurSel(), c.selected);
                EXPECT_EQ(comboText(d), c.shown);
                uitest::pressButton(d, IDOK);
            });
        EXPECT_EQ(result, IDOK);
        EXPECT_EQ(returned.autoConnectUser, c.shown);
    }
}

TEST_F(SystemSettingsDialogTest, KindEnablesItsSideOfTheDialog)
{
    struct Case {
        int appKind;
        int checked1001;
        int checked1002;
        bool serverEnabled;
    };
    const Case cases[] = {{0, 1, 0, true}, {1, 0, 1, false}, {-1, 0, 0, false}, {2, 0, 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE("appKind " + std::to_string(c.appKind));
        INT_PTR result = runSettings(
            "", [&](CDialogAppKindSelect& d) { d.appKind = c.appKind; },
            [&](CDialogAppKindSelect& d) {
                EXPECT_EQ(uitest::checkState(d, 1001), c.checked1001);
                EXPECT_EQ(uitest::checkState(d, 1002), c.checked1002);
                for (int id : serverSide)
                    EXPECT_EQ(isEnabled(d, id), c.serverEnabled) << id;
                for (int id : clientSide)
                    EXPECT_EQ(isEnabled(d, id), !c.serverEnabled) << id;
                uitest::pressButton(d, IDOK);
            });
        EXPECT_EQ(result, IDOK);
        // Handed back as shown: a kind outside the group comes back as -1.
        EXPECT_EQ(returned.appKind, c.appKind == 0 || c.appKind == 1 ? c.appKind : -1);
    }
}

TEST_F(SystemSettingsDialogTest, ClickingAKindSwitchesTheEnabledSide)
{
    INT_PTR result = runSettings(
        "", [](CDialogAppKindSelect& d) { d.appKind = -1; },
        [](CDialogAppKindSelect& d) {
            ASSERT_TRUE(uitest::pressButton(d, 1001));
            for (int id : serverSide)
                EXPECT_TRUE(isEnabled(d, id)) << id;
            for (int id : clientSide)
                EXPECT_FALSE(isEnabled(d, id)) << id;
            ASSERT_TRUE(uitest::pressButton(d, 1002));
            EXPECT_EQ(uitest::checkState(d, 1001), BST_UNCHECKED);
            for (int id : serverSide)
                EXPECT_FALSE(isEnabled(d, id)) << id;
            for (int id : clientSide)
                EXPECT_TRUE(isEnabled(d, id)) << id;
            // The combo does not follow the auto-connect box.
            EXPECT_EQ(uitest::checkState(d, 1106), BST_UNCHECKED);
            EXPECT_TRUE(isEnabled(d, 1111));
            uitest::pressButton(d, IDOK);
        });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(returned.appKind, 1);
}

TEST_F(SystemSettingsDialogTest, EachRadioGroupShowsAndReturnsItsMember)
{
    struct Case {
        int value;
        int firstId;
        int secondId;
        int Returned::*member;
        int CDialogAppKindSelect::*field;
    };
    const Case cases[] = {
        {0, 1128, 1127, &Returned::soundMode, &CDialogAppKindSelect::soundMode},
        {1, 1128, 1127, &Returned::soundMode, &CDialogAppKindSelect::soundMode},
        {0, 1104, 1105, &Returned::startWindow, &CDialogAppKindSelect::startWindow},
        {1, 1104, 1105, &Returned::startWindow, &CDialogAppKindSelect::startWindow},
        {0, 1068, 1110, &Returned::acceptMode, &CDialogAppKindSelect::acceptMode},
        {1, 1068, 1110, &Returned::acceptMode, &CDialogAppKindSelect::acceptMode},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("group " + std::to_string(c.firstId) + " value " + std::to_string(c.value));
        INT_PTR result = runSettings(
            "",
            [&](CDialogAppKindSelect& d) {
                d.appKind = 0;
                d.soundMode = 0;
                d.startWindow = 0;
                d.acceptMode = 0;
                d.*c.field = c.value;
            },
            [&](CDialogAppKindSelect& d) {
                EXPECT_EQ(uitest::checkState(d, c.firstId), c.value == 0 ? 1 : 0);
                EXPECT_EQ(uitest::checkState(d, c.secondId), c.value == 1 ? 1 : 0);
                // The other choice, clicked, comes back; the rest stay.
                uitest::pressButton(d, c.value == 0 ? c.secondId : c.firstId);
                uitest::pressButton(d, IDOK);
            });
        EXPECT_EQ(result, IDOK);
        EXPECT_EQ(returned.*c.member, 1 - c.value);
        Returned others = returned;
        others.*c.member = 0;
        EXPECT_EQ(others.soundMode + others.startWindow + others.acceptMode, 0);
        EXPECT_EQ(returned.appKind, 0);
    }
}

TEST_F(SystemSettingsDialogTest, AutoConnectWithoutAContactIsRefusedAndTheDialogStaysOpen)
{
    struct Case {
        int appKind;
        const char* typed;
        bool refused;
    };
    // The server application's disabled box still counts; blanks are a name.
    const Case cases[] = {{1, "", true}, {0, "", true}, {1, "  ", false}, {1, "carol", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("kind ") + std::to_string(c.appKind) + " name \"" + c.typed + "\"");
        INT_PTR result = runSettings(
            "bob, bob2",
            [&](CDialogAppKindSelect& d) {
                d.appKind = c.appKind;
                d.autoConnect = 1;
            },
            [&](CDialogAppKindSelect& d) {
                EXPECT_EQ(uitest::checkState(d, 1106), BST_CHECKED);
                d.SetDlgItemText(1111, c.typed);
                uitest::pressKey(d, VK_RETURN);
                if (c.refused) {
                    ASSERT_EQ(boxes->calls().size(), 1u);
                    EXPECT_EQ(boxes->calls()[0].text, "自動接続先のユーザIDが設定されていません。");
                    EXPECT_EQ(boxes->calls()[0].type & 0xF, MB_OK);
                    EXPECT_EQ(boxes->calls()[0].caption, "ZorvaneForTcp") << "the application's name";
                    EXPECT_FALSE(d.IsEnding());
                    EXPECT_EQ(uitest::checkState(d, 1106), BST_CHECKED);
                } else {
                    EXPECT_TRUE(boxes->calls().empty());
                }
            });
        EXPECT_EQ(result, c.refused ? stayedOpen : IDOK);
        if (!c.refused) {
            EXPECT_EQ(returned.autoConnectUser, c.typed);
        }
    }
}

TEST_F(SystemSettingsDialogTest, CancelEscapeAndTheCloseBoxEndWithoutOk)
{
    enum Way { CancelButton, EscapeKey, CloseBox };
    for (Way way : {CancelButton, EscapeKey, CloseBox}) {
        SCOPED_TRACE("way " + std::to_string(way));
        INT_PTR result = runSettings(
            "bob",
            [](CDialogAppKindSelect& d) {
                d.appKind = 0;
                d.soundMode = 1;
                d.autoConnectUser = "bob";
            },
            [&](CDialogAppKindSelect& d) {
                uitest::pressButton(d, 1128);
                d.SetDlgItemText(1111, "someone");
                if (way == CancelButton)
                    uitest::pressButton(d, IDCANCEL);
                else if (way == EscapeKey)
                    uitest::pressKey(d, VK_ESCAPE);
                else
                    uitest::pressCloseBox(d);
            });
        EXPECT_EQ(result, IDCANCEL);
        EXPECT_EQ(returned.soundMode, 1);
        EXPECT_EQ(returned.autoConnectUser, "bob");
    }
}

TEST_F(SystemSettingsDialogTest, EnterInTheContactFieldPressesOk)
{
    INT_PTR result = runSettings(
        "bob, bob2", [](CDialogAppKindSelect& d) { d.appKind = 1; },
        [](CDialogAppKindSelect& d) {
            d.GotoDlgCtrl(d.GetDlgItem(1111));
            EXPECT_EQ(uitest::focusedId(d), 1111);
            d.SetDlgItemText(1111, "bob2");
            uitest::pressKey(d, VK_RETURN);
        });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(returned.autoConnectUser, "bob2");
}
