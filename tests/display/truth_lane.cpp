// The real main dialog on a display, watched from a lane script: one line
// on standard output whenever the message line or the link status text
// changes ("message <text>", "status <text>"); a file "dump" in the working
// directory prints the lamps and the log list ("lamps <id>=<0/1> ...", one
// "log <line>" each, a CR or LF written as \r or \n, then "dumped") and is
// removed; a file "end" ends the dialog.
#include "app/resources/resources.h"
#include "app/zorvanefortcpdlg.h"
#include "platform/fileapi.h"
#include "platform/trace.h"
#include "platform/ui/afxwin.h"
#include "platform/ui/uitest.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

void say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

CZorvaneForTcpDlg* mainDialog = nullptr;
std::string lastMessage;
std::string lastStatus;

std::string visible(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

void dump(CZorvaneForTcpDlg& dialog)
{
    std::string lamps = "lamps";
    for (int id : CZorvaneForTcpDlg::lampIds)
        lamps += " " + std::to_string(id) + "=" + std::to_string(uitest::checkState(dialog, id));
    say(lamps);
    for (int i = 0; i < dialog.logList.GetCount(); ++i) {
        std::string line;
        dialog.logList.GetText(i, line);
        say("log " + visible(line));
    }
    say("dumped");
}

void watch(HWND, UINT, UINT_PTR timer, DWORD)
{
    CZorvaneForTcpDlg& dialog = *mainDialog;
    std::string message;
    std::string status;
    dialog.GetDlgItemText(1012, message);
    dialog.GetDlgItemText(1025, status);
    if (message != lastMessage) {
        lastMessage = message;
        say("message " + visible(message));
    }
    if (status != lastStatus) {
        lastStatus = status;
        say("status " + visible(status));
    }
    if (std::filesystem::exists("dump")) {
        std::filesystem::remove("dump");
        dump(dialog);
    }
    if (std::filesystem::exists("end")) {
        KillTimer(nullptr, timer);
        dialog.EndDialog(IDCANCEL);
    }
}

} // namespace

int main(int argc, char** argv)
{
    setTraceEnabled(false);
    setModuleFileName(argv[0]);
    AfxSetResourceModule(programResources());
    InitPlatformGui(argc, argv);
    say(std::string("display ") + AfxGetDisplayPlatform());

    CZorvaneForTcpDlg dialog;
    mainDialog = &dialog;
    uitest::onNextModal([](CDialog&) {
        say("running");
        SetTimer(nullptr, 0, 100, watch);
    });
    dialog.DoModal();
    say("end");
    return 0;
}
