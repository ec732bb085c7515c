// The main dialog's layout by mode, accept-condition texts, colours, the log
// fold, the hidden start, and what it says about its files.
#include "maindialog_fixture.h"

#include "foundation/eventlog.h"

#include <gtest/gtest.h>

#include <filesystem>

struct AcceptCase {
    const char* name;
    int appMode;
    int acceptMode;
    int autoConnect;
    const char* text;
};

class AcceptConditionTest : public MainDialogTest, public testing::WithParamInterface<AcceptCase> {};

TEST_P(AcceptConditionTest, TextFollowsTheSettings)
{
    const AcceptCase& c = GetParam();
    writeSettings({"SYSTEM/APPMODE=" + std::to_string(c.appMode),
                   "SYSTEM/ENABLEUSER=" + std::to_string(c.acceptMode),
                   "CLIENT/AUTOCONNECT=" + std::to_string(c.autoConnect)});
    run([&] { EXPECT_EQ(text(1026), c.text); });
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AcceptConditionTest,
    testing::Values(AcceptCase{"server_selected", 0, 0, 1, "選択表示中ユーザの接続受付可"},
                    AcceptCase{"server_any_contact", 0, 1, 0, "コンタクトリストのユーザからの接続受付可"},
                    AcceptCase{"server_accept_mode_2", 0, 2, 0, "コンタクトリストのユーザからの接続受付可"},
                    AcceptCase{"client_auto", 1, 0, 1, "自動接続モード:1分毎に接続操作を行います"},
                    AcceptCase{"client_manual", 1, 1, 0, "手動接続モード:接続ボタンで接続してください"},
                    AcceptCase{"client_auto_2_is_manual", 1, 0, 2, "手動接続モード:接続ボタンで接続してください"},
                    AcceptCase{"mode_2_counts_as_client", 2, 0, 1, "自動接続モード:1分毎に接続操作を行います"}),
    [](const testing::TestParamInfo<AcceptCase>& p) { return p.param.name; });

struct ModeCase {
    const char* name;
    int appMode;
    const char* modeText;
    bool client;
};

class ModeLayoutTest : public MainDialogTest, public testing::WithParamInterface<ModeCase> {};

TEST_P(ModeLayoutTest, ControlsOfTheMode)
{
    const ModeCase& c = GetParam();
    writeSettings({"SYSTEM/APPMODE=" + std::to_string(c.appMode)});
    run([&] {
        EXPECT_EQ(text(1063), c.modeText);
        for (int id : {1058, 1086, 1087, 1088, 1089, 1090, 1092, 1093, 1094, 1095, 1096})
            EXPECT_EQ(shown(id), !c.client) << "forward control " << id;
        for (int id : {1100, 1101, 1102, 1119, 1120, 1115, 1116, 1042, 1044, 1103, 1032, 1043, 1034,
                       1036, 1038, 1040})
            EXPECT_EQ(shown(id), c.client) << "client control " << id;
        for (int id : {1045, 1033, 1047, 1048, 1035, 1049, 1037, 1050, 1039, 1051, 1041, 1052})
            EXPECT_TRUE(shown(id)) << "C and P lamps " << id;
        for (int id = 1122; id <= 1126; ++id)
            EXPECT_FALSE(shown(id)) << "traffic " << id << " without a stream";
    });
}

INSTANTIATE_TEST_SUITE_P(Modes, ModeLayoutTest,
                         testing::Values(ModeCase{"server", 0, "Sever Application 動作選択", false},
                                         ModeCase{"client", 1, "Client Application 動作選択", true}),
                         [](const testing::TestParamInfo<ModeCase>& p) { return p.param.name; });

struct FoldCase {
    const char* name;
    int appMode;
    bool startsFolded;
};

class LogFoldTest : public MainDialogTest, public testing::WithParamInterface<FoldCase> {};

TEST_P(LogFoldTest, FoldsBy183PixelsAndBack)
{
    const FoldCase& c = GetParam();
    writeSettings({"SYSTEM/APPMODE=" + std::to_string(c.appMode)});
    run([&] {
        const int full = dialog->savedWindowRect.bottom - dialog->savedWindowRect.top;
        const int folded = full - 183;
        EXPECT_EQ(windowHeight(), c.startsFolded ? folded : full);
        EXPECT_EQ(text(1114), c.startsFolded ? "↓LOG表示" : "↑LOG表示");
        ASSERT_TRUE(uitest::pressButton(*dialog, 1114));
        EXPECT_EQ(windowHeight(), c.startsFolded ? full : folded);
        EXPECT_EQ(text(1114), c.startsFolded ? "↑LOG表示" : "↓LOG表示");
        ASSERT_TRUE(uitest::pressButton(*dialog, 1114));
        EXPECT_EQ(windowHeight(), c.startsFolded ? folded : full);
        EXPECT_EQ(text(1114), c.startsFolded ? "↓LOG表示" : "↑LOG表示");
    });
}

INSTANTIATE_TEST_SUITE_P(Modes, LogFoldTest,
                         testing::Values(FoldCase{"server_starts_unfolded", 0, false},
                                         FoldCase{"client_starts_folded", 1, true}),
                         [](const testing::TestParamInfo<FoldCase>& p) { return p.param.name; });

TEST_F(MainDialogTest, HiddenStartStaysHiddenThroughTheLoopAndAFold)
{
    writeSettings({"SYSTEM/OPENWINDOW=1"});
    run([&] {
        EXPECT_FALSE(dialog->IsWindowVisible()) << "after the modal loop's first showing";
        ASSERT_TRUE(dialog->GetDlgItem(1114) != nullptr);
        dialog->OnBnClickedLogToggle();
        EXPECT_FALSE(dialog->IsWindowVisible()) << "after a fold";
        dialog->OnBnClickedLogToggle();
        EXPECT_FALSE(dialog->IsWindowVisible()) << "after an unfold";
        ASSERT_TRUE(uitest::clickTray(dialog->GetSafeHwnd(), 0, uitest::TrayClick::Double));
        pumpUntil([&] { return dialog->IsWindowVisible() != 0; }, 2000);
        EXPECT_TRUE(dialog->IsWindowVisible()) << "a double click on the icon shows it";
        dialog->OnCancel();
        EXPECT_FALSE(dialog->IsWindowVisible());
        EXPECT_TRUE(dialog->IsModalRunning()) << "cancel only hides";
    });
}

TEST_F(MainDialogTest, InformationFieldsAreLightYellowOnThePaleDialog)
{
    run([&] {
        const COLORREF light = RGB(255, 255, 180);
        const COLORREF pale = RGB(240, 240, 220);
        EXPECT_EQ(uitest::colorsOf(*dialog, 0).background, pale);
        for (int id : {1006, 1012, 1025, 1026, 1063, 1064, 1065, 1066, 1086, 1090, 1092, 1096, 1100,
                       1102, 1119, 1120})
            EXPECT_EQ(uitest::colorsOf(*dialog, id).background, light) << id;
        for (int id : {1122, 1003, 1103})
            EXPECT_EQ(uitest::colorsOf(*dialog, id).background, pale) << id;
    });
}

TEST_F(MainDialogTest, MissingSettingsFileGivesOneLogLine)
{
    std::filesystem::remove(dir / "ZorvaneForTcp.ini");
    run([&] {
        int lines = 0;
        for (int i = 0; i < dialog->logList.GetCount(); ++i) {
            std::string line;
            dialog->logList.GetText(i, line);
            if (line.find("既定値で動作します") != std::string::npos)
                ++lines;
        }
        EXPECT_EQ(lines, 1);
        EXPECT_EQ(dialog->getAppMode(), 0);
        EXPECT_EQ(dialog->getHttpPort(), 80);
    });
}

TEST_F(MainDialogTest, SettingsFilePresentGivesNoDefaultsLine)
{
    run([&] {
        for (int i = 0; i < dialog->logList.GetCount(); ++i) {
            std::string line;
            dialog->logList.GetText(i, line);
            EXPECT_EQ(line.find("既定値"), std::string::npos) << line;
        }
    });
}

TEST_F(MainDialogTest, UnwritableLogFileGivesAMessageLine)
{
    std::filesystem::create_directory(dir / "LOG0.log"); // cannot be opened as a file
    run([&] { EXPECT_EQ(text(1012), "ログファイルLOG0.logに書き込めません"); });
}

// Group boxes lie beneath every control they overlap, in every template: the
// main window, the system, forward and port settings and the about box.
TEST(DialogTemplates, GroupBoxesLieBeneathTheControlsTheyOverlap)
{
    for (UINT templateId : {102u, 129u, 134u, 138u, 100u}) {
        SCOPED_TRACE("dialog " + std::to_string(templateId));
        CDialog plain(templateId, nullptr);
        ASSERT_TRUE(plain.Create(templateId, nullptr));
        std::vector<uitest::StackedControl> order = uitest::stackingOrder(plain);
        size_t groupBoxes = 0;
        size_t overlaps = 0;
        for (size_t g = 0; g < order.size(); ++g) {
            if (!order[g].groupBox)
                continue;
            ++groupBoxes;
            for (size_t c = 0; c < order.size(); ++c) {
                const RECT& a = order[g].rect;
                const RECT& b = order[c].rect;
                bool overlap = !order[c].groupBox && a.left < b.right && b.left < a.right && a.top < b.bottom &&
                               b.top < a.bottom;
                if (!overlap)
                    continue;
                ++overlaps;
                EXPECT_GT(c, g) << "control " << order[c].id << " lies beneath a group box";
            }
        }
        if (templateId != 100u) {
            EXPECT_GT(groupBoxes, 0u);
            EXPECT_GT(overlaps, 0u);
        }
        plain.DestroyWindow();
    }
}
