// The version text of this executable's own version resource ("1, 2; 3, 4")
// in the footer, the start line of the event log and the about box.
#include "app/aboutdlg.h"
#include "app/versiontext.h"
#include "maindialog_fixture.h"

#include <gtest/gtest.h>

TEST(VersionText, ReadFromTheProgramsOwnFile)
{
    EXPECT_STREQ(getVersionText(), "Ver.:1, 2; 3, 4");
    EXPECT_EQ(getVersionText(), getVersionText()) << "the same storage every time";
}

TEST_F(MainDialogTest, VersionInFooterStartLineAndAboutBox)
{
    const std::string shown = "Ver.:1- 2. 3- 4";
    run([&] {
        EXPECT_EQ(text(1066), shown + "  Powered by Tessivarnel");
        std::string last;
        dialog->logList.GetText(dialog->logList.GetCount() - 1, last);
        EXPECT_TRUE(last.ends_with(":EV:ZorvaneForTCP " + shown)) << last;

        CMenu* systemMenu = dialog->GetSystemMenu(FALSE);
        ASSERT_NE(systemMenu, nullptr);
        int count = static_cast<int>(systemMenu->GetMenuItemCount());
        ASSERT_GE(count, 2);
        EXPECT_EQ(systemMenu->GetMenuItemID(count - 2), 0u) << "a separator";
        EXPECT_EQ(systemMenu->GetMenuItemID(count - 1), 0x10u);
        std::string entry;
        systemMenu->GetMenuString(count - 1, entry, MF_BYPOSITION);
        EXPECT_EQ(entry, "zorvaneForTcp のﾊﾞｰｼﾞｮﾝ情報(&A)...");

        for (int round = 0; round < 2; ++round) {
            std::string aboutText;
            uitest::ShellRecorder shell;
            uitest::onNextModal([&](CDialog& about) {
                about.GetDlgItemText(1099, aboutText);
                EXPECT_TRUE(uitest::clickLink(about, 1129));
                about.EndDialog(IDOK);
            });
            dialog->SendMessage(WM_SYSCOMMAND, 0x10, 0);
            EXPECT_EQ(aboutText, "ZorvaneForTCP " + shown) << "round " << round;
            ASSERT_EQ(shell.calls().size(), 1u);
            EXPECT_EQ(shell.calls()[0].operation, "open");
            EXPECT_EQ(shell.calls()[0].file, homePageAddress);
        }
    });
}
