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

// One connection's playback: what it received, how much of that read steps
// used up, and whether it is still open; one method per kind of step.
class ScriptedServer::Playback {
public:
    Playback(ScriptedServer& server, intptr_t socket, size_t index) : server_(server), s_(socket), index_(index) {}

    void Run(const Script& script) {
        for (const ScriptStep& st : script) {
            if (server_.stop_ || !open_) break;
            switch (st.kind) {
            case ScriptStep::Kind::Send: Send(st.bytes); break;
            case ScriptStep::Kind::Pause: Pause(st.amount); break;
            case ScriptStep::Kind::ReadUntil:
            case ScriptStep::Kind::ReadBytes: Read(st); break;
            case ScriptStep::Kind::HalfClose: sock::ShutdownSend(s_); break;
            case ScriptStep::Kind::Close: DrainAndClose(); break;
            case ScriptStep::Kind::Reset:
                sock::Reset(s_);
                open_ = false;
                break;
            case ScriptStep::Kind::Silent: Silent(st.amount); break;
            }
        }
        if (open_) DrainAndClose();
        Update([](ConnectionRecord& r) { r.finished = true; });
    }

private:
    enum class Got { Data, Closed, Timeout };

    template <typename Change>
    void Update(Change change) {
        {
            std::lock_guard<std::mutex> lock(server_.mutex_);
            change(server_.records_[index_]);
        }
        server_.changed_.notify_all();
    }

    // One recv; false when the connection cannot deliver any more.
    bool ReceiveOnce() {
        const int n = sock::Recv(s_, chunk_.data(), static_cast<int>(chunk_.size()));
        if (n > 0) {
            buffer_.append(chunk_.data(), static_cast<size_t>(n));
            Update([&](ConnectionRecord& r) {
                r.received.append(chunk_.data(), static_cast<size_t>(n));
                r.recvSizes.push_back(static_cast<size_t>(n));
            });
            return true;
        }
        closedByClient_ = true;
        Update([&](ConnectionRecord& r) { (n == 0 ? r.clientClosed : r.clientReset) = true; });
        return false;
    }

    // Waits for data until the deadline.
    Got Receive(Clock::time_point deadline) {
        if (closedByClient_) return Got::Closed;
        while (!server_.stop_) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return Got::Timeout;
            if (sock::WaitReadable(s_, static_cast<int>(std::min<int64_t>(left, kSliceMs))))
                return ReceiveOnce() ? Got::Data : Got::Closed;
        }
        return Got::Timeout;
    }

    Clock::time_point StepDeadline() const {
        return Clock::now() + std::chrono::milliseconds(server_.options_.stepTimeoutMs);
    }

    // Takes what the client still sends, then closes.
    void DrainAndClose() {
        while (!closedByClient_ && sock::WaitReadable(s_, 0) && ReceiveOnce()) {
        }
        sock::Close(s_);
        open_ = false;
    }

    void Send(const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const int n = sock::Send(s_, bytes.data() + sent, static_cast<int>(bytes.size() - sent));
            if (n <= 0) {
                Update([](ConnectionRecord& r) { r.clientReset = true; });
                break;
            }
            sent += static_cast<size_t>(n);
        }
        if (sent < bytes.size()) DrainAndClose();
    }

    void Pause(int64_t ms) {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        while (!server_.stop_ && Clock::now() < until)
            std::this_thread::sleep_for(
                std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(kSliceMs)));
    }

    // Reads up to a text or a count of bytes; a time-out or a close ends the
    // connection.
    void Read(const ScriptStep& st) {
        const auto deadline = StepDeadline();
        for (;;) {
            if (st.kind == ScriptStep::Kind::ReadUntil) {
                const size_t at = buffer_.find(st.bytes, consumed_);
                if (at != std::string::npos) {
                    consumed_ = at + st.bytes.size();
                    return;
                }
            } else if (buffer_.size() - consumed_ >= static_cast<size_t>(st.amount)) {
                consumed_ += static_cast<size_t>(st.amount);
                return;
            }
            const Got got = Receive(deadline);
            if (got == Got::Data) continue;
            if (got == Got::Timeout) Update([](ConnectionRecord& r) { r.timedOut = true; });
            DrainAndClose();
            return;
        }
    }

    // Takes what comes and answers nothing, for `ms` (< 0: the step time-out,
    // which then counts as timed out).
    void Silent(int64_t ms) {
        const auto deadline = ms < 0 ? StepDeadline() : Clock::now() + std::chrono::milliseconds(ms);
        Got got;
        do {
            got = Receive(deadline);
        } while (got == Got::Data);
        if (got == Got::Timeout && ms < 0 && !server_.stop_) Update([](ConnectionRecord& r) { r.timedOut = true; });
    }

    ScriptedServer& server_;
    const intptr_t s_;
    const size_t index_;
    std::string buffer_;   // everything received on this connection
    size_t consumed_ = 0;  // how much of it read steps have used up
    bool closedByClient_ = false;
    bool open_ = true;
    std::vector<char> chunk_ = std::vector<char>(65536);
};

void ScriptedServer::Play(intptr_t s, const Script& script, size_t index) { Playback(*this, s, index).Run(script); }

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
