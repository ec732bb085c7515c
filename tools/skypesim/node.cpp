#include "node.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <atomic>
#include <charconv>
#include <cstdio>

namespace skypesim {

namespace {

std::atomic<bool> tracingOn{false};

constexpr size_t kTraceCut = 512;
constexpr qint64 kMaxControlLine = 1024 * 1024;

std::string firstWord(const std::string& line, std::string& rest)
{
    size_t sp = line.find(' ');
    if (sp == std::string::npos) {
        rest.clear();
        return line;
    }
    rest = line.substr(sp + 1);
    return line.substr(0, sp);
}

bool parseCount(const std::string& text, long long max, long long& value)
{
    if (text.empty())
        return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= 0 && value <= max;
}

std::string hexWindow(ClientId w)
{
    char b[32];
    std::snprintf(b, sizeof b, "0x%llx", static_cast<unsigned long long>(w));
    return b;
}

EngineConfig engineConfig(const Options& o)
{
    EngineConfig c;
    c.user = o.user;
    for (const auto& contact : o.contacts)
        c.contacts.push_back(contact.name);
    c.attach = o.attach;
    c.pendingDelayMs = o.pendingDelayMs;
    c.startOnline = !o.offline;
    return c;
}

} // namespace

void traceLine(const std::string& user, const char* what, std::string_view text)
{
    if (!tracingOn.load(std::memory_order_relaxed))
        return;
    std::string line = "skypesim[" + user + "] " + what;
    if (!text.empty()) {
        line += ' ';
        if (text.size() > kTraceCut) {
            line.append(text.substr(0, kTraceCut));
            line += "...(" + std::to_string(text.size()) + " chars)";
        } else {
            line.append(text);
        }
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

Node::Node(const Options& options, ClientPort& port)
    : options_(options),
      port_(port),
      engine_(engineConfig(options), *this),
      network_(options.user, options.contacts,
               PeerNetwork::Callbacks{
                   [this](const std::string& peer) {
                       traceLine(options_.user, "link up", peer);
                       engine_.linkUp(peer);
                   },
                   [this](const std::string& peer) {
                       traceLine(options_.user, "link down", peer);
                       engine_.linkDown(peer);
                   },
                   [this](const std::string& peer, std::string_view message) {
                       engine_.peerMessage(peer, message);
                   }}),
      trace_(options.trace)
{
    if (trace_)
        tracingOn.store(true);
    clock_.start();
    wake_.setSingleShot(true);
    wake_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&wake_, &QTimer::timeout, this, [this] {
        wakeDue_ = -1;
        engine_.processDue();
    });
}

Node::~Node()
{
    if (controlServer_ != nullptr) {
        QObject::disconnect(controlServer_, nullptr, this, nullptr);
        controlServer_->close();
    }
}

bool Node::start(std::string& error)
{
    if (!network_.listen(options_.listenHost, options_.listenPort, error)) {
        error = "cannot listen on " + options_.listenHost + ":" + std::to_string(options_.listenPort) +
                ": " + error;
        return false;
    }
    if (!options_.control.empty()) {
        control_ = options_.control;
        QString path = QString::fromStdString(control_);
        QLocalServer::removeServer(path);
        controlServer_ = new QLocalServer(this);
        controlServer_->setSocketOptions(QLocalServer::UserAccessOption);
        if (!controlServer_->listen(path)) {
            error = "cannot open the control channel " + control_ + ": " +
                    controlServer_->errorString().toStdString();
            return false;
        }
        QObject::connect(controlServer_, &QLocalServer::newConnection, this,
                         [this] { onControlConnection(); });
    }
    network_.start(!options_.offline);
    return true;
}

std::string Node::readyLine() const
{
    return "skypesim ready user=" + options_.user + " listen=" + network_.listenAddress() +
           " control=" + (control_.empty() ? "-" : control_) + " window=" + hexWindow(window_);
}

// ---------------------------------------------------------------- EngineHost

void Node::clientText(ClientId window, std::string text) { port_.clientText(window, std::move(text)); }

void Node::attachMessage(ClientId window, int code) { port_.attachMessage(window, code); }

void Node::peerSend(const std::string& peer, std::string message) { network_.send(peer, message); }

void Node::setNetworkOnline(bool online)
{
    traceLine(options_.user, online ? "online" : "offline", "");
    network_.setOnline(online);
}

std::int64_t Node::nowMs() { return clock_.elapsed(); }

void Node::wakeAt(std::int64_t ms)
{
    if (wakeDue_ >= 0 && wakeDue_ <= ms && wake_.isActive())
        return;
    wakeDue_ = ms;
    std::int64_t wait = ms - nowMs();
    wake_.start(static_cast<int>(wait < 0 ? 0 : wait));
}

// ---------------------------------------------------------------- control

void Node::onControlConnection()
{
    while (QLocalSocket* s = controlServer_->nextPendingConnection()) {
        QObject::connect(s, &QLocalSocket::readyRead, this, [this, s] { onControlReadable(s); });
        QObject::connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
        if (s->bytesAvailable() > 0)
            onControlReadable(s);
    }
}

void Node::onControlReadable(QLocalSocket* s)
{
    while (s->canReadLine()) {
        QByteArray raw = s->readLine(kMaxControlLine);
        std::string line = raw.toStdString();
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        traceLine(options_.user, "control", line);
        std::string reply = control(line);
        reply += '\n';
        s->write(reply.data(), static_cast<qint64>(reply.size()));
        s->flush();
        if (line == "quit") {
            s->waitForBytesWritten(500);
            if (quit_)
                quit_();
            return;
        }
    }
    if (s->bytesAvailable() > kMaxControlLine) {
        s->write("ERR line too long\n");
        s->disconnectFromServer();
    }
}

std::string Node::control(const std::string& line)
{
    std::string rest;
    std::string cmd = firstWord(line, rest);
    long long n = 0;
    if (cmd == "ping" && rest.empty())
        return "OK";
    if (cmd == "info" && rest.empty()) {
        std::string apps = engine_.applicationsReport();
        for (char& ch : apps) {
            if (ch == ' ')
                ch = ',';
        }
        return "OK user=" + options_.user + " listen=" + network_.listenAddress() +
               " status=" + (engine_.online() ? "ONLINE" : "OFFLINE") +
               " attached=" + (engine_.attached() ? "1" : "0") +
               " client=" + hexWindow(engine_.client()) + " apps=" + (apps.empty() ? "-" : apps) +
               " window=" + hexWindow(window_);
    }
    if (cmd == "notify") {
        if (rest.empty())
            return "ERR notify needs a text";
        return engine_.notify(rest) ? "OK" : "ERR no client attached";
    }
    if (cmd == "attach") {
        if (!parseCount(rest, 0x7fffffff, n))
            return "ERR attach needs a code (0 or more)";
        return engine_.forceAttach(static_cast<int>(n)) ? "OK" : "ERR no window has called";
    }
    if (cmd == "fail") {
        if (!parseCount(rest, 1000000000, n))
            return "ERR fail needs a count (0 or more)";
        engine_.failNext(static_cast<int>(n));
        return "OK";
    }
    if ((cmd == "offline" || cmd == "online") && rest.empty()) {
        engine_.setOnline(cmd == "online");
        return "OK";
    }
    if (cmd == "cut" || cmd == "restore") {
        if (!engine_.isContact(rest))
            return "ERR unknown contact '" + rest + "'";
        if (cmd == "cut") {
            network_.cut(rest);
            traceLine(options_.user, "link cut", rest);
            engine_.linkDown(rest);
        } else {
            network_.restore(rest);
        }
        return "OK";
    }
    if (cmd == "delay-sending") {
        if (!parseCount(rest, 3600000, n))
            return "ERR delay-sending needs milliseconds (0 to 3600000)";
        engine_.setSendingDelay(static_cast<int>(n));
        return "OK";
    }
    if (cmd == "streams" && rest.empty()) {
        std::string r = engine_.streamsReport();
        return r.empty() ? "OK" : "OK " + r;
    }
    if (cmd == "contacts" && rest.empty()) {
        std::string r = engine_.contactsReport();
        return r.empty() ? "OK" : "OK " + r;
    }
    if (cmd == "add-contact") {
        std::string spec;
        std::string name = firstWord(rest, spec);
        ContactAddress c;
        c.name = name;
        if (!validName(name))
            return "ERR bad contact name '" + name + "'";
        if (!spec.empty()) {
            std::string error;
            if (!parseHostPort(spec, false, c.host, c.port, error))
                return "ERR " + error;
        }
        if (!engine_.addContact(name))
            return "ERR " + name + " is already a contact or the own name";
        network_.addContact(c);
        if (engine_.online())
            network_.restore(name);   // dials at once when it has an address
        return "OK";
    }
    if (cmd == "stats" && rest.empty()) {
        const EngineStats& s = engine_.stats();
        return "OK commands=" + std::to_string(s.commands) + " refused=" + std::to_string(s.refused) +
               " writes=" + std::to_string(s.writes) + " reads=" + std::to_string(s.reads) +
               " received=" + std::to_string(s.textsReceived);
    }
    if (cmd == "quit" && rest.empty())
        return "OK";
    return "ERR unknown control command '" + line + "'";
}

} // namespace skypesim
