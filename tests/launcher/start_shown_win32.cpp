// start_shown PROGRAM SHOWCMD: starts PROGRAM with the given start-up show
// command (as a shortcut set to "run minimised" does) and returns at once.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = static_cast<WORD>(std::atoi(argv[2]));
    PROCESS_INFORMATION pi = {};
    char commandLine[MAX_PATH + 3];
    std::snprintf(commandLine, sizeof commandLine, "\"%s\"", argv[1]);
    if (!CreateProcessA(argv[1], commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::printf("CreateProcess failed: %lu\n", GetLastError());
        return 1;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 0;
}
