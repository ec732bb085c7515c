#include "fakeskype.h"

namespace {

constexpr const char* kFakeClass = "FAKESKYPEAPI";

bool registerFakeClass(WNDPROC procedure)
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.lpszClassName = kFakeClass;
    return RegisterClassA(&windowClass) != 0;
}

} // namespace

FakeSkype::FakeSkype()
    : discoverMessage(RegisterWindowMessageA("SkypeControlAPIDiscover")),
      attachMessage(RegisterWindowMessageA("SkypeControlAPIAttach"))
{
    static const bool classRegistered = registerFakeClass(&FakeSkype::procedure);
    (void)classRegistered;
    window = CreateWindowExA(0, kFakeClass, nullptr, 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

FakeSkype::~FakeSkype()
{
    if (IsWindow(window))
        DestroyWindow(window);
}

LRESULT FakeSkype::procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<FakeSkype*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    return self->handleMessage(message, wParam, lParam);
}

LRESULT FakeSkype::handleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= 0xC000)
        registered.push_back(message);
    if (message == discoverMessage) {
        discovers.push_back(reinterpret_cast<HWND>(wParam));
        discoverTimes.push_back(std::chrono::steady_clock::now());
        return 0;
    }
    if (message != WM_COPYDATA)
        return DefWindowProcA(window, message, wParam, lParam);
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    std::string text(static_cast<const char*>(data->lpData), data->cbData);
    if (!text.empty() && text.back() == '\0')
        text.pop_back();
    commandSenders.push_back(reinterpret_cast<HWND>(wParam));
    bool refused = refuse && refuse(text);
    if (refused || failNext > 0) {
        if (!refused)
            --failNext;
        failedCommands.push_back(text);
        return 0;
    }
    commands.push_back(text);
    if (onCommand)
        onCommand(text);
    return 1;
}

LRESULT FakeSkype::attach(HWND linkWindow, int code)
{
    return SendMessageA(linkWindow, attachMessage, reinterpret_cast<WPARAM>(window), code);
}

LRESULT FakeSkype::notify(HWND linkWindow, const std::string& text)
{
    return notifyBytes(linkWindow, text.c_str(), static_cast<DWORD>(text.size() + 1));
}

LRESULT FakeSkype::notifyBytes(HWND linkWindow, const char* bytes, DWORD length)
{
    COPYDATASTRUCT data;
    data.dwData = 0;
    data.cbData = length;
    data.lpData = const_cast<char*>(bytes);
    return SendMessageA(linkWindow, WM_COPYDATA, reinterpret_cast<WPARAM>(window),
                        reinterpret_cast<LPARAM>(&data));
}

bool pumpUntil(const std::function<bool()>& done, int ms)
{
    // In short slices: the loop wakes only for its own events, and `done`
    // may depend on another thread.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0)
            return false;
        PumpMessages(static_cast<int>(left < 20 ? left : 20), done);
    }
    return true;
}
