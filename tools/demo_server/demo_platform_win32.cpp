// Windows side of the demo server's platform layer (Winsock 2, kernel32).
#include "demo_platform.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <ctime>

int64_t NowEpochMs()
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    // 100-ns ticks since 1601 to ms since 1970.
    return static_cast<int64_t>(t.QuadPart / 10000ULL) - 11644473600000LL;
}

std::string LocalClockText(int64_t epochMs)
{
    std::time_t secs = static_cast<std::time_t>(epochMs / 1000);
    std::tm tm = *std::localtime(&secs);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(epochMs % 1000));
    return buf;
}

void SleepMs(int ms) { Sleep(static_cast<DWORD>(ms)); }

int ProcessId() { return static_cast<int>(GetCurrentProcessId()); }

std::string ProgramDir()
{
    char buf[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    std::string path(buf, n < sizeof buf ? n : 0);
    std::string::size_type cut = path.find_last_of("\\/:");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool AppendToFile(const std::string& path, const std::string& text)
{
    HANDLE f = CreateFileA(path.c_str(), FILE_APPEND_DATA,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(f);
    return ok && written == text.size();
}

bool ReadWholeFile(const std::string& path, std::string& text)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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

bool NetStartup()
{
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

int NetLastError() { return WSAGetLastError(); }

SocketHandle ListenLoopback(uint16_t port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        return kNoSocket;
    }
    // Exclusive use: a second server must fail to bind while one listens.
    BOOL on = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 16) != 0) {
        int err = WSAGetLastError();
        closesocket(s);
        WSASetLastError(err);
        return kNoSocket;
    }
    return static_cast<SocketHandle>(s);
}

SocketHandle AcceptConnection(SocketHandle listener)
{
    SOCKET s = accept(static_cast<SOCKET>(listener), nullptr, nullptr);
    return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

int ReceiveSome(SocketHandle s, char* buf, int size)
{
    int n = recv(static_cast<SOCKET>(s), buf, size, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

bool SendAll(SocketHandle s, const std::string& data)
{
    std::string::size_type done = 0;
    while (done < data.size()) {
        int n = send(static_cast<SOCKET>(s), data.data() + done, static_cast<int>(data.size() - done), 0);
        if (n == SOCKET_ERROR || n == 0) {
            return false;
        }
        done += static_cast<std::string::size_type>(n);
    }
    return true;
}

void ShutdownSend(SocketHandle s) { shutdown(static_cast<SOCKET>(s), SD_SEND); }

void CloseSocket(SocketHandle s) { closesocket(static_cast<SOCKET>(s)); }

void ResetSocket(SocketHandle s)
{
    linger l{};
    l.l_onoff = 1;
    l.l_linger = 0;
    setsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
    closesocket(static_cast<SOCKET>(s));
}

bool WaitReadable(const std::vector<SocketHandle>& sockets, int timeoutMs, std::vector<bool>& ready)
{
    fd_set set;
    FD_ZERO(&set);
    for (SocketHandle s : sockets) {
        FD_SET(static_cast<SOCKET>(s), &set);
    }
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ready.assign(sockets.size(), false);
    if (sockets.empty()) {
        Sleep(static_cast<DWORD>(timeoutMs));
        return true;
    }
    int n = select(0, &set, nullptr, nullptr, &tv);
    if (n == SOCKET_ERROR) {
        return false;
    }
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        ready[i] = FD_ISSET(static_cast<SOCKET>(sockets[i]), &set) != 0;
    }
    return true;
}
