#pragma once
// Test doubles for the Skype link: recording users and listeners. The fake
// Skype API window, pumpUntil and the shown message boxes come from the
// shared test support.
#include "foundation/eventlog.h"
#include "skypelink/skypecom.h"
#include "skypelink/skypemodel.h"
#include "support/fakeskype.h"
#include "support/testmain.h"

#include <ostream>
#include <string>
#include <vector>

// One call that a recording user or listener received.
struct Call {
    std::string who;
    std::string slot;
    std::string text;
    bool operator==(const Call&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Call& call);

// A user of the link that records every slot into a shared list. With
// `resetsModelOnLoss` it plays the hub's part on a lost link: it resets the
// contact model when told status 0.
class RecordingUser final : public QK_SKYPECOMUSER {
public:
    RecordingUser(std::string name, std::vector<Call>& log) : who(std::move(name)), calls(log) {}

    void notifyConnectStatsuChange(int status) override;
    void notifyCurrentUser(const char* text) override;
    void notifyCurrentUserOnlineStatus(const char* text) override;
    void notifyUsers(const char* text) override;
    void notifyUser(const char* text) override;
    void notifyA2Adata(const char* text) override;

    bool resetsModelOnLoss = false;
    std::vector<int> statuses;

private:
    std::string who;
    std::vector<Call>& calls;
};

class RecordingModelListener final : public MODELLISTENER {
public:
    void notifyModelChange() override { ++changes; }
    int changes = 0;
};

class RecordingLogListener final : public QK_EVENTLOGLISTENER {
public:
    void notifyLogLine(const char* line) override { lines.emplace_back(line); }
    std::vector<std::string> lines;
};
