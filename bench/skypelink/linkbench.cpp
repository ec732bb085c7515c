// Measures, against a real skypesim on a private desktop:
// - attach time: from startDiscovery to the link's report of status 1;
// - command round trip: from sendCommand("GET CURRENTUSERHANDLE") to the
//   CURRENTUSERHANDLE notification reaching the link's user (and, apart, how
//   long sendCommand itself blocks).
// Usage: skypelink_bench [round trips (default 2000)] [attaches (default 30)]
#include "foundation/eventlog.h"
#include "platform/trace.h"
#include "platform/winuser.h"
#include "skypelink/skypecom.h"
#include "skypesim_control.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

struct TimingUser final : public QK_SKYPECOMUSER {
    void notifyConnectStatsuChange(int status) override
    {
        if (status == 1 && !attached) {
            attached = true;
            attachedAt = Clock::now();
        }
    }
    void notifyCurrentUser(const char*) override
    {
        ++replies;
        replyAt = Clock::now();
    }
    bool attached = false;
    Clock::time_point attachedAt;
    int replies = 0;
    Clock::time_point replyAt;
};

bool pump(const std::function<bool()>& done, int ms)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (Clock::now() >= deadline)
            return false;
        PumpMessages(20, done);
    }
    return true;
}

void report(const char* what, std::vector<double> us)
{
    std::sort(us.begin(), us.end());
    auto at = [&](double q) { return us[static_cast<size_t>(q * static_cast<double>(us.size() - 1))]; };
    std::printf("%-34s n=%-5zu median %8.1f us  p10 %8.1f  p90 %8.1f  min %8.1f  max %8.1f\n", what,
                us.size(), at(0.5), at(0.1), at(0.9), us.front(), us.back());
}

} // namespace

int main(int argc, char** argv)
{
    const int roundTrips = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int attaches = argc > 2 ? std::atoi(argv[2]) : 30;
    if (roundTrips < 1 || attaches < 1) {
        std::fprintf(stderr, "usage: %s [round trips >= 1] [attaches >= 1]\n", argv[0]);
        return 2;
    }

    char pattern[] = "/tmp/skypelink-bench-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (dir == nullptr)
        return 1;
    const std::string desktop = std::string(dir) + "/desktop";
    setenv("ZORVANE_DESKTOP", desktop.c_str(), 1);
    if (chdir(dir) != 0)
        return 1;
    setTraceEnabled(false);
    InitPlatform(argc, argv);
    setMessageBoxHandler([](HWND, const char*, const char*, UINT) { return IDOK; });

    skypesim::SkypesimProcess alice;
    if (!alice.start(SKYPESIM_EXE, {"--user", "alice", "--contact", "bob", "--desktop", desktop}, dir)) {
        std::fprintf(stderr, "skypesim did not start (see %s)\n", alice.logPath().c_str());
        return 1;
    }

    std::vector<double> attachUs;
    std::vector<double> roundTripUs;
    std::vector<double> sendUs;
    int failures = 0;
    int repliedInsideSend = 0;   // replies handled while sendCommand still waited
    for (int round = 0; round < attaches; ++round) {
        TimingUser user;
        QK_SKYPECOM* link = QK_SKYPECOM::getInstance();
        link->addUser(&user);
        const auto start = Clock::now();
        link->startDiscovery(nullptr);
        if (!pump([&] { return user.attached; }, 10000)) {
            std::fprintf(stderr, "no attach in round %d\n", round);
            return 1;
        }
        attachUs.push_back(micros(user.attachedAt - start));

        if (round == 0) {
            // skypesim tells an attached client its handle unasked: let that
            // and the other attach notifications arrive before counting.
            pump([&] { return user.replies > 0; }, 2000);
            pump([] { return false; }, 200);
            for (int i = 0; i < roundTrips; ++i) {
                const int before = user.replies;
                const auto t0 = Clock::now();
                if (link->sendCommand("GET CURRENTUSERHANDLE") == 0) {
                    ++failures;
                    break;
                }
                const auto t1 = Clock::now();
                if (!pump([&] { return user.replies > before; }, 5000)) {
                    ++failures;
                    break;
                }
                if (user.replyAt < t1)
                    ++repliedInsideSend;
                sendUs.push_back(micros(t1 - t0));
                roundTripUs.push_back(micros(user.replyAt - t0));
            }
        }
        delete link;
        pump([] { return false; }, 50);   // let the old window's last messages go
    }
    delete QK_EVENTLOG::instance;
    QK_EVENTLOG::instance = nullptr;
    alice.quit();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);

    std::printf("Skype link against skypesim (one process each, Unix-domain sockets)\n");
    report("attach (startDiscovery -> status 1)", attachUs);
    if (!sendUs.empty()) {
        report("sendCommand blocking (SendMessage)", sendUs);
        report("round trip (sendCommand -> reply)", roundTripUs);
    }
    std::printf("replies handled before sendCommand returned: %d\n", repliedInsideSend);
    if (failures != 0) {
        std::printf("failed commands: %d\n", failures);
        return 1;
    }
    return 0;
}
