#include "IdStack.h"

#include <algorithm>

#include "IdGlobal.h"

TIdStack* SharedStack = nullptr;
int32_t StackUsers = 0;
std::mutex StackLock;
bool PlatformStarted = false;

namespace {

struct ErrorText {
    int32_t code;
    const char* text;
};

// The texts of the platform error codes. 10035 ends in a blank and 10066 has
// no full stop: callers may compare them, so they stay as they are.
const ErrorText kErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block. "},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
};

const char* TableText(int32_t code) {
    for (const ErrorText& e : kErrorTexts)
        if (e.code == code) return e.text;
    return "";
}

// Shuts the platform down once at process end, after every component is gone.
struct PlatformShutdown {
    ~PlatformShutdown() {
        try {
            if (PlatformStarted) IdWinsock::WSACleanup();
            IdWinsock::Unload();
        } catch (...) {
        }
    }
} platformShutdown;

constexpr size_t kMaxSocketsPerList = 64;

thread_local int32_t lastSocketError = 0;

}  // namespace

// ---- TIdStack

TIdStack::TIdStack() = default;

int32_t TIdStack::LastSocketError() const { return lastSocketError; }

AnsiString TIdStack::SocketErrorText(int32_t code) {
    return Format("Socket Error # %d\r\n%s", {code, TableText(code)});
}

AnsiString TIdStack::HostToAddress(const AnsiString& host) {
    if (SameText(host, "LOCALHOST")) return "127.0.0.1";
    if (IsDottedQuad(host)) return host;
    const AnsiString address = GetHostByName(host);
    if (address.empty()) CheckSocketResult(Id_SOCKET_ERROR);
    return address;
}

bool TIdStack::IsDottedQuad(const AnsiString& text) {
    AnsiString rest = text;
    AnsiString parts[4];
    for (int i = 0; i < 3; ++i) parts[i] = CutToken(rest, ".");
    parts[3] = rest;
    for (const AnsiString& part : parts) {
        int32_t value;
        if (!TryStrToInt(part, value) || value < 0 || value > 255) return false;
    }
    return true;
}

TIdStackSocketHandle TIdStack::AllocSocket(int type, int protocol) {
    const TIdStackSocketHandle s = Socket(Id_AF_INET, type, protocol);
    if (s == Id_INVALID_SOCKET) throw EIdInvalidSocket();
    return s;
}

bool TIdStack::CheckSocketResult(int result, std::initializer_list<int32_t> ignore) {
    if (result != Id_SOCKET_ERROR) return false;
    const int32_t code = WSGetLastError();
    lastSocketError = code;
    if (std::find(ignore.begin(), ignore.end(), code) != ignore.end()) return true;
    RaiseSocketFailure(code);
}

void TIdStack::RaiseSocketFailure(int32_t code) { throw EIdSocketError(SocketErrorText(code), code); }

namespace {

void SetNonBlocking(TIdStack& stack, TIdStackSocketHandle s, bool on) {
    uint32_t argument = on ? 1 : 0;
    stack.CheckSocketResult(stack.IOCtlSocket(s, Id_FIONBIO, argument));
}

}  // namespace

void TIdStack::ConnectBefore(TIdStackSocketHandle s, const AnsiString& ip, int32_t port,
                             std::chrono::steady_clock::time_point deadline) {
    SetNonBlocking(*this, s, true);
    // A connect that completes (or fails) at once reports so here; otherwise
    // it is pending (10035 on Windows, 10036 elsewhere).
    if (CheckSocketResult(Connect(s, ip, port), {Id_WSAEWOULDBLOCK, Id_WSAEINPROGRESS})) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const int64_t ms = std::max<int64_t>(0, std::min<int64_t>(left.count(), INT32_MAX));
        // Completion makes the socket writable; failure puts it in the
        // exception list (Windows) or makes it report an error (elsewhere).
        TIdSocketList write{s}, except{s};
        const int ready = Select(nullptr, &write, &except, static_cast<int32_t>(ms));
        CheckSocketResult(ready);
        if (ready == 0) throw EIdConnectTimeout();
        int32_t pending = 0;
        int length = sizeof pending;
        CheckSocketResult(GetSockOpt(s, Id_SOL_SOCKET, Id_SO_ERROR, &pending, length));
        if (pending != 0) {
            lastSocketError = pending;
            RaiseSocketFailure(pending);
        }
    }
    SetNonBlocking(*this, s, false);
}

// ---- TIdStackWindows

TIdStackWindows::TIdStackWindows() {
    if (!PlatformStarted) {
        if (IdWinsock::WSAStartup(0x0202) != 0) throw EIdStackInitializationFailed();
        PlatformStarted = true;
    }
}

AnsiString TIdStackWindows::SocketErrorText(int32_t code) {
    if (code == Id_WSAHOST_NOT_FOUND) return Format("Socket Error # %d\r\n%s", {code, "Host not found."});
    return TIdStack::SocketErrorText(code);
}

void TIdStackWindows::FillLocalAddresses() {
    localAddresses_.clear();
    localAddressesFilled_ = true;
    const AnsiString name = GetHostName();
    if (name.empty()) return;
    for (const TIdSockAddr& a : IdWinsock::gethostbyname(name)) localAddresses_.push_back(AddressToText(a));
}

AnsiString TIdStackWindows::FirstLocalAddress() {
    const auto& list = LocalAddressList();
    return list.empty() ? AnsiString() : list.front();
}

const std::vector<AnsiString>& TIdStackWindows::LocalAddressList() {
    if (!localAddressesFilled_) FillLocalAddresses();
    return localAddresses_;
}

TIdSockAddr TIdStackWindows::SockAddr(const AnsiString& ip, int32_t port) {
    TIdSockAddr a;
    const TIdIn4Addr address = TextToAddress(ip.empty() ? AnsiString("0.0.0.0") : ip);
    std::copy(address.begin(), address.end(), a.address);
    a.port = static_cast<uint16_t>(port);
    return a;
}

TIdStackSocketHandle TIdStackWindows::Accept(TIdStackSocketHandle s, AnsiString& ip, int32_t& port) {
    TIdSockAddr peer;
    const TIdStackSocketHandle r = IdWinsock::accept(s, peer);
    if (r != Id_INVALID_SOCKET) {
        ip = AddressToText(peer);
        port = peer.port;
    }
    return r;
}

int TIdStackWindows::Bind(TIdStackSocketHandle s, const AnsiString& ip, int32_t port) {
    return IdWinsock::bind(s, SockAddr(ip, port));
}

int TIdStackWindows::CloseSocket(TIdStackSocketHandle s) { return IdWinsock::closesocket(s); }

int TIdStackWindows::Connect(TIdStackSocketHandle s, const AnsiString& ip, int32_t port) {
    return IdWinsock::connect(s, SockAddr(ip, port));
}

AnsiString TIdStackWindows::GetHostByName(const AnsiString& host) {
    const std::vector<TIdSockAddr> answer = IdWinsock::gethostbyname(host);
    if (answer.empty()) return {};
    const TIdSockAddr& a = answer.front();
    return AddressToText(a);
}

AnsiString TIdStackWindows::GetHostName() {
    std::string name;
    return IdWinsock::gethostname(name) == 0 ? name : AnsiString();
}

AnsiString TIdStackWindows::GetHostByAddr(const AnsiString& ip) { return IdWinsock::gethostbyaddr(SockAddr(ip, 0)); }

int32_t TIdStackWindows::GetServByName(const AnsiString& name) { return IdWinsock::getservbyname(name, "tcp"); }

AnsiString TIdStackWindows::GetServByPort(int32_t port) { return IdWinsock::getservbyport(port, "tcp"); }

uint16_t TIdStackWindows::HToNS(uint16_t v) {
    const uint8_t b[2] = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    uint16_t r;
    std::copy(b, b + 2, reinterpret_cast<uint8_t*>(&r));
    return r;
}

uint16_t TIdStackWindows::NToHS(uint16_t v) {
    const uint8_t* b = reinterpret_cast<const uint8_t*>(&v);
    return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

uint32_t TIdStackWindows::HToNL(uint32_t v) {
    const uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                          static_cast<uint8_t>(v)};
    uint32_t r;
    std::copy(b, b + 4, reinterpret_cast<uint8_t*>(&r));
    return r;
}

uint32_t TIdStackWindows::NToHL(uint32_t v) {
    const uint8_t* b = reinterpret_cast<const uint8_t*>(&v);
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

int TIdStackWindows::Listen(TIdStackSocketHandle s, int backlog) { return IdWinsock::listen(s, backlog); }

int TIdStackWindows::Recv(TIdStackSocketHandle s, void* buffer, int length, int flags) {
    return IdWinsock::recv(s, buffer, length, flags);
}

int TIdStackWindows::RecvFrom(TIdStackSocketHandle s, void* buffer, int length, int flags, AnsiString& ip,
                              int32_t& port) {
    TIdSockAddr from;
    const int r = IdWinsock::recvfrom(s, buffer, length, flags, from);
    if (r >= 0) {
        ip = AddressToText(from);
        port = from.port;
    }
    return r;
}

int TIdStackWindows::Select(TIdSocketList* read, TIdSocketList* write, TIdSocketList* except, int32_t timeoutMs) {
    for (const TIdSocketList* list : {read, write, except})
        if (list && list->size() > kMaxSocketsPerList) throw EIdStackSetSizeExceeded();
    const bool infinite = timeoutMs == IdTimeoutInfinite;
    return IdWinsock::select(read, write, except, infinite ? 0 : timeoutMs / 1000,
                             infinite ? 0 : (timeoutMs % 1000) * 1000, infinite);
}

int TIdStackWindows::Send(TIdStackSocketHandle s, const void* buffer, int length, int flags) {
    return IdWinsock::send(s, buffer, length, flags);
}

int TIdStackWindows::SendTo(TIdStackSocketHandle s, const void* buffer, int length, int flags, const AnsiString& ip,
                            int32_t port) {
    return IdWinsock::sendto(s, buffer, length, flags, SockAddr(ip, port));
}

int TIdStackWindows::SetSockOpt(TIdStackSocketHandle s, int level, int option, const void* value, int length) {
    return IdWinsock::setsockopt(s, level, option, value, length);
}

TIdStackSocketHandle TIdStackWindows::Socket(int family, int type, int protocol) {
    return IdWinsock::socket(family, type, protocol);
}

int TIdStackWindows::Shutdown(TIdStackSocketHandle s, int how) { return IdWinsock::shutdown(s, how); }

int TIdStackWindows::IOCtlSocket(TIdStackSocketHandle s, uint32_t command, uint32_t& argument) {
    return IdWinsock::ioctlsocket(s, command, argument);
}

int TIdStackWindows::WSGetLastError() { return IdWinsock::WSAGetLastError(); }

namespace {
// getpeername/getsockname share one shape: check the result, then split the
// IPv4 address into family, dotted-quad text and port.
template <typename Query>
void ReadEndpoint(TIdStackWindows& stack, Query query, TIdStackSocketHandle s, int& family, AnsiString& ip,
                  int32_t& port) {
    TIdSockAddr a;
    stack.CheckSocketResult(query(s, a));
    family = Id_AF_INET;
    ip = stack.AddressToText(a);
    port = a.port;
}
}  // namespace

void TIdStackWindows::GetPeerName(TIdStackSocketHandle s, int& family, AnsiString& ip, int32_t& port) {
    ReadEndpoint(*this, IdWinsock::getpeername, s, family, ip, port);
}

void TIdStackWindows::GetSockName(TIdStackSocketHandle s, int& family, AnsiString& ip, int32_t& port) {
    ReadEndpoint(*this, IdWinsock::getsockname, s, family, ip, port);
}

int TIdStackWindows::GetSockOpt(TIdStackSocketHandle s, int level, int option, void* value, int& length) {
    return IdWinsock::getsockopt(s, level, option, value, length);
}

AnsiString TIdStackWindows::AddressToText(const TIdIn4Addr& address) {
    return IntToStr(address[0]) + "." + IntToStr(address[1]) + "." + IntToStr(address[2]) + "." + IntToStr(address[3]);
}

AnsiString TIdStackWindows::AddressToText(const TIdSockAddr& address) {
    const uint8_t* a = address.address;
    return AddressToText(TIdIn4Addr{a[0], a[1], a[2], a[3]});
}

TIdIn4Addr TIdStackWindows::TextToAddress(const AnsiString& text) {
    AnsiString rest = text;
    TIdIn4Addr address{};
    for (uint8_t& byte : address) byte = static_cast<uint8_t>(StrToInt(CutToken(rest, ".")) & 0xFF);
    return address;
}

// ---- membership

void JoinSharedStack() {
    std::lock_guard<std::mutex> lock(StackLock);
    if (StackUsers == 0) SharedStack = new TIdStackWindows();
    ++StackUsers;
}

void LeaveSharedStack() {
    std::lock_guard<std::mutex> lock(StackLock);
    if (StackUsers == 1) {
        delete SharedStack;
        SharedStack = nullptr;
    }
    if (StackUsers > 0) --StackUsers;
}
