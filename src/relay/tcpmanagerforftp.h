#pragma once
// The TCP manager of the FTP channel: its main link always uses port 21
// (whatever the FTP port setting) and connects at once to any host; it also
// owns the FTP data link, which listens on a system-chosen port
// (createDataLink) or connects on the peer's request.
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

    char ftpTag[20];
};
