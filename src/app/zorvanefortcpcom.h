#pragma once
// The communication hub: creates, wires and destroys the long-lived service
// objects (event log, Skype link, contact model, application model) and
// relays everything they report to its own listeners (the main dialog).
#include "foundation/eventlog.h"
#include "platform/wintypes.h"
#include "skypelink/skypecom.h"
#include "skypelink/skypemodel.h"
#include "tunnel/a2amodel.h"

#include <vector>

class CZorvaneForTcpComListener {
public:
    virtual void notifyLogLine(const char* line) = 0;
    virtual void notifyLinkStatus() = 0;
    virtual void notifyModelChange() = 0;
    virtual void notifyReserved() = 0;
    virtual void notifyStreamChange() = 0;
    virtual void notifyTraffic(int channel, double sent, double received) = 0;
    virtual ~CZorvaneForTcpComListener() = default;
};

class CZorvaneForTcpCom : public QK_SKYPECOMUSER,
                          public MODELLISTENER,
                          public QK_A2AMODELLISTENER,
                          public QK_EVENTLOGLISTENER {
public:
    CZorvaneForTcpCom();
    ~CZorvaneForTcpCom() override;
    CZorvaneForTcpCom(const CZorvaneForTcpCom&) = delete;
    CZorvaneForTcpCom& operator=(const CZorvaneForTcpCom&) = delete;

    void addListener(CZorvaneForTcpComListener* listener);
    void start(HWND window);
    bool isSelectedUserConnectable();

    // QK_SKYPECOMUSER (the other slots keep their empty bodies)
    void notifyConnectStatsuChange(int status) override;
    // MODELLISTENER
    void notifyModelChange() override;
    // QK_A2AMODELLISTENER
    void notifyStreamChange() override;
    void notifyTraffic(int channel, double sent, double received) override;
    // QK_EVENTLOGLISTENER
    void notifyLogLine(const char* line) override;

    HWND ownerWindow;
    QK_SKYPECOM* skypeCom;
    QK_SKYPEMODEL* skypeModel;
    QK_A2AMODEL* a2aModel;
    std::vector<CZorvaneForTcpComListener*> listeners;
};
