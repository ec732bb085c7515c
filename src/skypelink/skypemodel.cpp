#include "skypelink/skypemodel.h"

#include "foundation/textutil.h"
#include "platform/trace.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kTokenSize = 1024;
bool startsWith(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

} // namespace

QK_SKYPEMODEL* QK_SKYPEMODEL::instance = nullptr;

QK_SKYPEMODEL* QK_SKYPEMODEL::getInstance()
{
    if (instance == nullptr) {
        instance = new QK_SKYPEMODEL();
        instance->initModel();
    }
    return instance;
}

QK_SKYPEMODEL::QK_SKYPEMODEL()
    : tag{}, linkStatus(LINK_NOT_ATTACHED), onlineStatus(CONTACT_OFFLINE), selectedIndex(0)
{
    std::memcpy(tag, "QK_SKYPEMODEL", sizeof "QK_SKYPEMODEL");
}

QK_SKYPEMODEL::~QK_SKYPEMODEL()
{
    userList.clear();
    listeners.clear();
    if (instance == this)
        instance = nullptr;
}

void QK_SKYPEMODEL::setStartingValues()
{
    linkStatus = LINK_NOT_ATTACHED;
    onlineStatus = CONTACT_OFFLINE;
    currentUser.clear();
    selectedIndex = 0;
    userList.clear();
}

void QK_SKYPEMODEL::initModel()
{
    setStartingValues();
    QK_SKYPECOM::getInstance()->addUser(this);
}

void QK_SKYPEMODEL::resetModel()
{
    setStartingValues();
    notifyListeners();
}

void QK_SKYPEMODEL::notifyListeners()
{
    for (size_t i = 0; i < listeners.size(); ++i)
        listeners[i]->notifyModelChange();
}

void QK_SKYPEMODEL::addListener(MODELLISTENER* listener)
{
    listeners.push_back(listener);
}

void QK_SKYPEMODEL::appendUser(const char* name)
{
    UserEntry entry;
    entry.name = name;
    entry.status = CONTACT_OFFLINE;
    userList.push_back(entry);
}

void QK_SKYPEMODEL::notifyConnectStatsuChange(int status)
{
    linkStatus = status;
    if (status == LINK_ATTACHED)
        QK_SKYPECOM::getInstance()->sendCommand("SEARCH FRIENDS");
}

void QK_SKYPEMODEL::notifyCurrentUser(const char* text)
{
    char token[kTokenSize];
    nextToken(text, token, sizeof token, nullptr);
    currentUser = token;
    trace("QK_SKYPEMODEL::notifyCurrentUser(%s)\n", text);
}

void QK_SKYPEMODEL::notifyCurrentUserOnlineStatus(const char* text)
{
    char token[kTokenSize];
    nextToken(text, token, sizeof token, nullptr);
    bool offline = startsWith(token, "OFFLINE") || startsWith(token, "UNKNOWN") ||
                   startsWith(token, "LOGEDOUT");
    onlineStatus = offline ? CONTACT_OFFLINE : CONTACT_ONLINE;
    trace("QK_SKYPEMODEL::notifyCurrentUserOnlineStatus(%s)\n", text);
}

void QK_SKYPEMODEL::notifyUsers(const char* text)
{
    userList.clear();
    char token[kTokenSize];
    const char* rest = text;
    do {
        rest = nextToken(rest, token, sizeof token, ",");
        appendUser(token);
    } while (rest != nullptr);
    selectedIndex = 0;
    notifyListeners();
    queryOnlineStatus();
}

void QK_SKYPEMODEL::queryOnlineStatus()
{
    // A failed send empties the list (the link reports 0, the hub resets the
    // model) while this loop runs: the length is read before every command.
    for (size_t i = 0; i < userList.size(); ++i) {
        std::string command = "GET USER " + userList[i].name + " ONLINESTATUS";
        QK_SKYPECOM::getInstance()->sendCommand(command.c_str());
    }
    QK_SKYPECOM::getInstance()->sendCommand("GET CURRENTUSERHANDLE");
}

void QK_SKYPEMODEL::notifyUser(const char* text)
{
    char name[kTokenSize];
    char property[kTokenSize];
    char value[kTokenSize];
    const char* rest = nextToken(text, name, sizeof name, " ");
    if (rest == nullptr)
        return;
    rest = nextToken(rest, property, sizeof property, nullptr);
    if (rest == nullptr)
        return;
    nextToken(rest, value, sizeof value, nullptr);

    if (startsWith(property, "ONLINESTATUS")) {
        ContactStatus status =
            startsWith(value, "OFFLINE") || startsWith(value, "UNKNOWN") ? CONTACT_OFFLINE : CONTACT_ONLINE;
        if (currentUser == name)
            return;   // the own account is not a contact
        for (UserEntry& entry : userList) {
            if (entry.name == name) {
                entry.status = status;
                break;
            }
        }
    } else if (startsWith(property, "BUDDYSTATUS")) {
        if (value[0] == '3' && containsUser(name) == 0)
            appendUser(name);
    }
}

void QK_SKYPEMODEL::setConnectable(int channel, char* list)
{
    if (channel < 0 || channel >= USERENTRY_CHANNELS) {
        trace("QK_SKYPEMODEL::setConnectable() channel %d out of range\n", channel);
        return;
    }
    for (UserEntry& entry : userList)
        entry.connectable[channel] = 0;
    char token[kTokenSize];
    const char* rest = list;
    while (rest != nullptr) {
        rest = nextToken(rest, token, sizeof token, " ");
        for (UserEntry& entry : userList) {
            if (entry.name == token)
                entry.connectable[channel] = 1;
        }
    }
    notifyListeners();
}

void QK_SKYPEMODEL::selectUser(const char* name)
{
    for (size_t i = 0; i < userList.size(); ++i) {
        if (userList[i].name == name)
            selectedIndex = static_cast<int32_t>(i);
    }
    notifyListeners();
}

int QK_SKYPEMODEL::containsUser(const char* name)
{
    for (const UserEntry& entry : userList) {
        if (entry.name == name)
            return 1;
    }
    return 0;
}
