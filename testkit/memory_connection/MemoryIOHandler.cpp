#include "MemoryIOHandler.h"

#include <algorithm>
#include <cstring>

void TMemoryIOHandler::Serve(std::vector<std::string> answers) {
    answers_ = std::move(answers);
    next_ = 0;
    open_ = false;
    serverClosed_ = false;
    pending_.clear();
    pendingAt_ = 0;
    requestHead_.clear();
    sent_.clear();
    connections_ = 0;
    requests_ = 0;
    delivered_ = 0;
    readPast_ = false;
}

void TMemoryIOHandler::SetSliceSeed(uint32_t seed) { sliceState_ = seed; }

size_t TMemoryIOHandler::NextSlice(size_t want) {
    if (sliceState_ == 0) return want;
    // xorshift32: cheap, and the same seed always cuts the same way.
    sliceState_ ^= sliceState_ << 13;
    sliceState_ ^= sliceState_ >> 17;
    sliceState_ ^= sliceState_ << 5;
    // Mostly tiny slices (line ends and chunk sizes split), now and then larger.
    const size_t slice = (sliceState_ & 0x300) == 0 ? 1 + (sliceState_ >> 16) % 64 : 1 + (sliceState_ >> 16) % 4;
    return std::min(want, slice);
}

void TMemoryIOHandler::CloseHandler() { open_ = false; }

void TMemoryIOHandler::OpenClientConnection(const AnsiString& /*host*/, int32_t /*port*/, const AnsiString& /*boundIP*/,
                                            int32_t /*boundPort*/, int32_t /*boundPortLow*/, int32_t /*boundPortHigh*/,
                                            int32_t /*timeout*/) {
    // The server gives up any earlier connection for the new one, unread
    // bytes and all.
    open_ = true;
    serverClosed_ = false;
    pending_.clear();
    pendingAt_ = 0;
    requestHead_.clear();
    ++connections_;
}

bool TMemoryIOHandler::WaitReadable(int32_t ms) {
    if (!open_) throw EIdConnClosedGracefully();
    if (pendingAt_ < pending_.size() || ServerDone()) return true;
    // The server waits for the next request: within its patience nothing
    // arrives; past it, the close does.
    return ms == -2 || ms >= kServerPatienceMs;
}

int TMemoryIOHandler::ReceiveBytes(void* buffer, int length) {
    if (!open_) throw EIdClosedSocket();
    if (pendingAt_ >= pending_.size()) {
        // Nothing left of the answers sent: the client waits on, and the
        // server closes (at once after its last answer, else once its
        // patience runs out).
        readPast_ = true;
        serverClosed_ = true;
        return 0;
    }
    if (length <= 0) return 0;
    const size_t n = NextSlice(std::min(pending_.size() - pendingAt_, static_cast<size_t>(length)));
    std::memcpy(buffer, pending_.data() + pendingAt_, n);
    pendingAt_ += n;
    delivered_ += static_cast<int64_t>(n);
    if (pendingAt_ == pending_.size()) {
        pending_.clear();
        pendingAt_ = 0;
    }
    return static_cast<int>(n);
}

int TMemoryIOHandler::SendBytes(const void* buffer, int length) {
    if (!open_) throw EIdClosedSocket();
    if (length <= 0) return 0;
    const char* bytes = static_cast<const char*>(buffer);
    sent_.append(bytes, static_cast<size_t>(length));
    requestHead_.append(bytes, static_cast<size_t>(length));
    // Each complete request head gets the next answer, unless the server has
    // closed this connection already.
    for (size_t end; (end = requestHead_.find("\r\n\r\n")) != std::string::npos;) {
        requestHead_.erase(0, end + 4);
        ++requests_;
        if (!ServerDone()) pending_ += answers_[next_++];
    }
    return length;
}
