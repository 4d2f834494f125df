#include "IdIOHandlerSocket.h"

#include <algorithm>
#include <chrono>

// ---- TIdConnectThread

TIdConnectThread::~TIdConnectThread() { WaitFor(); }

void TIdConnectThread::Start() {
    thread_ = std::thread([this] { Execute(); });
}

void TIdConnectThread::WaitFor() {
    if (thread_.joinable()) thread_.join();
}

void TIdConnectThread::Execute() {
    try {
        // The socket was closed under the pending connect.
        SharedStack->CheckSocketResult(TargetBinding->ConnectPeer(Id_AF_INET), {Id_WSAEBADF, Id_WSAENOTSOCK});
    } catch (const Exception& e) {
        FailureText = e.Message();
    } catch (const std::exception& e) {
        FailureText = e.what();
    }
    Terminate();
}

// ---- TIdIOHandlerSocket

TIdIOHandlerSocket::~TIdIOHandlerSocket() {
    // The socket handle is released here; an owned SOCKS settings object goes
    // with the owned components.
    binding_.reset();
}

TIdSocksInfo* TIdIOHandlerSocket::SocksInfo() {
    if (!socksInfo_) socksInfo_ = new TIdSocksInfo(this);
    return socksInfo_;
}

void TIdIOHandlerSocket::SetSocksInfo(TIdSocksInfo* value) {
    if (value == socksInfo_) return;
    if (socksInfo_ && socksInfo_->Owner() == this) delete socksInfo_;  // clears socksInfo_ by notification
    socksInfo_ = value;
    if (value) FreeNotification(value);
}

void TIdIOHandlerSocket::Notification(TComponent* component, TOperation operation) {
    if (operation == TOperation::opRemove && component == socksInfo_) socksInfo_ = nullptr;
    TIdIOHandler::Notification(component, operation);
}

void TIdIOHandlerSocket::PrepareBinding() {
    if (!binding_) binding_ = std::make_unique<TIdSocketHandle>();
    else binding_->ClearBinding(true);
}

void TIdIOHandlerSocket::CloseHandler() {
    if (binding_) binding_->ReleaseSocket();
}

bool TIdIOHandlerSocket::HasOpenSocket() { return binding_ && binding_->SocketOpen(); }

bool TIdIOHandlerSocket::WaitReadable(int32_t ms) {
    if (!binding_) throw EIdConnClosedGracefully();
    return binding_->WaitReadable(ms);
}

int TIdIOHandlerSocket::ReceiveBytes(void* buffer, int length) {
    if (!HasOpenSocket()) throw EIdClosedSocket();
    return binding_->Recv(buffer, length);
}

int TIdIOHandlerSocket::SendBytes(const void* buffer, int length) {
    if (!HasOpenSocket()) throw EIdClosedSocket();
    return binding_->Send(buffer, length);
}

void TIdIOHandlerSocket::OpenClientConnection(const AnsiString& host, int32_t port, const AnsiString& boundIP,
                                              int32_t boundPort, int32_t boundPortLow, int32_t boundPortHigh,
                                              int32_t timeout) {
    if (!binding_) PrepareBinding();
    const bool viaSocks = socksInfo_ && socksInfo_->Version() != TSocksVersion::svNoSocks;
    const AnsiString targetHost = viaSocks ? socksInfo_->Host() : host;
    const int32_t targetPort = viaSocks ? socksInfo_->Port() : port;

    binding_->OpenSocket(Id_SOCK_STREAM, 0);
    binding_->SetIP(boundIP);
    binding_->SetPort(boundPort);
    binding_->SetClientPortMin(boundPortLow);
    binding_->SetClientPortMax(boundPortHigh);
    binding_->BindLocal();

    if (!SharedStack->IsDottedQuad(targetHost)) ReportStatus(TIdStatus::hsResolving, {targetHost});
    binding_->SetRemote(SharedStack->HostToAddress(targetHost), targetPort);

    if (!useNagle_) {
        const int32_t one = 1;
        SharedStack->CheckSocketResult(
            SharedStack->SetSockOpt(binding_->SocketValue(), Id_IPPROTO_TCP, Id_TCP_NODELAY, &one, sizeof one));
    }

    ReportStatus(TIdStatus::hsConnecting, {binding_->RemoteIP()});
    if (timeout == IdTimeoutDefault || timeout == 0) {
        // Under a deadline the connect is waited on with select, so a peer
        // that never completes it cannot hold the caller past the deadline;
        // without one it is the platform's plain blocking connect.
        if (connectDeadline_) binding_->ConnectPeerBefore(*connectDeadline_);
        else SharedStack->CheckSocketResult(binding_->ConnectPeer(Id_AF_INET));
    } else {
        if (connectDeadline_) {
            // The time limit never reaches past the deadline.
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*connectDeadline_ - std::chrono::steady_clock::now());
            if (timeout == IdTimeoutInfinite || left.count() < timeout)
                timeout = static_cast<int32_t>(std::max<int64_t>(1, left.count()));
        }
        ConnectWithTimeout(timeout);
    }

    // The SOCKS negotiation is not part of this client: rather than talk the
    // target protocol to a proxy, refuse.
    if (viaSocks) throw EIdException("SOCKS negotiation is not supported.");
}

void TIdIOHandlerSocket::SleepStep(int32_t ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void TIdIOHandlerSocket::ConnectWithTimeout(int32_t timeout) {
    auto thread = std::make_unique<TIdConnectThread>();  // its destructor waits for the thread
    thread->TargetBinding = binding_.get();
    thread->Start();

    const int32_t step = 125;
    const bool infinite = timeout == IdTimeoutInfinite;
    int32_t remaining = infinite ? step + 1 : timeout;
    while (step < remaining) {
        SleepStep(step);
        remaining = infinite ? step + 1 : remaining - step;
        if (thread->Terminated()) {
            remaining = 0;
            break;
        }
    }
    SleepStep(remaining);

    if (!thread->Terminated()) {
        thread->Terminate();
        CloseHandler();  // makes the pending connect fail on the connect thread
        thread->WaitFor();
        throw EIdConnectTimeout();
    }
    if (!thread->FailureText.empty()) throw EIdConnectException(thread->FailureText);
}
