#include "relay/socketerror.h"

#include "platform/winsock.h"

const char* socketErrorText(int error)
{
    switch (error) {
    case WSAEADDRINUSE: return "アドレスは使用中です";
    case WSAEACCES: return "アクセス権がありません";
    case WSAEADDRNOTAVAIL: return "使えないアドレスです";
    default: return "ソケットエラー";
    }
}
