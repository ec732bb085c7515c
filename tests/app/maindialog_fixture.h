#pragma once
// Runs the real main dialog modally in a fresh program directory, with the
// fake Skype window, sounds and message boxes recorded. A test's body runs
// inside the dialog's modal loop; timers are driven by calling OnTimer.
#include "app/zorvanefortcpdlg.h"
#include "platform/ui/uitest.h"
#include "support/fakeskype.h"
#include "support/tempdirectory.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

using Strings = std::vector<std::string>;

class MainDialogTest : public InTempDirectory {
protected:
    void SetUp() override;
    void TearDown() override;

    // ZorvaneForTcp.ini from "SECTION/KEY=value" entries. Every test gets
    // local ports the system chooses (0) unless it names its own.
    void writeSettings(const Strings& entries);
    // Builds the dialog and runs it; body runs once inside the modal loop,
    // which the fixture ends afterwards with endedByTest (when endAfterBody)
    // or, otherwise, as soon as the loop runs on after the body. Returns
    // DoModal's result.
    static constexpr int endedByTest = 9999;
    INT_PTR run(const std::function<void()>& body, bool endAfterBody = true);

    // The fake Skype attaches (code 0) and answers the five application creations.
    void attach();
    void notify(const std::string& text);
    void appNotify(int channel, const std::string& rest);
    // "USERS ..." and each contact ONLINE; connectable on the channels given.
    void setContacts(const std::string& users);
    void setConnectable(int channel, const std::string& users);
    Strings takeCommands();

    // Control state, read back from the window.
    std::string text(int id);
    bool shown(int id);
    bool enabled(int id);
    int checked(int id);
    int windowHeight();
    std::vector<UINT> soundIds() const;

    void tick(UINT_PTR timer, int count = 1);

    std::unique_ptr<CZorvaneForTcpDlg> dialog;
    std::unique_ptr<FakeSkype> skype;
    std::unique_ptr<uitest::SoundRecorder> sounds;
    std::unique_ptr<uitest::MessageBoxRecorder> boxes;
    Strings settings;
};
