// The process-wide socket stack: starts the platform's socket library once,
// resolves host names, wraps every socket call and turns failures into
// EIdSocketError with the code and its fixed text.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <vector>

#include "IdException.h"
#include "IdTimeouts.h"
#include "IdWinsock.h"

using TIdIn4Addr = std::array<uint8_t, 4>;
using TIdSocketList = std::vector<TIdStackSocketHandle>;

class TIdStack {
public:
    TIdStack();
    TIdStack(const TIdStack&) = delete;
    TIdStack& operator=(const TIdStack&) = delete;
    virtual ~TIdStack() = default;

    // The platform code that the latest CheckSocketResult of the calling
    // thread fetched. Kept per thread, like the platform's own last error, so
    // that the connect thread and other clients' threads cannot mix codes.
    int32_t LastSocketError() const;

    // The IPv4 addresses of this machine's host name, for a caller that binds
    // to or reports them (a fetch never asks); filled on first use.
    virtual void FillLocalAddresses() = 0;
    virtual AnsiString FirstLocalAddress() = 0;
    virtual const std::vector<AnsiString>& LocalAddressList() = 0;

    // Thin wrappers, one per platform call.
    virtual TIdStackSocketHandle Accept(TIdStackSocketHandle s, AnsiString& ip, int32_t& port) = 0;
    virtual int Bind(TIdStackSocketHandle s, const AnsiString& ip, int32_t port) = 0;  // ip "" = 0.0.0.0
    virtual int CloseSocket(TIdStackSocketHandle s) = 0;
    virtual int Connect(TIdStackSocketHandle s, const AnsiString& ip, int32_t port) = 0;
    virtual AnsiString GetHostByName(const AnsiString& host) = 0;  // first address, "" when none
    virtual AnsiString GetHostName() = 0;
    virtual AnsiString GetHostByAddr(const AnsiString& ip) = 0;
    virtual int32_t GetServByName(const AnsiString& name) = 0;
    virtual AnsiString GetServByPort(int32_t port) = 0;
    virtual uint16_t HToNS(uint16_t v) = 0;
    virtual int Listen(TIdStackSocketHandle s, int backlog) = 0;
    virtual uint16_t NToHS(uint16_t v) = 0;
    virtual uint32_t HToNL(uint32_t v) = 0;
    virtual uint32_t NToHL(uint32_t v) = 0;
    virtual int Recv(TIdStackSocketHandle s, void* buffer, int length, int flags) = 0;
    virtual int RecvFrom(TIdStackSocketHandle s, void* buffer, int length, int flags, AnsiString& ip,
                         int32_t& port) = 0;
    // Time limit in ms, IdTimeoutInfinite without limit. Raises EIdStackSetSizeExceeded for
    // more than 64 sockets in one list; rewrites each list to its ready sockets.
    virtual int Select(TIdSocketList* read, TIdSocketList* write, TIdSocketList* except, int32_t timeoutMs) = 0;
    virtual int Send(TIdStackSocketHandle s, const void* buffer, int length, int flags) = 0;
    virtual int SendTo(TIdStackSocketHandle s, const void* buffer, int length, int flags, const AnsiString& ip,
                       int32_t port) = 0;
    virtual int SetSockOpt(TIdStackSocketHandle s, int level, int option, const void* value, int length) = 0;
    virtual TIdStackSocketHandle Socket(int family, int type, int protocol) = 0;
    virtual int Shutdown(TIdStackSocketHandle s, int how) = 0;
    virtual int IOCtlSocket(TIdStackSocketHandle s, uint32_t command, uint32_t& argument) = 0;
    // "Socket Error # %d\r\n%s" with the code and its fixed text (empty for a
    // code that has none).
    virtual AnsiString SocketErrorText(int32_t code);
    virtual int WSGetLastError() = 0;
    // Both read back family, address and port, and raise EIdSocketError on failure.
    virtual void GetPeerName(TIdStackSocketHandle s, int& family, AnsiString& ip, int32_t& port) = 0;
    virtual void GetSockName(TIdStackSocketHandle s, int& family, AnsiString& ip, int32_t& port) = 0;
    virtual int GetSockOpt(TIdStackSocketHandle s, int level, int option, void* value, int& length) = 0;
    virtual AnsiString AddressToText(const TIdIn4Addr& address) = 0;
    // Four "."-separated integers, the low 8 bits of each; anything after a
    // fourth "." is ignored. Raises EConvertError for a part that is no integer.
    virtual TIdIn4Addr TextToAddress(const AnsiString& text) = 0;

    // "localhost" (any case) is 127.0.0.1 without a lookup; a dotted quad is
    // kept; anything else is looked up, and a failed lookup raises EIdSocketError.
    AnsiString HostToAddress(const AnsiString& host);
    bool IsDottedQuad(const AnsiString& text);
    // An AF_INET socket; raises EIdInvalidSocket when none can be had.
    TIdStackSocketHandle AllocSocket(int type, int protocol);
    // False when result is not -1. Otherwise fetches the platform's code into
    // LastSocketError: true when it is one of `ignore`, else raises.
    bool CheckSocketResult(int result, std::initializer_list<int32_t> ignore = {});
    [[noreturn]] void RaiseSocketFailure(int32_t code);
    // Connects s to ip:port, waiting no longer than the deadline: a
    // non-blocking connect waited on with select, then the socket is blocking
    // again. Returns as soon as the connect completes. A refused or failed
    // connect raises EIdSocketError with the platform's code (10061 for a
    // refusal) as soon as the platform reports it; a connect still pending at
    // the deadline raises EIdConnectTimeout.
    void ConnectBefore(TIdStackSocketHandle s, const AnsiString& ip, int32_t port,
                       std::chrono::steady_clock::time_point deadline);
};

// The platform's stack over the Winsock-shaped layer; adds 11001 "Host not
// found." to the error texts.
class TIdStackWindows : public TIdStack {
public:
    // Starts the platform once per process: raises EIdStackInitializationFailed
    // when the start-up fails (and EIdWS2StubError when the library cannot be loaded).
    TIdStackWindows();

    void FillLocalAddresses() override;
    AnsiString FirstLocalAddress() override;
    const std::vector<AnsiString>& LocalAddressList() override;

    TIdStackSocketHandle Accept(TIdStackSocketHandle s, AnsiString& ip, int32_t& port) override;
    int Bind(TIdStackSocketHandle s, const AnsiString& ip, int32_t port) override;
    int CloseSocket(TIdStackSocketHandle s) override;
    int Connect(TIdStackSocketHandle s, const AnsiString& ip, int32_t port) override;
    AnsiString GetHostByName(const AnsiString& host) override;
    AnsiString GetHostName() override;
    AnsiString GetHostByAddr(const AnsiString& ip) override;
    int32_t GetServByName(const AnsiString& name) override;
    AnsiString GetServByPort(int32_t port) override;
    uint16_t HToNS(uint16_t v) override;
    int Listen(TIdStackSocketHandle s, int backlog) override;
    uint16_t NToHS(uint16_t v) override;
    uint32_t HToNL(uint32_t v) override;
    uint32_t NToHL(uint32_t v) override;
    int Recv(TIdStackSocketHandle s, void* buffer, int length, int flags) override;
    int RecvFrom(TIdStackSocketHandle s, void* buffer, int length, int flags, AnsiString& ip, int32_t& port) override;
    int Select(TIdSocketList* read, TIdSocketList* write, TIdSocketList* except, int32_t timeoutMs) override;
    int Send(TIdStackSocketHandle s, const void* buffer, int length, int flags) override;
    int SendTo(TIdStackSocketHandle s, const void* buffer, int length, int flags, const AnsiString& ip,
               int32_t port) override;
    int SetSockOpt(TIdStackSocketHandle s, int level, int option, const void* value, int length) override;
    TIdStackSocketHandle Socket(int family, int type, int protocol) override;
    int Shutdown(TIdStackSocketHandle s, int how) override;
    int IOCtlSocket(TIdStackSocketHandle s, uint32_t command, uint32_t& argument) override;
    AnsiString SocketErrorText(int32_t code) override;
    int WSGetLastError() override;
    void GetPeerName(TIdStackSocketHandle s, int& family, AnsiString& ip, int32_t& port) override;
    void GetSockName(TIdStackSocketHandle s, int& family, AnsiString& ip, int32_t& port) override;
    int GetSockOpt(TIdStackSocketHandle s, int level, int option, void* value, int& length) override;
    AnsiString AddressToText(const TIdIn4Addr& address) override;
    // The dotted text of a socket address's IPv4 part (its port left out).
    AnsiString AddressToText(const TIdSockAddr& address);
    TIdIn4Addr TextToAddress(const AnsiString& text) override;

private:
    TIdSockAddr SockAddr(const AnsiString& ip, int32_t port);
    std::vector<AnsiString> localAddresses_;
    bool localAddressesFilled_ = false;
};

// Process-wide stack state. StackLock guards StackUsers and the creation and
// destruction of SharedStack; PlatformStarted is never reset before the
// process ends, when the platform is shut down and its library released.
extern TIdStack* SharedStack;
extern int32_t StackUsers;
extern std::mutex StackLock;
extern bool PlatformStarted;

// Called by every TIdComponent constructor and destructor. The first join
// creates SharedStack (which may raise; the join then does not count), the
// last leave frees it.
void JoinSharedStack();
void LeaveSharedStack();
