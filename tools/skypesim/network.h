#pragma once
// The network between skypesims: one TCP link per pair of contacts. Each
// skypesim listens on an address and dials the contacts whose address it
// knows; a link is up once both ends have named themselves, and then carries
// the engine's messages as frames (4-byte big-endian length, then the bytes).
//
// Callbacks come only from the event loop (socket events, timers), never
// from within a call of this class.
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QTcpServer;
class QTcpSocket;

namespace skypesim {

struct ContactAddress {
    std::string name;
    std::string host;        // empty: this end only accepts the contact's link
    std::uint16_t port = 0;
};

// Largest frame taken from a peer.
constexpr std::uint32_t kMaxFrame = 64u * 1024u * 1024u;
// Largest frame taken before a link's handshake is done (HELLO, WELCOME, REJECT).
constexpr std::uint32_t kMaxHandshakeFrame = 1024;
// Pause between attempts to dial a contact.
constexpr int kRedialMs = 300;

class PeerNetwork : public QObject {
public:
    struct Callbacks {
        std::function<void(const std::string& peer)> up;
        std::function<void(const std::string& peer)> down;
        std::function<void(const std::string& peer, std::string_view message)> message;
    };

    PeerNetwork(std::string self, std::vector<ContactAddress> contacts, Callbacks callbacks);
    ~PeerNetwork() override;

    // Listens on host:port (port 0: any free port). False with a reason.
    bool listen(const std::string& host, std::uint16_t port, std::string& error);
    // The address actually listened on, "host:port".
    std::string listenAddress() const;
    std::uint16_t listenPort() const;
    // Starts dialing (when online).
    void start(bool online);

    // Sends one message over the contact's link; dropped when it is not up.
    void send(const std::string& peer, std::string_view message);
    bool isUp(const std::string& peer) const;

    // Offline drops every link and takes none; online dials again. Links
    // dropped here are not reported through `down`.
    void setOnline(bool online);
    // Drops the link to the contact and keeps it down until restore(); not
    // reported through `down`. False for a name that is not a contact.
    bool cut(const std::string& peer);
    bool restore(const std::string& peer);
    bool isCut(const std::string& peer) const;
    void addContact(const ContactAddress& contact);

private:
    struct Link;
    struct Peer {
        ContactAddress address;
        bool cut = false;
        Link* up = nullptr;       // the established link
        Link* dialing = nullptr;  // our own link while its handshake runs
    };

    void dialDue();
    void dial(Peer& peer);
    void accept();
    void onReadable(Link* link);
    void onFrame(Link* link, std::string_view frame);
    void onGone(Link* link);
    void handshake(Link* link, std::string_view frame);
    void established(Link* link, Peer& peer);
    // Tells an incoming link why it is not taken, then closes it.
    void rejectLink(Link* link, const char* reason);
    void sendFrame(Link* link, std::string_view bytes);
    // Forgets a link without reporting it.
    void drop(Link* link);
    void purge();
    Peer* findPeer(const std::string& name);

    std::string self_;
    std::map<std::string, Peer> peers_;
    Callbacks callbacks_;
    QTcpServer* server_ = nullptr;
    std::list<std::unique_ptr<Link>> links_;
    QTimer redial_;
    bool online_ = true;
    bool started_ = false;
    bool purgeQueued_ = false;
};

} // namespace skypesim
