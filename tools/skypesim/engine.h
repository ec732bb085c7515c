#pragma once
// The Skype client's inner working: one signed-in user, the applications its
// API client created, the streams of those applications, the texts waiting to
// be read and the texts on their way, and the command interpreter.
//
// The engine knows neither windows nor sockets. It talks to the outside
// through EngineHost; no host call ever calls back into the engine, so the
// engine may call the host at any point of its work.
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace skypesim {

// A client window (the API client), as the platform's window handle value.
using ClientId = std::uint64_t;

enum class AttachMode { Success, Pending, Refuse, Unavailable };

// Attach codes of "SkypeControlAPIAttach".
constexpr int kAttachSuccess = 0;
constexpr int kAttachPending = 1;
constexpr int kAttachRefused = 2;
constexpr int kAttachNotAvailable = 3;

class EngineHost {
public:
    // A reply or notification for the client window; it must reach the
    // window after the command being handled (if any) has returned, and in
    // the order of these calls (attach messages included).
    virtual void clientText(ClientId window, std::string text) = 0;
    // The attach message with a code, in the same order as the texts.
    virtual void attachMessage(ClientId window, int code) = 0;
    // One message to a contact whose link is up.
    virtual void peerSend(const std::string& peer, std::string message) = 0;
    // Go online (dial and accept contacts) or offline (drop every link).
    virtual void setNetworkOnline(bool online) = 0;
    // Monotonic milliseconds, and a request to call Engine::processDue at or
    // after the given time.
    virtual std::int64_t nowMs() = 0;
    virtual void wakeAt(std::int64_t ms) = 0;

    virtual ~EngineHost() = default;
};

struct EngineConfig {
    std::string user;
    std::vector<std::string> contacts;   // in list order
    AttachMode attach = AttachMode::Success;
    int pendingDelayMs = 1000;           // Pending: time until the success code
    bool startOnline = true;
};

struct EngineStats {
    std::uint64_t commands = 0;          // taken commands
    std::uint64_t refused = 0;           // commands not taken (result 0)
    std::uint64_t writes = 0;
    std::uint64_t reads = 0;
    std::uint64_t textsReceived = 0;     // texts that arrived from peers
};

// RECEIVED is repeated after this long when a notification with entries got
// no READ (a lost notification must not stall a stream).
constexpr std::int64_t kReceivedRepeatMs = 1000;

class Engine {
public:
    Engine(EngineConfig config, EngineHost& host);

    // --- the client (window side) ---
    // The discover broadcast from a client window.
    void discover(ClientId window);
    // One command from a window; returns the send result: 1 taken, 0 not
    // taken (not the attached client, or told to fail).
    int command(ClientId from, std::string_view text);
    // The client window no longer exists: its applications and streams end.
    void clientGone();
    bool attached() const { return attached_; }
    ClientId client() const { return client_; }
    ClientId lastDiscoverer() const { return lastDiscoverer_; }

    // --- the network ---
    void linkUp(const std::string& peer);
    void linkDown(const std::string& peer);
    void peerMessage(const std::string& peer, std::string_view message);

    // --- timers ---
    void processDue();

    // --- control ---
    void setOnline(bool online);
    bool online() const { return online_; }
    void failNext(int count) { failNext_ = count > 0 ? count : 0; }
    int failPending() const { return failNext_; }
    void setSendingDelay(int ms) { sendingDelayMs_ = ms > 0 ? ms : 0; }
    // A notification text for the attached client; false when none is.
    bool notify(std::string text);
    // The attach message with any code for the last window that discovered;
    // code 0 makes it the attached client. False when no window discovered.
    bool forceAttach(int code);
    // Adds a contact (and tells the client "USER <name> BUDDYSTATUS 3").
    // False when the name is already a contact or is the own name.
    bool addContact(const std::string& name);
    bool isContact(const std::string& name) const;

    const std::string& user() const { return config_.user; }
    const EngineStats& stats() const { return stats_; }
    // "app:user:id" per open stream, blank-separated, in stream-id order.
    std::string streamsReport() const;
    // "name:online" or "name:offline" per contact, blank-separated.
    std::string contactsReport() const;
    // Applications created by the client, blank-separated.
    std::string applicationsReport() const;

private:
    enum class StreamState { Connecting, Open };
    struct Text {
        std::uint64_t arrival;             // order of arrival over all streams
        std::string data;
    };
    struct Stream {
        int id = 0;
        std::string app;
        std::string peer;
        int remoteId = -1;                 // the peer's id of the stream
        StreamState state = StreamState::Connecting;
        std::deque<Text> waiting;          // arrived, not read yet
        std::int64_t waitingBytes = 0;
        std::int64_t inFlightBytes = 0;    // written, not yet at the peer
        int inFlightTexts = 0;
    };
    struct Application {
        bool receivedOutstanding = false;  // RECEIVED with entries sent, no READ since
        std::int64_t receivedSentAt = 0;
    };
    struct Contact {
        std::string name;
        bool up = false;
        std::set<std::string> apps;        // applications the contact's client created
    };
    struct DelayedAck {
        std::int64_t due;
        int streamId;
        std::int64_t bytes;
    };

    // Command handlers: each sends its reply first, then what follows from it.
    void handle(std::string_view text);
    void handleGet(std::string_view text);
    void handleAlter(std::string_view text);
    void alterWrite(const std::string& app, Stream& stream, std::string_view data);
    void alterRead(const std::string& app, Stream& stream);

    void toClient(std::string text);
    void attachSucceeded(ClientId window);
    void detachClient();
    void deleteApplication(const std::string& app);
    void announceApplications();
    std::string appsMessage() const;

    Contact* findContact(const std::string& name);
    const Contact* findContact(const std::string& name) const;
    Stream* findStream(const std::string& app, const std::string& peer, int id);
    int newStreamId() { return nextStreamId_++; }

    void notifyStreams(const std::string& app);
    void notifySending(const std::string& app);
    void notifyReceived(const std::string& app);
    std::string streamsList(const std::string& app) const;
    std::string sendingList(const std::string& app) const;
    std::string receivedList(const std::string& app) const;
    // Removes a stream; sends CLOSE to the peer when told to; tells the client.
    void closeStream(int id, bool tellPeer);
    void applyAck(int id, std::int64_t bytes);
    void peerOpen(const std::string& peer, const std::string& app, int theirId);
    void scheduleWake();

    EngineConfig config_;
    EngineHost& host_;
    std::vector<Contact> contacts_;
    std::map<std::string, Application> apps_;   // created by the client
    std::map<int, Stream> streams_;             // by local id
    std::deque<DelayedAck> delayedAcks_;
    int nextStreamId_ = 1;
    std::uint64_t nextArrival_ = 1;

    bool online_ = true;
    bool attached_ = false;
    ClientId client_ = 0;
    ClientId lastDiscoverer_ = 0;
    ClientId pendingWindow_ = 0;
    std::int64_t pendingDue_ = -1;
    int failNext_ = 0;
    int sendingDelayMs_ = 0;
    EngineStats stats_;
};

// Names of users and applications: 1 to 64 characters of letters, digits,
// '.', '-' and '_'.
bool validName(std::string_view name);

} // namespace skypesim
