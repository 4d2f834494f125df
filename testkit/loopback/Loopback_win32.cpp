#include <winsock2.h>

#include <mutex>

#include "Loopback.h"

namespace loopback {
namespace {

SOCKET S(Socket socket) { return static_cast<SOCKET>(socket); }

sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

// Its own start-up: the socket library counts them, so this stays
// independent of the start-up of a client in the same process.
bool Startup() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
}

int LastError() { return WSAGetLastError(); }

std::string ErrorText(int code) { return "error " + std::to_string(code); }

Socket Bind(uint16_t port) {
    if (!Startup()) return kNoSocket;
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return kNoSocket;
    // Exclusive use: no other socket may bind the port while this one holds it.
    const BOOL on = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    const sockaddr_in address = LoopbackAddress(port);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int code = WSAGetLastError();
        ::closesocket(s);
        WSASetLastError(code);
        return kNoSocket;
    }
    return static_cast<Socket>(s);
}

bool StartListening(Socket socket, int backlog) { return ::listen(S(socket), backlog) == 0; }

Socket Listen(uint16_t port, int backlog) {
    const Socket s = Bind(port);
    if (s == kNoSocket) return kNoSocket;
    if (!StartListening(s, backlog)) {
        const int code = WSAGetLastError();
        ::closesocket(S(s));
        WSASetLastError(code);
        return kNoSocket;
    }
    return s;
}

uint16_t LocalPort(Socket socket) {
    sockaddr_in address{};
    int length = sizeof address;
    if (::getsockname(S(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

Socket StartConnect(uint16_t port) {
    if (!Startup()) return kNoSocket;
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return kNoSocket;
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    const sockaddr_in address = LoopbackAddress(port);
    ::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return static_cast<Socket>(s);
}

Socket Accept(Socket listener) {
    const SOCKET s = ::accept(S(listener), nullptr, nullptr);
    return s == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(s);
}

int Recv(Socket socket, char* buffer, int length) {
    const int n = ::recv(S(socket), buffer, length, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int Send(Socket socket, const char* buffer, int length) {
    const int n = ::send(S(socket), buffer, length, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

void ShutdownSend(Socket socket) { ::shutdown(S(socket), SD_SEND); }

void Close(Socket socket) { ::closesocket(S(socket)); }

void Reset(Socket socket) {
    linger l{};
    l.l_onoff = 1;
    l.l_linger = 0;
    ::setsockopt(S(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
    ::closesocket(S(socket));
}

bool WaitReadable(const std::vector<Socket>& sockets, int ms, std::vector<bool>& ready) {
    ready.assign(sockets.size(), false);
    if (sockets.empty()) {
        // select refuses an empty set.
        Sleep(static_cast<DWORD>(ms));
        return true;
    }
    fd_set set;
    FD_ZERO(&set);
    for (Socket s : sockets) FD_SET(S(s), &set);
    timeval limit{ms / 1000, (ms % 1000) * 1000};
    if (::select(0, &set, nullptr, nullptr, &limit) == SOCKET_ERROR) return false;
    for (size_t i = 0; i < sockets.size(); ++i) ready[i] = FD_ISSET(S(sockets[i]), &set) != 0;
    return true;
}

}  // namespace loopback
