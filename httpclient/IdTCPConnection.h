// TIdTCPConnection: the connection's life (open/closed test, drop, close)
// and its data path (buffered writes, input buffer, line, exact and stream
// reads under the line limit and the read time-out).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "IdBuffer.h"
#include "IdComponent.h"
#include "IdException.h"
#include "IdTimeouts.h"

class TIdIOHandler;
class TIdConnectionIntercept;

enum class TIdMaxLineAction { maException, maSplit };

class TIdTCPConnection : public TIdComponent {
public:
    explicit TIdTCPConnection(TComponent* owner);
    ~TIdTCPConnection() override;
    const char* ClassName() const override { return "TIdTCPConnection"; }

    // Published properties.
    bool ASCIIFilter() const { return asciiFilter_; }
    void SetASCIIFilter(bool value) { asciiFilter_ = value; }
    TIdConnectionIntercept* Intercept() const { return intercept_; }
    void SetIntercept(TIdConnectionIntercept* value);
    TIdIOHandler* IOHandler() const { return ioHandler_; }
    void SetIOHandler(TIdIOHandler* handler) { AssignIOHandler(handler); }
    int32_t MaxLineLength() const { return maxLineLength_; }
    void SetMaxLineLength(int32_t value) { maxLineLength_ = value; }
    TIdMaxLineAction MaxLineAction() const { return maxLineAction_; }
    void SetMaxLineAction(TIdMaxLineAction value) { maxLineAction_ = value; }
    int32_t ReadTimeout() const { return readTimeout_; }
    void SetReadTimeout(int32_t value) { readTimeout_ = value; }
    int32_t RecvBufferSize() const { return recvBufferSize_; }
    void SetRecvBufferSize(int32_t value) { recvBufferSize_ = value; }
    int32_t SendBufferSize() const { return sendBufferSize_; }
    void SetSendBufferSize(int32_t value) { sendBufferSize_ = value; }
    TNotifyEvent OnDisconnected;

    // Connection life.
    virtual void NotifyDisconnected();
    virtual void ResetConnectionState();
    virtual AnsiString ReadAll();
    virtual void CheckConnectionClosed(bool raiseIfClosed, bool ignoreBuffer);
    virtual void CheckPeerClosed(bool raiseIfClosed);
    virtual bool IsConnected();
    virtual void CloseConnection();
    virtual void DropSocket();
    void AssignIOHandler(TIdIOHandler* handler);
    bool OwnsIOHandler() const { return ownsIOHandler_; }
    bool PeerClosed() const { return peerClosed_; }

    // Reading.
    TIdBuffer& InputBuffer() { return inputBuffer_; }
    // A read's timeout in ms: IdTimeoutDefault waits under ReadTimeout (0
    // there: without limit), IdTimeoutInfinite without limit.
    virtual int32_t FillInputBuffer(bool raiseIfDisconnected, int32_t timeout, bool raiseOnTimeout);
    virtual AnsiString ReadLine(const AnsiString& terminator = "\n", int32_t timeout = IdTimeoutDefault,
                                int32_t maxLength = -1);
    void ReadExact(void* buffer, int32_t count);
    // Reads `count` bytes (-1 and not untilClosed: a 4-byte big-endian count
    // first), or every byte up to the close, into the stream; returns how many
    // it wrote. Every byte received goes to the stream before an error (a
    // close before `count` bytes raises EIdConnClosedGracefully) goes on.
    // With receiveAhead, the receives for the last block of `count` ask for
    // a whole RecvBufferSize, so that what follows the bytes (the framing of
    // a chunked body, the next chunk) is already buffered for the next read
    // instead of costing a receive of its own; bytes beyond `count` never
    // reach the stream.
    int64_t ReadToStream(TStream& stream, int64_t count = -1, bool untilClosed = false, bool receiveAhead = false);
    bool LineSplit() const { return lineSplit_; }
    bool LineTimedOut() const { return lineTimedOut_; }
    // While a deadline is set, every wait for data ends by it at the latest,
    // and a wait that reaches it counts as a time-out (EIdReadTimeout where
    // a time-out raises), even while ReadTimeout is 0.
    void SetReadDeadline(std::chrono::steady_clock::time_point deadline) { readDeadline_ = deadline; }
    void ClearReadDeadline() { readDeadline_.reset(); }
    // The same deadline bounds the connect (TIdTCPClient::OpenConnection).
    const std::optional<std::chrono::steady_clock::time_point>& ReadDeadline() const { return readDeadline_; }

    // Writing.
    void SendLine(const AnsiString& text);
    void SendText(const AnsiString& text);
    void SendData(const void* data, int32_t count, bool now);
    void BeginBufferedWrite(int32_t threshold);
    void EndBufferedWrite();
    void FlushPendingWrites(int32_t count);
    void SendStream(TStream& stream, bool fromStart, bool countPrefix, int64_t size);

protected:
    void Notification(TComponent* component, TOperation operation) override;

    TIdIOHandler* ioHandler_ = nullptr;
    bool ownsIOHandler_ = false;
    bool peerClosed_ = false;

private:
    void FreeOwnedIOHandler();
    // The receive step of FillInputBuffer: at most `room` bytes, into `dest`
    // when given (`held` bytes of the caller's are already there, which hold
    // back a close's error as buffered bytes do), else into the input buffer.
    int32_t Receive(uint8_t* dest, int32_t room, int32_t held, bool raiseIfDisconnected, int32_t timeout,
                    bool raiseOnTimeout);
    // ReadExact of `count` bytes, written to the stream; see ReadToStream
    // for receiveAhead.
    void ReadBlockToStream(TStream& stream, int32_t count, bool receiveAhead);

    bool asciiFilter_ = false;
    TIdConnectionIntercept* intercept_ = nullptr;
    int32_t maxLineLength_ = 16384;
    TIdMaxLineAction maxLineAction_ = TIdMaxLineAction::maException;
    int32_t readTimeout_ = 0;
    int32_t recvBufferSize_ = 32768;
    int32_t sendBufferSize_ = 32768;

    TIdBuffer inputBuffer_;
    std::vector<uint8_t> recvBuffer_;  // only for an intercept
    std::unique_ptr<TIdBuffer> pendingWrites_;
    int32_t flushThreshold_ = -1;
    bool lineSplit_ = false;
    bool lineTimedOut_ = false;
    std::optional<std::chrono::steady_clock::time_point> readDeadline_;
};
