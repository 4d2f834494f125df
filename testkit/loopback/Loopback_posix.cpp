#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Loopback.h"

namespace loopback {
namespace {

thread_local int lastError = 0;

int Fail() {
    lastError = errno;
    return -1;
}

sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

bool Startup() { return true; }

int LastError() { return lastError; }

std::string ErrorText(int code) { return std::strerror(code); }

Socket Bind(uint16_t port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return Fail();
    // A given port may be taken again over connections in TIME_WAIT; a live
    // listener still makes bind fail. An ephemeral port needs no such leave,
    // and without it no other socket can share the port while this one is
    // bound and not yet listening.
    if (port != 0) {
        const int one = 1;
        ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    }
    const sockaddr_in address = LoopbackAddress(port);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        Fail();
        ::close(s);
        return kNoSocket;
    }
    return s;
}

bool StartListening(Socket socket, int backlog) {
    if (::listen(static_cast<int>(socket), backlog) == 0) return true;
    Fail();
    return false;
}

Socket Listen(uint16_t port, int backlog) {
    const Socket s = Bind(port);
    if (s == kNoSocket) return kNoSocket;
    if (!StartListening(s, backlog)) {
        ::close(static_cast<int>(s));
        return kNoSocket;
    }
    return s;
}

uint16_t LocalPort(Socket socket) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

Socket StartConnect(uint16_t port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0) return Fail();
    const sockaddr_in address = LoopbackAddress(port);
    ::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return s;
}

Socket Accept(Socket listener) {
    const int s = ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    return s < 0 ? Fail() : s;
}

int Recv(Socket socket, char* buffer, int length) {
    const ssize_t n = ::recv(static_cast<int>(socket), buffer, static_cast<size_t>(length), 0);
    return n < 0 ? Fail() : static_cast<int>(n);
}

int Send(Socket socket, const char* buffer, int length) {
    const ssize_t n = ::send(static_cast<int>(socket), buffer, static_cast<size_t>(length), MSG_NOSIGNAL);
    return n < 0 ? Fail() : static_cast<int>(n);
}

void ShutdownSend(Socket socket) { ::shutdown(static_cast<int>(socket), SHUT_WR); }

void Close(Socket socket) { ::close(static_cast<int>(socket)); }

void Reset(Socket socket) {
    const linger l{1, 0};
    ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(static_cast<int>(socket));
}

bool WaitReadable(const std::vector<Socket>& sockets, int ms, std::vector<bool>& ready) {
    std::vector<pollfd> fds;
    for (Socket s : sockets) fds.push_back(pollfd{static_cast<int>(s), POLLIN, 0});
    ready.assign(sockets.size(), false);
    const int n = ::poll(fds.data(), fds.size(), ms);
    if (n < 0) {
        if (errno == EINTR) return true;
        Fail();
        return false;
    }
    for (size_t i = 0; i < fds.size(); ++i) ready[i] = (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    return true;
}

}  // namespace loopback
