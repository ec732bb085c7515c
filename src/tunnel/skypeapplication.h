#pragma once
// One application of Skype's application-to-application interface, and so one
// channel: its name, its ApplicationState, the CONNECTABLE poll counter, and
// the streams that Skype's STREAMS notifications list for it.
#include "tunnel/skypestream.h"

#include <cstdint>
#include <vector>

// 0 not created, 1 created (or every stream gone), 2 a stream was created.
using ApplicationState = int32_t;
constexpr ApplicationState APPLICATION_NOT_CREATED = 0;
constexpr ApplicationState APPLICATION_CREATED = 1;
constexpr ApplicationState APPLICATION_STREAM_CREATED = 2;

constexpr size_t APPLICATION_NAME_SIZE = 100;
constexpr size_t APPLICATION_COMMAND_SIZE = 1024;
constexpr size_t APPLICATION_TOKEN_SIZE = 256;
// Streams one application holds at most; a STREAMS list naming more has the
// rest refused. Far above the contacts that connect to one channel, and it
// keeps what one contact can make the server hold to a known amount.
constexpr size_t APPLICATION_MAX_STREAMS = 64;

// How an application reports to its listener (the application model).
class QK_SKYPEAPPLICATIONLISTENER {
public:
    // The set of streams of the application changed.
    virtual void notifyStreamChange() = 0;
    // Payload bytes that the channel's streams sent and received in the last second.
    virtual void notifyTraffic(int channel, double sent, double received) = 0;

protected:
    QK_SKYPEAPPLICATIONLISTENER() = default;
    QK_SKYPEAPPLICATIONLISTENER(const QK_SKYPEAPPLICATIONLISTENER&) = default;
    QK_SKYPEAPPLICATIONLISTENER& operator=(const QK_SKYPEAPPLICATIONLISTENER&) = default;
    ~QK_SKYPEAPPLICATIONLISTENER() = default;   // never deleted through this interface
};

// One parsed entry of a STREAMS, SENDING or RECEIVED list.
struct StreamEntry {
    char user[STREAM_USER_SIZE];
    int32_t id;
    int32_t count;
};

// Event-log label of a channel ("ＦＴＰ", "設定１" ... "設定４"); "" out of range.
const char* channelLabel(int channel);

class QK_SKYPEAPPLICATION {
public:
    QK_SKYPEAPPLICATION();
    // Deletes every stream with its TCP manager, without Skype commands or log lines.
    ~QK_SKYPEAPPLICATION();
    QK_SKYPEAPPLICATION(const QK_SKYPEAPPLICATION&) = delete;
    QK_SKYPEAPPLICATION& operator=(const QK_SKYPEAPPLICATION&) = delete;

    // An application notification: the text behind "APPLICATION <name> ".
    void application(const char* text);
    // A reply to one of our ALTER commands: the text behind "ALTER APPLICATION <name> ".
    void replyAlterApplication(const char* text);
    // Sends "ALTER APPLICATION %s CONNECT %s"; the send result.
    int connectPeer(const char* contact);
    // 1 when a stream with this peer is in the list.
    int isConnected(const char* contact);
    QK_SKYPESTREAM* createStream(const char* peer, int id);
    // Sends "ALTER APPLICATION %s DISCONNECT %s:%d"; the send result.
    int disconnectStream(const char* peer, int id);
    void addListener(QK_SKYPEAPPLICATIONLISTENER* listener);
    void notifyStreamChange();

    // Status lamps: 1 at the first stream that meets the test.
    int isMainLinkWaiting();
    int isDataLinkWaiting();
    int isMainLinkConnected();
    int isDataLinkConnected();
    int isPeerMainLinkConnected();
    int isPeerDataLinkConnected();

    char tag[20];
    int32_t index;
    char name[APPLICATION_NAME_SIZE];
    char createCommand[APPLICATION_COMMAND_SIZE];
    char connectTarget[APPLICATION_NAME_SIZE];
    char commandText[APPLICATION_COMMAND_SIZE];
    ApplicationState state;
    int32_t pollTicks;
    std::vector<QK_SKYPESTREAM*> streams;   // owned; a slot may be null
    std::vector<QK_SKYPEAPPLICATIONLISTENER*> listeners;

private:
    // `text` is the whole notification text (for its traces), `list` the part behind the keyword.
    void handleStreams(const char* text, const char* list);
    void closeAllStreams();
    void handleSending(const char* text, const char* list);
    void handleReceived(const char* text, const char* list);
    // closeAll on the stream's manager, delete both, log the closing line.
    void closeStream(size_t slot);
    // The stream of this peer and id, or null.
    QK_SKYPESTREAM* findStream(const StreamEntry& entry);
    bool acceptsContact(const char* peer);
    void logStream(int kind, const char* format, const char* peer, int id);
    int sendApplicationCommand(const char* command);
    int socketStateQuery(bool mainLink, int state);
};
