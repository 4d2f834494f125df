#include "IdTCPClient.h"

#include "IdIOHandlerSocket.h"

TIdTCPClient::TIdTCPClient(TComponent* owner) : TIdTCPConnection(owner) {}

void TIdTCPClient::SetHost(const AnsiString& host) { host_ = host; }

void TIdTCPClient::SetPort(int32_t port) { port_ = port; }

void TIdTCPClient::NotifyConnected() {
    if (OnConnected) OnConnected(this);
}

void TIdTCPClient::OpenConnection(int32_t timeout) {
    if (!ioHandler_) {
        auto* handler = new TIdIOHandlerSocket(this);
        AssignIOHandler(handler);
        // Taken once, now: the handler's own status events reach the same handler.
        handler->OnStatus = OnStatus;
        ownsIOHandler_ = true;
    } else if (ioHandler_->HasOpenSocket()) {
        throw EIdAlreadyConnected();
    }
    try {
        ioHandler_->PrepareBinding();
        ResetConnectionState();
        ioHandler_->SetConnectDeadline(ReadDeadline());
        ioHandler_->OpenClientConnection(host_, port_, boundIP_, boundPort_, boundPortLow_, boundPortHigh_, timeout);
        if (Intercept()) Intercept()->Connect(this);
        ReportStatus(TIdStatus::hsConnected, {host_});
        NotifyConnected();
    } catch (...) {
        DropSocket();
        throw;
    }
}
