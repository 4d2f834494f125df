#include "IdSocketHandle.h"

TIdSocketHandle::~TIdSocketHandle() { ReleaseSocket(); }

void TIdSocketHandle::OpenSocket(int type, int protocol) {
    ReleaseSocket();
    socketValue_ = SharedStack->AllocSocket(type, protocol);
    socketOpen_ = true;
}

void TIdSocketHandle::ReleaseSocket() {
    if (!socketOpen_) return;
    socketOpen_ = false;
    SharedStack->Shutdown(socketValue_, Id_SD_SEND);
    SharedStack->CloseSocket(socketValue_);
}

bool TIdSocketHandle::TryBind() {
    if (SharedStack->CheckSocketResult(SharedStack->Bind(socketValue_, ip_, port_), {Id_WSAEADDRINUSE})) return false;
    int family;
    SharedStack->GetSockName(socketValue_, family, ip_, port_);
    return true;
}

void TIdSocketHandle::BindLocal() {
    if (port_ != 0 || clientPortMin_ == 0 || clientPortMax_ == 0) {
        if (!TryBind()) throw EIdCouldNotBindSocket();
        return;
    }
    if (clientPortMin_ > clientPortMax_)
        throw EIdInvalidPortRange(Format("Invalid Port Range (%d - %d)", {clientPortMin_, clientPortMax_}));
    for (int32_t p = clientPortMax_; p >= clientPortMin_; --p) {
        port_ = p;
        if (TryBind()) return;
    }
    throw EIdCanNotBindPortInRange(Format("Can not bind in port range (%d - %d)", {clientPortMin_, clientPortMax_}));
}

void TIdSocketHandle::SetRemote(const AnsiString& address, int32_t port) {
    remoteIP_ = address;
    remotePort_ = port;
}

int TIdSocketHandle::ConnectPeer(int /*family: always AF_INET*/) {
    const int result = SharedStack->Connect(socketValue_, remoteIP_, remotePort_);
    if (result != Id_SOCKET_ERROR) {
        int family;
        SharedStack->GetSockName(socketValue_, family, ip_, port_);
        SharedStack->GetPeerName(socketValue_, family, remoteIP_, remotePort_);
    }
    return result;
}

void TIdSocketHandle::ConnectPeerBefore(std::chrono::steady_clock::time_point deadline) {
    SharedStack->ConnectBefore(socketValue_, remoteIP_, remotePort_, deadline);
    int family;
    SharedStack->GetSockName(socketValue_, family, ip_, port_);
    SharedStack->GetPeerName(socketValue_, family, remoteIP_, remotePort_);
}

int TIdSocketHandle::ReceiveFrom(void* buffer, int length, AnsiString& ip, int32_t& port) {
    return SharedStack->RecvFrom(socketValue_, buffer, length, 0, ip, port);
}

bool TIdSocketHandle::WaitReadable(int32_t ms) {
    if (!socketOpen_) throw EIdConnClosedGracefully();
    TIdSocketList read{socketValue_};
    return SharedStack->Select(&read, nullptr, nullptr, ms) == 1;
}

void TIdSocketHandle::ClearBinding(bool resetLocal) {
    socketOpen_ = false;
    socketValue_ = Id_INVALID_SOCKET;
    if (resetLocal) {
        ip_.clear();
        port_ = 0;
    }
    remoteIP_.clear();
    remotePort_ = 0;
}

int TIdSocketHandle::Send(const void* buffer, int length, int flags) {
    return SharedStack->Send(socketValue_, buffer, length, flags);
}

int TIdSocketHandle::Recv(void* buffer, int length, int flags) {
    return SharedStack->Recv(socketValue_, buffer, length, flags);
}
