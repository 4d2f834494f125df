#include "IdTCPConnection.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "IdIOHandlerSocket.h"
#include "IdStack.h"

TIdTCPConnection::TIdTCPConnection(TComponent* owner) : TIdComponent(owner) {
    inputBuffer_.OnConsumed = [this](int32_t n) { AddWork(TWorkMode::wmRead, n); };
}

TIdTCPConnection::~TIdTCPConnection() {
    DropSocket();
    FreeOwnedIOHandler();
}

void TIdTCPConnection::FreeOwnedIOHandler() {
    if (!ownsIOHandler_) return;
    TIdIOHandler* handler = ioHandler_;
    ioHandler_ = nullptr;
    ownsIOHandler_ = false;
    delete handler;
}

void TIdTCPConnection::SetIntercept(TIdConnectionIntercept* value) {
    intercept_ = value;
    if (value) FreeNotification(value);
}

void TIdTCPConnection::Notification(TComponent* component, TOperation operation) {
    if (operation == TOperation::opRemove) {
        if (component == ioHandler_) {
            ioHandler_ = nullptr;
            ownsIOHandler_ = false;
        }
        if (component == intercept_) intercept_ = nullptr;
    }
    TIdComponent::Notification(component, operation);
}

void TIdTCPConnection::AssignIOHandler(TIdIOHandler* handler) {
    if (ownsIOHandler_ && ioHandler_ && ioHandler_ != handler) {
        TIdIOHandler* old = ioHandler_;
        ioHandler_ = nullptr;
        delete old;
    }
    ownsIOHandler_ = false;
    ioHandler_ = handler;
    if (handler) FreeNotification(handler);
}

// ---- connection life

void TIdTCPConnection::NotifyDisconnected() {
    if (OnDisconnected) OnDisconnected(this);
}

void TIdTCPConnection::ResetConnectionState() {
    inputBuffer_.Clear();
    peerClosed_ = false;
}

void TIdTCPConnection::CheckConnectionClosed(bool raiseIfClosed, bool ignoreBuffer) {
    bool closed = false;
    if (peerClosed_ || !ioHandler_) {
        if (ioHandler_) {
            if (ioHandler_->HasOpenSocket()) {
                DropSocket();
                ReportStatus(TIdStatus::hsDisconnected);
                NotifyDisconnected();
            }
            closed = true;
        }
    } else {
        closed = !ioHandler_->HasOpenSocket();
    }
    // Buffered bytes hold the error back until they have been consumed.
    if (closed && (inputBuffer_.Empty() || ignoreBuffer) && raiseIfClosed) throw EIdConnClosedGracefully();
}

void TIdTCPConnection::CheckPeerClosed(bool raiseIfClosed) { FillInputBuffer(raiseIfClosed, 1, false); }

bool TIdTCPConnection::IsConnected() {
    CheckConnectionClosed(false, false);
    return ioHandler_ && ioHandler_->HasOpenSocket();
}

void TIdTCPConnection::DropSocket() {
    if (!ioHandler_) return;
    peerClosed_ = true;
    if (intercept_) intercept_->Disconnect();
    ioHandler_->CloseHandler();
}

void TIdTCPConnection::CloseConnection() {
    ReportStatus(TIdStatus::hsDisconnecting);
    DropSocket();
    FreeOwnedIOHandler();
    NotifyDisconnected();
    ReportStatus(TIdStatus::hsDisconnected);
}

// ---- reading

int32_t TIdTCPConnection::FillInputBuffer(bool raiseIfDisconnected, int32_t timeout, bool raiseOnTimeout) {
    return Receive(nullptr, std::max(recvBufferSize_, 0), 0, raiseIfDisconnected, timeout, raiseOnTimeout);
}

int32_t TIdTCPConnection::Receive(uint8_t* dest, int32_t room, int32_t held, bool raiseIfDisconnected, int32_t timeout,
                                  bool raiseOnTimeout) {
    if (timeout == IdTimeoutDefault) timeout = readTimeout_;
    const int32_t wait = timeout == 0 ? IdTimeoutInfinite : timeout;

    CheckConnectionClosed(raiseIfDisconnected, false);
    if (!IsConnected()) {
        if (raiseIfDisconnected) throw EIdNotConnected();
        return 0;
    }
    int32_t n;
    do {
        int32_t limit = wait;
        bool readable = false;
        if (readDeadline_) {
            const auto left = *readDeadline_ - std::chrono::steady_clock::now();
            // Rounded up, so a wait never ends before the deadline.
            const int64_t leftMs = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            if (leftMs > 0) {
                const int32_t cap = static_cast<int32_t>(std::min<int64_t>(leftMs, INT32_MAX / 2));
                limit = limit < 0 ? cap : std::min(limit, cap);
                readable = ioHandler_->WaitReadable(limit);
            }
        } else if (limit == IdTimeoutInfinite) {
            readable = true;  // the receive itself blocks until bytes or a close arrive
        } else {
            readable = ioHandler_->WaitReadable(limit);
        }
        if (!readable) {
            if (raiseOnTimeout) throw EIdReadTimeout();
            return -1;
        }

        // Into the caller's memory, else straight into the input buffer's
        // free space; an intercept, which may change the bytes and their
        // number, gets them in a scratch buffer first.
        uint8_t* into = dest;
        if (!into) {
            if (intercept_) {
                recvBuffer_.resize(static_cast<size_t>(room));
                into = recvBuffer_.data();
            } else {
                into = inputBuffer_.Room(room);
            }
        }
        n = ioHandler_->ReceiveBytes(into, room);
        peerClosed_ = n == 0;
        if (n < 0) {
            // An abort or a shut-down socket is a close; a reset drops the
            // socket too, so a platform that repeats the reset cannot fail
            // every later read.
            if (SharedStack->CheckSocketResult(n, {Id_WSAECONNABORTED, Id_WSAESHUTDOWN, Id_WSAECONNRESET})) {
                const int32_t code = SharedStack->LastSocketError();
                n = 0;
                DropSocket();
                if (code == Id_WSAECONNRESET || (inputBuffer_.Empty() && held == 0))
                    SharedStack->RaiseSocketFailure(code);
            }
        }
        if (n > 0) {
            // An intercept may change the bytes and their number.
            std::vector<uint8_t> intercepted;
            uint8_t* got = into;
            if (!dest && intercept_) {
                intercepted.assign(into, into + n);
                intercept_->Receive(intercepted);
                n = static_cast<int32_t>(intercepted.size());
                got = intercepted.data();
            }
            if (asciiFilter_)
                for (int32_t i = 0; i < n; ++i) got[i] &= 0x7F;
            if (!dest) {
                if (intercept_) inputBuffer_.Append(got, n);
                else inputBuffer_.Commit(n);
            }
        }
        CheckConnectionClosed(raiseIfDisconnected, false);
    } while (n == 0 && IsConnected());
    return n;
}

AnsiString TIdTCPConnection::ReadLine(const AnsiString& terminator, int32_t timeout, int32_t maxLength) {
    const AnsiString term = terminator.empty() ? AnsiString("\n") : terminator;
    if (maxLength == -1) maxLength = maxLineLength_;
    lineSplit_ = false;
    lineTimedOut_ = false;
    const int32_t termLength = static_cast<int32_t>(term.size());

    int32_t t = 0;  // 1-based position of the terminator, 0 while not found
    int32_t b = 0;  // buffered bytes already searched
    auto tooLong = [&]() -> AnsiString {
        if (maxLineAction_ == TIdMaxLineAction::maException) throw EIdReadLnMaxLineLengthExceeded();
        lineSplit_ = true;
        return inputBuffer_.ExtractString(maxLength);
    };
    do {
        const int32_t n = inputBuffer_.Size();
        if (n > 0) {
            // Only the new bytes, plus enough before them for a terminator
            // that straddles the boundary.
            const int32_t at = inputBuffer_.Find(term, std::max(0, b - termLength + 1));
            t = at >= 0 ? at + 1 : 0;
            b = n;
        }
        if (maxLength != 0 && t - 1 > maxLength) return tooLong();
        if (t == 0) {
            if (maxLength != 0 && b > maxLength) return tooLong();
            CheckConnectionClosed(true, true);
            const int32_t r = FillInputBuffer(true, timeout, timeout == IdTimeoutDefault);
            // 0: closed with an unfinished line buffered; -1: an explicit
            // time-out ran out. The buffered bytes stay.
            if (r <= 0) {
                lineTimedOut_ = true;
                return {};
            }
        }
    } while (t <= 0);

    AnsiString line = inputBuffer_.ExtractString(t + termLength - 1);
    line.erase(line.size() - term.size());
    if (term == "\n" && !line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

AnsiString TIdTCPConnection::ReadAll() {
    AnsiString result;
    TIdWorkScope work(*this, TWorkMode::wmRead, 0);
    while (IsConnected()) {
        FillInputBuffer(false, IdTimeoutDefault, true);
        result += inputBuffer_.ExtractString(inputBuffer_.Size());
    }
    return result;
}

void TIdTCPConnection::ReadExact(void* buffer, int32_t count) {
    if (count <= 0) return;
    while (inputBuffer_.Size() < count) {
        FillInputBuffer(true, IdTimeoutDefault, true);
        CheckConnectionClosed(true, true);
    }
    inputBuffer_.Extract(buffer, count);
}

void TIdTCPConnection::ReadBlockToStream(TStream& stream, int32_t count, bool receiveAhead) {
    // With nothing buffered, the block is received straight into a stream
    // that offers room for it, so its bytes are never copied in user space.
    uint8_t* window = !receiveAhead && inputBuffer_.Empty() && !intercept_ ? stream.WriteWindow(count) : nullptr;
    if (!window) {
        // Receives ask for no more than the block still needs, so that the
        // input buffer ends each block empty and never moves bytes about;
        // receiving ahead, they ask for a whole receive, and what comes
        // beyond the block stays buffered for the next read.
        while (inputBuffer_.Size() < count) {
            const int32_t need = count - inputBuffer_.Size();
            Receive(nullptr, receiveAhead ? std::max(need, recvBufferSize_) : need, 0, true, IdTimeoutDefault, true);
            CheckConnectionClosed(true, true);
        }
        stream.WriteBuffer(inputBuffer_.Data(), count);
        inputBuffer_.Consume(count);
        return;
    }
    int32_t got = 0;
    try {
        while (got < count) {
            got += std::max(Receive(window + got, count - got, got, true, IdTimeoutDefault, true), 0);
            CheckConnectionClosed(true, true);
        }
    } catch (...) {
        // As on the buffered path: the bytes of an unfinished block are left
        // in the input buffer, not in the stream.
        inputBuffer_.Append(window, got);
        throw;
    }
    stream.CommitWindow(count);
    AddWork(TWorkMode::wmRead, count);
}

int64_t TIdTCPConnection::ReadToStream(TStream& stream, int64_t count, bool untilClosed, bool receiveAhead) {
    if (count == -1 && !untilClosed) {
        uint8_t prefix[4];
        ReadExact(prefix, 4);
        count = static_cast<int32_t>((uint32_t(prefix[0]) << 24) | (uint32_t(prefix[1]) << 16) |
                                     (uint32_t(prefix[2]) << 8) | prefix[3]);
    }
    // The announced count is only a hint: the stream grows as bytes arrive, so
    // a huge announced length costs nothing until the bytes are really there.
    if (count >= 0) stream.Reserve(count);
    int64_t w = untilClosed ? INT64_MAX : count;
    const int64_t wanted = w;
    TIdWorkScope work(*this, TWorkMode::wmRead, untilClosed ? 0 : count, [&] {
        const int64_t position = stream.Position();
        if (stream.Size() > position) stream.SetSize(position);
    });
    // Moves buffered bytes, at most what is still wanted, to the stream.
    auto takeBuffered = [&] {
        const int32_t take = static_cast<int32_t>(std::min<int64_t>(inputBuffer_.Size(), w));
        if (take <= 0) return;
        stream.WriteBuffer(inputBuffer_.Data(), take);
        inputBuffer_.Consume(take);
        w -= take;
    };
    takeBuffered();
    const int64_t k = std::min<int64_t>(w, recvBufferSize_);
    while (IsConnected() && w > 0) {
        const int32_t i = static_cast<int32_t>(std::min(w, k));
        try {
            ReadBlockToStream(stream, i, receiveAhead && !untilClosed && i == w);
        } catch (const EIdConnClosedGracefully&) {
            // The bytes of the block the close left unfinished came: they go
            // to the stream before the close is told.
            takeBuffered();
            if (!untilClosed) throw;
            inputBuffer_.Clear();
            continue;
        } catch (...) {
            takeBuffered();
            throw;
        }
        w -= i;
    }
    return wanted - w;
}

// ---- writing

void TIdTCPConnection::SendLine(const AnsiString& text) { SendText(text + "\r\n"); }

void TIdTCPConnection::SendText(const AnsiString& text) {
    if (text.empty()) return;
    SendData(text.data(), static_cast<int32_t>(text.size()), false);
}

void TIdTCPConnection::SendData(const void* data, int32_t count, bool now) {
    if (count <= 0 || !data) return;
    CheckConnectionClosed(true, true);
    if (!IsConnected()) throw EIdNotConnected();

    if (pendingWrites_ && !now) {
        pendingWrites_->Append(data, count);
        if (flushThreshold_ > 0 && pendingWrites_->Size() >= flushThreshold_) FlushPendingWrites(flushThreshold_);
        return;
    }

    const uint8_t* p = static_cast<const uint8_t*>(data);
    std::vector<uint8_t> bytes(p, p + count);
    if (intercept_) intercept_->Send(bytes);
    const int32_t total = static_cast<int32_t>(bytes.size());
    int32_t offset = 0;
    while (offset < total) {
        const int n = ioHandler_->SendBytes(bytes.data() + offset, total - offset);
        peerClosed_ = n == 0;
        CheckConnectionClosed(true, false);
        if (n == Id_SOCKET_ERROR) {
            // Raises for every other code; these three close the socket first.
            SharedStack->CheckSocketResult(n, {Id_WSAESHUTDOWN, Id_WSAECONNABORTED, Id_WSAECONNRESET});
            const int32_t code = SharedStack->LastSocketError();
            DropSocket();
            SharedStack->RaiseSocketFailure(code);
        }
        AddWork(TWorkMode::wmWrite, n);
        offset += n;
    }
}

void TIdTCPConnection::BeginBufferedWrite(int32_t threshold) {
    pendingWrites_ = std::make_unique<TIdBuffer>();
    flushThreshold_ = threshold;
}

void TIdTCPConnection::EndBufferedWrite() {
    try {
        FlushPendingWrites(-1);
    } catch (...) {
        pendingWrites_.reset();
        throw;
    }
    pendingWrites_.reset();
}

void TIdTCPConnection::FlushPendingWrites(int32_t count) {
    if (!pendingWrites_ || pendingWrites_->Empty()) return;
    const int32_t size = pendingWrites_->Size();
    const int32_t take = (count == -1 || count > size) ? size : count;
    const std::string bytes = pendingWrites_->ExtractString(take);
    SendData(bytes.data(), static_cast<int32_t>(bytes.size()), true);
}

void TIdTCPConnection::SendStream(TStream& stream, bool fromStart, bool countPrefix, int64_t size) {
    if (fromStart) stream.SetPosition(0);
    const int64_t end = size != 0 ? stream.Position() + size : stream.Size();
    const int64_t toSend = end - stream.Position();
    if (countPrefix) {
        const uint32_t v = static_cast<uint32_t>(toSend);
        const uint8_t prefix[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                                   static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
        SendData(prefix, 4, false);
    }
    TIdWorkScope work(*this, TWorkMode::wmWrite, toSend);
    std::vector<uint8_t> chunk;
    while (stream.Position() < end) {
        const int32_t want =
            static_cast<int32_t>(std::min<int64_t>(std::max(sendBufferSize_, 1), end - stream.Position()));
        chunk.resize(static_cast<size_t>(want));
        const int32_t got = stream.Read(chunk.data(), want);
        if (got <= 0) throw EIdNoDataToRead();
        SendData(chunk.data(), got, false);
    }
}
