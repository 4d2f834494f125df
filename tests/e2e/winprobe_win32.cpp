// winprobe: reads the launchers' windows from another process, the way the
// end-to-end tests look at them from outside.
//
//   winprobe list [CAPTION]   every visible top-level window with the caption
//                             (default "KESTRIN"), with its children
//   winprobe restore [CAPTION] restores each minimised such window as the
//                             taskbar would; prints restored=N (those no
//                             longer minimised after up to 5 s)
//   winprobe start SHOW PROG  starts PROG with the start-up show command SHOW
//                             (as a shortcut set to "run minimised" does) and
//                             returns at once
//   winprobe syserror CODE    the text a failed COM call with this code is
//                             reported with: the system's text without trailing
//                             blanks, control characters and full stops, or
//                             "OLE error XXXXXXXX" when the system has none
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Loopback.h"

namespace {

std::string Text(HWND h) {
    char buf[1024] = "";
    GetWindowTextA(h, buf, sizeof buf);
    return buf;
}

std::string ClassOf(HWND h) {
    char buf[256] = "";
    GetClassNameA(h, buf, sizeof buf);
    return buf;
}

BOOL CALLBACK PrintChild(HWND child, LPARAM parent) {
    RECT r{};
    GetWindowRect(child, &r);
    POINT p{r.left, r.top};
    ScreenToClient(reinterpret_cast<HWND>(parent), &p);
    std::printf("  child class=%s text=%s pos=%ld,%ld size=%ldx%ld visible=%d\n", Quote(ClassOf(child)).c_str(),
                Quote(Text(child)).c_str(), p.x, p.y, r.right - r.left, r.bottom - r.top,
                IsWindowVisible(child) ? 1 : 0);
    return TRUE;
}

struct ListArgs {
    std::string caption;
    int found = 0;
};

BOOL CALLBACK PrintTop(HWND h, LPARAM param) {
    ListArgs& args = *reinterpret_cast<ListArgs*>(param);
    if (!IsWindowVisible(h) || Text(h) != args.caption) {
        return TRUE;
    }
    ++args.found;
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    RECT client{}, frame{};
    GetClientRect(h, &client);
    GetWindowRect(h, &frame);
    LONG style = GetWindowLongA(h, GWL_STYLE);
    LONG exStyle = GetWindowLongA(h, GWL_EXSTYLE);
    std::printf(
        "window hwnd=0x%lx pid=%lu class=%s caption=%s client=%ldx%ld frame=%ld,%ld,%ldx%ld "
        "iconic=%d topmost=%d style=0x%08lx exstyle=0x%08lx owner=0x%lx enabled=%d screen=%dx%d\n",
        static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(h)), static_cast<unsigned long>(pid),
        Quote(ClassOf(h)).c_str(), Quote(Text(h)).c_str(), client.right, client.bottom, frame.left, frame.top,
        frame.right - frame.left, frame.bottom - frame.top, IsIconic(h) ? 1 : 0, (exStyle & WS_EX_TOPMOST) ? 1 : 0,
        static_cast<unsigned long>(style), static_cast<unsigned long>(exStyle),
        static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(GetWindow(h, GW_OWNER))), IsWindowEnabled(h) ? 1 : 0,
        GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN));
    EnumChildWindows(h, PrintChild, reinterpret_cast<LPARAM>(h));
    return TRUE;
}

BOOL CALLBACK RestoreTop(HWND h, LPARAM param) {
    ListArgs& args = *reinterpret_cast<ListArgs*>(param);
    if (!IsWindowVisible(h) || Text(h) != args.caption || !IsIconic(h)) {
        return TRUE;
    }
    PostMessageA(h, WM_SYSCOMMAND, SC_RESTORE, 0);
    for (int i = 0; i < 50 && IsIconic(h); ++i) {
        Sleep(100);
    }
    if (!IsIconic(h)) {
        ++args.found;
    }
    return TRUE;
}

int Start(const char* showText, const char* program) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = static_cast<WORD>(std::atoi(showText));
    PROCESS_INFORMATION pi{};
    std::string commandLine = "\"" + std::string(program) + "\"";
    if (!CreateProcessA(program, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::printf("CreateProcess failed: %lu\n", static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 0;
}

int SysError(const char* codeText) {
    DWORD code = static_cast<DWORD>(std::strtoul(codeText, nullptr, 0));
    char buf[1024] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                             nullptr, code, 0, buf, sizeof buf, nullptr);
    std::string text(buf, n < sizeof buf ? n : 0);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) <= 32 || text.back() == '.')) {
        text.pop_back();
    }
    if (text.empty()) {
        char fallback[32];
        std::snprintf(fallback, sizeof fallback, "OLE error %.8lX", static_cast<unsigned long>(code));
        text = fallback;
    }
    std::printf("%s\n", text.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "list" && argc <= 3) {
        ListArgs args;
        args.caption = argc == 3 ? argv[2] : "KESTRIN";
        EnumWindows(PrintTop, reinterpret_cast<LPARAM>(&args));
        std::printf("found=%d\n", args.found);
        return 0;
    }
    if (verb == "restore" && argc <= 3) {
        ListArgs args;
        args.caption = argc == 3 ? argv[2] : "KESTRIN";
        EnumWindows(RestoreTop, reinterpret_cast<LPARAM>(&args));
        std::printf("restored=%d\n", args.found);
        return 0;
    }
    if (verb == "start" && argc == 4) {
        return Start(argv[2], argv[3]);
    }
    if (verb == "syserror" && argc == 3) {
        return SysError(argv[2]);
    }
    std::fprintf(stderr, "usage: winprobe list [CAPTION] | restore [CAPTION] | start SHOW PROGRAM | syserror CODE\n");
    return 2;
}
