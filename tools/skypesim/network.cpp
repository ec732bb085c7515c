#include "network.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstring>

namespace skypesim {

namespace {
constexpr int kHandshakeMs = 5000;
constexpr const char* kProtocol = "1";

std::vector<std::string_view> words(std::string_view s)
{
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && s[i] == ' ')
            ++i;
        size_t start = i;
        while (i < s.size() && s[i] != ' ')
            ++i;
        if (i > start)
            out.push_back(s.substr(start, i - start));
    }
    return out;
}
} // namespace

struct PeerNetwork::Link {
    QTcpSocket* socket = nullptr;
    bool outgoing = false;
    bool upState = false;
    bool dead = false;
    std::string peer;            // the dialled contact, or the name an incoming link gave
    bool haveHeader = false;
    std::uint32_t need = 0;
    std::string frame;
    QDeadlineTimer handshakeDeadline{kHandshakeMs};
};

PeerNetwork::PeerNetwork(std::string self, std::vector<ContactAddress> contacts, Callbacks callbacks)
    : self_(std::move(self)), callbacks_(std::move(callbacks))
{
    for (auto& c : contacts)
        addContact(c);
    server_ = new QTcpServer(this);
    QObject::connect(server_, &QTcpServer::newConnection, this, [this] { accept(); });
    redial_.setInterval(kRedialMs);
    QObject::connect(&redial_, &QTimer::timeout, this, [this] { dialDue(); });
}

PeerNetwork::~PeerNetwork()
{
    redial_.stop();
    for (auto& l : links_) {
        if (l->socket != nullptr) {
            QObject::disconnect(l->socket, nullptr, this, nullptr);
            l->socket->abort();
            delete l->socket;
            l->socket = nullptr;
        }
    }
    QObject::disconnect(server_, nullptr, this, nullptr);
}

void PeerNetwork::addContact(const ContactAddress& contact)
{
    if (contact.name == self_ || peers_.count(contact.name) != 0)
        return;
    Peer p;
    p.address = contact;
    peers_.emplace(contact.name, std::move(p));
}

PeerNetwork::Peer* PeerNetwork::findPeer(const std::string& name)
{
    auto it = peers_.find(name);
    return it == peers_.end() ? nullptr : &it->second;
}

bool PeerNetwork::listen(const std::string& host, std::uint16_t port, std::string& error)
{
    QHostAddress address;
    if (host == "localhost") {
        address = QHostAddress(QHostAddress::LocalHost);
    } else if (host == "*" || host.empty()) {
        address = QHostAddress(QHostAddress::Any);
    } else if (!address.setAddress(QString::fromStdString(host))) {
        error = "not an IP address: " + host;
        return false;
    }
    if (!server_->listen(address, port)) {
        error = server_->errorString().toStdString();
        return false;
    }
    return true;
}

std::string PeerNetwork::listenAddress() const
{
    QHostAddress a = server_->serverAddress();
    std::string host = a.toString().toStdString();
    if (a.protocol() == QAbstractSocket::IPv6Protocol)
        host = "[" + host + "]";
    return host + ":" + std::to_string(server_->serverPort());
}

std::uint16_t PeerNetwork::listenPort() const { return server_->serverPort(); }

void PeerNetwork::start(bool online)
{
    online_ = online;
    started_ = true;
    redial_.start();
    dialDue();
}

// ---------------------------------------------------------------- links

void PeerNetwork::dialDue()
{
    // Handshakes that hang are given up.
    for (auto& l : links_) {
        if (!l->dead && !l->upState && l->handshakeDeadline.hasExpired()) {
            if (Peer* p = findPeer(l->peer); p != nullptr && p->dialing == l.get())
                p->dialing = nullptr;
            drop(l.get());
        }
    }
    if (!online_ || !started_)
        return;
    for (auto& [name, peer] : peers_) {
        if (!peer.cut && !peer.address.host.empty() && peer.up == nullptr && peer.dialing == nullptr)
            dial(peer);
    }
}

void PeerNetwork::dial(Peer& peer)
{
    auto link = std::make_unique<Link>();
    Link* l = link.get();
    l->outgoing = true;
    l->peer = peer.address.name;
    l->socket = new QTcpSocket(this);
    links_.push_back(std::move(link));
    peer.dialing = l;
    QTcpSocket* s = l->socket;
    QObject::connect(s, &QTcpSocket::connected, this, [this, l] {
        l->socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        l->socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
        std::string hello = std::string("HELLO ") + kProtocol + " " + self_ + " " + l->peer;
        sendFrame(l, hello);
    });
    QObject::connect(s, &QTcpSocket::readyRead, this, [this, l] { onReadable(l); });
    QObject::connect(s, &QTcpSocket::disconnected, this, [this, l] { onGone(l); });
    QObject::connect(s, &QTcpSocket::errorOccurred, this, [this, l] { onGone(l); });
    s->connectToHost(QString::fromStdString(peer.address.host), peer.address.port);
}

void PeerNetwork::accept()
{
    while (QTcpSocket* s = server_->nextPendingConnection()) {
        auto link = std::make_unique<Link>();
        Link* l = link.get();
        l->socket = s;
        links_.push_back(std::move(link));
        s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        s->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
        QObject::connect(s, &QTcpSocket::readyRead, this, [this, l] { onReadable(l); });
        QObject::connect(s, &QTcpSocket::disconnected, this, [this, l] { onGone(l); });
        QObject::connect(s, &QTcpSocket::errorOccurred, this, [this, l] { onGone(l); });
        if (s->bytesAvailable() > 0)
            onReadable(l);
    }
}

void PeerNetwork::onReadable(Link* l)
{
    while (!l->dead && l->socket != nullptr) {
        qint64 available = l->socket->bytesAvailable();
        if (!l->haveHeader) {
            if (available < 4)
                return;
            unsigned char h[4];
            l->socket->read(reinterpret_cast<char*>(h), 4);
            l->need = (std::uint32_t(h[0]) << 24) | (std::uint32_t(h[1]) << 16) |
                      (std::uint32_t(h[2]) << 8) | std::uint32_t(h[3]);
            if (l->need > kMaxFrame) {
                onGone(l);
                return;
            }
            // Before the handshake only short frames are taken: nobody who
            // has not named himself makes this end hold a large frame.
            if (!l->upState && l->need > kMaxHandshakeFrame) {
                if (l->outgoing) {
                    onGone(l);
                } else {
                    rejectLink(l, "protocol");
                }
                return;
            }
            l->haveHeader = true;
            continue;
        }
        if (available < static_cast<qint64>(l->need))
            return;
        l->frame.resize(l->need);
        if (l->need > 0)
            l->socket->read(l->frame.data(), l->need);
        l->haveHeader = false;
        onFrame(l, l->frame);
    }
}

void PeerNetwork::onFrame(Link* l, std::string_view frame)
{
    if (l->upState) {
        std::string peer = l->peer;
        if (callbacks_.message)
            callbacks_.message(peer, frame);
        return;
    }
    handshake(l, frame);
}

void PeerNetwork::handshake(Link* l, std::string_view frame)
{
    std::vector<std::string_view> w = words(frame);
    if (l->outgoing) {
        Peer* p = findPeer(l->peer);
        if (p != nullptr && p->dialing == l && w.size() == 2 && w[0] == "WELCOME" && w[1] == l->peer) {
            established(l, *p);
            return;
        }
        // REJECT (offline, cut, duplicate, unknown) or nonsense: try later.
        if (p != nullptr && p->dialing == l)
            p->dialing = nullptr;
        drop(l);
        return;
    }
    auto reject = [this, l](const char* reason) { rejectLink(l, reason); };
    if (w.size() != 4 || w[0] != "HELLO" || w[1] != kProtocol || w[3] != self_) {
        reject("protocol");
        return;
    }
    std::string from(w[2]);
    Peer* p = findPeer(from);
    if (p == nullptr) {
        reject("unknown");
        return;
    }
    if (!online_) {
        reject("offline");
        return;
    }
    if (p->cut) {
        reject("cut");
        return;
    }
    // Both ends may dial at once; the link dialled by the smaller name stays.
    bool ownDial = p->dialing != nullptr || (p->up != nullptr && p->up->outgoing);
    if (self_ < from && ownDial) {
        reject("duplicate");
        return;
    }
    if (p->dialing != nullptr) {
        drop(p->dialing);
        p->dialing = nullptr;
    }
    l->peer = from;
    sendFrame(l, "WELCOME " + self_);
    if (p->up != nullptr) {
        // The peer dials again, so its end of the old link is gone.
        drop(p->up);
        p->up = nullptr;
        if (callbacks_.down)
            callbacks_.down(from);
    }
    established(l, *p);
}

void PeerNetwork::rejectLink(Link* l, const char* reason)
{
    sendFrame(l, std::string("REJECT ") + reason);
    QTcpSocket* s = l->socket;
    QObject::disconnect(s, nullptr, this, nullptr);
    QObject::connect(s, &QAbstractSocket::disconnected, s, &QObject::deleteLater);
    s->disconnectFromHost();
    l->socket = nullptr;
    l->dead = true;
    purge();
}

void PeerNetwork::established(Link* l, Peer& peer)
{
    if (peer.dialing == l)
        peer.dialing = nullptr;
    peer.up = l;
    l->upState = true;
    if (callbacks_.up)
        callbacks_.up(peer.address.name);
}

void PeerNetwork::onGone(Link* l)
{
    if (l->dead)
        return;
    bool wasUp = l->upState;
    std::string name = l->peer;
    if (Peer* p = findPeer(name)) {
        if (p->up == l)
            p->up = nullptr;
        if (p->dialing == l)
            p->dialing = nullptr;
    }
    drop(l);
    if (wasUp && callbacks_.down)
        callbacks_.down(name);
}

void PeerNetwork::drop(Link* l)
{
    if (l->dead)
        return;
    l->dead = true;
    l->upState = false;
    if (l->socket != nullptr) {
        QObject::disconnect(l->socket, nullptr, this, nullptr);
        l->socket->abort();
        l->socket->deleteLater();
        l->socket = nullptr;
    }
    purge();
}

void PeerNetwork::purge()
{
    if (purgeQueued_)
        return;
    purgeQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        purgeQueued_ = false;
        links_.remove_if([](const std::unique_ptr<Link>& l) { return l->dead; });
    });
}

void PeerNetwork::sendFrame(Link* l, std::string_view bytes)
{
    if (l->socket == nullptr || l->dead)
        return;
    auto n = static_cast<std::uint32_t>(bytes.size());
    char h[4] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                 static_cast<char>(n)};
    l->socket->write(h, 4);
    if (n > 0)
        l->socket->write(bytes.data(), static_cast<qint64>(n));
    // Out now, not when the loop next looks at the socket: the client's
    // notifications sent before that (each a round trip) would hold back
    // a text and, at the peer, the ACK that ends its SENDING.
    l->socket->flush();
}

// ---------------------------------------------------------------- public

void PeerNetwork::send(const std::string& peer, std::string_view message)
{
    Peer* p = findPeer(peer);
    if (p == nullptr || p->up == nullptr)
        return;
    sendFrame(p->up, message);
}

bool PeerNetwork::isUp(const std::string& peer) const
{
    auto it = peers_.find(peer);
    return it != peers_.end() && it->second.up != nullptr;
}

void PeerNetwork::setOnline(bool online)
{
    online_ = online;
    if (!online) {
        for (auto& [name, p] : peers_) {
            p.up = nullptr;
            p.dialing = nullptr;
        }
        for (auto& l : links_)
            drop(l.get());
    } else {
        dialDue();
    }
}

bool PeerNetwork::cut(const std::string& peer)
{
    Peer* p = findPeer(peer);
    if (p == nullptr)
        return false;
    p->cut = true;
    Link* up = p->up;
    Link* dialing = p->dialing;
    p->up = nullptr;
    p->dialing = nullptr;
    if (up != nullptr)
        drop(up);
    if (dialing != nullptr)
        drop(dialing);
    // Incoming links of this peer still in their handshake go as well.
    for (auto& l : links_) {
        if (!l->dead && !l->upState && l->peer == peer)
            drop(l.get());
    }
    return true;
}

bool PeerNetwork::restore(const std::string& peer)
{
    Peer* p = findPeer(peer);
    if (p == nullptr)
        return false;
    p->cut = false;
    dialDue();
    return true;
}

bool PeerNetwork::isCut(const std::string& peer) const
{
    auto it = peers_.find(peer);
    return it != peers_.end() && it->second.cut;
}

} // namespace skypesim
