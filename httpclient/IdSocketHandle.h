// TIdSocketHandle: one platform socket with its local and remote endpoints.
#pragma once

#include <chrono>
#include <cstdint>

#include "IdStack.h"

class TIdSocketHandle {
public:
    TIdSocketHandle() = default;
    virtual ~TIdSocketHandle();
    TIdSocketHandle(const TIdSocketHandle&) = delete;
    TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

    TIdStackSocketHandle SocketValue() const { return socketValue_; }
    bool SocketOpen() const { return socketOpen_; }
    const AnsiString& IP() const { return ip_; }
    void SetIP(const AnsiString& value) { ip_ = value; }
    int32_t Port() const { return port_; }
    void SetPort(int32_t value) { port_ = value; }
    int32_t ClientPortMin() const { return clientPortMin_; }
    void SetClientPortMin(int32_t value) { clientPortMin_ = value; }
    int32_t ClientPortMax() const { return clientPortMax_; }
    void SetClientPortMax(int32_t value) { clientPortMax_ = value; }
    const AnsiString& RemoteIP() const { return remoteIP_; }
    int32_t RemotePort() const { return remotePort_; }

    // Releases a held socket, then allocates a new AF_INET one.
    void OpenSocket(int type, int protocol);
    // Shuts down the sending direction and closes; results are ignored and
    // SocketValue keeps its old value.
    virtual void ReleaseSocket();
    // Binds to IP:Port, or to the first free port of the range from
    // ClientPortMax down to ClientPortMin; reads the bound endpoint back.
    void BindLocal();
    void SetRemote(const AnsiString& address, int32_t port);
    // Connects to RemoteIP:RemotePort and reads both endpoints back on
    // success. Returns the platform's result unchecked.
    virtual int ConnectPeer(int family);
    // Connects as ConnectPeer does, but raises instead of returning: a
    // failure as EIdSocketError, a connect not completed by the deadline as
    // EIdConnectTimeout.
    void ConnectPeerBefore(std::chrono::steady_clock::time_point deadline);
    // Datagram receive; reports the sender's endpoint.
    virtual int ReceiveFrom(void* buffer, int length, AnsiString& ip, int32_t& port);
    // Raises EIdConnClosedGracefully without an open socket; true exactly when
    // the socket became readable within ms (IdTimeoutInfinite: no limit).
    bool WaitReadable(int32_t ms);
    // Forgets the socket without closing it; resetLocal also clears IP and Port.
    void ClearBinding(bool resetLocal);

    int Send(const void* buffer, int length, int flags = 0);
    int Recv(void* buffer, int length, int flags = 0);

private:
    // One bind attempt to IP:Port; false when the port is in use.
    bool TryBind();

    TIdStackSocketHandle socketValue_ = Id_INVALID_SOCKET;
    bool socketOpen_ = false;
    AnsiString ip_;
    int32_t port_ = 0;
    int32_t clientPortMin_ = 0;
    int32_t clientPortMax_ = 0;
    AnsiString remoteIP_;
    int32_t remotePort_ = 0;
};
