// The main dialog's status display, contact and connect buttons and timers,
// driven through the real dialog with the fake Skype window.
#include "maindialog_fixture.h"

#include "foundation/eventlog.h"
#include "platform/winsock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>

namespace {

size_t countOf(const Strings& commands, const std::string& text)
{
    return static_cast<size_t>(std::count_if(commands.begin(), commands.end(), [&](const std::string& c) {
        return c.find(text) != std::string::npos;
    }));
}

// Valid UTF-8 throughout (no character cut in two).
bool wholeUtf8(const std::string& text)
{
    size_t i = 0;
    while (i < text.size()) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        i += length;
    }
    return true;
}

Strings listLines(CListBox& list)
{
    Strings lines;
    for (int i = 0; i < list.GetCount(); ++i) {
        std::string line;
        list.GetText(i, line);
        lines.push_back(line);
    }
    return lines;
}

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A listener on 127.0.0.1 that holds a port, as another program would.
struct HeldPort {
    HeldPort()
    {
        socketHandle = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = inet_addr("127.0.0.1");
        bind(socketHandle, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(socketHandle, 1);
        int length = sizeof address;
        getsockname(socketHandle, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~HeldPort() { closesocket(socketHandle); }
    HeldPort(const HeldPort&) = delete;
    HeldPort& operator=(const HeldPort&) = delete;
    SOCKET socketHandle;
    int port = 0;
};

// Connecting bob asks every enabled channel; channel 1 stands for them.
const std::string connectBob = "ALTER APPLICATION ZorvaneForHttp000 CONNECT bob";

} // namespace

TEST_F(MainDialogTest, LampsFollowTheQueriesOnlyWhileAttached)
{
    writeSettings({"SYSTEM/APPMODE=1"});
    run([&] {
        attach();
        setContacts("bob");
        appNotify(1, "STREAMS bob:1"); // the channel 1 stream listens on its local port
        tick(1);
        EXPECT_EQ(checked(1034), 1) << "L lamp of channel 1";
        EXPECT_EQ(checked(1035), 0);
        EXPECT_EQ(checked(1036), 0);

        // Not available (status 4): nothing is cancelled, the lamps keep their state.
        skype->attach(dialog->hub.skypeCom->ownWindow, 3);
        ASSERT_EQ(dialog->linkStatus, 4);
        appNotify(1, "STREAMS");
        ASSERT_FALSE(dialog->hub.a2aModel->applications[1].isMainLinkWaiting());
        tick(1);
        EXPECT_EQ(checked(1034), 1);

        skype->attach(dialog->hub.skypeCom->ownWindow, 0);
        tick(1);
        EXPECT_EQ(checked(1034), 0);
    });
}

// This side's Skype client goes away (its next command fails): the streams
// are cancelled, and the lamps that showed them go dark at once.
TEST_F(MainDialogTest, LampsGoDarkWhenTheLinkIsLost)
{
    writeSettings({"SYSTEM/APPMODE=1"});
    run([&] {
        attach();
        setContacts("bob");
        appNotify(1, "STREAMS bob:1");
        tick(1);
        ASSERT_EQ(checked(1034), 1) << "L lamp of channel 1";
        dialog->lampValues[7] = 1; // as a connected C lamp of channel 1 left it
        dialog->CheckDlgButton(1035, 1);

        skype->failNext = 1;
        dialog->hub.skypeCom->sendCommand("GET CURRENTUSERHANDLE");
        ASSERT_EQ(dialog->linkStatus, 0);
        EXPECT_EQ(text(1025), "通信ドライバと未接続");
        EXPECT_EQ(checked(1034), 0);
        EXPECT_EQ(checked(1035), 0);
        tick(1);
        for (int i = 0; i < 18; ++i) {
            EXPECT_EQ(checked(CZorvaneForTcpDlg::lampIds[i]), 0) << CZorvaneForTcpDlg::lampIds[i];
            EXPECT_EQ(dialog->lampValues[i], 0) << CZorvaneForTcpDlg::lampIds[i];
        }
    });
}

// Lines read back from the log files at start come with their CR LF; the
// list shows them without it, as it shows the lines written now.
TEST_F(MainDialogTest, RestoredLogLinesShowWithoutTheirLineEnd)
{
    writeSettings({"LOG/INDEX=0", "LOG/COUNT=2"});
    {
        std::ofstream log(dir / "LOG0.log", std::ios::binary);
        log << "2026/01/02 03:04:05:EV:older line\r\n2026/01/02 03:04:06:ER:last line\r\n";
    }
    run([&] {
        Strings lines = listLines(dialog->logList);
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines[0], "2026/01/02 03:04:05:EV:older line");
        EXPECT_EQ(lines[1], "2026/01/02 03:04:06:ER:last line");
        for (const std::string& line : lines) {
            EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
            EXPECT_FALSE(line.empty());
        }
    });
}

// Local ports that another program holds: the streams come up, but the
// message line says why nothing listens, each port once and in turn; the log
// line has the reason, and no disconnect line follows for a listener that
// never existed.
TEST_F(MainDialogTest, LocalPortInUseIsSaidWithItsReason)
{
    writeSettings({"SYSTEM/APPMODE=1"});
    run([&] {
        HeldPort held1;
        HeldPort held2;
        ASSERT_GT(held1.port, 0);
        ASSERT_GT(held2.port, 0);
        dialog->setHttpPort(held1.port);
        dialog->setCvsPort(held2.port);
        attach();
        setContacts("bob");
        setConnectable(1, "bob");
        dialog->OnBconnect();
        EXPECT_EQ(text(1012), "bobへのSKYPE STREAM接続操作を行いました");
        appNotify(1, "STREAMS bob:1");
        appNotify(2, "STREAMS bob:2");
        tick(1);
        const std::string port1 = std::to_string(held1.port);
        const std::string port2 = std::to_string(held2.port);
        EXPECT_EQ(text(1012), "設定１のポート" + port1 + "を開けません: アドレスは使用中です(10048)");
        EXPECT_EQ(checked(1034), 0);
        EXPECT_EQ(checked(1036), 0);
        tick(1, 5);
        EXPECT_EQ(text(1012), "設定１のポート" + port1 + "を開けません: アドレスは使用中です(10048)");
        tick(1);
        EXPECT_EQ(text(1012), "設定２のポート" + port2 + "を開けません: アドレスは使用中です(10048)");
        tick(1, 6);
        EXPECT_EQ(text(1012), "") << "each said once";
        tick(1, 6);
        EXPECT_EQ(text(1012), "");

        Strings lines = listLines(dialog->logList);
        for (const std::string& port : {port1, port2}) {
            EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                    [&](const std::string& line) {
                                        return endsWith(line, ":サーバソケット作成失敗: ポート番号=" + port +
                                                                  " アドレスは使用中です(10048)");
                                    }),
                      1)
                << testing::PrintToString(lines);
        }
        appNotify(1, "STREAMS");
        appNotify(2, "STREAMS");
        lines = listLines(dialog->logList);
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const std::string& line) { return line.find("TCP切断") != std::string::npos; }),
                  0)
            << testing::PrintToString(lines);
    });
}

TEST_F(MainDialogTest, MessageLineClearsAfterSixDisplayTicks)
{
    run([&] {
        dialog->OnBconnect(); // server application: refused with a message
        const std::string message = "サーバからの接続はできません";
        EXPECT_EQ(text(1012), message);
        tick(1, 5);
        EXPECT_EQ(text(1012), message);
        tick(1);
        EXPECT_EQ(text(1012), "");
        EXPECT_EQ(dialog->messageShown, 0);
        // A new message counts its six ticks afresh.
        dialog->OnBconnect();
        tick(1, 3);
        dialog->OnBconnect();
        tick(1, 5);
        EXPECT_EQ(text(1012), message);
        tick(1);
        EXPECT_EQ(text(1012), "");
    });
}

TEST_F(MainDialogTest, LogListKeepsTwoThousandLinesAndShowsTheNewest)
{
    run([&] {
        // As the hub hands them on from the event log.
        for (int i = 1; i <= 2001; ++i)
            dialog->notifyLogLine(("line " + std::to_string(i)).c_str());
        CListBox& list = dialog->logList;
        ASSERT_EQ(list.GetCount(), 2000);
        std::string first, last;
        list.GetText(0, first);
        list.GetText(1999, last);
        EXPECT_EQ(first, "line 2");
        EXPECT_EQ(last, "line 2001");
        // Scrolled to its end: no later line can come to the top.
        int top = list.GetTopIndex();
        EXPECT_GT(top, 1900);
        list.SetTopIndex(1999);
        EXPECT_EQ(list.GetTopIndex(), top);
    });
}

struct StreamCase {
    const char* name;
    int appMode;
    bool broadcast;
};

class StreamChangeTest : public MainDialogTest, public testing::WithParamInterface<StreamCase> {};

TEST_P(StreamChangeTest, SoundsLocksAndTheOpenBroadcast)
{
    const StreamCase& c = GetParam();
    writeSettings({"SYSTEM/APPMODE=" + std::to_string(c.appMode), "SYSTEM/ENABLEUSER=1"});
    run([&] {
        const UINT openMessage = RegisterWindowMessageA("ZORVANEOPEN");
        attach();
        setContacts("bob, carol");
        sounds.reset();
        sounds = std::make_unique<uitest::SoundRecorder>();
        EXPECT_EQ(text(1024), "手動接続");

        appNotify(1, "STREAMS bob:1");
        appNotify(2, "STREAMS bob:2");
        dialog->notifyStreamChange();
        EXPECT_EQ(soundIds(), std::vector<UINT>{141}) << "once for the first stream";
        EXPECT_EQ(text(1024), "切断");
        for (int id : {1023, 1055, 1003, 1005, 1007, 1009, 1010, 1058})
            EXPECT_FALSE(enabled(id)) << id;
        for (int id : {1115, 1116, 1042, 1044})
            EXPECT_FALSE(shown(id)) << id;
        for (int id = 1122; id <= 1126; ++id)
            EXPECT_EQ(shown(id), c.appMode == 1) << id;
        EXPECT_EQ(uitest::trayIcon(dialog->GetSafeHwnd(), 0).tip, "ZorvaneForTCP\nオンライン");

        pumpUntil([] { return false; }, 100); // the posted broadcast arrives
        bool heard = std::find(skype->registered.begin(), skype->registered.end(), openMessage) !=
                     skype->registered.end();
        EXPECT_EQ(heard, c.broadcast);

        appNotify(1, "STREAMS");
        EXPECT_EQ(soundIds(), std::vector<UINT>{141}) << "a stream is still there";
        appNotify(2, "STREAMS");
        EXPECT_EQ(soundIds(), (std::vector<UINT>{141, 139}));
        EXPECT_EQ(text(1024), "手動接続");
        for (int id : {1023, 1055, 1003, 1005, 1007, 1009, 1010, 1058})
            EXPECT_TRUE(enabled(id)) << id;
        for (int id : {1115, 1116, 1042, 1044})
            EXPECT_EQ(shown(id), c.appMode == 1) << id;
        for (int id = 1122; id <= 1126; ++id)
            EXPECT_FALSE(shown(id)) << id;
        EXPECT_EQ(uitest::trayIcon(dialog->GetSafeHwnd(), 0).tip, "ZorvaneForTCP\nオフライン");
    });
}

INSTANTIATE_TEST_SUITE_P(Modes, StreamChangeTest,
                         testing::Values(StreamCase{"server", 0, false}, StreamCase{"client", 1, true}),
                         [](const testing::TestParamInfo<StreamCase>& p) { return p.param.name; });

struct ConnectCase {
    const char* name;
    int appMode;
    bool stream;       // a stream exists: the button reads 切断
    bool connectable;  // bob is connectable on channel 1
    const char* command; // part of the command sent, or empty for none
    const char* message;
};

class ConnectButtonTest : public MainDialogTest, public testing::WithParamInterface<ConnectCase> {};

TEST_P(ConnectButtonTest, OutcomeAndMessage)
{
    const ConnectCase& c = GetParam();
    writeSettings({"SYSTEM/APPMODE=" + std::to_string(c.appMode), "SYSTEM/ENABLEUSER=1"});
    run([&] {
        attach();
        setContacts("bob");
        if (c.connectable)
            setConnectable(1, "bob");
        if (c.stream)
            appNotify(1, "STREAMS bob:1");
        takeCommands();
        dialog->OnBconnect();
        Strings commands = takeCommands();
        if (c.command[0] == '\0') {
            EXPECT_TRUE(commands.empty()) << testing::PrintToString(commands);
        } else {
            EXPECT_EQ(countOf(commands, c.command), 1u) << testing::PrintToString(commands);
        }
        EXPECT_EQ(text(1012), c.message);
    });
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, ConnectButtonTest,
    testing::Values(
        ConnectCase{"disconnect_server", 0, true, false, "ALTER APPLICATION ZorvaneForHttp000 DISCONNECT bob:1",
                    "bobへのSKYPE STREAM切断操作を行いました"},
        ConnectCase{"disconnect_client", 1, true, true, "ALTER APPLICATION ZorvaneForHttp000 DISCONNECT bob:1",
                    "bobへのSKYPE STREAM切断操作を行いました"},
        ConnectCase{"server_refuses", 0, false, true, "", "サーバからの接続はできません"},
        ConnectCase{"client_connects", 1, false, true, "ALTER APPLICATION ZorvaneForHttp000 CONNECT bob",
                    "bobへのSKYPE STREAM接続操作を行いました"},
        ConnectCase{"client_not_connectable", 1, false, false, "",
                    "現在選択中のユーザbobは接続可能状態ではありません"}),
    [](const testing::TestParamInfo<ConnectCase>& p) { return p.param.name; });

TEST_F(MainDialogTest, AutoConnectFirstQualifyingTickThenEvery601Ticks)
{
    writeSettings({"SYSTEM/APPMODE=1", "CLIENT/AUTOCONNECT=1", "CLIENT/AUTOCONNECTUSER=bob"});
    run([&] {
        tick(2, 5); // not attached: nothing
        attach();
        setContacts("alice, bob");
        tick(2, 5); // bob is not connectable yet
        EXPECT_EQ(countOf(takeCommands(), connectBob), 0u);

        setConnectable(1, "bob");
        takeCommands();
        tick(2);
        EXPECT_EQ(countOf(takeCommands(), connectBob), 1u) << "at the first qualifying tick";
        EXPECT_EQ(text(1012), "bobへのSKYPE STREAM接続操作を行いました");
        EXPECT_EQ(text(1006), "bob");
        tick(2, 300);
        // Not connectable for a while: the countdown stands still.
        setConnectable(1, "");
        tick(2, 1000);
        setConnectable(1, "bob");
        takeCommands();
        tick(2, 300);
        EXPECT_EQ(countOf(takeCommands(), connectBob), 0u);
        tick(2);
        EXPECT_EQ(countOf(takeCommands(), connectBob), 1u) << "601 qualifying ticks later";
        tick(2, 600);
        EXPECT_EQ(countOf(takeCommands(), connectBob), 0u);
        tick(2);
        EXPECT_EQ(countOf(takeCommands(), connectBob), 1u);
    });
}

TEST_F(MainDialogTest, AutoConnectCallsNobodyWhenTheContactIsNotInTheList)
{
    writeSettings({"SYSTEM/APPMODE=1", "CLIENT/AUTOCONNECT=1", "CLIENT/AUTOCONNECTUSER=carol"});
    run([&] {
        attach();
        setContacts("alice, bob");
        setConnectable(1, "alice bob");
        takeCommands();
        tick(2, 700);
        EXPECT_EQ(countOf(takeCommands(), "CONNECT"), 0u);
        EXPECT_EQ(text(1012), "自動接続先carolはコンタクトリストにいません");
        EXPECT_EQ(text(1006), "alice") << "the selection stays";
    });
}

// The contact list keeps whole names: the configured contact is called only
// when its whole name is that of a contact, and then only that contact.
struct AutoConnectNameCase {
    const char* name;
    std::string configured;
    std::string called; // the CONNECT's contact, empty: nobody
};

void PrintTo(const AutoConnectNameCase& c, std::ostream* os) { *os << c.name; }

const std::string name49(49, 'l');
const std::string name60 = name49 + "-longer-60";

class AutoConnectNameTest : public MainDialogTest, public testing::WithParamInterface<AutoConnectNameCase> {};

TEST_P(AutoConnectNameTest, OnlyTheNamedContactIsCalled)
{
    const AutoConnectNameCase& c = GetParam();
    writeSettings({"SYSTEM/APPMODE=1", "CLIENT/AUTOCONNECT=1", "CLIENT/AUTOCONNECTUSER=" + c.configured});
    run([&] {
        attach();
        setContacts("alice, " + name60);
        setConnectable(1, "alice " + name60);
        takeCommands();
        tick(2);
        Strings commands = takeCommands();
        if (c.called.empty()) {
            EXPECT_EQ(countOf(commands, "CONNECT"), 0u) << testing::PrintToString(commands);
            EXPECT_EQ(text(1012).rfind("自動接続先", 0), 0u) << text(1012);
            EXPECT_EQ(text(1006), "alice") << "the selection stays";
        } else {
            EXPECT_EQ(countOf(commands, "ALTER APPLICATION ZorvaneForHttp000 CONNECT " + c.called), 1u)
                << testing::PrintToString(commands);
            for (const std::string& command : commands)
                if (command.find(" CONNECT ") != std::string::npos) {
                    EXPECT_EQ(command.substr(command.find(" CONNECT ") + 9), c.called);
                }
            EXPECT_EQ(text(1006), c.called);
        }
    });
}

INSTANTIATE_TEST_SUITE_P(
    Names, AutoConnectNameTest,
    testing::Values(AutoConnectNameCase{"whole_name_over_49_bytes", name60, name60},
                    AutoConnectNameCase{"other_name_with_the_same_49_bytes", name49 + "-other", ""},
                    AutoConnectNameCase{"start_of_a_longer_name", name49, ""},
                    AutoConnectNameCase{"short_name", "alice", "alice"}),
    [](const testing::TestParamInfo<AutoConnectNameCase>& p) { return p.param.name; });

TEST_F(MainDialogTest, MessagesAreCutToTheirBuffer)
{
    // A contact name of 300 characters, 3 bytes each; the settings file keeps 260 bytes.
    std::string longName;
    for (int i = 0; i < 300; ++i)
        longName += "あ";
    writeSettings({"SYSTEM/APPMODE=1", "CLIENT/AUTOCONNECT=1", "CLIENT/AUTOCONNECTUSER=" + longName});
    run([&] {
        attach();
        setContacts("bob");
        tick(2);
        std::string message = text(1012);
        EXPECT_FALSE(message.empty());
        EXPECT_LE(message.size(), 99u);
        EXPECT_TRUE(wholeUtf8(message));
        EXPECT_EQ(message.rfind("自動接続先あ", 0), 0u) << message;
    });
}

// Names longer than 49 bytes stay whole: two that share their first 49
// bytes are two contacts in the panel, each with its own state.
TEST_F(MainDialogTest, LongContactNamesStayWholeInThePanel)
{
    const std::string first = std::string(55, 'a') + "-one";
    const std::string second = std::string(55, 'a') + "-two";
    writeSettings({"SYSTEM/APPMODE=1"});
    run([&] {
        attach();
        setContacts(first + ", " + second);
        setConnectable(1, second);
        EXPECT_EQ(text(1006), first);
        EXPECT_EQ(text(1064), "オンライン");
        ASSERT_TRUE(uitest::pressButton(*dialog, 1023));
        EXPECT_EQ(text(1006), second);
        EXPECT_EQ(text(1064), "接続可能");
        takeCommands();
        dialog->OnBconnect();
        EXPECT_EQ(countOf(takeCommands(), "ALTER APPLICATION ZorvaneForHttp000 CONNECT " + second), 1u);
    });
}

// Every message that names a contact keeps its whole sentence: a name too
// long for the line is shortened instead ("...").
struct NamedMessageCase {
    const char* name;
    bool autoConnect;
    bool inList;
    bool connectable;
    const char* start;
    const char* end;
};

void PrintTo(const NamedMessageCase& c, std::ostream* os) { *os << c.name; }

class NamedMessageTest : public MainDialogTest, public testing::WithParamInterface<NamedMessageCase> {};

TEST_P(NamedMessageTest, NameIsShortenedNeverTheSentence)
{
    const NamedMessageCase& c = GetParam();
    std::string longName;
    for (int i = 0; i < 40; ++i)
        longName += "あ";
    writeSettings({"SYSTEM/APPMODE=1", "CLIENT/AUTOCONNECT=" + std::string(c.autoConnect ? "1" : "0"),
                   "CLIENT/AUTOCONNECTUSER=" + longName});
    run([&] {
        attach();
        setContacts(c.inList ? longName : "bob");
        if (c.connectable)
            setConnectable(1, c.inList ? longName : "bob");
        if (c.autoConnect)
            tick(2);
        else
            dialog->OnBconnect();
        std::string message = text(1012);
        EXPECT_LE(message.size(), 99u);
        EXPECT_TRUE(wholeUtf8(message));
        EXPECT_EQ(message.rfind(std::string(c.start) + "あ", 0), 0u) << message;
        EXPECT_TRUE(endsWith(message, std::string("...") + c.end)) << message;
    });
}

INSTANTIATE_TEST_SUITE_P(
    Messages, NamedMessageTest,
    testing::Values(NamedMessageCase{"auto_connect_contact_missing", true, false, false, "自動接続先",
                                     "はコンタクトリストにいません"},
                    NamedMessageCase{"auto_connect", true, true, true, "", "へのSKYPE STREAM接続操作を行いました"},
                    NamedMessageCase{"connect_button", false, true, true, "", "へのSKYPE STREAM接続操作を行いました"},
                    NamedMessageCase{"not_connectable", false, true, false, "現在選択中のユーザ",
                                     "は接続可能状態ではありません"}),
    [](const testing::TestParamInfo<NamedMessageCase>& p) { return p.param.name; });

struct SwitchCase {
    const char* name;
    const char* contacts;
    int autoConnect;
    int presses;
    const char* selected;         // contact shown after the presses
    std::vector<UINT> sounds;
};

class ContactSwitchTest : public MainDialogTest, public testing::WithParamInterface<SwitchCase> {};

TEST_P(ContactSwitchTest, SelectionAndSound)
{
    const SwitchCase& c = GetParam();
    writeSettings({"SYSTEM/APPMODE=1", "CLIENT/AUTOCONNECT=" + std::to_string(c.autoConnect),
                   "CLIENT/AUTOCONNECTUSER=nobody"});
    run([&] {
        attach();
        if (c.contacts[0] != '\0')
            setContacts(c.contacts);
        setConnectable(1, "bob");
        sounds.reset();
        sounds = std::make_unique<uitest::SoundRecorder>();
        for (int i = 0; i < c.presses; ++i)
            ASSERT_TRUE(uitest::pressButton(*dialog, 1023));
        EXPECT_EQ(text(1006), c.selected);
        EXPECT_EQ(soundIds(), c.sounds);
        if (c.autoConnect) {
            EXPECT_EQ(text(1012), "自動接続モードです。ユーザの切り替えはできません。");
        }
    });
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ContactSwitchTest,
    testing::Values(SwitchCase{"next_connectable", "alice, bob, carol", 0, 1, "bob", {140}},
                    SwitchCase{"next_not_connectable", "alice, bob, carol", 0, 2, "carol", {140, 142}},
                    SwitchCase{"wraps_to_first", "alice, bob, carol", 0, 3, "alice", {140, 142, 142}},
                    SwitchCase{"empty_list", "", 0, 1, "", {142}},
                    SwitchCase{"refused_in_auto_connect", "alice, bob", 1, 1, "alice", {}}),
    [](const testing::TestParamInfo<SwitchCase>& p) { return p.param.name; });

// The link-status text after a run of attach answers (and a lost link):
// a status outside 0 to 3 keeps the text before it.
struct LinkStatusCase {
    const char* name;
    std::vector<int> attachCodes; // 0 success, 1 pending, 2 refused, 3 not available, 0x8001 API available
    bool lostAfter;               // a command then fails: the link is lost
    const char* text;
};

void PrintTo(const LinkStatusCase& c, std::ostream* os) { *os << c.name; }

class LinkStatusTextTest : public MainDialogTest, public testing::WithParamInterface<LinkStatusCase> {};

TEST_P(LinkStatusTextTest, TextOfTheLastKnownStatus)
{
    const LinkStatusCase& c = GetParam();
    run([&] {
        for (int code : c.attachCodes)
            skype->attach(dialog->hub.skypeCom->ownWindow, code);
        if (c.lostAfter) {
            skype->failNext = 1;
            dialog->hub.skypeCom->sendCommand("GET CURRENTUSERHANDLE");
        }
        EXPECT_EQ(text(1025), c.text);
    });
}

INSTANTIATE_TEST_SUITE_P(
    Runs, LinkStatusTextTest,
    testing::Values(LinkStatusCase{"before_any_answer", {}, false, ""},
                    LinkStatusCase{"not_available_first", {3}, false, ""},
                    LinkStatusCase{"attached", {0}, false, "通信ドライバと接続"},
                    LinkStatusCase{"pending", {1}, false, "通信ドライバと認証中"},
                    LinkStatusCase{"refused", {2}, false, "通信ドライバと切断中"},
                    LinkStatusCase{"pending_then_attached", {1, 0}, false, "通信ドライバと接続"},
                    LinkStatusCase{"not_available_after_attached", {0, 3}, false, "通信ドライバと接続"},
                    LinkStatusCase{"not_available_after_pending", {1, 3}, false, "通信ドライバと認証中"},
                    LinkStatusCase{"not_available_after_refused", {2, 3}, false, "通信ドライバと切断中"},
                    LinkStatusCase{"api_available_after_attached", {0, 0x8001}, false, "通信ドライバと接続"},
                    LinkStatusCase{"lost_after_attached", {0}, true, "通信ドライバと未接続"}),
    [](const testing::TestParamInfo<LinkStatusCase>& p) { return p.param.name; });

// The selected contact and its state text.
struct ContactStateCase {
    const char* name;
    std::vector<std::string> notifications; // after the attach
    int connectableChannel;                 // -1: none
    const char* contact;
    const char* state;
};

void PrintTo(const ContactStateCase& c, std::ostream* os) { *os << c.name; }

class ContactStateTest : public MainDialogTest, public testing::WithParamInterface<ContactStateCase> {};

TEST_P(ContactStateTest, NameAndState)
{
    const ContactStateCase& c = GetParam();
    run([&] {
        attach();
        for (const std::string& n : c.notifications)
            notify(n);
        // A status alone tells the model's listeners nothing: the next
        // CONNECTABLE answer (an empty one where bob is not connectable) does.
        if (c.connectableChannel >= 0)
            setConnectable(c.connectableChannel, "bob");
        else
            setConnectable(1, "");
        EXPECT_EQ(text(1006), c.contact);
        EXPECT_EQ(text(1064), c.state);
    });
}

INSTANTIATE_TEST_SUITE_P(
    States, ContactStateTest,
    testing::Values(ContactStateCase{"no_contacts", {}, -1, "", ""},
                    ContactStateCase{"offline", {"USERS bob", "USER bob ONLINESTATUS OFFLINE"}, -1, "bob", "オフライン"},
                    ContactStateCase{"unknown_is_offline", {"USERS bob", "USER bob ONLINESTATUS UNKNOWN"}, -1, "bob",
                                     "オフライン"},
                    ContactStateCase{"online", {"USERS bob", "USER bob ONLINESTATUS ONLINE"}, -1, "bob", "オンライン"},
                    ContactStateCase{"away_is_online", {"USERS bob", "USER bob ONLINESTATUS AWAY"}, -1, "bob",
                                     "オンライン"},
                    ContactStateCase{"online_connectable", {"USERS bob", "USER bob ONLINESTATUS ONLINE"}, 1, "bob",
                                     "接続可能"},
                    ContactStateCase{"connectable_on_the_ftp_channel", {"USERS bob", "USER bob ONLINESTATUS ONLINE"}, 0,
                                     "bob", "接続可能"},
                    ContactStateCase{"offline_again",
                                     {"USERS bob", "USER bob ONLINESTATUS ONLINE", "USER bob ONLINESTATUS OFFLINE"},
                                     -1, "bob", "オフライン"}),
    [](const testing::TestParamInfo<ContactStateCase>& p) { return p.param.name; });

// The traffic text of a channel, bytes of the last second in kilobytes.
struct TrafficCase {
    const char* name;
    int appMode;
    int channel;
    double sent;
    double received;
    const char* text; // nullptr: the static keeps its text
};

void PrintTo(const TrafficCase& c, std::ostream* os) { *os << c.name; }

class TrafficTextTest : public MainDialogTest, public testing::WithParamInterface<TrafficCase> {};

TEST_P(TrafficTextTest, KilobytesPerSecond)
{
    const TrafficCase& c = GetParam();
    writeSettings({"SYSTEM/APPMODE=" + std::to_string(c.appMode)});
    run([&] {
        std::string before = text(1122 + c.channel);
        Strings others;
        for (int id = 1122; id <= 1126; ++id)
            others.push_back(text(id));
        dialog->notifyTraffic(c.channel, c.sent, c.received);
        EXPECT_EQ(text(1122 + c.channel), c.text ? c.text : before);
        for (int id = 1122; id <= 1126; ++id)
            if (id != 1122 + c.channel) {
                EXPECT_EQ(text(id), others[static_cast<size_t>(id - 1122)]) << id;
            }
    });
}

INSTANTIATE_TEST_SUITE_P(
    Figures, TrafficTextTest,
    testing::Values(TrafficCase{"client_sent", 1, 1, 1500, 0, "S:1.5,R:0.0 [KB/S]"},
                    TrafficCase{"client_received_ftp", 1, 0, 0, 2048, "S:0.0,R:2.0 [KB/S]"},
                    TrafficCase{"client_both_last_channel", 1, 4, 10240, 123456, "S:10.2,R:123.5 [KB/S]"},
                    TrafficCase{"client_nothing", 1, 2, 0, 0, "S:0.0,R:0.0 [KB/S]"},
                    TrafficCase{"server_changes_nothing", 0, 1, 1500, 0, nullptr}),
    [](const testing::TestParamInfo<TrafficCase>& p) { return p.param.name; });
