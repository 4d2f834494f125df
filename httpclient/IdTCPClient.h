// TIdTCPClient: target host and port, local binding and the connect step.
#pragma once

#include "IdTCPConnection.h"

class TIdTCPClient : public TIdTCPConnection {
public:
    explicit TIdTCPClient(TComponent* owner);
    const char* ClassName() const override { return "TIdTCPClient"; }

    const AnsiString& Host() const { return host_; }
    virtual void SetHost(const AnsiString& host);
    int32_t Port() const { return port_; }
    virtual void SetPort(int32_t port);
    const AnsiString& BoundIP() const { return boundIP_; }
    void SetBoundIP(const AnsiString& value) { boundIP_ = value; }
    int32_t BoundPort() const { return boundPort_; }
    void SetBoundPort(int32_t value) { boundPort_ = value; }
    int32_t BoundPortLow() const { return boundPortLow_; }
    void SetBoundPortLow(int32_t value) { boundPortLow_ = value; }
    int32_t BoundPortHigh() const { return boundPortHigh_; }
    void SetBoundPortHigh(int32_t value) { boundPortHigh_ = value; }
    TNotifyEvent OnConnected;

    virtual void NotifyConnected();
    // timeout in ms: -1 or 0 plain blocking connect; -2 no limit on the
    // connect thread; > 0 a time limit.
    virtual void OpenConnection(int32_t timeout);

private:
    AnsiString host_;
    int32_t port_ = 0;
    AnsiString boundIP_;
    int32_t boundPort_ = 0;
    int32_t boundPortLow_ = 0;
    int32_t boundPortHigh_ = 0;
};
