// The framework tests' helper process: sends and posts to a window of the
// test, or broadcasts. Its exit status is the send's result (copydata).
#include "platform/winuser.h"

#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    InitPlatform(argc, argv);
    std::string mode = argv[1];
    if (mode == "broadcast") {
        UINT id = RegisterWindowMessageA(argv[2]);
        return PostMessageA(HWND_BROADCAST, id, 0, 0) ? 0 : 1;
    }
    if (argc < 4)
        return 2;
    HWND w = reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(argv[2], nullptr, 16)));
    if (mode == "post")
        return PostMessageA(w, static_cast<UINT>(std::strtoul(argv[3], nullptr, 10)), 0, 0) ? 0 : 1;
    if (mode == "copydata" && argc >= 5) {
        COPYDATASTRUCT cds{std::strtoull(argv[3], nullptr, 10), static_cast<DWORD>(std::strlen(argv[4]) + 1), argv[4]};
        return static_cast<int>(SendMessageA(w, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)) & 0xff);
    }
    return 2;
}
