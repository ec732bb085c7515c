#pragma once
// The TCP manager of the FTP channel: its main link always uses port 21
// (whatever the FTP port setting) and connects at once to any host; it also
// owns the FTP data link, which listens on a system-chosen port
// (createDataLink) or connects on the peer's request. A data-link listener
// listens on the address at which the control connection was reached and
// lives no longer than that connection.
#include "relay/tcpmanager.h"

class QK_TCPMANAGERFORFTP : public QK_TCPMANAGER {
public:
    QK_TCPMANAGERFORFTP();

    void closeAll() override;
    int notifyTcpConnectRequest(int port, const char* host, uint32_t connection) override;
    void notifyTcpDisconnect(int port) override;
    int createDataLink(int port) override;
    int notifyDataLinkConnectRequest(int port, const char* host, uint32_t connection) override;
    void notifyDataLinkConnectReply(int port, int reply) override;
    void notifyDataLinkDisconnect(int port) override;
    void endUnusedDataLink() override;

    char ftpTag[20];

private:
    // The main link's connection that the data-link listener was opened in.
    uint32_t dataLinkSession = 0;
};
