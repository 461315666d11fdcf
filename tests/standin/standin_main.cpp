// A stand-in for the main program, Tamsel.exe, in the Windows test tiers.
// Each build carries its own version resource (see CMakeLists.txt), which is
// what the updater reads to learn the installed version, and one behaviour
// (STANDIN_BEHAVIOUR), since the updater passes the program no arguments:
//   normal          the hidden window from the start; ends on the close message
//   ignores_close   the window, but the close message changes nothing
//   no_window       never creates the window
//   late_window     creates the window after STANDIN_LATE_SECONDS
//   replaces_window replaces its window by a new one after STANDIN_LATE_SECONDS
// Every variant ends by itself after TAMSEL_STANDIN_SECONDS (environment,
// default 120) so that nothing lingers after a test.
#include <windows.h>

#include <cwchar>

#ifndef STANDIN_BEHAVIOUR
#define STANDIN_BEHAVIOUR normal
#endif
#ifndef STANDIN_LATE_SECONDS
#define STANDIN_LATE_SECONDS 3
#endif

namespace {

enum class Behaviour { normal, ignores_close, no_window, late_window, replaces_window };
constexpr Behaviour behaviour = Behaviour::STANDIN_BEHAVIOUR;

constexpr wchar_t window_class[] = L"Tamsel.Hidden";
constexpr UINT_PTR lifetime_timer = 1;
constexpr UINT_PTR late_timer = 2;
constexpr int closed_exit_code = 0;
constexpr int lifetime_exit_code = 3;

HINSTANCE g_instance = nullptr;
HWND g_window = nullptr;

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_ENDSESSION && wparam == TRUE && (lparam & ENDSESSION_CLOSEAPP) != 0 &&
        behaviour != Behaviour::ignores_close) {
        PostQuitMessage(closed_exit_code);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

// A hidden top-level window: no WS_VISIBLE, no parent (not message-only).
HWND make_window() {
    return CreateWindowExW(0, window_class, L"Tamsel", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, g_instance, nullptr);
}

UINT lifetime_seconds() {
    wchar_t text[16] = {};
    const DWORD n = GetEnvironmentVariableW(L"TAMSEL_STANDIN_SECONDS", text, 16);
    const unsigned long seconds = (n > 0 && n < 16) ? std::wcstoul(text, nullptr, 10) : 0;
    return seconds > 0 && seconds < 3600 ? static_cast<UINT>(seconds) : 120;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    g_instance = instance;
    WNDCLASSW klass{};
    klass.lpfnWndProc = window_procedure;
    klass.hInstance = instance;
    klass.lpszClassName = window_class;
    if (RegisterClassW(&klass) == 0) return 2;

    if (behaviour == Behaviour::normal || behaviour == Behaviour::ignores_close ||
        behaviour == Behaviour::replaces_window)
        g_window = make_window();
    // Thread timers: they reach the message loop whether or not a window exists.
    SetTimer(nullptr, lifetime_timer, lifetime_seconds() * 1000, nullptr);
    const UINT_PTR late = SetTimer(nullptr, late_timer, STANDIN_LATE_SECONDS * 1000, nullptr);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr) {
            if (message.wParam == late) {
                KillTimer(nullptr, late);
                if (behaviour == Behaviour::late_window) g_window = make_window();
                if (behaviour == Behaviour::replaces_window) {
                    HWND replacement = make_window();
                    DestroyWindow(g_window);
                    g_window = replacement;
                }
                continue;
            }
            return lifetime_exit_code;
        }
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
