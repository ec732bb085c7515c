#include "foundation/propaty.h"

#include "foundation/eventlog.h"
#include "platform/fileapi.h"
#include "platform/ini.h"
#include "support/tempdirectory.h"
#include "support/testpropaty.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

// Settings whose values start as markers no load() gives, so that a test sees
// what load() set.
class MarkedPropaty : public TestPropaty {
public:
    MarkedPropaty() { markUnset(); }
};

// A load that meets a bad port makes the event log; it goes with the test.
class Settings : public InTempDirectory {
protected:
    void TearDown() override
    {
        delete QK_EVENTLOG::instance;
        QK_EVENTLOG::instance = nullptr;
        InTempDirectory::TearDown();
    }
};

TEST_F(Settings, BaseTakesTheWorkingDirectoryAndPublishesItself)
{
    {
        MarkedPropaty p;
        EXPECT_STREQ(p.iniFileName, "ZorvaneForTcp.ini");
        EXPECT_EQ(std::filesystem::path(p.directory), std::filesystem::current_path());
        EXPECT_EQ(p.iniPath, p.directory + "/ZorvaneForTcp.ini");
        EXPECT_EQ(thePropaty, &p);
    }
    EXPECT_EQ(thePropaty, nullptr) << "no dangling pointer once the object is gone";
}

TEST_F(Settings, RootDirectoryGivesTwoSlashes)
{
    std::filesystem::current_path("/");
    MarkedPropaty p;
    EXPECT_EQ(p.directory, "/");
    EXPECT_EQ(p.iniPath, "//ZorvaneForTcp.ini");
}

TEST_F(Settings, DirectoryLongerThanMaxPathStillWorks)
{
    std::filesystem::path deep = std::filesystem::current_path();
    for (int i = 0; i < 8; ++i)
        deep /= std::string(50, static_cast<char>('a' + i));
    std::filesystem::create_directories(deep);
    std::filesystem::current_path(deep);
    MarkedPropaty p;
    EXPECT_GT(p.directory.size(), 400u);
    EXPECT_EQ(std::filesystem::path(p.directory), deep);
    p.load();
    p.save();
    EXPECT_TRUE(std::filesystem::exists(deep / "ZorvaneForTcp.ini"));
}

TEST_F(Settings, PlatformPathQueries)
{
    std::string cwd = std::filesystem::current_path().string();
    char small[4] = {'k', 'e', 'e', 'p'};
    EXPECT_EQ(GetCurrentDirectoryA(sizeof small, small), cwd.size() + 1) << "size needed";
    EXPECT_EQ(std::string(small, 4), "keep") << "a short buffer is left alone";
    std::vector<char> exact(cwd.size() + 1);
    EXPECT_EQ(GetCurrentDirectoryA(static_cast<DWORD>(exact.size()), exact.data()), cwd.size());
    EXPECT_EQ(std::string(exact.data()), cwd);

    EXPECT_TRUE(SetCurrentDirectoryA("/"));
    EXPECT_EQ(std::filesystem::current_path(), "/");
    EXPECT_FALSE(SetCurrentDirectoryA(""));
    EXPECT_FALSE(SetCurrentDirectoryA("/no/such/dir"));
    EXPECT_EQ(std::filesystem::current_path(), "/");

    char module[MAX_PATH];
    setModuleFileName("/opt/zorvane/zorvanefortcp");
    EXPECT_EQ(GetModuleFileNameA(nullptr, module, MAX_PATH), 26u);
    EXPECT_STREQ(module, "/opt/zorvane/zorvanefortcp");
    EXPECT_EQ(GetModuleFileNameA(nullptr, module, 5), 5u) << "cut";
    EXPECT_STREQ(module, "/opt");
    // A bare name (found on PATH) is no path: the running executable counts.
    setModuleFileName("zorvanefortcp");
    ASSERT_GT(GetModuleFileNameA(nullptr, module, MAX_PATH), 0u);
    EXPECT_EQ(std::filesystem::path(module).filename(), "foundation_propaty_test");
}

TEST_F(Settings, LocalPortByChannel)
{
    MarkedPropaty p;
    p.localPort[0] = 1021;
    p.localPort[1] = 1080;
    p.localPort[2] = 3401;
    p.localPort[3] = 6900;
    p.localPort[4] = 10023;
    const int expected[] = {1021, 1080, 3401, 6900, 10023};
    for (int ch = 0; ch < 5; ++ch)
        EXPECT_EQ(p.getLocalPort(ch), expected[ch]) << ch;
    EXPECT_EQ(p.getLocalPort(5), -1);
    EXPECT_EQ(p.getLocalPort(-1), -1);
}

TEST_F(Settings, DefaultsWithoutAFile)
{
    MarkedPropaty p;
    p.load();
    EXPECT_EQ(p.appMode, 0);
    EXPECT_EQ(p.acceptMode, 0);
    for (int ch = 0; ch < 5; ++ch) {
        EXPECT_EQ(p.enabled[ch], 1);
        EXPECT_EQ(p.forwardHost[ch], "127.0.0.1");
    }
    EXPECT_EQ(p.startHidden, 0);
    EXPECT_EQ(p.soundMode, 1);
    const int ports[] = {21, 80, 2401, 5900, 9023};
    for (int ch = 0; ch < 5; ++ch) {
        EXPECT_EQ(p.forwardPort[ch], ports[ch]);
        EXPECT_EQ(p.getLocalPort(ch), ports[ch]);
    }
    EXPECT_EQ(p.autoConnect, 0);
    EXPECT_EQ(p.autoConnectUser, "");
    EXPECT_FALSE(std::filesystem::exists(p.iniPath)) << "load writes nothing";
}

TEST_F(Settings, SaveAfterDefaultsWritesAll26Keys)
{
    MarkedPropaty p;
    p.load();
    p.save();
    EXPECT_EQ(readFile(p.iniPath),
              "[SYSTEM]\nAPPMODE=0\nENABLEUSER=0\nENABLEPORT1=1\nENABLEPORT2=1\nENABLEPORT3=1\n"
              "ENABLEPORT4=1\nENABLEPORT5=1\nOPENWINDOW=0\nSOUNDMODE=1\n"
              "[SERVER]\nFOWERDHOST1=127.0.0.1\nFOWERDHOST2=127.0.0.1\nFOWERDHOST3=127.0.0.1\n"
              "FOWERDHOST4=127.0.0.1\nFOWERDHOST5=127.0.0.1\nFOWERDPORT1=21\nFOWERDPORT2=80\n"
              "FOWERDPORT3=2401\nFOWERDPORT4=5900\nFOWERDPORT5=9023\n"
              "[CLIENT]\nFTPPORT=21\nHTTPPORT=80\nCVSPORT=2401\nGENPORT1=5900\nGENPORT2=9023\n"
              "AUTOCONNECT=0\nAUTOCONNECTUSER=\n");
}

TEST_F(Settings, SaveAndLoadRoundTripEveryKey)
{
    MarkedPropaty a;
    a.appMode = 1;
    a.acceptMode = 1;
    for (int ch = 0; ch < 5; ++ch) {
        a.enabled[ch] = ch % 2;
        a.forwardHost[ch] = "host" + std::to_string(ch) + ".example";
        a.forwardPort[ch] = 10000 + ch;
    }
    a.forwardHost[3] = "サーバー.local";
    a.startHidden = 1;
    a.soundMode = 0;
    a.localPort[0] = 2121;
    a.localPort[1] = 8080;
    a.localPort[2] = -1;
    a.localPort[3] = 65535;
    a.localPort[4] = 1;
    a.autoConnect = 1;
    a.autoConnectUser = "山田.taro";
    a.save();
    EXPECT_NE(readFile(a.iniPath).find("CVSPORT=-1\n"), std::string::npos)
        << "a negative number keeps its minus sign";

    MarkedPropaty b;
    b.load();
    EXPECT_EQ(b.appMode, a.appMode);
    EXPECT_EQ(b.acceptMode, a.acceptMode);
    for (int ch = 0; ch < 5; ++ch) {
        EXPECT_EQ(b.enabled[ch], a.enabled[ch]) << ch;
        EXPECT_EQ(b.forwardHost[ch], a.forwardHost[ch]) << ch;
        EXPECT_EQ(b.forwardPort[ch], a.forwardPort[ch]) << ch;
    }
    EXPECT_EQ(b.startHidden, a.startHidden);
    EXPECT_EQ(b.soundMode, a.soundMode);
    EXPECT_EQ(b.localPort[0], a.localPort[0]);
    EXPECT_EQ(b.localPort[1], a.localPort[1]);
    EXPECT_EQ(b.localPort[2], 2401) << "saved as it stands, loaded as the default";
    EXPECT_EQ(b.localPort[3], a.localPort[3]);
    EXPECT_EQ(b.localPort[4], a.localPort[4]);
    EXPECT_EQ(b.autoConnect, a.autoConnect);
    EXPECT_EQ(b.autoConnectUser, a.autoConnectUser);
}

TEST_F(Settings, LongHostLoadsAsItsFirst260Bytes)
{
    std::string host(300, 'h');
    for (size_t i = 0; i < host.size(); ++i)
        host[i] = static_cast<char>('a' + i % 26);
    writeFile("ZorvaneForTcp.ini", "[SERVER]\nFOWERDHOST2=" + host + "\n[SYSTEM]\nAPPMODE=2\n");
    MarkedPropaty p;
    p.load();
    EXPECT_EQ(p.forwardHost[1], host.substr(0, 260));
    EXPECT_EQ(p.forwardHost[0], "127.0.0.1");
    EXPECT_EQ(p.appMode, 2);
}

TEST_F(Settings, SaveLeavesTheLogSectionAndOtherLinesAlone)
{
    writeFile("ZorvaneForTcp.ini",
              "; my settings\n[LOG]\nINDEX=1\nCOUNT=1234\n\n[SYSTEM]\nAPPMODE=1\nEXTRA=keep\n");
    MarkedPropaty p;
    p.load();
    EXPECT_EQ(p.appMode, 1);
    p.save();
    std::string text = readFile(p.iniPath);
    EXPECT_EQ(text.rfind("; my settings\n[LOG]\nINDEX=1\nCOUNT=1234\n\n[SYSTEM]\nAPPMODE=1\n", 0), 0u)
        << text;
    EXPECT_NE(text.find("EXTRA=keep\n"), std::string::npos);
    EXPECT_EQ(GetPrivateProfileIntA("LOG", "COUNT", 0, p.iniPath.c_str()), 1234u);
}

struct LogLines : QK_EVENTLOGLISTENER {
    std::vector<std::string> lines;
    void notifyLogLine(const char* line) override { lines.push_back(line); }
};

const char* const portKeys[10][2] = {
    {"SERVER", "FOWERDPORT1"}, {"SERVER", "FOWERDPORT2"}, {"SERVER", "FOWERDPORT3"},
    {"SERVER", "FOWERDPORT4"}, {"SERVER", "FOWERDPORT5"}, {"CLIENT", "FTPPORT"},
    {"CLIENT", "HTTPPORT"},    {"CLIENT", "CVSPORT"},     {"CLIENT", "GENPORT1"},
    {"CLIENT", "GENPORT2"}};
const int portDefaults[10] = {21, 80, 2401, 5900, 9023, 21, 80, 2401, 5900, 9023};

int loadedPort(MarkedPropaty& p, int key)
{
    return key < 5 ? p.forwardPort[key] : p.localPort[key - 5];
}

// Every port key holds the same text; what each loads as and whether an error
// line names it. The log exists but is off during load, as at start-up, and
// the lines come once it is on, after the first line of the run.
TEST_F(Settings, PortOutsideItsRangeLoadsAsTheDefaultWithAnErrorLine)
{
    struct Case {
        const char* text;
        int value; // -1: the key's default
        bool logged;
        bool localTakes = false; // a local port takes it, a forward port does not
    };
    const Case cases[] = {
        {"0", -1, true, true},    {"1", 1, false},          {"65535", 65535, false},
        {"65536", -1, true},      {"70000", -1, true},      {"-1", -1, true},
        {"http", -1, true},       {"-2147483648", -1, true}, {"99999999999", -1, true},
        {"8080", 8080, false},    {"", -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("value \"") + c.text + "\"");
        std::filesystem::remove("ZorvaneForTcp.ini");
        std::filesystem::remove("LOG0.log");
        for (const auto& key : portKeys)
            ASSERT_TRUE(WritePrivateProfileStringA(key[0], key[1], c.text, "ZorvaneForTcp.ini"));
        MarkedPropaty p;
        LogLines heard;
        QK_EVENTLOG* log = QK_EVENTLOG::getInstance();
        log->addListener(&heard);
        p.load();
        for (int k = 0; k < 10; ++k) {
            bool taken = c.value >= 0 || (c.localTakes && k >= 5);
            EXPECT_EQ(loadedPort(p, k), taken ? std::atoi(c.text) : portDefaults[k]) << portKeys[k][1];
        }
        EXPECT_TRUE(heard.lines.empty());
        EXPECT_FALSE(std::filesystem::exists("LOG0.log")) << "nothing is written while off";

        log->enabled = 1;
        log->writeLog(LOG_EV, "ZorvaneForTCP start");
        ASSERT_FALSE(heard.lines.empty());
        EXPECT_NE(heard.lines[0].find(":EV:ZorvaneForTCP start"), std::string::npos);
        const size_t errors = !c.logged ? 0u : c.localTakes ? 5u : 10u;
        ASSERT_EQ(heard.lines.size(), 1u + errors);
        std::string file = readFile("LOG0.log");
        for (size_t i = 1; i < heard.lines.size(); ++i) {
            const std::string& line = heard.lines[i];
            const char* key = portKeys[i - 1][1];
            EXPECT_NE(line.find(":ER:"), std::string::npos) << line;
            EXPECT_NE(line.find(std::string(key) + "=" + c.text), std::string::npos) << line;
            EXPECT_NE(line.find(std::to_string(portDefaults[i - 1])), std::string::npos) << line;
            EXPECT_NE(file.find(line + "\r\n"), std::string::npos) << "stored as well";
        }
        log->writeLog(LOG_EV, "later");
        EXPECT_EQ(heard.lines.size(), 2u + errors) << "each error is written once";
        delete QK_EVENTLOG::instance;
        QK_EVENTLOG::instance = nullptr;
    }
}

// Without a log at load time the error waits in one made for it.
TEST_F(Settings, PortErrorWaitsForALogMadeAfterLoad)
{
    writeFile("ZorvaneForTcp.ini", "[CLIENT]\nHTTPPORT=70000\n");
    ASSERT_EQ(QK_EVENTLOG::instance, nullptr);
    MarkedPropaty p;
    p.load();
    EXPECT_EQ(p.localPort[1], 80);
    ASSERT_NE(QK_EVENTLOG::instance, nullptr);
    LogLines heard;
    QK_EVENTLOG::getInstance()->addListener(&heard);
    QK_EVENTLOG::instance->enabled = 1;
    QK_EVENTLOG::instance->writeLog(LOG_EV, "start");
    ASSERT_EQ(heard.lines.size(), 2u);
    EXPECT_NE(heard.lines[1].find(":ER:"), std::string::npos);
    EXPECT_NE(heard.lines[1].find("HTTPPORT=70000"), std::string::npos);
    delete QK_EVENTLOG::instance;
    QK_EVENTLOG::instance = nullptr;
}

} // namespace
