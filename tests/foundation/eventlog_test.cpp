#include "foundation/eventlog.h"

#include "platform/ini.h"
#include "platform/localtime.h"
#include "support/tempdirectory.h"
#include "support/testpropaty.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Recorder : QK_EVENTLOGLISTENER {
    std::vector<std::string>* journal;
    std::string name;
    Recorder(std::vector<std::string>* j, std::string n) : journal(j), name(std::move(n)) {}
    void notifyLogLine(const char* line) override { journal->push_back(name + "|" + line); }
};

// "%4d/%02d/%02d %02d:%02d:%02d:" with a four-digit year.
bool hasTimeStamp(const std::string& line)
{
    const std::string shape = "dddd/dd/dd dd:dd:dd:";
    if (line.size() < shape.size())
        return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        bool digit = line[i] >= '0' && line[i] <= '9';
        if (shape[i] == 'd' ? !digit : line[i] != shape[i])
            return false;
    }
    return true;
}

class EventLog : public InTempDirectory {
protected:
    void SetUp() override
    {
        InTempDirectory::SetUp();
        settings = std::make_unique<TestPropaty>();
    }
    void TearDown() override
    {
        log.reset();
        settings.reset();
        InTempDirectory::TearDown();
    }

    // A log with one listener, enabled as the main dialog enables it.
    QK_EVENTLOG* open(bool enable = true)
    {
        log = std::make_unique<QK_EVENTLOG>();
        log->addListener(&listener);
        log->enabled = enable ? 1 : 0;
        return log.get();
    }
    int ini(const char* key)
    {
        return static_cast<int>(GetPrivateProfileIntA("LOG", key, -99, settings->iniPath.c_str()));
    }
    // Strips the recorder's name and the time stamp, leaving "KIND:text".
    static std::string body(const std::string& entry)
    {
        std::string line = entry.substr(entry.find('|') + 1);
        return line.size() > 20 ? line.substr(20) : line;
    }

    std::unique_ptr<TestPropaty> settings;
    std::unique_ptr<QK_EVENTLOG> log;
    std::vector<std::string> heard;
    Recorder listener {&heard, "L"};
};

TEST_F(EventLog, NothingHappensBeforeItIsEnabled)
{
    open(false)->writeLog(LOG_EV, "early");
    EXPECT_TRUE(heard.empty());
    EXPECT_FALSE(std::filesystem::exists("LOG0.log"));
    EXPECT_FALSE(std::filesystem::exists(settings->iniPath));
}

TEST_F(EventLog, LineFormatKindsAndListenerOrder)
{
    std::vector<std::string> journal;
    Recorder first(&journal, "1"), second(&journal, "2");
    log = std::make_unique<QK_EVENTLOG>();
    EXPECT_STREQ(log->tag, "QK_EVENTLOG");
    log->addListener(&first);
    log->addListener(&second);
    log->enabled = 1;

    SYSTEMTIME before;
    GetLocalTime(&before);
    log->writeLog(LOG_ER, "エラー");
    log->writeLog(1, "one");
    log->writeLog(LOG_EV, "event");
    log->writeLog(3, "three");
    log->writeLog(5, "dropped");
    log->writeLog(-1, "minus");

    ASSERT_EQ(journal.size(), 10u);
    const char* bodies[] = {"ER:エラー", ":one", "EV:event", ":three", ":minus"};
    std::string file;
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(journal[2 * i].substr(0, 2), "1|");
        EXPECT_EQ(journal[2 * i + 1].substr(0, 2), "2|") << "registration order";
        EXPECT_EQ(journal[2 * i].substr(2), journal[2 * i + 1].substr(2));
        EXPECT_TRUE(hasTimeStamp(journal[2 * i].substr(2))) << journal[2 * i];
        EXPECT_EQ(body(journal[2 * i]), bodies[i]);
        file += journal[2 * i].substr(2) + "\r\n";
    }
    char date[32];
    std::snprintf(date, sizeof date, "%4d/%02d/%02d %02d:", before.wYear, before.wMonth, before.wDay,
                  before.wHour);
    EXPECT_EQ(journal[0].substr(2, 14), date) << "local time of writing (unless the hour turned)";
    EXPECT_EQ(readFile("LOG0.log"), file);
    EXPECT_EQ(ini("INDEX"), 0);
    EXPECT_EQ(ini("COUNT"), 5);
}

TEST_F(EventLog, The2000thLineSwitchesToTheOtherFile)
{
    writeFile(settings->iniPath, "[SYSTEM]\nAPPMODE=1\n[LOG]\nCOUNT=1999\nINDEX=0\n");
    writeFile("LOG0.log", "older\r\n");
    writeFile("LOG1.log", "oldest\r\n");
    open()->writeLog(LOG_EV, "a");
    EXPECT_EQ(log->fileIndex, 1);
    EXPECT_EQ(log->lineCount, 0);
    EXPECT_EQ(ini("INDEX"), 1);
    EXPECT_EQ(ini("COUNT"), 0);
    EXPECT_EQ(readFile("LOG0.log").substr(0, 7), "older\r\n");
    EXPECT_NE(readFile("LOG0.log").find(":EV:a\r\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists("LOG1.log")) << "deleted at the switch";
    EXPECT_EQ(GetPrivateProfileIntA("SYSTEM", "APPMODE", 0, settings->iniPath.c_str()), 1u);

    // A restart right after the switch (the program ended without its closing
    // line) replays LOG0.log, then misses LOG1.log.
    log->enabled = 0;
    log.reset();
    heard.clear();
    open();
    EXPECT_EQ(log->fileIndex, 1);
    log->restore(0);
    testing::internal::CaptureStdout();
    log->restore(1);
    std::string traced = testing::internal::GetCapturedStdout();
    EXPECT_NE(traced.find("LOG FILE RESTORE OPEN ERROR! name="), std::string::npos) << traced;
    EXPECT_NE(traced.find("LOG1.log"), std::string::npos);
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[0], "L|older\r\n");
    EXPECT_EQ(body(heard[1]), "EV:a\r\n");

    log->writeLog(LOG_EV, "b");
    EXPECT_EQ(body(readFile("LOG1.log")), "EV:b\r\n") << "a fresh LOG1.log";
    EXPECT_EQ(ini("COUNT"), 1);
}

TEST_F(EventLog, IndexFromTheFileIsUsedAsItStands)
{
    writeFile(settings->iniPath, "[LOG]\nINDEX=5\nCOUNT=1998\n");
    open();
    log->writeLog(LOG_EV, "x");
    log->writeLog(LOG_EV, "y");
    EXPECT_EQ(ini("INDEX"), 6);
    EXPECT_EQ(ini("COUNT"), 0);
    log->writeLog(LOG_EV, "z");
    std::string five = readFile("LOG5.log");
    EXPECT_NE(five.find(":EV:x\r\n"), std::string::npos);
    EXPECT_NE(five.find(":EV:y\r\n"), std::string::npos);
    EXPECT_EQ(body(readFile("LOG6.log")), "EV:z\r\n");
    EXPECT_EQ(ini("INDEX"), 6);
    EXPECT_EQ(ini("COUNT"), 1);
    EXPECT_FALSE(std::filesystem::exists("LOG0.log"));
}

TEST_F(EventLog, UnopenableFileStillReachesListenersButIsNotCounted)
{
    writeFile(settings->iniPath, "[LOG]\nINDEX=0\nCOUNT=7\n");
    std::filesystem::create_directory("LOG0.log"); // cannot be opened for appending
    open();
    testing::internal::CaptureStdout();
    log->writeLog(LOG_ER, "lost");
    std::string traced = testing::internal::GetCapturedStdout();
    EXPECT_NE(traced.find("LOG FILE OPEN ERROR! file="), std::string::npos) << traced;
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(body(heard[0]), "ER:lost");
    EXPECT_EQ(log->lineCount, 7);
    EXPECT_EQ(ini("COUNT"), 7);
}

TEST_F(EventLog, ReplayComesInPiecesOf1023Bytes)
{
    std::string longLine(1500, 'x');
    writeFile("LOG0.log", longLine + "\r\nshort\r\nno end");
    open(false)->restore(0);
    ASSERT_EQ(heard.size(), 4u);
    EXPECT_EQ(heard[0], "L|" + std::string(1023, 'x'));
    EXPECT_EQ(heard[1], "L|" + std::string(477, 'x') + "\r\n");
    EXPECT_EQ(heard[2], "L|short\r\n");
    EXPECT_EQ(heard[3], "L|no end");
    EXPECT_FALSE(std::filesystem::exists(settings->iniPath)) << "replay counts nothing";
}

TEST_F(EventLog, ClosingLineIsStoredButReachesNoListener)
{
    open()->writeLog(LOG_EV, "start");
    log.reset();
    ASSERT_EQ(heard.size(), 1u);
    std::string file = readFile("LOG0.log");
    EXPECT_NE(file.find(":EV:start\r\n"), std::string::npos);
    EXPECT_TRUE(file.ends_with(":EV:END ZorvaneForTcp -log close-\r\n")) << file;
    EXPECT_EQ(ini("COUNT"), 2);
}

// A listener that logs from inside its call does not lock the log up.
TEST_F(EventLog, ListenerMayWriteALineItself)
{
    struct Echo : QK_EVENTLOGLISTENER {
        QK_EVENTLOG* log = nullptr;
        int calls = 0;
        void notifyLogLine(const char*) override
        {
            if (calls++ == 0)
                log->writeLog(LOG_EV, "echo");
        }
    } echo;
    open();
    echo.log = log.get();
    log->addListener(&echo);
    log->writeLog(LOG_EV, "first");
    EXPECT_EQ(echo.calls, 2);
    EXPECT_EQ(ini("COUNT"), 2);
}

// Lines kept while the log is off follow the first line stored once it is
// on; only so many wait.
TEST_F(EventLog, KeptLinesFollowTheFirstStoredLineAndAreBounded)
{
    QK_EVENTLOG* l = open(false);
    for (int i = 0; i < 40; ++i)
        l->writeLogWhenEnabled(LOG_ER, ("kept " + std::to_string(i)).c_str());
    l->writeLog(LOG_EV, "dropped while off");
    EXPECT_TRUE(heard.empty());
    EXPECT_FALSE(std::filesystem::exists("LOG0.log"));
    l->enabled = 1;
    l->writeLog(LOG_EV, "first");
    ASSERT_EQ(heard.size(), 33u);
    EXPECT_EQ(body(heard[0]), "EV:first");
    EXPECT_EQ(body(heard[1]), "ER:kept 0");
    EXPECT_EQ(body(heard[32]), "ER:kept 31");
    EXPECT_EQ(ini("COUNT"), 33);
    l->writeLogWhenEnabled(LOG_EV, "now");
    l->writeLog(LOG_EV, "next");
    ASSERT_EQ(heard.size(), 35u);
    EXPECT_EQ(body(heard[33]), "EV:now");
    EXPECT_EQ(body(heard[34]), "EV:next");
}

TEST_F(EventLog, SingletonIsMadeOnFirstUse)
{
    ASSERT_EQ(QK_EVENTLOG::instance, nullptr);
    QK_EVENTLOG* a = QK_EVENTLOG::getInstance();
    EXPECT_EQ(QK_EVENTLOG::getInstance(), a);
    EXPECT_EQ(a->enabled, 0);
    EXPECT_EQ(a->level, 3);
    EXPECT_EQ(a->linesPerFile, 2000);
    delete QK_EVENTLOG::instance;
    QK_EVENTLOG::instance = nullptr;
}

} // namespace
