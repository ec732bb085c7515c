#include "recorders.h"

#include "skypelink/skypemodel.h"

#include <ostream>

std::ostream& operator<<(std::ostream& out, const Call& call)
{
    return out << "{" << call.who << " " << call.slot << " \"" << call.text << "\"}";
}

void RecordingUser::notifyConnectStatsuChange(int status)
{
    statuses.push_back(status);
    calls.push_back({who, "status", std::to_string(status)});
    if (resetsModelOnLoss && status == 0 && QK_SKYPEMODEL::instance != nullptr)
        QK_SKYPEMODEL::instance->resetModel();
}

void RecordingUser::notifyCurrentUser(const char* text) { calls.push_back({who, "currentUser", text}); }

void RecordingUser::notifyCurrentUserOnlineStatus(const char* text)
{
    calls.push_back({who, "userStatus", text});
}

void RecordingUser::notifyUsers(const char* text) { calls.push_back({who, "users", text}); }

void RecordingUser::notifyUser(const char* text) { calls.push_back({who, "user", text}); }

void RecordingUser::notifyA2Adata(const char* text) { calls.push_back({who, "a2a", text}); }
