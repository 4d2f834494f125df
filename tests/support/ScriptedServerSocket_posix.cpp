#include "ScriptedServerSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace scripted_socket {

intptr_t ListenLoopback(uint16_t port, uint16_t& boundPort, int backlog) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) throw std::runtime_error("socket failed");
    const int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(s, backlog) != 0) {
        const std::string why = std::strerror(errno);
        ::close(s);
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + why);
    }
    socklen_t length = sizeof address;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    boundPort = ntohs(address.sin_port);
    return s;
}

intptr_t StartConnectLoopback(uint16_t port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return -1;
    ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) | O_NONBLOCK);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return s;
}

bool WaitReadable(intptr_t socket, int ms) {
    pollfd p{static_cast<int>(socket), POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, ms);
    } while (r < 0 && errno == EINTR);
    return r > 0;
}

intptr_t Accept(intptr_t listener) {
    const int s = ::accept(static_cast<int>(listener), nullptr, nullptr);
    return s < 0 ? -1 : s;
}

int Recv(intptr_t socket, char* buffer, int length) {
    const ssize_t n = ::recv(static_cast<int>(socket), buffer, static_cast<size_t>(length), 0);
    return n < 0 ? -1 : static_cast<int>(n);
}

int Send(intptr_t socket, const char* buffer, int length) {
    const ssize_t n = ::send(static_cast<int>(socket), buffer, static_cast<size_t>(length), MSG_NOSIGNAL);
    return n < 0 ? -1 : static_cast<int>(n);
}

void ShutdownSend(intptr_t socket) { ::shutdown(static_cast<int>(socket), SHUT_WR); }

void SetLingerZero(intptr_t socket) {
    linger l{1, 0};
    ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

void Close(intptr_t socket) { ::close(static_cast<int>(socket)); }

}  // namespace scripted_socket
