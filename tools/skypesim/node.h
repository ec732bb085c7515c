#pragma once
// One skypesim: the engine with its network links, its timers and the
// control channel. What goes to the client window is handed to a ClientPort
// (the window-message layer in the program, a recorder in tests).
#include "engine.h"
#include "network.h"
#include "options.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

class QLocalServer;
class QLocalSocket;

namespace skypesim {

class ClientPort {
public:
    virtual void clientText(ClientId window, std::string text) = 0;
    virtual void attachMessage(ClientId window, int code) = 0;

    virtual ~ClientPort() = default;
};

// Trace lines on standard output, when tracing is on; long texts are cut.
void traceLine(const std::string& user, const char* what, std::string_view text);

class Node : public QObject, private EngineHost {
public:
    Node(const Options& options, ClientPort& port);
    ~Node() override;

    // Listens for contacts and opens the control channel. False with a reason.
    bool start(std::string& error);

    Engine& engine() { return engine_; }
    PeerNetwork& network() { return network_; }
    bool tracing() const { return trace_; }
    std::string controlPath() const { return control_; }
    // The ready line printed at start.
    std::string readyLine() const;
    // The API window, for "info" and the ready line.
    void setWindowId(ClientId window) { window_ = window; }

    // One control command line; returns the reply line (without newline).
    std::string control(const std::string& line);
    // Called when a control "quit" arrives (after its reply has been written).
    void setQuitHandler(std::function<void()> quit) { quit_ = std::move(quit); }

private:
    // EngineHost
    void clientText(ClientId window, std::string text) override;
    void attachMessage(ClientId window, int code) override;
    void peerSend(const std::string& peer, std::string message) override;
    void setNetworkOnline(bool online) override;
    std::int64_t nowMs() override;
    void wakeAt(std::int64_t ms) override;

    void onControlConnection();
    void onControlReadable(QLocalSocket* socket);

    Options options_;
    ClientPort& port_;
    Engine engine_;
    PeerNetwork network_;
    QElapsedTimer clock_;
    QTimer wake_;
    std::int64_t wakeDue_ = -1;
    QLocalServer* controlServer_ = nullptr;
    std::string control_;
    bool trace_ = false;
    ClientId window_ = 0;
    std::function<void()> quit_;
};

} // namespace skypesim
