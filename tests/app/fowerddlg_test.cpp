// The forward settings dialog (134), offscreen: rows, the localhost boxes,
// the port check with its messages and focus, and the ways out.
#include "app/fowerddlg.h"
#include "modalrun.h"

#include "platform/ui/uitest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct RowIds {
    int check;
    int host;
    int port;
    std::string CFowerdDlg::*hostMember;
    std::string CFowerdDlg::*portMember;
    const char* message;
};

// Row order FTP, HTTP, CVS, Gen1, Gen2.
const RowIds rows[5] = {
    {1082, 1083, 1084, &CFowerdDlg::hostFtp, &CFowerdDlg::portFtp, "FTP Portの設定範囲は不正です。(1～65535)"},
    {1085, 1086, 1087, &CFowerdDlg::hostHttp, &CFowerdDlg::portHttp, "HTTP Portの設定範囲は不正です。(1～65535)"},
    {1088, 1089, 1090, &CFowerdDlg::hostCvs, &CFowerdDlg::portCvs, "CVS Portの設定範囲は不正です。(1～65535)"},
    {1091, 1092, 1093, &CFowerdDlg::hostGen1, &CFowerdDlg::portGen1,
     "ユーザ設定１ Portの設定範囲は不正です。(1～65535)"},
    {1094, 1095, 1096, &CFowerdDlg::hostGen2, &CFowerdDlg::portGen2,
     "ユーザ設定２ Portの設定範囲は不正です。(1～65535)"},
};

void fill(CFowerdDlg& dialog, const std::vector<std::string>& hosts, const std::vector<std::string>& ports)
{
    for (int r = 0; r < 5; ++r) {
        dialog.*rows[r].hostMember = hosts[r];
        dialog.*rows[r].portMember = ports[r];
    }
}

std::string text(CWnd& dialog, int id)
{
    std::string value;
    dialog.GetDlgItemText(id, value);
    return value;
}

bool enabled(CWnd& dialog, int id) { return dialog.GetDlgItem(id)->IsWindowEnabled() != FALSE; }

const std::vector<std::string> validPorts = {"21", "80", "2401", "5900", "9023"};

} // namespace

TEST(ForwardDialog, ShowsEachChannelInItsRowAndHandsBackWhatWasTyped)
{
    CFowerdDlg dialog;
    fill(dialog, {"ftp.example", "web.example", "cvs.example", "vnc.example", "gen.example"}, validPorts);
    INT_PTR result = runModal(dialog, [&] {
        for (int r = 0; r < 5; ++r) {
            EXPECT_EQ(text(dialog, rows[r].host), dialog.*rows[r].hostMember) << "row " << r + 1;
            EXPECT_EQ(text(dialog, rows[r].port), validPorts[r]) << "row " << r + 1;
            EXPECT_EQ(uitest::checkState(dialog, rows[r].check), BST_UNCHECKED);
            EXPECT_TRUE(enabled(dialog, rows[r].host));
        }
        for (int r = 0; r < 5; ++r) {
            uitest::typeText(dialog, rows[r].host, ("h" + std::to_string(r)).c_str());
            uitest::typeText(dialog, rows[r].port, std::to_string(1000 + r).c_str());
        }
        uitest::pressButton(dialog, 1098);
    });
    EXPECT_EQ(result, IDOK);
    for (int r = 0; r < 5; ++r) {
        EXPECT_EQ(dialog.*rows[r].hostMember, "h" + std::to_string(r));
        EXPECT_EQ(dialog.*rows[r].portMember, std::to_string(1000 + r));
    }
}

TEST(ForwardDialog, OnlyTheExactLoopbackAddressOpensWithItsLocalhostBoxChecked)
{
    const std::vector<std::string> hosts = {"127.0.0.1", "localhost", "127.0.0.01", "127.0.0.1 ", "127.0.0.1"};
    const bool expected[5] = {true, false, false, false, true};
    CFowerdDlg dialog;
    fill(dialog, hosts, validPorts);
    INT_PTR result = runModal(dialog, [&] {
        for (int r = 0; r < 5; ++r) {
            SCOPED_TRACE("row " + std::to_string(r + 1) + " host \"" + hosts[r] + "\"");
            EXPECT_EQ(uitest::checkState(dialog, rows[r].check), expected[r] ? BST_CHECKED : BST_UNCHECKED);
            EXPECT_EQ(enabled(dialog, rows[r].host), !expected[r]);
            EXPECT_EQ(text(dialog, rows[r].host), hosts[r]);
        }
        uitest::pressButton(dialog, 1098);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog.localhostFtp, 1);
    EXPECT_EQ(dialog.localhostHttp, 0);
    EXPECT_EQ(dialog.localhostCvs, 0);
    EXPECT_EQ(dialog.localhostGen1, 0);
    EXPECT_EQ(dialog.localhostGen2, 1);
    for (int r = 0; r < 5; ++r)
        EXPECT_EQ(dialog.*rows[r].hostMember, hosts[r]);
}

TEST(ForwardDialog, LocalhostBoxWritesTheLoopbackAddressAndClearingItLeavesTheText)
{
    for (int r = 0; r < 5; ++r) {
        SCOPED_TRACE("row " + std::to_string(r + 1));
        CFowerdDlg dialog;
        fill(dialog, {"a.example", "b.example", "c.example", "d.example", "e.example"}, validPorts);
        const std::string before = dialog.*rows[r].hostMember;
        INT_PTR result = runModal(dialog, [&] {
            ASSERT_TRUE(uitest::pressButton(dialog, rows[r].check));
            EXPECT_EQ(text(dialog, rows[r].host), "127.0.0.1");
            EXPECT_FALSE(enabled(dialog, rows[r].host));
            for (int other = 0; other < 5; ++other) {
                if (other != r) {
                    EXPECT_TRUE(enabled(dialog, rows[other].host)) << "row " << other + 1;
                }
            }
            ASSERT_TRUE(uitest::pressButton(dialog, rows[r].check));
            EXPECT_TRUE(enabled(dialog, rows[r].host));
            EXPECT_EQ(text(dialog, rows[r].host), "127.0.0.1");
            uitest::pressButton(dialog, 1098);
        });
        EXPECT_EQ(result, IDOK);
        EXPECT_NE(before, "127.0.0.1");
        EXPECT_EQ(dialog.*rows[r].hostMember, "127.0.0.1");
    }
}

TEST(ForwardDialog, PortTextsOutsideOneTo65535AreRefusedInEveryRow)
{
    struct Case {
        std::string port;
        bool accepted;
        std::string handedBack; // the number, without leading zeros
    };
    // Leading zeros are accepted as the port dialog accepts them.
    const Case cases[] = {
        {"0", false, ""},
        {"65536", false, ""},
        {"-5", false, ""},
        {"abc", false, ""},
        {"", false, ""},
        {"80x", false, ""},
        {"70000", false, ""},
        {std::string(70, '9'), false, ""},
        {"4294967376", false, ""},
        {"000065536", false, ""},
        {"1", true, "1"},
        {"65535", true, "65535"},
        {"08080", true, "8080"},
        {"008090", true, "8090"},
        {"000008080", true, "8080"},
        {std::string(70, '0') + "8080", true, "8080"},
    };
    for (const Case& c : cases) {
        for (int r = 0; r < 5; ++r) {
            SCOPED_TRACE(std::string("port \"") + c.port + "\" in row " + std::to_string(r + 1));
            uitest::MessageBoxRecorder boxes;
            CFowerdDlg dialog;
            std::vector<std::string> ports = validPorts;
            ports[r] = c.port;
            fill(dialog, {"h1", "h2", "h3", "h4", "h5"}, ports);
            INT_PTR result = runModal(dialog, [&] { uitest::pressButton(dialog, 1098); });
            if (c.accepted) {
                EXPECT_EQ(result, IDOK);
                EXPECT_TRUE(boxes.calls().empty());
                EXPECT_EQ(dialog.*rows[r].portMember, c.handedBack);
            } else {
                EXPECT_EQ(result, stayedOpen);
                ASSERT_EQ(boxes.calls().size(), 1u);
                EXPECT_EQ(boxes.calls()[0].text, rows[r].message);
                EXPECT_EQ(boxes.calls()[0].caption, "確認");
                EXPECT_EQ(boxes.calls()[0].type & 0xF, MB_OK);
            }
        }
    }
}

TEST(ForwardDialog, ThreeBadRowsGiveThreeBoxesInRowOrderAndTheFocusEndsOnTheLast)
{
    uitest::MessageBoxRecorder boxes;
    CFowerdDlg dialog;
    fill(dialog, {"h1", "h2", "h3", "h4", "h5"}, {"0", "70000", "2401", "x", "9023"});
    std::vector<int> focusAtBox;
    boxes.onShow([&](const uitest::MessageBoxCall&) { focusAtBox.push_back(uitest::focusedId(dialog)); });
    INT_PTR result = runModal(dialog, [&] {
        uitest::pressButton(dialog, 1098);
        EXPECT_EQ(uitest::focusedId(dialog), 1093);
        // Mended, the dialog ends with the typed values.
        uitest::typeText(dialog, 1084, "2121");
        uitest::typeText(dialog, 1087, "8080");
        uitest::typeText(dialog, 1093, "5901");
        uitest::pressButton(dialog, 1098);
    });
    EXPECT_EQ(result, IDOK);
    ASSERT_EQ(boxes.calls().size(), 3u);
    EXPECT_EQ(boxes.calls()[0].text, rows[0].message);
    EXPECT_EQ(boxes.calls()[1].text, rows[1].message);
    EXPECT_EQ(boxes.calls()[2].text, rows[3].message);
    // Each box comes before its row's port edit takes the focus.
    ASSERT_EQ(focusAtBox.size(), 3u);
    EXPECT_EQ(focusAtBox[1], 1084);
    EXPECT_EQ(focusAtBox[2], 1087);
    EXPECT_EQ(dialog.portFtp, "2121");
    EXPECT_EQ(dialog.portHttp, "8080");
    EXPECT_EQ(dialog.portGen1, "5901");
}

TEST(ForwardDialog, EnterRunsThePortCheck)
{
    uitest::MessageBoxRecorder boxes;
    CFowerdDlg dialog;
    fill(dialog, {"h1", "h2", "h3", "h4", "h5"}, {"21", "80", "2401", "5900", "0"});
    INT_PTR result = runModal(dialog, [&] {
        uitest::pressKey(dialog, VK_RETURN);
    });
    EXPECT_EQ(result, stayedOpen);
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, rows[4].message);
}

TEST(ForwardDialog, CancelEscapeAndTheCloseBoxHandNothingBack)
{
    enum Way { CancelButton, EscapeKey, CloseBox };
    for (Way way : {CancelButton, EscapeKey, CloseBox}) {
        SCOPED_TRACE("way " + std::to_string(way));
        CFowerdDlg dialog;
        fill(dialog, {"h1", "h2", "h3", "h4", "h5"}, validPorts);
        INT_PTR result = runModal(dialog, [&] {
            uitest::typeText(dialog, 1083, "changed.example");
            uitest::typeText(dialog, 1084, "2121");
            if (way == CancelButton)
                uitest::pressButton(dialog, IDCANCEL);
            else if (way == EscapeKey)
                uitest::pressKey(dialog, VK_ESCAPE);
            else
                uitest::pressCloseBox(dialog);
        });
        EXPECT_EQ(result, IDCANCEL);
        EXPECT_EQ(dialog.hostFtp, "h1");
        EXPECT_EQ(dialog.portFtp, "21");
        EXPECT_EQ(dialog.hostHttp, "h2");
    }
}

TEST(ForwardDialog, TabGoesThroughTheRowsInOrder)
{
    CFowerdDlg dialog;
    fill(dialog, {"h1", "h2", "h3", "h4", "h5"}, validPorts);
    const std::vector<int> expected = {1082, 1083, 1084, 1085, 1086, 1087, 1088, 1089, 1090, 1091,
                                       1092, 1093, 1094, 1095, 1096, 1098, 2,    1082};
    std::vector<int> seen;
    runModal(dialog, [&] {
        seen.push_back(uitest::focusedId(dialog));
        for (size_t i = 1; i < expected.size(); ++i) {
            uitest::pressKey(dialog, VK_TAB);
            seen.push_back(uitest::focusedId(dialog));
        }
    });
    EXPECT_EQ(seen, expected);
}
