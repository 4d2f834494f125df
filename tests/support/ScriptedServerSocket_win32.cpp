#include "ScriptedServerSocket.h"

#include <winsock2.h>

#include <mutex>
#include <stdexcept>
#include <string>

namespace scripted_socket {
namespace {

// The test side uses its own WSAStartup; the reference count of the socket
// library keeps it independent of the client's start-up.
void Startup() {
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        if (WSAStartup(0x0202, &data) != 0) throw std::runtime_error("WSAStartup failed");
    });
}

SOCKET S(intptr_t socket) { return static_cast<SOCKET>(socket); }

}  // namespace

intptr_t ListenLoopback(uint16_t port, uint16_t& boundPort, int backlog) {
    Startup();
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(s, backlog) != 0) {
        const int code = WSAGetLastError();
        ::closesocket(s);
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) + ": error " +
                                 std::to_string(code));
    }
    int length = sizeof address;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    boundPort = ntohs(address.sin_port);
    return static_cast<intptr_t>(s);
}

intptr_t StartConnectLoopback(uint16_t port) {
    Startup();
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) return -1;
    u_long nonBlocking = 1;
    ::ioctlsocket(s, FIONBIO, &nonBlocking);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return static_cast<intptr_t>(s);
}

bool WaitReadable(intptr_t socket, int ms) {
    fd_set read;
    FD_ZERO(&read);
    FD_SET(S(socket), &read);
    timeval limit{ms / 1000, (ms % 1000) * 1000};
    return ::select(0, &read, nullptr, nullptr, &limit) > 0;
}

intptr_t Accept(intptr_t listener) {
    const SOCKET s = ::accept(S(listener), nullptr, nullptr);
    return s == INVALID_SOCKET ? -1 : static_cast<intptr_t>(s);
}

int Recv(intptr_t socket, char* buffer, int length) {
    const int n = ::recv(S(socket), buffer, length, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int Send(intptr_t socket, const char* buffer, int length) {
    const int n = ::send(S(socket), buffer, length, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

void ShutdownSend(intptr_t socket) { ::shutdown(S(socket), SD_SEND); }

void SetLingerZero(intptr_t socket) {
    linger l{1, 0};
    ::setsockopt(S(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
}

void Close(intptr_t socket) { ::closesocket(S(socket)); }

}  // namespace scripted_socket
