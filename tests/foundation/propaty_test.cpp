#include "foundation/propaty.h"

#include "platform/fileapi.h"
#include "platform/ini.h"
#include "support/tempdirectory.h"
#include "support/testpropaty.h"

#include <gtest/gtest.h>

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

using Settings = InTempDirectory;

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
    a.localPort[3] = 65536;
    a.localPort[4] = 0;
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
    EXPECT_EQ(b.localPort[2], a.localPort[2]);
    EXPECT_EQ(b.localPort[3], a.localPort[3]) << "out of range passes unchanged";
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

} // namespace
