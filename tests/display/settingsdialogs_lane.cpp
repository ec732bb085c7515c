// The settings dialogs on a real display, opened through the main dialog's
// own commands: presses the main dialog's buttons named on the command line
// one after another; each dialog stays open until the lane script ends it
// (keys through the X server). One line per event on standard output. With
// "stay" the main dialog runs on after the buttons until a file "end" appears;
// "stacking" first prints the main dialog's controls from the bottom up
// ("stack <id> <group box 0/1> <x> <y> <width> <height>").
#include "app/resources/resources.h"
#include "app/zorvanefortcpdlg.h"
#include "platform/fileapi.h"
#include "platform/trace.h"
#include "platform/ui/afxwin.h"
#include "platform/ui/uitest.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

void say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

CZorvaneForTcpDlg* mainDialog = nullptr;
std::vector<int> buttons;
UINT_PTR waitTimer = 0;
int waitedTicks = 0;
bool stay = false;     // after the buttons, run on until told to end
bool stacking = false; // first print the main dialog's controls, bottom to top

void pressAll()
{
    CZorvaneForTcpDlg& dialog = *mainDialog;
    say("contacts " + std::to_string(dialog.hub.skypeModel ? dialog.hub.skypeModel->userList.size() : 0));
    if (stacking)
        for (const uitest::StackedControl& c : uitest::stackingOrder(dialog))
            say("stack " + std::to_string(c.id) + " " + (c.groupBox ? "1" : "0") + " " + std::to_string(c.rect.left) +
                " " + std::to_string(c.rect.top) + " " + std::to_string(c.rect.right - c.rect.left) + " " +
                std::to_string(c.rect.bottom - c.rect.top));
    for (int button : buttons) {
        uitest::onNextModal([button](CDialog& opened) {
            std::string caption;
            opened.GetWindowText(caption);
            say("open " + std::to_string(opened.GetTemplateId()) + " from " + std::to_string(button) + " " + caption);
        });
        if (!uitest::pressButton(dialog, button)) {
            uitest::onNextModal({});
            say("not pressable " + std::to_string(button));
            continue;
        }
        std::string shown;
        for (int id : {1101, 1102, 1119, 1120, 1086, 1092, 1012}) {
            std::string text;
            dialog.GetDlgItemText(id, text);
            shown += " " + std::to_string(id) + "=" + text;
        }
        say("closed " + std::to_string(button) + shown);
    }
    if (!stay) {
        dialog.EndDialog(IDCANCEL);
        return;
    }
    // The program runs on until a file named "end" appears in its directory.
    say("staying");
    SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR timer, DWORD) {
        if (std::filesystem::exists("end")) {
            KillTimer(nullptr, timer);
            mainDialog->EndDialog(IDCANCEL);
        }
    });
}

// Waits up to 5 s for the Skype client's contact list, then presses the buttons.
void waitForContacts(HWND, UINT, UINT_PTR, DWORD)
{
    QK_SKYPEMODEL* model = mainDialog->hub.skypeModel;
    if ((model == nullptr || model->userList.empty()) && ++waitedTicks < 50)
        return;
    KillTimer(nullptr, waitTimer);
    waitTimer = 0;
    pressAll();
}

} // namespace

int main(int argc, char** argv)
{
    setTraceEnabled(false);
    setModuleFileName(argv[0]);
    AfxSetResourceModule(programResources());
    InitPlatformGui(argc, argv);
    say(std::string("display ") + AfxGetDisplayPlatform());
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "stay")
            stay = true;
        else if (std::string(argv[i]) == "stacking")
            stacking = true;
        else
            buttons.push_back(std::atoi(argv[i]));
    }

    CZorvaneForTcpDlg dialog;
    mainDialog = &dialog;
    uitest::onNextModal([](CDialog&) { waitTimer = SetTimer(nullptr, 0, 100, waitForContacts); });
    dialog.DoModal();
    say("end");
    return 0;
}
