// BSD sockets behind the Winsock-shaped interface. Error numbers are mapped
// onto the Winsock numbering so that codes and messages are the same on every
// platform; a send never raises SIGPIPE.
#include "IdWinsock.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

thread_local int lastError = 0;

int WinsockCode(int e) {
    switch (e) {
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: return 10024;
    case ENFILE: return 10024;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK: return 10035;
#endif
    case EAGAIN: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: return 10054;
    case ENOBUFS: return 10055;
    case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case EPIPE: return 10058;  // sending after a shutdown, or to a peer that is gone
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    default: return e == 0 ? 0 : 10000 + e;  // no Winsock match: still a failure code
    }
}

int Fail() {
    lastError = WinsockCode(errno);
    return Id_SOCKET_ERROR;
}

int Check(int result) { return result < 0 ? Fail() : result; }

sockaddr_in ToNative(const TIdSockAddr& a) {
    sockaddr_in n{};
    n.sin_family = AF_INET;
    n.sin_port = htons(a.port);
    std::memcpy(&n.sin_addr, a.address, 4);
    return n;
}

TIdSockAddr FromNative(const sockaddr_in& n) {
    TIdSockAddr a;
    std::memcpy(a.address, &n.sin_addr, 4);
    a.port = ntohs(n.sin_port);
    return a;
}

int Fd(TIdStackSocketHandle s) { return static_cast<int>(s); }

int Level(int level) { return level == Id_SOL_SOCKET ? SOL_SOCKET : level; }

int Option(int level, int option) {
    if (level != Id_SOL_SOCKET) return option;  // IPPROTO_TCP: TCP_NODELAY is 1 on both
    switch (option) {
    case Id_SO_REUSEADDR: return SO_REUSEADDR;
    case Id_SO_LINGER: return SO_LINGER;
    case Id_SO_SNDBUF: return SO_SNDBUF;
    case Id_SO_RCVBUF: return SO_RCVBUF;
    case Id_SO_ERROR: return SO_ERROR;
    default: return option;
    }
}

}  // namespace

namespace IdWinsock {

int WSAStartup(uint16_t) { return 0; }
int WSACleanup() { return 0; }
void Unload() {}
int WSAGetLastError() { return lastError; }

TIdStackSocketHandle socket(int family, int type, int protocol) {
    const int s = ::socket(family == Id_AF_INET ? AF_INET : family,
                           type == Id_SOCK_DGRAM    ? SOCK_DGRAM
                           : type == Id_SOCK_STREAM ? SOCK_STREAM
                                                    : type,
                           protocol);
    if (s < 0) {
        Fail();
        return Id_INVALID_SOCKET;
    }
    return s;
}

int bind(TIdStackSocketHandle s, const TIdSockAddr& address) {
    const sockaddr_in n = ToNative(address);
    return Check(::bind(Fd(s), reinterpret_cast<const sockaddr*>(&n), sizeof n));
}

int connect(TIdStackSocketHandle s, const TIdSockAddr& address) {
    const sockaddr_in n = ToNative(address);
    int r;
    do {
        r = ::connect(Fd(s), reinterpret_cast<const sockaddr*>(&n), sizeof n);
    } while (r < 0 && errno == EINTR);
    return Check(r);
}

int listen(TIdStackSocketHandle s, int backlog) { return Check(::listen(Fd(s), backlog)); }

TIdStackSocketHandle accept(TIdStackSocketHandle s, TIdSockAddr& peer) {
    sockaddr_in n{};
    socklen_t length = sizeof n;
    const int r = ::accept(Fd(s), reinterpret_cast<sockaddr*>(&n), &length);
    if (r < 0) {
        Fail();
        return Id_INVALID_SOCKET;
    }
    peer = FromNative(n);
    return r;
}

int getsockname(TIdStackSocketHandle s, TIdSockAddr& address) {
    sockaddr_in n{};
    socklen_t length = sizeof n;
    if (::getsockname(Fd(s), reinterpret_cast<sockaddr*>(&n), &length) < 0) return Fail();
    address = FromNative(n);
    return 0;
}

int getpeername(TIdStackSocketHandle s, TIdSockAddr& address) {
    sockaddr_in n{};
    socklen_t length = sizeof n;
    if (::getpeername(Fd(s), reinterpret_cast<sockaddr*>(&n), &length) < 0) return Fail();
    address = FromNative(n);
    return 0;
}

int setsockopt(TIdStackSocketHandle s, int level, int option, const void* value, int length) {
    return Check(::setsockopt(Fd(s), Level(level), Option(level, option), value, static_cast<socklen_t>(length)));
}

int getsockopt(TIdStackSocketHandle s, int level, int option, void* value, int& length) {
    socklen_t l = static_cast<socklen_t>(length);
    if (::getsockopt(Fd(s), Level(level), Option(level, option), value, &l) < 0) return Fail();
    length = static_cast<int>(l);
    // The pending error is an errno value here: report it in Winsock's numbering.
    if (level == Id_SOL_SOCKET && option == Id_SO_ERROR && length == static_cast<int>(sizeof(int)))
        *static_cast<int*>(value) = WinsockCode(*static_cast<int*>(value));
    return 0;
}

int recv(TIdStackSocketHandle s, void* buffer, int length, int flags) {
    ssize_t n;
    do {
        n = ::recv(Fd(s), buffer, static_cast<size_t>(length), flags);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? Fail() : static_cast<int>(n);
}

int send(TIdStackSocketHandle s, const void* buffer, int length, int flags) {
    ssize_t n;
    do {
        n = ::send(Fd(s), buffer, static_cast<size_t>(length), flags | MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? Fail() : static_cast<int>(n);
}

int recvfrom(TIdStackSocketHandle s, void* buffer, int length, int flags, TIdSockAddr& from) {
    sockaddr_in n{};
    socklen_t l = sizeof n;
    const ssize_t r =
        ::recvfrom(Fd(s), buffer, static_cast<size_t>(length), flags, reinterpret_cast<sockaddr*>(&n), &l);
    if (r < 0) return Fail();
    from = FromNative(n);
    return static_cast<int>(r);
}

int sendto(TIdStackSocketHandle s, const void* buffer, int length, int flags, const TIdSockAddr& to) {
    const sockaddr_in n = ToNative(to);
    const ssize_t r = ::sendto(Fd(s), buffer, static_cast<size_t>(length), flags | MSG_NOSIGNAL,
                               reinterpret_cast<const sockaddr*>(&n), sizeof n);
    return r < 0 ? Fail() : static_cast<int>(r);
}

int shutdown(TIdStackSocketHandle s, int how) {
    return Check(::shutdown(Fd(s), how == Id_SD_RECEIVE ? SHUT_RD : how == Id_SD_SEND ? SHUT_WR : SHUT_RDWR));
}

int closesocket(TIdStackSocketHandle s) { return Check(::close(Fd(s))); }

int ioctlsocket(TIdStackSocketHandle s, uint32_t command, uint32_t& argument) {
    if (command != Id_FIONBIO) {
        lastError = 10045;  // the one command this layer knows
        return Id_SOCKET_ERROR;
    }
    int on = argument != 0 ? 1 : 0;
    return Check(::ioctl(Fd(s), FIONBIO, &on));
}

int select(std::vector<TIdStackSocketHandle>* read, std::vector<TIdStackSocketHandle>* write,
           std::vector<TIdStackSocketHandle>* except, int32_t seconds, int32_t microseconds, bool infinite) {
    if (!infinite && (seconds < 0 || microseconds < 0 || microseconds >= 1000000)) {
        lastError = 10022;  // Winsock rejects such a time limit the same way
        return Id_SOCKET_ERROR;
    }
    // poll instead of fd_set: descriptors above FD_SETSIZE are fine.
    std::vector<pollfd> fds;
    auto add = [&](std::vector<TIdStackSocketHandle>* list, short events) {
        if (!list) return;
        for (TIdStackSocketHandle s : *list) fds.push_back({Fd(s), events, 0});
    };
    add(read, POLLIN);
    add(write, POLLOUT);
    add(except, POLLPRI);
    // A socket that was never connected reports POLLHUP at once although
    // Winsock would not count it as ready: such entries are left out and the
    // wait goes on for the rest of the limit.
    const auto wanted = [](short events, short revents) {
        return (revents & events) || (!(events & POLLOUT) && (revents & POLLERR));
    };
    const int64_t limitMs = infinite ? -1 : int64_t(seconds) * 1000 + (microseconds + 999) / 1000;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs < 0 ? 0 : limitMs);
    std::vector<int> realFds;
    for (const pollfd& p : fds) realFds.push_back(p.fd);
    for (;;) {
        int wait = -1;
        if (!infinite) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
            wait = static_cast<int>(std::max<int64_t>(0, left.count()));
        }
        const int r = ::poll(fds.data(), fds.size(), wait);
        if (r < 0) {
            if (errno == EINTR) continue;
            return Fail();
        }
        bool any = false;
        for (pollfd& p : fds) {
            if (p.revents & POLLNVAL) {
                lastError = 10038;  // not a socket (any more): Winsock fails the whole call
                return Id_SOCKET_ERROR;
            }
            if (wanted(p.events, p.revents)) any = true;
            else if (p.revents) p.fd = -1;  // only unwanted conditions: poll ignores it from now on
        }
        const bool anyLeft = std::any_of(fds.begin(), fds.end(), [](const pollfd& p) { return p.fd >= 0; });
        if (any || r == 0 || wait == 0 || !anyLeft) break;
    }
    for (size_t k = 0; k < fds.size(); ++k) {
        if (fds[k].fd == -1) fds[k].revents = 0;
        fds[k].fd = realFds[k];
    }
    size_t i = 0;
    int ready = 0;
    auto keep = [&](std::vector<TIdStackSocketHandle>* list) {
        if (!list) return;
        std::vector<TIdStackSocketHandle> out;
        for (TIdStackSocketHandle s : *list) {
            const pollfd& p = fds[i++];
            // A closed or reset connection reports POLLIN too; an error counts
            // as readable (the recv reports it) and as an exception.
            if (wanted(p.events, p.revents)) out.push_back(s);
        }
        ready += static_cast<int>(out.size());
        *list = std::move(out);
    };
    keep(read);
    keep(write);
    keep(except);
    return ready;
}

std::vector<TIdSockAddr> gethostbyname(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* answer = nullptr;
    const int r = ::getaddrinfo(name.c_str(), nullptr, &hints, &answer);
    std::vector<TIdSockAddr> out;
    if (r != 0) {
        switch (r) {
        case EAI_AGAIN: lastError = 11002; break;
        case EAI_FAIL: lastError = 11003; break;
#ifdef EAI_NODATA
        case EAI_NODATA: lastError = 11004; break;
#endif
        case EAI_SYSTEM: lastError = WinsockCode(errno); break;
        default: lastError = Id_WSAHOST_NOT_FOUND; break;
        }
        return out;
    }
    for (addrinfo* a = answer; a; a = a->ai_next)
        out.push_back(FromNative(*reinterpret_cast<const sockaddr_in*>(a->ai_addr)));
    ::freeaddrinfo(answer);
    return out;
}

std::string gethostbyaddr(const TIdSockAddr& address) {
    const sockaddr_in n = ToNative(address);
    char host[NI_MAXHOST];
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&n), sizeof n, host, sizeof host, nullptr, 0, NI_NAMEREQD) !=
        0) {
        lastError = Id_WSAHOST_NOT_FOUND;
        return {};
    }
    return host;
}

int gethostname(std::string& name) {
    char buffer[256];
    if (::gethostname(buffer, sizeof buffer) < 0) return Fail();
    buffer[sizeof buffer - 1] = 0;
    name = buffer;
    return 0;
}

int getservbyname(const std::string& name, const std::string& protocol) {
    servent* s = ::getservbyname(name.c_str(), protocol.c_str());
    return s ? ntohs(static_cast<uint16_t>(s->s_port)) : -1;
}

std::string getservbyport(int port, const std::string& protocol) {
    servent* s = ::getservbyport(htons(static_cast<uint16_t>(port)), protocol.c_str());
    return s ? s->s_name : std::string();
}

}  // namespace IdWinsock
