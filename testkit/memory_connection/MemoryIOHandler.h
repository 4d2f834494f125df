// TMemoryIOHandler: a client's connections served from memory. A scripted
// server gives one answer per request head the client sends, on whichever
// connection the request comes (a kept one or a new one), and closes a
// connection once its answers are out and the client waits for more instead
// of asking again; after the last answer it closes at once. Received bytes
// come in slices whose sizes follow a seeded sequence, so every split of an
// answer across reads can be reached. Nothing blocks and no time passes: a
// wait that the server's idle patience would end is answered at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "IdIOHandlerSocket.h"

class TMemoryIOHandler : public TIdIOHandler {
public:
    // How long the server waits for a request on a kept connection before it
    // closes it: shorter waits of the client see no bytes and no close.
    static constexpr int32_t kServerPatienceMs = 30;

    explicit TMemoryIOHandler(TComponent* owner) : TIdIOHandler(owner) {}
    const char* ClassName() const override { return "TMemoryIOHandler"; }

    // The answers, in order; forgets every earlier connection and record.
    void Serve(std::vector<std::string> answers);
    // 0: every receive gets all the bytes it asks for that are there; else
    // the seed of the sequence of slice sizes (1 to about 64 bytes).
    void SetSliceSeed(uint32_t seed);

    // All bytes the client sent, over every connection.
    const std::string& Sent() const { return sent_; }
    int Connections() const { return connections_; }
    int Requests() const { return requests_; }
    // Answers handed out so far.
    size_t AnswersServed() const { return next_; }
    // Bytes received by the client so far, over every connection.
    int64_t Delivered() const { return delivered_; }
    // Whether a receive found the current answer used up while the client
    // still held the connection (it read on into the close), since the last
    // ClearReadPast.
    bool ReadPast() const { return readPast_; }
    void ClearReadPast() { readPast_ = false; }

    void CloseHandler() override;
    void OpenClientConnection(const AnsiString& host, int32_t port, const AnsiString& boundIP, int32_t boundPort,
                              int32_t boundPortLow, int32_t boundPortHigh, int32_t timeout) override;
    bool HasOpenSocket() override { return open_; }
    bool WaitReadable(int32_t ms) override;
    int ReceiveBytes(void* buffer, int length) override;
    int SendBytes(const void* buffer, int length) override;

private:
    // The server has nothing more to say on this connection: a receive ends
    // in its close.
    bool ServerDone() const { return serverClosed_ || next_ >= answers_.size(); }
    size_t NextSlice(size_t want);

    std::vector<std::string> answers_;
    size_t next_ = 0;
    uint32_t sliceState_ = 0;
    bool open_ = false;
    bool serverClosed_ = false;
    std::string pending_;      // answer bytes sent by the server, not yet received
    size_t pendingAt_ = 0;     // how many of pending_ were received
    std::string requestHead_;  // the request being sent, up to its empty line
    std::string sent_;
    int connections_ = 0;
    int requests_ = 0;
    int64_t delivered_ = 0;
    bool readPast_ = false;
};
