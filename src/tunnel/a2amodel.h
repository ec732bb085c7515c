#pragma once
// The application model: owner of the five Skype applications (one per
// channel), router of every application-related Skype text to the application
// it names, and the tunnel's clock: the 20 ms tick drives every stream's
// sending, the 1000 ms tick collects the traffic of the last second.
#include "platform/wintypes.h"
#include "skypelink/skypecom.h"
#include "tunnel/skypeapplication.h"

#include <vector>

constexpr int A2A_CHANNEL_COUNT = 5;
constexpr UINT A2A_STREAM_TIMER_MS = 20;
constexpr UINT A2A_TRAFFIC_TIMER_MS = 1000;
constexpr int A2A_POLL_TICKS = 300;   // CONNECTABLE is asked every 301st tick

// The model's own listeners (the communication hub).
class QK_A2AMODELLISTENER {
public:
    virtual void notifyStreamChange() = 0;
    virtual void notifyTraffic(int channel, double sent, double received) = 0;

protected:
    QK_A2AMODELLISTENER() = default;
    QK_A2AMODELLISTENER(const QK_A2AMODELLISTENER&) = default;
    QK_A2AMODELLISTENER& operator=(const QK_A2AMODELLISTENER&) = default;
    ~QK_A2AMODELLISTENER() = default;   // the model never owns its listeners
};

class QK_A2AMODEL final : public QK_SKYPECOMUSER, public QK_SKYPEAPPLICATIONLISTENER {
public:
    // The one model of the process, created on first use (it registers with
    // the Skype link and starts its timers). The owner (the communication hub)
    // deletes it; the destructor kills the timers and clears `instance`.
    static QK_A2AMODEL* getInstance();
    static QK_A2AMODEL* instance;

    ~QK_A2AMODEL();
    QK_A2AMODEL(const QK_A2AMODEL&) = delete;
    QK_A2AMODEL& operator=(const QK_A2AMODEL&) = delete;

    void initModel();
    void addListener(QK_A2AMODELLISTENER* listener);

    // QK_SKYPECOMUSER
    void notifyConnectStatsuChange(int status) override;
    void notifyA2Adata(const char* text) override;

    // Sends "CREATE APPLICATION %s" for every named application.
    void createA2AApplication();
    // Connects the selected contact on every enabled channel not yet connected to it.
    void connectSelectedUser();
    // Asks Skype to end every stream; the streams go with the next STREAMS list.
    void disconnectAll();
    // 1 when some application's stream list holds a slot (an empty one included).
    int hasStream();
    // The link is lost: every stream closed and deleted locally, states 0.
    void cancelAllStreams();

    // QK_SKYPEAPPLICATIONLISTENER: relays to the model's listeners.
    void notifyStreamChange() override;
    void notifyTraffic(int channel, double sent, double received) override;

    // The two window-less thread timers (arguments ignored).
    static void streamTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);
    static void trafficTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);

    char tag[12];
    UINT_PTR streamTimerId;
    UINT_PTR trafficTimerId;
    std::vector<QK_A2AMODELLISTENER*> listeners;
    QK_SKYPEAPPLICATION applications[A2A_CHANNEL_COUNT];

private:
    QK_A2AMODEL();
    void onStreamTick();
    void onTrafficTick();
};
