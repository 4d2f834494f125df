#include "ScriptedServer.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "Loopback.h"

namespace sock = loopback;
using Clock = std::chrono::steady_clock;

namespace step {
ScriptStep Send(std::string bytes) { return {ScriptStep::Kind::Send, std::move(bytes), 0}; }
ScriptStep Pause(int ms) { return {ScriptStep::Kind::Pause, {}, ms}; }
ScriptStep ReadUntil(std::string pattern) { return {ScriptStep::Kind::ReadUntil, std::move(pattern), 0}; }
ScriptStep ReadBytes(size_t count) { return {ScriptStep::Kind::ReadBytes, {}, static_cast<int64_t>(count)}; }
ScriptStep ReadHead() { return ReadUntil("\r\n\r\n"); }
ScriptStep HalfClose() { return {ScriptStep::Kind::HalfClose, {}, 0}; }
ScriptStep Close() { return {ScriptStep::Kind::Close, {}, 0}; }
ScriptStep Reset() { return {ScriptStep::Kind::Reset, {}, 0}; }
ScriptStep Silent(int maxMs) { return {ScriptStep::Kind::Silent, {}, maxMs}; }
}  // namespace step

Script AnswerOnce(std::string answer) { return {step::ReadHead(), step::Send(std::move(answer)), step::Close()}; }

namespace {

constexpr int kSliceMs = 5;  // how often long waits look at the stop flag

// A listener on 127.0.0.1:port; raises std::runtime_error when the port
// cannot be had.
intptr_t ListenOrRaise(uint16_t port, uint16_t& boundPort, int backlog = 16) {
    const intptr_t s = sock::Listen(port, backlog);
    if (s == sock::kNoSocket)
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
                                 sock::ErrorText(sock::LastError()));
    boundPort = sock::LocalPort(s);
    return s;
}

}  // namespace

ScriptedServer::ScriptedServer(std::vector<Script> scripts, ScriptedServerOptions options)
    : scripts_(std::move(scripts)), options_(options) {
    listener_ = ListenOrRaise(options_.port, port_);
    thread_ = std::thread([this] { Run(); });
}

ScriptedServer::ScriptedServer(std::vector<Script> scripts, ReservedPort port, ScriptedServerOptions options)
    : scripts_(std::move(scripts)), options_(options) {
    listener_ = port.Release();
    if (!sock::StartListening(listener_)) {
        const std::string why = sock::ErrorText(sock::LastError());
        sock::Close(listener_);
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port.Port()) + ": " + why);
    }
    port_ = port.Port();
    thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() { Stop(); }

void ScriptedServer::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ != -1) {
        sock::Close(listener_);
        listener_ = -1;
    }
}

int ScriptedServer::Accepted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(records_.size());
}

bool ScriptedServer::WaitFinished(size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto limit = std::chrono::milliseconds(timeoutMs < 0 ? options_.stepTimeoutMs : timeoutMs);
    return changed_.wait_for(lock, limit, [&] {
        return records_.size() >= count &&
               std::all_of(records_.begin(), records_.begin() + static_cast<std::ptrdiff_t>(count),
                           [](const ConnectionRecord& r) { return r.finished; });
    });
}

ConnectionRecord ScriptedServer::Connection(size_t index, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto limit = std::chrono::milliseconds(timeoutMs < 0 ? options_.stepTimeoutMs : timeoutMs);
    changed_.wait_for(lock, limit, [&] { return records_.size() > index && records_[index].finished; });
    return records_.size() > index ? records_[index] : ConnectionRecord{};
}

void ScriptedServer::Run() {
    while (!stop_) {
        if (!sock::WaitReadable(listener_, kSliceMs)) continue;
        const intptr_t s = sock::Accept(listener_);
        if (s == -1) continue;
        size_t index;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            index = records_.size();
            records_.emplace_back();
        }
        changed_.notify_all();
        static const Script kNone;
        const Script& script = index < scripts_.size()                      ? scripts_[index]
                               : (options_.repeatLast && !scripts_.empty()) ? scripts_.back()
                                                                            : kNone;
        Play(s, script, index);
    }
}

void ScriptedServer::Play(intptr_t s, const Script& script, size_t index) {
    std::string buffer;   // everything received on this connection
    size_t consumed = 0;  // how much of it read steps have used up
    bool closedByClient = false;
    std::vector<char> chunk(65536);

    auto update = [&](auto change) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            change(records_[index]);
        }
        changed_.notify_all();
    };
    // One recv; false when the connection cannot deliver any more.
    auto receiveOnce = [&]() -> bool {
        const int n = sock::Recv(s, chunk.data(), static_cast<int>(chunk.size()));
        if (n > 0) {
            buffer.append(chunk.data(), static_cast<size_t>(n));
            update([&](ConnectionRecord& r) {
                r.received.append(chunk.data(), static_cast<size_t>(n));
                r.recvSizes.push_back(static_cast<size_t>(n));
            });
            return true;
        }
        closedByClient = true;
        update([&](ConnectionRecord& r) { (n == 0 ? r.clientClosed : r.clientReset) = true; });
        return false;
    };
    // Waits for data until the deadline; "timeout", "closed" or "data".
    enum class Got { Data, Closed, Timeout };
    auto receive = [&](Clock::time_point deadline) -> Got {
        if (closedByClient) return Got::Closed;
        while (!stop_) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return Got::Timeout;
            if (sock::WaitReadable(s, static_cast<int>(std::min<int64_t>(left, kSliceMs))))
                return receiveOnce() ? Got::Data : Got::Closed;
        }
        return Got::Timeout;
    };
    auto stepDeadline = [&] { return Clock::now() + std::chrono::milliseconds(options_.stepTimeoutMs); };
    auto drainAndClose = [&] {
        while (!closedByClient && sock::WaitReadable(s, 0) && receiveOnce()) {
        }
        sock::Close(s);
    };

    bool open = true;
    for (const ScriptStep& st : script) {
        if (stop_ || !open) break;
        switch (st.kind) {
        case ScriptStep::Kind::Send: {
            size_t sent = 0;
            while (sent < st.bytes.size()) {
                const int n = sock::Send(s, st.bytes.data() + sent, static_cast<int>(st.bytes.size() - sent));
                if (n <= 0) {
                    update([](ConnectionRecord& r) { r.clientReset = true; });
                    break;
                }
                sent += static_cast<size_t>(n);
            }
            if (sent < st.bytes.size()) {
                drainAndClose();
                open = false;
            }
            break;
        }
        case ScriptStep::Kind::Pause: {
            const auto until = Clock::now() + std::chrono::milliseconds(st.amount);
            while (!stop_ && Clock::now() < until)
                std::this_thread::sleep_for(
                    std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(kSliceMs)));
            break;
        }
        case ScriptStep::Kind::ReadUntil:
        case ScriptStep::Kind::ReadBytes: {
            const auto deadline = stepDeadline();
            for (;;) {
                if (st.kind == ScriptStep::Kind::ReadUntil) {
                    const size_t at = buffer.find(st.bytes, consumed);
                    if (at != std::string::npos) {
                        consumed = at + st.bytes.size();
                        break;
                    }
                } else if (buffer.size() - consumed >= static_cast<size_t>(st.amount)) {
                    consumed += static_cast<size_t>(st.amount);
                    break;
                }
                const Got got = receive(deadline);
                if (got == Got::Data) continue;
                if (got == Got::Timeout) update([](ConnectionRecord& r) { r.timedOut = true; });
                drainAndClose();
                open = false;
                break;
            }
            break;
        }
        case ScriptStep::Kind::HalfClose: sock::ShutdownSend(s); break;
        case ScriptStep::Kind::Close:
            drainAndClose();
            open = false;
            break;
        case ScriptStep::Kind::Reset:
            sock::Reset(s);
            open = false;
            break;
        case ScriptStep::Kind::Silent: {
            const auto deadline = st.amount < 0 ? stepDeadline() : Clock::now() + std::chrono::milliseconds(st.amount);
            Got got;
            do {
                got = receive(deadline);
            } while (got == Got::Data);
            if (got == Got::Timeout && st.amount < 0 && !stop_) update([](ConnectionRecord& r) { r.timedOut = true; });
            break;
        }
        }
    }
    if (open) drainAndClose();
    update([](ConnectionRecord& r) { r.finished = true; });
}

HangingConnectTarget::HangingConnectTarget() {
    listener_ = ListenOrRaise(0, port_, 0);
    // Fill the accept queue. With a backlog of 0 the queue holds a single
    // connection (on Linux, and so under Wine): it is full as soon as the
    // listener turns readable, and further requests, a test's included, are
    // then dropped.
    for (int i = 0; i < 4; ++i) {
        const intptr_t s = sock::StartConnect(port_);
        if (s != -1) fillers_.push_back(s);
    }
    if (!sock::WaitReadable(listener_, 5000)) {
        for (intptr_t s : fillers_) sock::Close(s);
        sock::Close(listener_);
        throw std::runtime_error("the accept queue of 127.0.0.1:" + std::to_string(port_) + " did not fill");
    }
}

HangingConnectTarget::~HangingConnectTarget() {
    for (intptr_t s : fillers_) sock::Close(s);
    sock::Close(listener_);
}
