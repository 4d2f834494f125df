// A small Winsock-shaped socket interface of this client's own: the calls the
// socket stack makes, with Winsock's numbering of error codes on every
// platform. IdWinsock_win32.cpp binds them to WS2_32.DLL at run time;
// IdWinsock_posix.cpp maps them onto BSD sockets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using TIdStackSocketHandle = intptr_t;
constexpr TIdStackSocketHandle Id_INVALID_SOCKET = -1;
constexpr int Id_SOCKET_ERROR = -1;

constexpr int Id_AF_INET = 2;
constexpr int Id_SOCK_STREAM = 1;
constexpr int Id_SOCK_DGRAM = 2;
constexpr int Id_IPPROTO_TCP = 6;
constexpr int Id_TCP_NODELAY = 1;
constexpr int Id_SOL_SOCKET = 0xFFFF;
constexpr int Id_SO_REUSEADDR = 0x0004;
constexpr int Id_SO_LINGER = 0x0080;
constexpr int Id_SO_SNDBUF = 0x1001;
constexpr int Id_SO_RCVBUF = 0x1002;
constexpr int Id_SO_ERROR = 0x1007;          // the pending error of a socket, as a Winsock code
constexpr uint32_t Id_FIONBIO = 0x8004667E;  // ioctlsocket: non-blocking mode on (1) or off (0)
constexpr int Id_SD_RECEIVE = 0;
constexpr int Id_SD_SEND = 1;
constexpr int Id_SD_BOTH = 2;

constexpr int Id_WSAEBADF = 10009;
constexpr int Id_WSAEWOULDBLOCK = 10035;
constexpr int Id_WSAEINPROGRESS = 10036;
constexpr int Id_WSAENOTSOCK = 10038;
constexpr int Id_WSAEADDRINUSE = 10048;
constexpr int Id_WSAECONNABORTED = 10053;
constexpr int Id_WSAECONNRESET = 10054;
constexpr int Id_WSAESHUTDOWN = 10058;
constexpr int Id_WSAECONNREFUSED = 10061;
constexpr int Id_WSANOTINITIALISED = 10093;
constexpr int Id_WSAHOST_NOT_FOUND = 11001;

// An IPv4 endpoint; the address bytes in network order, the port in host order.
struct TIdSockAddr {
    uint8_t address[4] = {0, 0, 0, 0};
    uint16_t port = 0;
};

namespace IdWinsock {

// Loads the socket library when it is not loaded yet and starts it; returns
// the start-up's result (0 on success). Raises EIdWS2StubError when the
// library cannot be loaded.
int WSAStartup(uint16_t version);
int WSACleanup();
// Releases the library; every function goes back to unbound. Called once at
// process end, after WSACleanup when the library was started.
void Unload();

// Every call below raises EIdWS2StubError while the library is not loaded
// (after Unload); the socket library itself has no other failure but its
// return value and WSAGetLastError.
int WSAGetLastError();
TIdStackSocketHandle socket(int family, int type, int protocol);
int bind(TIdStackSocketHandle s, const TIdSockAddr& address);
int connect(TIdStackSocketHandle s, const TIdSockAddr& address);
int listen(TIdStackSocketHandle s, int backlog);
TIdStackSocketHandle accept(TIdStackSocketHandle s, TIdSockAddr& peer);
int getsockname(TIdStackSocketHandle s, TIdSockAddr& address);
int getpeername(TIdStackSocketHandle s, TIdSockAddr& address);
int setsockopt(TIdStackSocketHandle s, int level, int option, const void* value, int length);
int getsockopt(TIdStackSocketHandle s, int level, int option, void* value, int& length);
int recv(TIdStackSocketHandle s, void* buffer, int length, int flags);
int send(TIdStackSocketHandle s, const void* buffer, int length, int flags);
int recvfrom(TIdStackSocketHandle s, void* buffer, int length, int flags, TIdSockAddr& from);
int sendto(TIdStackSocketHandle s, const void* buffer, int length, int flags, const TIdSockAddr& to);
int shutdown(TIdStackSocketHandle s, int how);
// Socket mode control; only Id_FIONBIO is used.
int ioctlsocket(TIdStackSocketHandle s, uint32_t command, uint32_t& argument);
int closesocket(TIdStackSocketHandle s);
// Waits until sockets of the lists are ready: at most `seconds` plus
// `microseconds` (below 1000000; a negative part fails with 10022), or
// without limit when `infinite`. Each given list is rewritten to its ready
// sockets. Returns the number of ready sockets, 0 on time-out, -1 on
// failure. At most 64 per list.
int select(std::vector<TIdStackSocketHandle>* read, std::vector<TIdStackSocketHandle>* write,
           std::vector<TIdStackSocketHandle>* except, int32_t seconds, int32_t microseconds, bool infinite);
// Name lookup: the IPv4 addresses of the host (empty on failure, with the
// error in WSAGetLastError, 11001 when the name is unknown).
std::vector<TIdSockAddr> gethostbyname(const std::string& name);
// The host name of the answer for an address, empty on failure.
std::string gethostbyaddr(const TIdSockAddr& address);
int gethostname(std::string& name);
// Port (host order) of a service name, -1 when unknown; and the reverse.
int getservbyname(const std::string& name, const std::string& protocol);
std::string getservbyport(int port, const std::string& protocol);

}  // namespace IdWinsock
