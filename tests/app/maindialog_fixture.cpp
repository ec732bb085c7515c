#include "maindialog_fixture.h"

#include <fstream>
#include <map>

namespace {
const char* const applicationNames[5] = {"ZorvaneForFtp0000", "ZorvaneForHttp000",
                                         "ZorvaneForCvs0000", "ZorvaneForVnc0000",
                                         "ZorvaneForTcp2000"};
}

void MainDialogTest::SetUp()
{
    InTempDirectory::SetUp();
    streamPresentFlag = 0;
    uitest::setTray(uitest::TrayState::Present);
    sounds = std::make_unique<uitest::SoundRecorder>();
    boxes = std::make_unique<uitest::MessageBoxRecorder>();
    writeSettings({});
}

void MainDialogTest::TearDown()
{
    uitest::setMenuChooser({});
    dialog.reset();
    uitest::setTray(uitest::TrayState::Real);
    skype.reset();
    boxes.reset();
    sounds.reset();
    InTempDirectory::TearDown();
}

void MainDialogTest::writeSettings(const Strings& entries)
{
    std::map<std::string, std::map<std::string, std::string>> sections;
    for (const char* port : {"FTPPORT", "HTTPPORT", "CVSPORT", "GENPORT1", "GENPORT2"})
        sections["CLIENT"][port] = "0";
    for (const std::string& entry : entries) {
        size_t slash = entry.find('/');
        size_t equals = entry.find('=');
        sections[entry.substr(0, slash)][entry.substr(slash + 1, equals - slash - 1)] =
            entry.substr(equals + 1);
    }
    std::ofstream out(dir / "ZorvaneForTcp.ini", std::ios::binary);
    for (const auto& [name, keys] : sections) {
        out << "[" << name << "]\r\n";
        for (const auto& [key, value] : keys)
            out << key << "=" << value << "\r\n";
    }
}

INT_PTR MainDialogTest::run(const std::function<void()>& body, bool endAfterBody)
{
    dialog = std::make_unique<CZorvaneForTcpDlg>();
    skype = std::make_unique<FakeSkype>();
    UINT_PTR timer = 0;
    uitest::onNextModal([&](CDialog&) {
        body();
        if (endAfterBody) {
            dialog->EndDialog(endedByTest);
            return;
        }
        // Fires only if the loop is still running after the body.
        timer = SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) {
            if (CDialog* running = uitest::runningModal())
                running->EndDialog(endedByTest);
        });
    });
    INT_PTR result = dialog->DoModal();
    if (timer != 0)
        KillTimer(nullptr, timer);
    return result;
}

void MainDialogTest::attach()
{
    skype->attach(dialog->hub.skypeCom->ownWindow, 0);
    for (const char* name : applicationNames)
        notify(std::string("CREATE APPLICATION ") + name);
    skype->commands.clear();
}

void MainDialogTest::notify(const std::string& text)
{
    skype->notify(dialog->hub.skypeCom->ownWindow, text);
}

void MainDialogTest::appNotify(int channel, const std::string& rest)
{
    notify("APPLICATION " + std::string(applicationNames[channel]) + " " + rest);
}

void MainDialogTest::setContacts(const std::string& users)
{
    notify("USERS " + users);
    size_t start = 0;
    while (start < users.size()) {
        size_t end = users.find(", ", start);
        std::string name = users.substr(start, end == std::string::npos ? end : end - start);
        notify("USER " + name + " ONLINESTATUS ONLINE");
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
    skype->commands.clear();
}

void MainDialogTest::setConnectable(int channel, const std::string& users)
{
    appNotify(channel, "CONNECTABLE " + users);
}

Strings MainDialogTest::takeCommands()
{
    Strings taken;
    taken.swap(skype->commands);
    return taken;
}

std::string MainDialogTest::text(int id)
{
    std::string value;
    dialog->GetDlgItemText(id, value);
    return value;
}

bool MainDialogTest::shown(int id) { return uitest::isShown(*dialog, id); }

bool MainDialogTest::enabled(int id)
{
    CWnd* control = dialog->GetDlgItem(id);
    return control != nullptr && control->IsWindowEnabled();
}

int MainDialogTest::checked(int id) { return uitest::checkState(*dialog, id); }

int MainDialogTest::windowHeight()
{
    RECT rect{};
    dialog->GetWindowRect(&rect);
    return rect.bottom - rect.top;
}

std::vector<UINT> MainDialogTest::soundIds() const
{
    std::vector<UINT> ids;
    for (const uitest::SoundCall& call : sounds->calls())
        ids.push_back(call.resourceId);
    return ids;
}

void MainDialogTest::tick(UINT_PTR timer, int count)
{
    for (int i = 0; i < count; ++i)
        dialog->OnTimer(timer);
}
