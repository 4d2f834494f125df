// A scripted loopback TCP server for client tests.
//
// It listens on 127.0.0.1 (an ephemeral port unless one is given, or the port
// of a ReservedPort it takes over), accepts
// connections one after another on its own thread and plays one script per
// connection: connection i gets scripts[i] (the last one again for later
// connections when repeatLast is set; otherwise a later connection is accepted
// and closed at once). Every byte a connection received is recorded, with the
// size of each recv call that returned data. Every wait is bounded by
// stepTimeoutMs, so a broken client can never hang a test; the destructor
// stops the thread and joins it.
//
//   ScriptedServer server({{step::ReadHead(), step::Send("HTTP/1.1 200 OK\r\n\r\n"), step::Close()}});
//   client.SetPort(server.Port());
//   ...
//   ConnectionRecord c = server.Connection(0);   // waits until its script ended
//   EXPECT_EQ(c.recvSizes, std::vector<size_t>{148});
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Loopback.h"
#include "ReservedPort.h"

struct ScriptStep {
    enum class Kind { Send, Pause, ReadUntil, ReadBytes, HalfClose, Close, Reset, Silent };
    Kind kind;
    std::string bytes;   // Send: what to send; ReadUntil: the pattern
    int64_t amount = 0;  // Pause: ms; ReadBytes: count; Silent: bound in ms (-1: the step time-out)
};

using Script = std::vector<ScriptStep>;

namespace step {
// Sends the bytes (in as many send calls as the socket needs).
ScriptStep Send(std::string bytes);
// Sleeps.
ScriptStep Pause(int ms);
// Reads until `pattern` occurs in the bytes not yet consumed by an earlier
// read step; consumes up to the end of the pattern.
ScriptStep ReadUntil(std::string pattern);
// Reads until `count` more bytes have arrived; consumes them.
ScriptStep ReadBytes(size_t count);
// ReadUntil("\r\n\r\n"): a request head.
ScriptStep ReadHead();
// Shuts down the sending direction; the connection can still receive.
ScriptStep HalfClose();
// Records what has already arrived (so unread bytes do not turn the close
// into a reset), then closes. Ends the script.
ScriptStep Close();
// Closes with SO_LINGER 0, which sends a reset. Ends the script.
ScriptStep Reset();
// Sends nothing and records what arrives until the client closes or `maxMs`
// elapse (-1: the step time-out).
ScriptStep Silent(int maxMs = -1);
}  // namespace step

// The usual one-answer script: read a request head, send `answer`, close.
Script AnswerOnce(std::string answer);

struct ConnectionRecord {
    std::string received;           // every byte received, in order
    std::vector<size_t> recvSizes;  // one entry per recv call that returned data
    bool clientClosed = false;      // a recv saw the client's orderly close
    bool clientReset = false;       // a recv or send failed (reset by the client)
    bool timedOut = false;          // a read step, or Silent() without a bound of its own, hit the step time-out
    bool finished = false;          // the script has ended and the socket is closed
};

struct ScriptedServerOptions {
    uint16_t port = 0;         // 0: an ephemeral port
    int stepTimeoutMs = 5000;  // bound of every read, silent and accept wait
    bool repeatLast = false;   // play the last script for every further connection
};

class ScriptedServer {
public:
    explicit ScriptedServer(std::vector<Script> scripts, ScriptedServerOptions options = {});
    // Listens on the reserved port's own socket (options.port is not used):
    // the port goes from refusing connects to accepting them with no moment
    // in which it is free.
    ScriptedServer(std::vector<Script> scripts, ReservedPort port, ScriptedServerOptions options = {});
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    uint16_t Port() const { return port_; }
    // Connections accepted so far.
    int Accepted() const;
    // Waits (bounded by timeoutMs, -1: the step time-out) until `count`
    // connections have been accepted and their scripts have ended.
    bool WaitFinished(size_t count, int timeoutMs = -1);
    // The record of connection `index` (0-based) once its script has ended;
    // after timeoutMs the record as it is (finished false; empty when the
    // connection never came).
    ConnectionRecord Connection(size_t index, int timeoutMs = -1);
    // Stops accepting, ends a running script and joins the thread. Idempotent.
    void Stop();

private:
    void Run();
    // Plays one script on one accepted connection (ScriptedServer.cpp).
    class Playback;
    void Play(intptr_t socket, const Script& script, size_t index);

    std::vector<Script> scripts_;
    ScriptedServerOptions options_;
    intptr_t listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<ConnectionRecord> records_;
    std::thread thread_;
};

// A loopback endpoint whose connects hang: it listens with a full accept
// queue and never accepts, so the platform drops further connection requests
// until it gives up. For connect time-outs. The constructor returns once a
// connection of its own sits in the queue (raises std::runtime_error when
// none arrives within seconds).
class HangingConnectTarget {
public:
    HangingConnectTarget();
    ~HangingConnectTarget();
    HangingConnectTarget(const HangingConnectTarget&) = delete;
    HangingConnectTarget& operator=(const HangingConnectTarget&) = delete;
    uint16_t Port() const { return port_; }

private:
    intptr_t listener_ = -1;
    std::vector<intptr_t> fillers_;
    uint16_t port_ = 0;
};
