// window_info SECONDS [restore]: finds the top-level window captioned
// "KESTRIN" (waiting up to SECONDS) and prints what a user would see of it,
// one "key=value" per line, for the window check script. With "restore" it
// first restores a minimised window as the taskbar would.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    const int waitSeconds = argc > 1 ? std::atoi(argv[1]) : 20;
    HWND window = nullptr;
    for (int i = 0; i < waitSeconds * 10 && !window; ++i) {
        window = FindWindowA(nullptr, "KESTRIN");
        if (!window || !IsWindowVisible(window)) {
            window = nullptr;
            Sleep(100);
        }
    }
    if (!window) {
        std::printf("found=0\n");
        return 1;
    }
    std::printf("iconic=%d\n", IsIconic(window) ? 1 : 0);
    if (argc > 2 && std::strcmp(argv[2], "restore") == 0) {
        PostMessageA(window, WM_SYSCOMMAND, SC_RESTORE, 0);
        for (int i = 0; i < 50 && IsIconic(window); ++i) Sleep(100);
        std::printf("restored=%d\n", IsIconic(window) ? 0 : 1);
    }
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    const LONG style = GetWindowLongA(window, GWL_STYLE);
    const LONG exStyle = GetWindowLongA(window, GWL_EXSTYLE);
    RECT client = {}, frame = {};
    GetClientRect(window, &client);
    GetWindowRect(window, &frame);
    std::printf("found=1\ncaption=%s\n", text);
    std::printf("topmost=%d\n", (exStyle & WS_EX_TOPMOST) ? 1 : 0);
    std::printf("client=%ldx%ld\n", client.right - client.left, client.bottom - client.top);
    std::printf("sysmenu=%d\nminbox=%d\nmaxbox=%d\nsizable=%d\n", (style & WS_SYSMENU) ? 1 : 0,
                (style & WS_MINIMIZEBOX) ? 1 : 0, (style & WS_MAXIMIZEBOX) ? 1 : 0, (style & WS_THICKFRAME) ? 1 : 0);
    const int screenWidth = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    const LONG width = frame.right - frame.left, height = frame.bottom - frame.top;
    std::printf("centred=%d\n", frame.left == (screenWidth - width) / 2 && frame.top == (screenHeight - height) / 2);

    HWND label = FindWindowExA(window, nullptr, "Static", nullptr);
    if (label) {
        char caption[256] = {};
        GetWindowTextA(label, caption, sizeof caption);
        RECT r = {};
        GetWindowRect(label, &r);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
        std::printf("label=%s\nlabelrect=%ld,%ld,%ldx%ld\n", caption, r.left, r.top, r.right - r.left,
                    r.bottom - r.top);
    }
    return 0;
}
