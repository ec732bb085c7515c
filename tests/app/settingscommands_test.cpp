// The main dialog's settings commands through the real main dialog: each
// confirmed dialog is in the ini file at once, survives a restart and shows
// again; a cancelled one changes and writes nothing.
#include "app/dialogappkindselect.h"
#include "app/fowerddlg.h"
#include "app/portsettingdlg.h"
#include "maindialog_fixture.h"

#include "platform/ini.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class SettingsCommandsTest : public MainDialogTest {
protected:
    // Presses the main dialog's button; body runs inside the dialog it opens,
    // which is cancelled if the body leaves it open.
    void openWith(int button, const std::function<void(CDialog&)>& body)
    {
        bool opened = false;
        uitest::onNextModal([&](CDialog& nested) {
            opened = true;
            body(nested);
            if (!nested.IsEnding())
                nested.EndDialog(IDCANCEL);
        });
        EXPECT_TRUE(uitest::pressButton(*dialog, button)) << "button " << button;
        if (!opened)
            uitest::onNextModal({});
        EXPECT_TRUE(opened) << "button " << button;
    }

    // The program's next start: a new main dialog reading the same file.
    void restart(const std::function<void()>& body)
    {
        dialog.reset();
        skype.reset();
        run(body);
    }

    std::string ini(const char* section, const char* key)
    {
        char value[300];
        GetPrivateProfileStringA(section, key, "(missing)", value, sizeof value,
                                 (dir / "ZorvaneForTcp.ini").string().c_str());
        return value;
    }
    std::string iniFile() { return readFile(dir / "ZorvaneForTcp.ini"); }

    static std::string textOf(CWnd& window, int id)
    {
        std::string value;
        window.GetDlgItemText(id, value);
        return value;
    }
};

enum Way { CancelButton, EscapeKey, CloseBox };

void leave(CDialog& nested, Way way)
{
    if (way == CancelButton)
        uitest::pressButton(nested, IDCANCEL);
    else if (way == EscapeKey)
        uitest::pressKey(nested, VK_ESCAPE);
    else
        uitest::pressCloseBox(nested);
}

} // namespace

TEST_F(SettingsCommandsTest, SystemSettingsAreSavedAtOnceAndShowAgainAfterARestart)
{
    writeSettings({"SYSTEM/APPMODE=0", "SYSTEM/SOUNDMODE=1", "SYSTEM/OPENWINDOW=0", "SYSTEM/ENABLEUSER=0",
                   "CLIENT/AUTOCONNECT=0"});
    run([&] {
        EXPECT_TRUE(shown(1058));
        EXPECT_FALSE(shown(1115));
        openWith(1055, [&](CDialog& nested) {
            EXPECT_EQ(uitest::checkState(nested, 1001), BST_CHECKED);
            EXPECT_EQ(uitest::checkState(nested, 1127), BST_CHECKED);
            EXPECT_EQ(uitest::checkState(nested, 1104), BST_CHECKED);
            EXPECT_EQ(uitest::checkState(nested, 1068), BST_CHECKED);
            uitest::pressButton(nested, 1110);
            uitest::pressButton(nested, 1002);
            uitest::pressButton(nested, 1128);
            uitest::pressButton(nested, 1105);
            uitest::pressButton(nested, 1106);
            nested.SetDlgItemText(1111, "carol");
            uitest::pressButton(nested, IDOK);
        });
        // In the file at once.
        EXPECT_EQ(ini("SYSTEM", "APPMODE"), "1");
        EXPECT_EQ(ini("SYSTEM", "ENABLEUSER"), "1");
        EXPECT_EQ(ini("SYSTEM", "OPENWINDOW"), "1");
        EXPECT_EQ(ini("SYSTEM", "SOUNDMODE"), "0");
        EXPECT_EQ(ini("CLIENT", "AUTOCONNECT"), "1");
        EXPECT_EQ(ini("CLIENT", "AUTOCONNECTUSER"), "carol");
        // The window is laid out for the client application.
        EXPECT_FALSE(shown(1058));
        EXPECT_FALSE(shown(1086));
        EXPECT_TRUE(shown(1115));
        EXPECT_TRUE(shown(1101));
        EXPECT_TRUE(shown(1032));
        EXPECT_EQ(text(1063), "Client Application 動作選択");
        EXPECT_EQ(text(1026), "自動接続モード:1分毎に接続操作を行います");
    });
    restart([&] {
        // The window now starts hidden; the command is reached directly.
        EXPECT_FALSE(dialog->IsWindowVisible());
        EXPECT_TRUE(shown(1115));
        EXPECT_EQ(text(1063), "Client Application 動作選択");
        uitest::onNextModal([&](CDialog& nested) {
            EXPECT_EQ(uitest::checkState(nested, 1002), BST_CHECKED);
            EXPECT_EQ(uitest::checkState(nested, 1128), BST_CHECKED);
            EXPECT_EQ(uitest::checkState(nested, 1105), BST_CHECKED);
            EXPECT_EQ(uitest::checkState(nested, 1110), BST_CHECKED);
            EXPECT_EQ(uitest::checkState(nested, 1106), BST_CHECKED);
            EXPECT_EQ(textOf(nested, 1111), "carol");
            nested.EndDialog(IDCANCEL);
        });
        dialog->OnBnClickedSystemSettings();
    });
}

TEST_F(SettingsCommandsTest, SwitchingBackToTheServerApplicationLaysOutTheWindowAgain)
{
    writeSettings({"SYSTEM/APPMODE=1"});
    run([&] {
        EXPECT_TRUE(shown(1115));
        openWith(1055, [&](CDialog& nested) {
            uitest::pressButton(nested, 1001);
            uitest::pressButton(nested, IDOK);
        });
        EXPECT_EQ(ini("SYSTEM", "APPMODE"), "0");
        EXPECT_TRUE(shown(1058));
        EXPECT_TRUE(shown(1086));
        EXPECT_TRUE(shown(1096));
        EXPECT_FALSE(shown(1115));
        EXPECT_FALSE(shown(1101));
        EXPECT_FALSE(shown(1103));
        EXPECT_EQ(text(1063), "Sever Application 動作選択");
        EXPECT_EQ(text(1026), "選択表示中ユーザの接続受付可");
    });
}

TEST_F(SettingsCommandsTest, ConfirmingWithoutAChangeKeepsTheLayoutAndWritesTheFile)
{
    writeSettings({"SYSTEM/APPMODE=0"});
    ASSERT_EQ(ini("SERVER", "FOWERDHOST1"), "(missing)");
    run([&] {
        openWith(1055, [&](CDialog& nested) { uitest::pressButton(nested, IDOK); });
        EXPECT_EQ(ini("SYSTEM", "APPMODE"), "0");
        EXPECT_EQ(ini("SERVER", "FOWERDHOST1"), "127.0.0.1");
        EXPECT_TRUE(shown(1058));
        EXPECT_EQ(text(1063), "Sever Application 動作選択");
    });
}

TEST_F(SettingsCommandsTest, AnAppModeOfTwoIsStoredAsOneAfterOkWithoutAChoice)
{
    writeSettings({"SYSTEM/APPMODE=2"});
    run([&] {
        EXPECT_TRUE(shown(1058));
        openWith(1055, [&](CDialog& nested) {
            EXPECT_EQ(uitest::checkState(nested, 1001), BST_UNCHECKED);
            EXPECT_EQ(uitest::checkState(nested, 1002), BST_UNCHECKED);
            EXPECT_TRUE(nested.GetDlgItem(1111)->IsWindowEnabled());
            uitest::pressButton(nested, IDOK);
        });
        EXPECT_EQ(ini("SYSTEM", "APPMODE"), "1");
        EXPECT_EQ(dialog->getAppMode(), 1);
        EXPECT_TRUE(shown(1115));
        EXPECT_FALSE(shown(1058));
    });
}

TEST_F(SettingsCommandsTest, ForwardSettingsAreSavedAtOnceAndShowAgainAfterARestart)
{
    writeSettings({"SYSTEM/APPMODE=0"});
    run([&] {
        openWith(1058, [&](CDialog& nested) {
            EXPECT_EQ(textOf(nested, 1089), "127.0.0.1");
            EXPECT_EQ(uitest::checkState(nested, 1088), BST_CHECKED);
            EXPECT_EQ(textOf(nested, 1090), "2401");
            EXPECT_EQ(textOf(nested, 1084), "21");
            uitest::pressButton(nested, 1088);
            uitest::typeText(nested, 1089, "cvs.example");
            uitest::typeText(nested, 1090, "2402");
            uitest::typeText(nested, 1084, "2121");
            uitest::pressButton(nested, 1098);
        });
        EXPECT_EQ(ini("SERVER", "FOWERDHOST3"), "cvs.example");
        EXPECT_EQ(ini("SERVER", "FOWERDPORT3"), "2402");
        EXPECT_EQ(ini("SERVER", "FOWERDPORT1"), "2121");
        EXPECT_EQ(ini("SERVER", "FOWERDHOST1"), "127.0.0.1");
        EXPECT_EQ(text(1088), "cvs.example");
        EXPECT_EQ(text(1093), "2402");
        EXPECT_EQ(text(1096), "2121");
        EXPECT_EQ(dialog->getForwardPort(2), 2402);
        EXPECT_EQ(std::string(dialog->getForwardHost(2)), "cvs.example");
    });
    restart([&] {
        EXPECT_EQ(text(1088), "cvs.example");
        EXPECT_EQ(text(1093), "2402");
        EXPECT_EQ(text(1096), "2121");
        openWith(1058, [&](CDialog& nested) {
            EXPECT_EQ(textOf(nested, 1089), "cvs.example");
            EXPECT_EQ(uitest::checkState(nested, 1088), BST_UNCHECKED);
            EXPECT_TRUE(nested.GetDlgItem(1089)->IsWindowEnabled());
            EXPECT_EQ(textOf(nested, 1090), "2402");
            EXPECT_EQ(textOf(nested, 1084), "2121");
        });
    });
}

// One rule for port texts: leading zeros are taken in both dialogs, and the
// main window shows the number saved, not the text typed.
TEST_F(SettingsCommandsTest, PortTypedWithLeadingZerosShowsAsTheNumberSaved)
{
    struct Case {
        const char* what;
        int appMode;
        int button;
        int edit;
        const char* section;
        const char* key;
        int shownId;
    };
    const Case cases[] = {
        {"forward settings", 0, 1058, 1090, "SERVER", "FOWERDPORT3", 1093},
        {"port dialog", 1, 1115, 1117, "CLIENT", "HTTPPORT", 1101},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeSettings({"SYSTEM/APPMODE=" + std::to_string(c.appMode)});
        run([&] {
            bool confirmed = false;
            openWith(c.button, [&](CDialog& nested) {
                uitest::typeText(nested, c.edit, "008090");
                uitest::pressKey(nested, VK_RETURN);
                confirmed = nested.IsEnding() != FALSE;
            });
            EXPECT_TRUE(confirmed) << "the dialog refused 008090";
            EXPECT_EQ(ini(c.section, c.key), "8090");
            EXPECT_EQ(text(c.shownId), "8090");
        });
        dialog.reset();
        skype.reset();
    }
}

TEST_F(SettingsCommandsTest, EachLocalPortIsSavedAtOnceAndShowsAgainAfterARestart)
{
    struct Case {
        int button;
        const char* key;
        int staticId;
        int port;
    };
    const Case cases[] = {
        {1115, "HTTPPORT", 1101, 18080},
        {1116, "CVSPORT", 1102, 12401},
        {1042, "GENPORT1", 1119, 15900},
        {1044, "GENPORT2", 1120, 19023},
    };
    writeSettings({"SYSTEM/APPMODE=1", "CLIENT/HTTPPORT=0", "CLIENT/CVSPORT=0", "CLIENT/GENPORT1=0",
                   "CLIENT/GENPORT2=0"});
    run([&] {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.key);
            openWith(c.button, [&](CDialog& nested) {
                EXPECT_EQ(textOf(nested, 1117), "0");
                uitest::typeText(nested, 1117, std::to_string(c.port).c_str());
                uitest::pressButton(nested, IDOK);
            });
            EXPECT_EQ(ini("CLIENT", c.key), std::to_string(c.port));
            EXPECT_EQ(text(c.staticId), std::to_string(c.port));
            for (const Case& other : cases) {
                if (&other > &c) {
                    EXPECT_EQ(ini("CLIENT", other.key), "0") << other.key;
                }
            }
        }
    });
    restart([&] {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.key);
            EXPECT_EQ(text(c.staticId), std::to_string(c.port));
            openWith(c.button, [&](CDialog& nested) {
                EXPECT_EQ(textOf(nested, 1117), std::to_string(c.port));
            });
        }
    });
}

TEST_F(SettingsCommandsTest, CancelEscapeAndTheCloseBoxChangeAndWriteNothing)
{
    struct Case {
        int appMode;
        int button;
        std::function<void(CDialog&)> change;
        int shownId; // a static of the main dialog that a confirmed change would alter
    };
    const Case cases[] = {
        {0, 1055,
         [](CDialog& d) {
             uitest::pressButton(d, 1002);
             uitest::pressButton(d, 1128);
         },
         1063},
        {0, 1058,
         [](CDialog& d) {
             uitest::pressButton(d, 1082);
             uitest::typeText(d, 1083, "changed.example");
             uitest::typeText(d, 1084, "2121");
         },
         1086},
        {1, 1115, [](CDialog& d) { uitest::typeText(d, 1117, "18080"); }, 1101},
        {1, 1116, [](CDialog& d) { uitest::typeText(d, 1117, "18080"); }, 1102},
        {1, 1042, [](CDialog& d) { uitest::typeText(d, 1117, "18080"); }, 1119},
        {1, 1044, [](CDialog& d) { uitest::typeText(d, 1117, "18080"); }, 1120},
    };
    for (const Case& c : cases) {
        for (Way way : {CancelButton, EscapeKey, CloseBox}) {
            SCOPED_TRACE("button " + std::to_string(c.button) + " way " + std::to_string(way));
            dialog.reset();
            skype.reset();
            writeSettings({"SYSTEM/APPMODE=" + std::to_string(c.appMode)});
            run([&] {
                // The event log has written its own section by now.
                const std::string before = iniFile();
                const std::string shownBefore = text(c.shownId);
                const std::string forwardPortBefore = text(1096);
                openWith(c.button, [&](CDialog& nested) {
                    c.change(nested);
                    leave(nested, way);
                    EXPECT_TRUE(nested.IsEnding());
                });
                EXPECT_EQ(iniFile(), before);
                EXPECT_EQ(text(c.shownId), shownBefore);
                EXPECT_EQ(text(1096), forwardPortBefore);
                EXPECT_EQ(dialog->getAppMode(), c.appMode);
                EXPECT_EQ(dialog->getSoundMode(), 1);
            });
        }
    }
}

// A settings dialog opened before the streams came up and confirmed after:
// the window and the file keep what the running channels use, and the
// message line says why.
struct StreamsCameUpCase {
    const char* name;
    int appMode;
    int button;
    std::function<void(CDialog&)> change; // ends with the dialog's OK
};

void PrintTo(const StreamsCameUpCase& c, std::ostream* os) { *os << c.name; }

class StreamsCameUpTest : public SettingsCommandsTest, public testing::WithParamInterface<StreamsCameUpCase> {};

TEST_P(StreamsCameUpTest, ConfirmingChangesNothing)
{
    const StreamsCameUpCase& c = GetParam();
    writeSettings({"SYSTEM/APPMODE=" + std::to_string(c.appMode), "SYSTEM/ENABLEUSER=1", "SYSTEM/SOUNDMODE=1",
                   "CLIENT/HTTPPORT=8081", "SERVER/FOWERDPORT2=8080"});
    // The settings, without the event log's own section.
    auto settingsFile = [&] {
        std::string file = iniFile();
        return file.substr(0, file.find("[LOG]"));
    };
    run([&] {
        attach();
        setContacts("bob");
        std::string before = settingsFile();
        Strings shownBefore = {text(1101), text(1092), text(1063), text(1026)};
        openWith(c.button, [&](CDialog& nested) {
            appNotify(1, "STREAMS bob:1");
            ASSERT_FALSE(enabled(c.button)) << "the streams lock the button";
            c.change(nested);
            EXPECT_TRUE(nested.IsEnding());
        });
        EXPECT_EQ(settingsFile(), before);
        EXPECT_EQ((Strings{text(1101), text(1092), text(1063), text(1026)}), shownBefore);
        EXPECT_EQ(text(1012), "接続中は設定を変更できません。切断してから設定してください");
        EXPECT_EQ(dialog->getLocalPort(1), 8081);
        EXPECT_EQ(dialog->getForwardPort(1), 8080);
        EXPECT_EQ(dialog->getAppMode(), c.appMode);

        // Once the streams are gone the same change goes through.
        appNotify(1, "STREAMS");
        openWith(c.button, [&](CDialog& nested) { c.change(nested); });
        EXPECT_NE(settingsFile(), before);
    });
}

INSTANTIATE_TEST_SUITE_P(
    Dialogs, StreamsCameUpTest,
    testing::Values(
        StreamsCameUpCase{"local_port", 1, 1115,
                          [](CDialog& d) {
                              uitest::typeText(d, 1117, "8082");
                              uitest::pressButton(d, IDOK);
                          }},
        StreamsCameUpCase{"forward_settings", 0, 1058,
                          [](CDialog& d) {
                              uitest::typeText(d, 1087, "8090");
                              uitest::pressButton(d, 1098);
                          }},
        StreamsCameUpCase{"system_settings", 0, 1055,
                          [](CDialog& d) {
                              uitest::pressButton(d, 1002); // the client application
                              uitest::pressButton(d, IDOK);
                          }}),
    [](const testing::TestParamInfo<StreamsCameUpCase>& p) { return p.param.name; });

// Each settings dialog is owned by the main window, lies over it and has only
// a close box; the main window keeps its minimise box.
TEST_F(SettingsCommandsTest, SettingsDialogsAreOwnedByTheMainWindowAndLieOverIt)
{
    for (int mode : {0, 1}) {
        SCOPED_TRACE("APPMODE " + std::to_string(mode));
        writeSettings({"SYSTEM/APPMODE=" + std::to_string(mode)});
        if (dialog)
            dialog.reset();
        run([&] {
            uitest::WindowFrame main = uitest::frameOf(*dialog);
            EXPECT_EQ(main.owner, nullptr);
            EXPECT_TRUE(main.minimizeBox);
            std::vector<int> buttons = mode == 0 ? std::vector<int>{1055, 1058} : std::vector<int>{1055, 1115};
            for (int button : buttons) {
                SCOPED_TRACE("button " + std::to_string(button));
                openWith(button, [&](CDialog& nested) {
                    uitest::WindowFrame f = uitest::frameOf(nested);
                    EXPECT_EQ(f.owner, dialog->GetSafeHwnd());
                    EXPECT_FALSE(f.minimizeBox);
                    EXPECT_FALSE(f.maximizeBox);
                    EXPECT_TRUE(f.closeBox);
                    // Its middle is the middle of the main window (both lie on the screen).
                    int cx = (f.geometry.left + f.geometry.right) / 2;
                    int cy = (f.geometry.top + f.geometry.bottom) / 2;
                    EXPECT_GT(cx, main.geometry.left);
                    EXPECT_LT(cx, main.geometry.right);
                    EXPECT_GT(cy, main.geometry.top);
                    EXPECT_LT(cy, main.geometry.bottom);
                    EXPECT_LE(std::abs(cx - (main.geometry.left + main.geometry.right) / 2), 2);
                });
            }
        });
    }
}

// Each channel's enable box: a click is in the ini file at once and is what
// the models read through isPortEnabled; a second click takes it back.
TEST_F(SettingsCommandsTest, EachChannelBoxIsSavedAtOnceAndReadByTheModels)
{
    struct Case {
        int box;
        int channel;
        const char* key;
    };
    const Case cases[] = {
        {1003, 0, "ENABLEPORT1"}, {1005, 1, "ENABLEPORT2"}, {1007, 2, "ENABLEPORT3"},
        {1009, 3, "ENABLEPORT4"}, {1010, 4, "ENABLEPORT5"},
    };
    writeSettings({"SYSTEM/APPMODE=1"});
    run([&] {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.key);
            EXPECT_EQ(checked(c.box), BST_CHECKED);
            EXPECT_EQ(dialog->isPortEnabled(c.channel), 1);
            ASSERT_TRUE(uitest::pressButton(*dialog, c.box));
            EXPECT_EQ(checked(c.box), BST_UNCHECKED);
            EXPECT_EQ(ini("SYSTEM", c.key), "0");
            EXPECT_EQ(dialog->isPortEnabled(c.channel), 0);
            for (const Case& other : cases)
                if (&other > &c) {
                    EXPECT_EQ(dialog->isPortEnabled(other.channel), 1) << other.key;
                }
        }
    });
    restart([&] {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.key);
            EXPECT_EQ(checked(c.box), BST_UNCHECKED);
            EXPECT_EQ(dialog->isPortEnabled(c.channel), 0);
            ASSERT_TRUE(uitest::pressButton(*dialog, c.box));
            EXPECT_EQ(ini("SYSTEM", c.key), "1");
            EXPECT_EQ(dialog->isPortEnabled(c.channel), 1);
        }
    });
}
