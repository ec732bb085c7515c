// The port setting dialog (138), offscreen: the position shown at opening,
// typed texts, the arrows, and the ways out.
#include "app/portsettingdlg.h"
#include "modalrun.h"

#include "platform/ui/uitest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string text(CWnd& dialog, int id)
{
    std::string value;
    dialog.GetDlgItemText(id, value);
    return value;
}

} // namespace

TEST(PortDialog, OpensWithThePortAsAPlainNumberInTheEdit)
{
    for (int port : {0, 80, 65535}) {
        SCOPED_TRACE(port);
        CPortSettingDlg dialog;
        dialog.port = port;
        INT_PTR result = runModal(dialog, [&] {
            EXPECT_EQ(text(dialog, 1117), std::to_string(port));
            EXPECT_EQ(uitest::focusedId(dialog), 1117);
            uitest::pressButton(dialog, IDOK);
        });
        EXPECT_EQ(result, IDOK);
        EXPECT_EQ(dialog.port, port);
    }
}

TEST(PortDialog, HandsBackTheTypedPortOrTheLastValidPosition)
{
    struct Case {
        int opened;
        int arrowsUp; // negative: down
        const char* typed; // nullptr: nothing typed
        int expected;
    };
    const Case cases[] = {
        {8080, 0, "0", 0},
        {8080, 0, "65535", 65535},
        {8080, 0, "1234", 1234},
        {8080, 0, "65536", 8080},
        {8080, 0, "abc", 8080},
        {8080, 0, "", 8080},
        {8080, 0, "-1", 8080},
        {8080, 0, "0000000000000000000000000000000000000000000000000000000000000000000018081", 18081},
        {8080, 0, "4294967297", 8080}, // would wrap to 1 in 32 bits
        {8080, 0, "99999999999999999999999999999999999999999999999999999999999999999999999", 8080},
        {8080, 2, nullptr, 8082},
        {8080, 2, "abc", 8082},
        {8080, -3, "65536", 8077},
        {65535, 1, nullptr, 65535},
        {0, -1, nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("opened " + std::to_string(c.opened) + ", arrows " + std::to_string(c.arrowsUp) +
                     ", typed " + (c.typed ? std::string("\"") + c.typed + "\"" : std::string("nothing")));
        CPortSettingDlg dialog;
        dialog.port = c.opened;
        INT_PTR result = runModal(dialog, [&] {
            for (int i = 0; i < c.arrowsUp; ++i)
                uitest::pressKey(dialog, VK_UP);
            for (int i = 0; i < -c.arrowsUp; ++i)
                uitest::pressKey(dialog, VK_DOWN);
            if (c.arrowsUp != 0 && c.typed == nullptr) {
                EXPECT_EQ(text(dialog, 1117), std::to_string(c.expected));
            }
            if (c.typed != nullptr)
                uitest::typeText(dialog, 1117, c.typed);
            uitest::pressKey(dialog, VK_RETURN);
        });
        EXPECT_EQ(result, IDOK);
        EXPECT_EQ(dialog.port, c.expected);
    }
}

TEST(PortDialog, CancelEscapeAndTheCloseBoxKeepThePort)
{
    enum Way { CancelButton, EscapeKey, CloseBox };
    for (Way way : {CancelButton, EscapeKey, CloseBox}) {
        SCOPED_TRACE("way " + std::to_string(way));
        CPortSettingDlg dialog;
        dialog.port = 2401;
        INT_PTR result = runModal(dialog, [&] {
            uitest::typeText(dialog, 1117, "2402");
            uitest::pressKey(dialog, VK_UP);
            if (way == CancelButton)
                uitest::pressButton(dialog, IDCANCEL);
            else if (way == EscapeKey)
                uitest::pressKey(dialog, VK_ESCAPE);
            else
                uitest::pressCloseBox(dialog);
        });
        EXPECT_EQ(result, IDCANCEL);
        EXPECT_EQ(dialog.port, 2401);
    }
}
