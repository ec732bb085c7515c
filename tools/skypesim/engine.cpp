#include "engine.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace skypesim {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Walks a text token by token; tokens are separated by blanks.
class Cursor {
public:
    explicit Cursor(std::string_view text) : s_(text) {}
    std::string_view next()
    {
        while (pos_ < s_.size() && isBlank(s_[pos_]))
            ++pos_;
        size_t start = pos_;
        while (pos_ < s_.size() && !isBlank(s_[pos_]))
            ++pos_;
        return s_.substr(start, pos_ - start);
    }
    // Everything behind the one blank that follows the last token.
    std::string_view rest() const
    {
        size_t p = pos_;
        if (p < s_.size() && isBlank(s_[p]))
            ++p;
        return s_.substr(p);
    }
    bool atEnd() const
    {
        size_t p = pos_;
        while (p < s_.size() && isBlank(s_[p]))
            ++p;
        return p == s_.size();
    }

private:
    std::string_view s_;
    size_t pos_ = 0;
};

bool keyword(std::string_view token, std::string_view word)
{
    if (token.size() != word.size())
        return false;
    for (size_t i = 0; i < token.size(); ++i) {
        char c = token[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != word[i])
            return false;
    }
    return true;
}

bool parseInt(std::string_view text, std::int64_t& value)
{
    if (text.empty())
        return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool parseId(std::string_view text, int& value)
{
    std::int64_t v = 0;
    if (!parseInt(text, v) || v < 0 || v > 0x7fffffff)
        return false;
    value = static_cast<int>(v);
    return true;
}

// "user:id" of a stream.
bool parseStreamRef(std::string_view text, std::string& user, int& id)
{
    size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0)
        return false;
    user.assign(text.substr(0, colon));
    return parseId(text.substr(colon + 1), id);
}

std::string error(int code, std::string_view what)
{
    std::string s = "ERROR ";
    s += std::to_string(code);
    s += ' ';
    s += what;
    return s;
}

// Error replies (stable; the README lists them).
constexpr int kErrEmpty = 1;
constexpr int kErrUnknown = 2;
constexpr int kErrSyntax = 3;
constexpr int kErrUnknownUser = 4;
constexpr int kErrBadName = 5;
constexpr int kErrNoApplication = 6;
constexpr int kErrNoStream = 7;
constexpr int kErrNoData = 8;

} // namespace

bool validName(std::string_view name)
{
    if (name.empty() || name.size() > 64)
        return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '.' || c == '-' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

Engine::Engine(EngineConfig config, EngineHost& host)
    : config_(std::move(config)), host_(host), online_(config_.startOnline)
{
    for (const auto& name : config_.contacts) {
        if (findContact(name) == nullptr && name != config_.user)
            contacts_.push_back(Contact{name, false, {}});
    }
}

// ---------------------------------------------------------------- client

void Engine::toClient(std::string text)
{
    if (attached_)
        host_.clientText(client_, std::move(text));
}

void Engine::discover(ClientId window)
{
    lastDiscoverer_ = window;
    if (attached_ && window == client_) {
        // The client lost its link (a command it sent was not taken) and
        // calls again; it keeps its applications.
        attachSucceeded(window);
        return;
    }
    switch (config_.attach) {
    case AttachMode::Success:
        attachSucceeded(window);
        break;
    case AttachMode::Pending:
        host_.attachMessage(window, kAttachPending);
        if (pendingWindow_ != window) {
            pendingWindow_ = window;
            pendingDue_ = host_.nowMs() + config_.pendingDelayMs;
            scheduleWake();
        }
        break;
    case AttachMode::Refuse:
        host_.attachMessage(window, kAttachRefused);
        break;
    case AttachMode::Unavailable:
        host_.attachMessage(window, kAttachNotAvailable);
        break;
    }
}

void Engine::attachSucceeded(ClientId window)
{
    if (attached_ && window != client_)
        detachClient();
    if (pendingWindow_ == window) {
        pendingWindow_ = 0;
        pendingDue_ = -1;
    }
    client_ = window;
    attached_ = true;
    host_.attachMessage(window, kAttachSuccess);
    toClient(online_ ? "CONNSTATUS ONLINE" : "CONNSTATUS OFFLINE");
    toClient("CURRENTUSERHANDLE " + config_.user);
    toClient(online_ ? "USERSTATUS ONLINE" : "USERSTATUS OFFLINE");
}

bool Engine::forceAttach(int code)
{
    if (lastDiscoverer_ == 0)
        return false;
    if (code == kAttachSuccess) {
        attachSucceeded(lastDiscoverer_);
    } else {
        host_.attachMessage(lastDiscoverer_, code);
    }
    return true;
}

void Engine::clientGone()
{
    if (attached_)
        detachClient();
}

void Engine::detachClient()
{
    std::vector<std::string> names;
    for (const auto& [name, app] : apps_)
        names.push_back(name);
    attached_ = false;   // nothing more goes to the old window
    for (const auto& name : names)
        deleteApplication(name);
    client_ = 0;
    announceApplications();
}

int Engine::command(ClientId from, std::string_view text)
{
    if (!attached_ || from != client_ || failNext_ > 0) {
        if (attached_ && from == client_ && failNext_ > 0)
            --failNext_;
        ++stats_.refused;
        return 0;
    }
    ++stats_.commands;
    handle(text);
    return 1;
}

void Engine::handle(std::string_view text)
{
    Cursor c(text);
    std::string_view first = c.next();
    if (first.empty()) {
        toClient(error(kErrEmpty, "Empty command"));
        return;
    }
    if (keyword(first, "SEARCH")) {
        if (!keyword(c.next(), "FRIENDS") || !c.atEnd()) {
            toClient(error(kErrSyntax, "SEARCH: expected SEARCH FRIENDS"));
            return;
        }
        std::string reply = "USERS";
        for (size_t i = 0; i < contacts_.size(); ++i) {
            reply += i == 0 ? " " : ", ";
            reply += contacts_[i].name;
        }
        toClient(std::move(reply));
    } else if (keyword(first, "GET")) {
        handleGet(text);
    } else if (keyword(first, "CREATE") || keyword(first, "DELETE")) {
        bool create = keyword(first, "CREATE");
        std::string_view what = c.next();
        std::string app(c.next());
        if (!keyword(what, "APPLICATION") || app.empty() || !c.atEnd()) {
            toClient(error(kErrSyntax, create ? "CREATE: expected CREATE APPLICATION <name>"
                                              : "DELETE: expected DELETE APPLICATION <name>"));
            return;
        }
        if (!validName(app)) {
            toClient(error(kErrBadName, "Invalid application name"));
            return;
        }
        if (create) {
            bool existed = apps_.count(app) != 0;
            Application& a = apps_[app];
            toClient(std::string(text));   // the reply is the command itself
            if (existed) {
                // Created again after a new attach: tell the client what it has.
                if (!streamsList(app).empty())
                    notifyStreams(app);
                a.receivedOutstanding = false;
                if (!receivedList(app).empty())
                    notifyReceived(app);
            } else {
                announceApplications();
            }
        } else {
            if (apps_.count(app) == 0) {
                toClient(error(kErrNoApplication, "Unknown application"));
                return;
            }
            toClient(std::string(text));
            deleteApplication(app);
            announceApplications();
        }
    } else if (keyword(first, "ALTER")) {
        handleAlter(text);
    } else if (keyword(first, "PING")) {
        toClient("PONG");
    } else {
        toClient(error(kErrUnknown, "Unknown command"));
    }
}

void Engine::handleGet(std::string_view text)
{
    Cursor c(text);
    c.next();   // GET
    std::string_view what = c.next();
    if (keyword(what, "USER")) {
        std::string name(c.next());
        std::string_view property = c.next();
        if (name.empty() || !keyword(property, "ONLINESTATUS") || !c.atEnd()) {
            toClient(error(kErrSyntax, "GET USER: expected GET USER <name> ONLINESTATUS"));
            return;
        }
        const char* status = "UNKNOWN";
        if (name == config_.user) {
            status = online_ ? "ONLINE" : "OFFLINE";
        } else if (const Contact* contact = findContact(name)) {
            status = contact->up ? "ONLINE" : "OFFLINE";
        }
        toClient("USER " + name + " ONLINESTATUS " + status);
    } else if (keyword(what, "CURRENTUSERHANDLE") && c.atEnd()) {
        toClient("CURRENTUSERHANDLE " + config_.user);
    } else if (keyword(what, "USERSTATUS") && c.atEnd()) {
        toClient(online_ ? "USERSTATUS ONLINE" : "USERSTATUS OFFLINE");
    } else if (keyword(what, "APPLICATION")) {
        std::string app(c.next());
        std::string_view property = c.next();
        if (app.empty() || !c.atEnd()) {
            toClient(error(kErrSyntax, "GET APPLICATION: expected GET APPLICATION <name> CONNECTABLE|STREAMS"));
            return;
        }
        if (apps_.count(app) == 0) {
            toClient(error(kErrNoApplication, "Unknown application"));
            return;
        }
        if (keyword(property, "CONNECTABLE")) {
            std::string reply = "APPLICATION " + app + " CONNECTABLE";
            if (online_) {
                for (const auto& contact : contacts_) {
                    if (contact.up && contact.apps.count(app) != 0) {
                        reply += ' ';
                        reply += contact.name;
                    }
                }
            }
            toClient(std::move(reply));
        } else if (keyword(property, "STREAMS")) {
            std::string list = streamsList(app);
            toClient("APPLICATION " + app + " STREAMS" + (list.empty() ? "" : " " + list));
        } else {
            toClient(error(kErrSyntax, "GET APPLICATION: expected GET APPLICATION <name> CONNECTABLE|STREAMS"));
        }
    } else {
        toClient(error(kErrSyntax, "GET: unknown property"));
    }
}

void Engine::handleAlter(std::string_view text)
{
    Cursor c(text);
    c.next();   // ALTER
    std::string_view what = c.next();
    std::string app(c.next());
    std::string_view action = c.next();
    if (!keyword(what, "APPLICATION") || app.empty() || action.empty()) {
        toClient(error(kErrSyntax, "ALTER: expected ALTER APPLICATION <name> CONNECT|WRITE|READ|DISCONNECT ..."));
        return;
    }
    if (apps_.count(app) == 0) {
        toClient(error(kErrNoApplication, "Unknown application"));
        return;
    }
    std::string_view target = c.next();
    if (keyword(action, "CONNECT")) {
        std::string peer(target);
        if (peer.empty() || !c.atEnd()) {
            toClient(error(kErrSyntax, "ALTER APPLICATION CONNECT: expected a user name"));
            return;
        }
        Contact* contact = findContact(peer);
        if (contact == nullptr) {
            toClient(error(kErrUnknownUser, "Unknown user"));
            return;
        }
        toClient(std::string(text));
        toClient("APPLICATION " + app + " CONNECTING " + peer);
        if (online_ && contact->up && contact->apps.count(app) != 0) {
            Stream s;
            s.id = newStreamId();
            s.app = app;
            s.peer = peer;
            host_.peerSend(peer, "OPEN " + app + " " + std::to_string(s.id));
            streams_.emplace(s.id, std::move(s));
        } else {
            toClient("APPLICATION " + app + " CONNECTING");
        }
        return;
    }
    bool isWrite = keyword(action, "WRITE");
    bool isRead = keyword(action, "READ");
    bool isDisconnect = keyword(action, "DISCONNECT");
    if (!isWrite && !isRead && !isDisconnect) {
        toClient(error(kErrSyntax, "ALTER APPLICATION: unknown action"));
        return;
    }
    std::string peer;
    int id = 0;
    if (!parseStreamRef(target, peer, id) || (!isWrite && !c.atEnd())) {
        toClient(error(kErrSyntax, "ALTER APPLICATION: expected <user>:<id>"));
        return;
    }
    Stream* stream = findStream(app, peer, id);
    if (stream == nullptr) {
        toClient(error(kErrNoStream, "Unknown stream"));
        if (isRead) {
            // Whatever the client thought was waiting, tell it what is.
            apps_[app].receivedOutstanding = false;
            notifyReceived(app);
        }
        return;
    }
    if (isWrite) {
        alterWrite(app, *stream, c.rest());
    } else if (isRead) {
        alterRead(app, *stream);
    } else {
        toClient(std::string(text));
        closeStream(stream->id, true);
    }
}

void Engine::alterWrite(const std::string& app, Stream& stream, std::string_view data)
{
    ++stats_.writes;
    toClient("ALTER APPLICATION " + app + " WRITE " + stream.peer + ":" + std::to_string(stream.id));
    stream.inFlightBytes += static_cast<std::int64_t>(data.size());
    ++stream.inFlightTexts;
    std::string message;
    message.reserve(data.size() + 24);
    message += "DATA ";
    message += std::to_string(stream.remoteId);
    message += ' ';
    message += data;
    host_.peerSend(stream.peer, std::move(message));
    notifySending(app);
}

void Engine::alterRead(const std::string& app, Stream& stream)
{
    Application& a = apps_[app];
    if (stream.waiting.empty()) {
        toClient(error(kErrNoData, "No data waiting"));
    } else {
        ++stats_.reads;
        Text t = std::move(stream.waiting.front());
        stream.waiting.pop_front();
        stream.waitingBytes -= static_cast<std::int64_t>(t.data.size());
        std::string reply;
        reply.reserve(t.data.size() + app.size() + stream.peer.size() + 48);
        reply += "ALTER APPLICATION ";
        reply += app;
        reply += " READ ";
        reply += stream.peer;
        reply += ':';
        reply += std::to_string(stream.id);
        reply += ' ';
        reply += t.data;
        toClient(std::move(reply));
    }
    a.receivedOutstanding = false;
    notifyReceived(app);
}

// ---------------------------------------------------------------- lists

std::string Engine::streamsList(const std::string& app) const
{
    std::string list;
    for (const auto& [id, s] : streams_) {
        if (s.app != app || s.state != StreamState::Open)
            continue;
        if (!list.empty())
            list += ' ';
        list += s.peer;
        list += ':';
        list += std::to_string(id);
    }
    return list;
}

std::string Engine::sendingList(const std::string& app) const
{
    std::string list;
    for (const auto& [id, s] : streams_) {
        if (s.app != app || s.inFlightTexts == 0)
            continue;
        if (!list.empty())
            list += ' ';
        list += s.peer + ":" + std::to_string(id) + "=" + std::to_string(s.inFlightBytes);
    }
    return list;
}

std::string Engine::receivedList(const std::string& app) const
{
    // Longest waiting first, so that the client's READ of the first entry
    // serves every stream in turn.
    std::vector<const Stream*> ready;
    for (const auto& [id, s] : streams_) {
        if (s.app == app && !s.waiting.empty())
            ready.push_back(&s);
    }
    std::sort(ready.begin(), ready.end(), [](const Stream* a, const Stream* b) {
        return a->waiting.front().arrival < b->waiting.front().arrival;
    });
    std::string list;
    for (const Stream* s : ready) {
        if (!list.empty())
            list += ' ';
        list += s->peer + ":" + std::to_string(s->id) + "=" + std::to_string(s->waitingBytes);
    }
    return list;
}

void Engine::notifyStreams(const std::string& app)
{
    std::string list = streamsList(app);
    toClient("APPLICATION " + app + " STREAMS" + (list.empty() ? "" : " " + list));
}

void Engine::notifySending(const std::string& app)
{
    std::string list = sendingList(app);
    toClient("APPLICATION " + app + " SENDING" + (list.empty() ? "" : " " + list));
}

void Engine::notifyReceived(const std::string& app)
{
    auto it = apps_.find(app);
    if (it == apps_.end())
        return;
    std::string list = receivedList(app);
    if (list.empty()) {
        it->second.receivedOutstanding = false;
        toClient("APPLICATION " + app + " RECEIVED");
        return;
    }
    it->second.receivedOutstanding = true;
    it->second.receivedSentAt = host_.nowMs();
    toClient("APPLICATION " + app + " RECEIVED " + list);
    scheduleWake();
}

// ---------------------------------------------------------------- streams

Engine::Contact* Engine::findContact(const std::string& name)
{
    for (auto& c : contacts_) {
        if (c.name == name)
            return &c;
    }
    return nullptr;
}

const Engine::Contact* Engine::findContact(const std::string& name) const
{
    for (const auto& c : contacts_) {
        if (c.name == name)
            return &c;
    }
    return nullptr;
}

bool Engine::isContact(const std::string& name) const { return findContact(name) != nullptr; }

Engine::Stream* Engine::findStream(const std::string& app, const std::string& peer, int id)
{
    auto it = streams_.find(id);
    if (it == streams_.end() || it->second.app != app || it->second.peer != peer ||
        it->second.state != StreamState::Open)
        return nullptr;
    return &it->second;
}

void Engine::closeStream(int id, bool tellPeer)
{
    auto it = streams_.find(id);
    if (it == streams_.end())
        return;
    Stream s = std::move(it->second);
    streams_.erase(it);
    if (tellPeer && s.remoteId >= 0)
        host_.peerSend(s.peer, "CLOSE " + std::to_string(s.remoteId));
    if (apps_.count(s.app) == 0)
        return;
    if (s.state == StreamState::Connecting) {
        toClient("APPLICATION " + s.app + " CONNECTING");
        return;
    }
    notifyStreams(s.app);
    if (s.inFlightTexts > 0)
        notifySending(s.app);
}

void Engine::deleteApplication(const std::string& app)
{
    std::vector<int> ids;
    for (const auto& [id, s] : streams_) {
        if (s.app == app)
            ids.push_back(id);
    }
    apps_.erase(app);   // no notifications for an application that is gone
    for (int id : ids)
        closeStream(id, true);
}

std::string Engine::appsMessage() const
{
    std::string m = "APPS";
    for (const auto& [name, app] : apps_) {
        m += ' ';
        m += name;
    }
    return m;
}

void Engine::announceApplications()
{
    std::string m = appsMessage();
    for (const auto& c : contacts_) {
        if (c.up)
            host_.peerSend(c.name, m);
    }
}

// ---------------------------------------------------------------- network

void Engine::linkUp(const std::string& peer)
{
    Contact* c = findContact(peer);
    if (c == nullptr || c->up)
        return;
    c->up = true;
    c->apps.clear();
    host_.peerSend(peer, appsMessage());
    toClient("USER " + peer + " ONLINESTATUS ONLINE");
}

void Engine::linkDown(const std::string& peer)
{
    Contact* c = findContact(peer);
    if (c == nullptr || !c->up)
        return;
    c->up = false;
    c->apps.clear();
    std::vector<int> ids;
    for (const auto& [id, s] : streams_) {
        if (s.peer == peer)
            ids.push_back(id);
    }
    for (int id : ids)
        closeStream(id, false);
    toClient("USER " + peer + " ONLINESTATUS OFFLINE");
}

void Engine::peerOpen(const std::string& peer, const std::string& app, int theirId)
{
    if (!attached_ || apps_.count(app) == 0) {
        host_.peerSend(peer, "REFUSED " + std::to_string(theirId));
        return;
    }
    Stream s;
    s.id = newStreamId();
    s.app = app;
    s.peer = peer;
    s.remoteId = theirId;
    s.state = StreamState::Open;
    int id = s.id;
    streams_.emplace(id, std::move(s));
    host_.peerSend(peer, "OPENED " + std::to_string(theirId) + " " + std::to_string(id));
    notifyStreams(app);
}

void Engine::peerMessage(const std::string& peer, std::string_view message)
{
    Contact* contact = findContact(peer);
    if (contact == nullptr || !contact->up)
        return;
    Cursor c(message);
    std::string_view kind = c.next();
    if (kind == "DATA") {
        int id = 0;
        if (!parseId(c.next(), id))
            return;
        auto it = streams_.find(id);
        if (it == streams_.end() || it->second.peer != peer || it->second.state != StreamState::Open)
            return;   // closed here meanwhile; the peer hears CLOSE
        Stream& s = it->second;
        std::string_view data = c.rest();
        s.waiting.push_back(Text{nextArrival_++, std::string(data)});
        s.waitingBytes += static_cast<std::int64_t>(data.size());
        ++stats_.textsReceived;
        host_.peerSend(peer, "ACK " + std::to_string(s.remoteId) + " " + std::to_string(data.size()));
        if (!apps_[s.app].receivedOutstanding)
            notifyReceived(s.app);
    } else if (kind == "ACK") {
        int id = 0;
        std::int64_t bytes = 0;
        if (!parseId(c.next(), id) || !parseInt(c.next(), bytes))
            return;
        auto it = streams_.find(id);
        if (it == streams_.end() || it->second.peer != peer)
            return;
        if (sendingDelayMs_ > 0) {
            delayedAcks_.push_back(DelayedAck{host_.nowMs() + sendingDelayMs_, id, bytes});
            scheduleWake();
        } else {
            applyAck(id, bytes);
        }
    } else if (kind == "APPS") {
        contact->apps.clear();
        for (std::string_view app = c.next(); !app.empty(); app = c.next())
            contact->apps.insert(std::string(app));
    } else if (kind == "OPEN") {
        std::string app(c.next());
        int theirId = 0;
        if (app.empty() || !parseId(c.next(), theirId))
            return;
        peerOpen(peer, app, theirId);
    } else if (kind == "OPENED") {
        int id = 0;
        int theirId = 0;
        if (!parseId(c.next(), id) || !parseId(c.next(), theirId))
            return;
        auto it = streams_.find(id);
        if (it == streams_.end() || it->second.peer != peer ||
            it->second.state != StreamState::Connecting) {
            host_.peerSend(peer, "CLOSE " + std::to_string(theirId));
            return;
        }
        it->second.state = StreamState::Open;
        it->second.remoteId = theirId;
        std::string app = it->second.app;
        notifyStreams(app);
        toClient("APPLICATION " + app + " CONNECTING");
    } else if (kind == "REFUSED" || kind == "CLOSE") {
        int id = 0;
        if (!parseId(c.next(), id))
            return;
        auto it = streams_.find(id);
        if (it == streams_.end() || it->second.peer != peer)
            return;
        closeStream(id, false);
    }
}

void Engine::applyAck(int id, std::int64_t bytes)
{
    auto it = streams_.find(id);
    if (it == streams_.end() || it->second.inFlightTexts == 0)
        return;
    Stream& s = it->second;
    --s.inFlightTexts;
    s.inFlightBytes = s.inFlightTexts == 0 ? 0 : std::max<std::int64_t>(0, s.inFlightBytes - bytes);
    notifySending(s.app);
}

// ---------------------------------------------------------------- timers and control

void Engine::scheduleWake()
{
    std::int64_t due = -1;
    auto consider = [&due](std::int64_t t) {
        if (t >= 0 && (due < 0 || t < due))
            due = t;
    };
    consider(pendingDue_);
    if (!delayedAcks_.empty())
        consider(delayedAcks_.front().due);
    for (const auto& [name, a] : apps_) {
        if (a.receivedOutstanding)
            consider(a.receivedSentAt + kReceivedRepeatMs);
    }
    if (due >= 0)
        host_.wakeAt(due);
}

void Engine::processDue()
{
    std::int64_t now = host_.nowMs();
    if (pendingDue_ >= 0 && now >= pendingDue_) {
        ClientId w = pendingWindow_;
        pendingDue_ = -1;
        attachSucceeded(w);
    }
    // Delays are equal for every ack, so the queue is in due order; a
    // changed delay only ever makes later entries later or earlier as a
    // block, and an entry is applied no sooner than its own time.
    while (!delayedAcks_.empty() && delayedAcks_.front().due <= now) {
        DelayedAck a = delayedAcks_.front();
        delayedAcks_.pop_front();
        applyAck(a.streamId, a.bytes);
    }
    std::vector<std::string> repeat;
    for (const auto& [name, a] : apps_) {
        if (a.receivedOutstanding && now >= a.receivedSentAt + kReceivedRepeatMs)
            repeat.push_back(name);
    }
    for (const auto& name : repeat)
        notifyReceived(name);
    scheduleWake();
}

void Engine::setOnline(bool online)
{
    if (online == online_)
        return;
    online_ = online;
    if (!online) {
        for (size_t i = 0; i < contacts_.size(); ++i) {
            if (contacts_[i].up)
                linkDown(contacts_[i].name);
        }
    }
    host_.setNetworkOnline(online);
    toClient(online ? "USERSTATUS ONLINE" : "USERSTATUS OFFLINE");
}

bool Engine::notify(std::string text)
{
    if (!attached_)
        return false;
    toClient(std::move(text));
    return true;
}

bool Engine::addContact(const std::string& name)
{
    if (name == config_.user || findContact(name) != nullptr)
        return false;
    contacts_.push_back(Contact{name, false, {}});
    toClient("USER " + name + " BUDDYSTATUS 3");
    return true;
}

std::string Engine::streamsReport() const
{
    std::string r;
    for (const auto& [id, s] : streams_) {
        if (s.state != StreamState::Open)
            continue;
        if (!r.empty())
            r += ' ';
        r += s.app + ":" + s.peer + ":" + std::to_string(id);
    }
    return r;
}

std::string Engine::contactsReport() const
{
    std::string r;
    for (const auto& c : contacts_) {
        if (!r.empty())
            r += ' ';
        r += c.name + (c.up ? ":online" : ":offline");
    }
    return r;
}

std::string Engine::applicationsReport() const
{
    std::string r;
    for (const auto& [name, a] : apps_) {
        if (!r.empty())
            r += ' ';
        r += name;
    }
    return r;
}

} // namespace skypesim
