// The transport of a connection: the abstract TIdIOHandler, the socket IO
// handler with its connect (plain or on a connect thread with a time limit),
// the SOCKS settings it carries and the connection intercept hooks.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "IdComponent.h"
#include "IdSocketHandle.h"

// Hooks on a connection's life and bytes; the base does nothing.
class TIdConnectionIntercept : public TIdBaseComponent {
public:
    explicit TIdConnectionIntercept(TComponent* owner) : TIdBaseComponent(owner) {}
    const char* ClassName() const override { return "TIdConnectionIntercept"; }
    virtual void Connect(TComponent* /*connection*/) {}
    virtual void Disconnect() {}
    // May change the bytes and their number.
    virtual void Send(std::vector<uint8_t>& /*bytes*/) {}
    virtual void Receive(std::vector<uint8_t>& /*bytes*/) {}
};

enum class TSocksVersion { svNoSocks, svSocks4, svSocks4A, svSocks5 };

// SOCKS proxy settings of an IO handler.
class TIdSocksInfo : public TIdComponent {
public:
    explicit TIdSocksInfo(TComponent* owner) : TIdComponent(owner) {}
    const char* ClassName() const override { return "TIdSocksInfo"; }
    TSocksVersion Version() const { return version_; }
    void SetVersion(TSocksVersion value) { version_ = value; }
    const AnsiString& Host() const { return host_; }
    void SetHost(const AnsiString& value) { host_ = value; }
    int32_t Port() const { return port_; }
    void SetPort(int32_t value) { port_ = value; }

private:
    TSocksVersion version_ = TSocksVersion::svNoSocks;
    AnsiString host_;
    int32_t port_ = 1080;
};

class TIdIOHandler : public TIdComponent {
public:
    explicit TIdIOHandler(TComponent* owner) : TIdComponent(owner) {}
    const char* ClassName() const override { return "TIdIOHandler"; }

    virtual void AcceptDone() {}
    virtual void CloseHandler() {}
    virtual void OpenClientConnection(const AnsiString& /*host*/, int32_t /*port*/, const AnsiString& /*boundIP*/,
                                      int32_t /*boundPort*/, int32_t /*boundPortLow*/, int32_t /*boundPortHigh*/,
                                      int32_t /*timeout*/) {}
    virtual bool HasOpenSocket() = 0;
    virtual void PrepareBinding() {}
    // ms: IdTimeoutInfinite without limit.
    virtual bool WaitReadable(int32_t ms) = 0;
    // The platform's result: bytes, 0 for an orderly close, -1 for a failure.
    virtual int ReceiveBytes(void* buffer, int length) = 0;
    virtual int SendBytes(const void* buffer, int length) = 0;

    // A point in time that the next OpenClientConnection must not wait past
    // (none: only its timeout bounds it).
    void SetConnectDeadline(std::optional<std::chrono::steady_clock::time_point> deadline) {
        connectDeadline_ = deadline;
    }

protected:
    std::optional<std::chrono::steady_clock::time_point> connectDeadline_;
};

// Connects one socket handle on its own thread, for a connect with a time limit.
class TIdConnectThread {
public:
    TIdConnectThread() = default;
    // Waits for the thread to end.
    ~TIdConnectThread();
    TIdConnectThread(const TIdConnectThread&) = delete;
    TIdConnectThread& operator=(const TIdConnectThread&) = delete;

    TIdSocketHandle* TargetBinding = nullptr;
    // The connect failure's message, written before the terminated mark is set.
    AnsiString FailureText;

    void Start();
    bool Terminated() const { return terminated_.load(std::memory_order_acquire); }
    void Terminate() { terminated_.store(true, std::memory_order_release); }
    void WaitFor();

private:
    void Execute();
    std::atomic<bool> terminated_{false};
    std::thread thread_;
};

class TIdIOHandlerSocket : public TIdIOHandler {
public:
    explicit TIdIOHandlerSocket(TComponent* owner) : TIdIOHandler(owner) {}
    ~TIdIOHandlerSocket() override;
    const char* ClassName() const override { return "TIdIOHandlerSocket"; }

    bool UseNagle() const { return useNagle_; }
    void SetUseNagle(bool value) { useNagle_ = value; }
    // Created with defaults on first access.
    TIdSocksInfo* SocksInfo();
    void SetSocksInfo(TIdSocksInfo* value);
    // Created by PrepareBinding; none before the first connect.
    TIdSocketHandle* SocketBinding() const { return binding_.get(); }

    void CloseHandler() override;
    void OpenClientConnection(const AnsiString& host, int32_t port, const AnsiString& boundIP, int32_t boundPort,
                              int32_t boundPortLow, int32_t boundPortHigh, int32_t timeout) override;
    bool HasOpenSocket() override;
    void PrepareBinding() override;
    bool WaitReadable(int32_t ms) override;
    int ReceiveBytes(void* buffer, int length) override;
    int SendBytes(const void* buffer, int length) override;

protected:
    // Connects on a TIdConnectThread, waiting in 125 ms steps; IdTimeoutInfinite waits
    // without limit. Raises EIdConnectTimeout or EIdConnectException.
    void ConnectWithTimeout(int32_t timeout);
    // One wait of ConnectWithTimeout (a seam for observing the steps).
    virtual void SleepStep(int32_t ms);
    void Notification(TComponent* component, TOperation operation) override;

private:
    bool useNagle_ = true;
    TIdSocksInfo* socksInfo_ = nullptr;
    std::unique_ptr<TIdSocketHandle> binding_;
};
