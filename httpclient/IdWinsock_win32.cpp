// WinSock 2 bound at run time: "WS2_32.DLL" is loaded by name when the stack
// starts, and each function is looked up by name on its first call. No import
// library is linked, so the program starts even where the library is missing
// and reports that as an error object instead.
#include "IdWinsock.h"

#include <winsock2.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "IdException.h"

namespace {

const char* const kLibraryName = "WS2_32.DLL";

// Never destroyed: the process-end shutdown may run after this file's statics are gone.
std::mutex& LibraryLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}
std::atomic<HMODULE> library{nullptr};

AnsiString SystemText(DWORD code) {
    char buffer[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                             sizeof buffer, nullptr);
    while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == ' ')) --n;
    return AnsiString(buffer, n);
}

[[noreturn]] void RaiseCallError(const char* name, DWORD code) {
    throw EIdWS2StubError(Format("Error on call Winsock2 library function %s", {name}), static_cast<int32_t>(code),
                          SystemText(code));
}

// Binds one socket function by name. Raises EIdWS2StubError when the library
// is not loaded (or does not export the function).
FARPROC ResolveSocketFunction(const char* name) {
    const HMODULE module = library.load();
    if (!module) RaiseCallError(name, Id_WSANOTINITIALISED);
    const FARPROC f = GetProcAddress(module, name);
    if (!f) RaiseCallError(name, GetLastError());
    return f;
}

// One lazily bound function; Unload resets every slot.
struct Slot {
    const char* name;
    std::atomic<FARPROC> address{nullptr};
    Slot* next;
    static Slot* first;
    explicit Slot(const char* n) : name(n), next(first) { first = this; }
};
Slot* Slot::first = nullptr;

template <typename F>
F Bound(Slot& slot) {
    FARPROC f = slot.address.load();
    if (!f || !library.load()) {
        f = ResolveSocketFunction(slot.name);
        slot.address.store(f);
    }
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(f));
}

#define ID_SOCKET_FUNCTION(fn) \
    Slot slot_##fn(#fn);       \
    using fn##_t = decltype(&::fn);

ID_SOCKET_FUNCTION(WSAStartup)
ID_SOCKET_FUNCTION(WSACleanup)
ID_SOCKET_FUNCTION(WSAGetLastError)
ID_SOCKET_FUNCTION(socket)
ID_SOCKET_FUNCTION(bind)
ID_SOCKET_FUNCTION(connect)
ID_SOCKET_FUNCTION(listen)
ID_SOCKET_FUNCTION(accept)
ID_SOCKET_FUNCTION(getsockname)
ID_SOCKET_FUNCTION(getpeername)
ID_SOCKET_FUNCTION(setsockopt)
ID_SOCKET_FUNCTION(getsockopt)
ID_SOCKET_FUNCTION(recv)
ID_SOCKET_FUNCTION(send)
ID_SOCKET_FUNCTION(recvfrom)
ID_SOCKET_FUNCTION(sendto)
ID_SOCKET_FUNCTION(shutdown)
ID_SOCKET_FUNCTION(closesocket)
ID_SOCKET_FUNCTION(ioctlsocket)
ID_SOCKET_FUNCTION(select)
ID_SOCKET_FUNCTION(gethostbyname)
ID_SOCKET_FUNCTION(gethostbyaddr)
ID_SOCKET_FUNCTION(gethostname)
ID_SOCKET_FUNCTION(getservbyname)
ID_SOCKET_FUNCTION(getservbyport)

#define CALL(fn) Bound<fn##_t>(slot_##fn)

SOCKET S(TIdStackSocketHandle s) { return static_cast<SOCKET>(s); }

uint16_t Swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }

sockaddr_in ToNative(const TIdSockAddr& a) {
    sockaddr_in n;
    std::memset(&n, 0, sizeof n);
    n.sin_family = AF_INET;
    n.sin_port = Swap16(a.port);
    std::memcpy(&n.sin_addr, a.address, 4);
    return n;
}

TIdSockAddr FromNative(const sockaddr_in& n) {
    TIdSockAddr a;
    std::memcpy(a.address, &n.sin_addr, 4);
    a.port = Swap16(n.sin_port);
    return a;
}

void ToSet(const std::vector<TIdStackSocketHandle>* list, fd_set& set) {
    set.fd_count = 0;
    if (!list) return;
    for (TIdStackSocketHandle s : *list) set.fd_array[set.fd_count++] = S(s);
}

void FromSet(std::vector<TIdStackSocketHandle>* list, const fd_set& set) {
    if (!list) return;
    list->clear();
    for (u_int i = 0; i < set.fd_count; ++i) list->push_back(static_cast<TIdStackSocketHandle>(set.fd_array[i]));
}

}  // namespace

namespace IdWinsock {

int WSAStartup(uint16_t version) {
    {
        std::lock_guard<std::mutex> lock(LibraryLock());
        if (!library.load()) {
            const HMODULE module = LoadLibraryA(kLibraryName);
            if (!module) {
                const DWORD code = GetLastError();
                throw EIdWS2StubError(Format("Error on loading Winsock2 library (%s)", {kLibraryName}),
                                      static_cast<int32_t>(code), SystemText(code));
            }
            library.store(module);
        }
    }
    WSADATA data;
    return CALL(WSAStartup)(version, &data);
}

int WSACleanup() { return CALL(WSACleanup)(); }

void Unload() {
    std::lock_guard<std::mutex> lock(LibraryLock());
    const HMODULE module = library.exchange(nullptr);
    for (Slot* s = Slot::first; s; s = s->next) s->address.store(nullptr);
    if (module) FreeLibrary(module);
}

int WSAGetLastError() { return CALL(WSAGetLastError)(); }

TIdStackSocketHandle socket(int family, int type, int protocol) {
    const SOCKET s = CALL(socket)(family, type, protocol);
    return s == INVALID_SOCKET ? Id_INVALID_SOCKET : static_cast<TIdStackSocketHandle>(s);
}

int bind(TIdStackSocketHandle s, const TIdSockAddr& address) {
    const sockaddr_in n = ToNative(address);
    return CALL(bind)(S(s), reinterpret_cast<const sockaddr*>(&n), sizeof n);
}

int connect(TIdStackSocketHandle s, const TIdSockAddr& address) {
    const sockaddr_in n = ToNative(address);
    return CALL(connect)(S(s), reinterpret_cast<const sockaddr*>(&n), sizeof n);
}

int listen(TIdStackSocketHandle s, int backlog) { return CALL(listen)(S(s), backlog); }

TIdStackSocketHandle accept(TIdStackSocketHandle s, TIdSockAddr& peer) {
    sockaddr_in n;
    int length = sizeof n;
    const SOCKET r = CALL(accept)(S(s), reinterpret_cast<sockaddr*>(&n), &length);
    if (r == INVALID_SOCKET) return Id_INVALID_SOCKET;
    peer = FromNative(n);
    return static_cast<TIdStackSocketHandle>(r);
}

int getsockname(TIdStackSocketHandle s, TIdSockAddr& address) {
    sockaddr_in n;
    int length = sizeof n;
    const int r = CALL(getsockname)(S(s), reinterpret_cast<sockaddr*>(&n), &length);
    if (r == 0) address = FromNative(n);
    return r;
}

int getpeername(TIdStackSocketHandle s, TIdSockAddr& address) {
    sockaddr_in n;
    int length = sizeof n;
    const int r = CALL(getpeername)(S(s), reinterpret_cast<sockaddr*>(&n), &length);
    if (r == 0) address = FromNative(n);
    return r;
}

int setsockopt(TIdStackSocketHandle s, int level, int option, const void* value, int length) {
    return CALL(setsockopt)(S(s), level, option, static_cast<const char*>(value), length);
}

int getsockopt(TIdStackSocketHandle s, int level, int option, void* value, int& length) {
    return CALL(getsockopt)(S(s), level, option, static_cast<char*>(value), &length);
}

int recv(TIdStackSocketHandle s, void* buffer, int length, int flags) {
    return CALL(recv)(S(s), static_cast<char*>(buffer), length, flags);
}

int send(TIdStackSocketHandle s, const void* buffer, int length, int flags) {
    return CALL(send)(S(s), static_cast<const char*>(buffer), length, flags);
}

int recvfrom(TIdStackSocketHandle s, void* buffer, int length, int flags, TIdSockAddr& from) {
    sockaddr_in n;
    int l = sizeof n;
    const int r = CALL(recvfrom)(S(s), static_cast<char*>(buffer), length, flags, reinterpret_cast<sockaddr*>(&n), &l);
    if (r >= 0) from = FromNative(n);
    return r;
}

int sendto(TIdStackSocketHandle s, const void* buffer, int length, int flags, const TIdSockAddr& to) {
    const sockaddr_in n = ToNative(to);
    return CALL(sendto)(S(s), static_cast<const char*>(buffer), length, flags, reinterpret_cast<const sockaddr*>(&n),
                        sizeof n);
}

int shutdown(TIdStackSocketHandle s, int how) { return CALL(shutdown)(S(s), how); }

int closesocket(TIdStackSocketHandle s) { return CALL(closesocket)(S(s)); }

int ioctlsocket(TIdStackSocketHandle s, uint32_t command, uint32_t& argument) {
    u_long value = argument;
    const int r = CALL(ioctlsocket)(S(s), static_cast<long>(command), &value);
    argument = static_cast<uint32_t>(value);
    return r;
}

int select(std::vector<TIdStackSocketHandle>* read, std::vector<TIdStackSocketHandle>* write,
           std::vector<TIdStackSocketHandle>* except, int32_t seconds, int32_t microseconds, bool infinite) {
    fd_set r, w, e;
    ToSet(read, r);
    ToSet(write, w);
    ToSet(except, e);
    timeval limit;
    limit.tv_sec = seconds;
    limit.tv_usec = microseconds;
    const int result =
        CALL(select)(0, read ? &r : nullptr, write ? &w : nullptr, except ? &e : nullptr, infinite ? nullptr : &limit);
    if (result >= 0) {
        FromSet(read, r);
        FromSet(write, w);
        FromSet(except, e);
    }
    return result;
}

std::vector<TIdSockAddr> gethostbyname(const std::string& name) {
    std::vector<TIdSockAddr> out;
    const hostent* h = CALL(gethostbyname)(name.c_str());
    if (!h || h->h_addrtype != AF_INET || h->h_length != 4) return out;
    for (char** a = h->h_addr_list; *a; ++a) {
        TIdSockAddr address;
        std::memcpy(address.address, *a, 4);
        out.push_back(address);
    }
    return out;
}

std::string gethostbyaddr(const TIdSockAddr& address) {
    const hostent* h = CALL(gethostbyaddr)(reinterpret_cast<const char*>(address.address), 4, AF_INET);
    return h && h->h_name ? h->h_name : std::string();
}

int gethostname(std::string& name) {
    char buffer[256];
    const int r = CALL(gethostname)(buffer, sizeof buffer);
    if (r == 0) {
        buffer[sizeof buffer - 1] = 0;
        name = buffer;
    }
    return r;
}

int getservbyname(const std::string& name, const std::string& protocol) {
    const servent* s = CALL(getservbyname)(name.c_str(), protocol.c_str());
    return s ? Swap16(static_cast<uint16_t>(s->s_port)) : -1;
}

std::string getservbyport(int port, const std::string& protocol) {
    const servent* s = CALL(getservbyport)(Swap16(static_cast<uint16_t>(port)), protocol.c_str());
    return s && s->s_name ? s->s_name : std::string();
}

}  // namespace IdWinsock
