// Platform notices for the program's windows: the session manager's logout
// request becomes WM_ENDSESSION, logind's PrepareForSleep on the system bus
// WM_POWERBROADCAST. Where there is no session manager or no bus nothing
// arrives.
#include "platform/ui/afx_internal.h"

#include "platform/trace.h"
#include "platform/winmsg_internal.h"

#include <QApplication>
#include <QDBusConnection>
#include <QSessionManager>

#include <cstdlib>

#include <unistd.h>

namespace {

class Notices : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

public slots:
    void prepareForSleep(bool sleeping)
    {
        afx::toTopLevelWindows(WM_POWERBROADCAST, sleeping ? PBT_APMSUSPEND : PBT_APMRESUMESUSPEND, 0, false);
    }
};

Notices* notices = nullptr;

constexpr LPARAM ENDSESSION_LOGOFF = static_cast<LPARAM>(0x80000000u);

void endSession() { afx::toTopLevelWindows(WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, false); }

} // namespace

namespace afx {

void toTopLevelWindows(UINT message, WPARAM wParam, LPARAM lParam, bool postIt)
{
    std::vector<HWND> tops;
    winmsg::topLevelWindows(tops);
    for (HWND h : tops) {
        if (postIt)
            PostMessageA(h, message, wParam, lParam);
        else if (IsWindow(h))
            SendMessageA(h, message, wParam, lParam);
    }
}

void startNotices()
{
    if (notices)
        return;
    notices = new Notices(QCoreApplication::instance());
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        QObject::connect(app, &QGuiApplication::commitDataRequest, notices, [](QSessionManager&) { endSession(); });
    }
    // Without a system bus Qt's D-Bus thread is not even started.
    const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    bool busExists = (address && *address) || access("/run/dbus/system_bus_socket", F_OK) == 0 ||
                     access("/var/run/dbus/system_bus_socket", F_OK) == 0;
    QDBusConnection bus = busExists ? QDBusConnection::systemBus() : QDBusConnection(QString());
    if (busExists && bus.isConnected()) {
        bool ok = bus.connect("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                              "PrepareForSleep", notices, SLOT(prepareForSleep(bool)));
        trace("notices: %s logind's PrepareForSleep\n", ok ? "listening to" : "cannot listen to");
    } else {
        trace("notices: no system bus, no suspend notices\n");
    }
    startTrayWatch();
}

} // namespace afx

namespace uitest {

void emitEndSession() { endSession(); }

void emitPrepareForSleep(bool sleeping)
{
    if (notices)
        notices->prepareForSleep(sleeping);
}

} // namespace uitest

#include "notices.moc"
