// Windows side of the demo server's platform layer (kernel32).
#include "demo_platform.h"

#include <windows.h>

#include <cstdio>
#include <ctime>

int64_t NowEpochMs() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    // 100-ns ticks since 1601 to ms since 1970.
    return static_cast<int64_t>(t.QuadPart / 10000ULL) - 11644473600000LL;
}

std::string LocalClockText(int64_t epochMs) {
    std::time_t secs = static_cast<std::time_t>(epochMs / 1000);
    std::tm tm = *std::localtime(&secs);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(epochMs % 1000));
    return buf;
}

void SleepMs(int ms) { Sleep(static_cast<DWORD>(ms)); }

int ProcessId() { return static_cast<int>(GetCurrentProcessId()); }

std::string ProgramDir() {
    char buf[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    std::string path(buf, n < sizeof buf ? n : 0);
    std::string::size_type cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool AppendToFile(const std::string& path, const std::string& text) {
    HANDLE f = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(f);
    return ok && written == text.size();
}

bool ReadWholeFile(const std::string& path, std::string& text) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        return false;
    }
    text.clear();
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got > 0) {
        text.append(buf, got);
    }
    CloseHandle(f);
    return true;
}
