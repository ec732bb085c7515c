#pragma once
// The application object: prepares the process (socket layer, single
// instance, switches, trace output, working directory) and runs the main
// dialog for the program's whole life.
#include "platform/ui/winapp.h"

#include <string>

class CZorvaneForTcpApp : public CWinApp {
public:
    CZorvaneForTcpApp();
    ~CZorvaneForTcpApp() override;
    // 0 after a normal run or when the socket layer cannot start; -1 when the
    // single-instance mutex cannot be made or another instance holds it.
    BOOL InitInstance() override;
    // The process's exit status: 1 when the start-up gave up, else 0.
    int ExitInstance() override;
};

extern CZorvaneForTcpApp theApp;
// The directory part of the program's path, set by InitInstance.
extern std::string programDirectory;
// 1 after "-D119": trace output on.
extern int debugMode;

// The mutex that marks the running instance of a desktop, and its handle:
// held, never closed, until the process ends.
extern const char* const singleInstanceMutexName;
extern HANDLE instanceMutex;

// Takes "-D119" and "-NOLOCALONLY" (whole argument, exact case) from the
// arguments after the program name; every other argument is ignored.
void applyCommandLineSwitches(int argc, char** argv);

// Everything before the last '/' of path; empty when there is none.
std::string directoryOfProgram(const char* path);
