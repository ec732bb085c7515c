#pragma once
// The contact model: the Skype contact list with online status and per-channel
// connectability, the selected contact, and the own account's name and status.
// It fills itself from the Skype link's notifications.
#include "skypelink/skypecom.h"

#include <cstdint>
#include <string>
#include <vector>

// 1 offline (also Skype's "UNKNOWN"), 2 online.
using ContactStatus = int32_t;
constexpr ContactStatus CONTACT_OFFLINE = 1;
constexpr ContactStatus CONTACT_ONLINE = 2;

constexpr int USERENTRY_CHANNELS = 5;     // one connectable flag per channel 0-4

// One contact. The name is the whole name the Skype link gave (a token of
// its texts, so at most 1023 bytes).
struct UserEntry {
    std::string name;
    ContactStatus status = CONTACT_OFFLINE;
    int32_t connectable[USERENTRY_CHANNELS] = {};   // 1: connectable on that channel
};

// A listener of the model, told when the list, the flags or the selection change.
class MODELLISTENER {
public:
    virtual void notifyModelChange() {}

protected:
    MODELLISTENER() = default;
    MODELLISTENER(const MODELLISTENER&) = default;
    MODELLISTENER& operator=(const MODELLISTENER&) = default;
    ~MODELLISTENER() = default;   // the model never owns its listeners
};

class QK_SKYPEMODEL final : public QK_SKYPECOMUSER {
public:
    // The one model of the process, created on first use (it registers itself
    // with the Skype link). The owner deletes it; the destructor clears `instance`.
    static QK_SKYPEMODEL* getInstance();
    static QK_SKYPEMODEL* instance;

    ~QK_SKYPEMODEL();
    QK_SKYPEMODEL(const QK_SKYPEMODEL&) = delete;
    QK_SKYPEMODEL& operator=(const QK_SKYPEMODEL&) = delete;

    // Starting values, and registration with the link (once, by the construction).
    void initModel();
    // Starting values again, then every listener is told.
    void resetModel();

    void notifyConnectStatsuChange(int status) override;
    void notifyCurrentUser(const char* text) override;
    void notifyCurrentUserOnlineStatus(const char* text) override;
    void notifyUsers(const char* text) override;
    void notifyUser(const char* text) override;

    // Sets channel `channel`'s flags from a blank-separated list of names.
    void setConnectable(int channel, char* list);
    // Selects the (last) contact whose name equals `name`; listeners are told.
    void selectUser(const char* name);
    // 1 when some contact has this name, else 0.
    int containsUser(const char* name);
    // "GET USER %s ONLINESTATUS" for every contact, then "GET CURRENTUSERHANDLE".
    void queryOnlineStatus();
    void addListener(MODELLISTENER* listener);

    char tag[14];
    LinkStatus linkStatus;
    ContactStatus onlineStatus;
    std::string currentUser;
    int32_t selectedIndex;   // meaningful only while userList is not empty
    std::vector<UserEntry> userList;
    std::vector<MODELLISTENER*> listeners;

private:
    QK_SKYPEMODEL();
    void setStartingValues();
    void notifyListeners();
    void appendUser(const char* name);
};
