// soak: runs many probes of the HTTP client against loopback servers that
// rotate through the ways a server can behave (refuse, answer, close before
// answering, reset, answer with an error status, answer chunked, stall in
// the header block), first with one client for every probe, then with a new
// client per probe. Every `every` probes it reports the process's open
// descriptors (handles) and resident memory; it fails when a probe ends
// otherwise than its kind should, when descriptors are not flat, or when
// memory grows after the first report by more than a set amount.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "IdHTTP.h"
#include "IdSocketHandle.h"
#include "Loopback.h"
#include "ProcessUsage.h"
#include "ScriptedServer.h"

namespace {

const char kUsage[] =
    "Usage: soak [--probes N] [--every K] [--max-growth-kib M]\n"
    "Runs N probes (default 10000) with one client, then N with a new client per\n"
    "probe, rotating refused / answer / close / reset / error status / chunked /\n"
    "slow header, and reports descriptors and memory every K probes (default\n"
    "1000). Exit status 0 when every probe ended as its kind should, descriptors\n"
    "stayed flat and memory grew by at most M KiB (default 1024) from the first\n"
    "report to the last; 1 otherwise; 2 for wrong usage.\n";

enum class Kind { refused, answer, close, reset, errorStatus, chunked, slowHeader };
const Kind kKinds[] = {Kind::refused,     Kind::answer,  Kind::close,     Kind::reset,
                       Kind::errorStatus, Kind::chunked, Kind::slowHeader};
const char* const kKindNames[] = {"refused", "answer", "close", "reset", "error status", "chunked", "slow header"};

// One loopback listener serving its connections one after another, each the
// same way. Every wait is bounded; Stop ends the thread.
class KindServer {
public:
    explicit KindServer(Kind kind) : kind_(kind) {
        listener_ = loopback::Listen(0);
        if (listener_ == loopback::kNoSocket)
            throw std::runtime_error("cannot listen: " + loopback::ErrorText(loopback::LastError()));
        port_ = loopback::LocalPort(listener_);
        thread_ = std::thread([this] { Run(); });
    }
    ~KindServer() {
        stop_ = true;
        thread_.join();
        loopback::Close(listener_);
    }
    KindServer(const KindServer&) = delete;
    KindServer& operator=(const KindServer&) = delete;
    uint16_t Port() const { return port_; }
    // True while a connection is being served.
    bool Busy() const { return busy_; }

private:
    void Run() {
        while (!stop_) {
            if (!loopback::WaitReadable(listener_, 20)) continue;
            const loopback::Socket s = loopback::Accept(listener_);
            if (s == -1) continue;
            busy_ = true;
            Serve(s);
            busy_ = false;
        }
    }

    // Reads one request head into `pending`; false on close, failure or 2 s
    // of silence.
    static bool ReadHead(intptr_t s, std::string& pending) {
        for (;;) {
            const size_t end = pending.find("\r\n\r\n");
            if (end != std::string::npos) {
                pending.erase(0, end + 4);
                return true;
            }
            if (!loopback::WaitReadable(s, 2000)) return false;
            char buffer[4096];
            const int n = loopback::Recv(s, buffer, sizeof buffer);
            if (n <= 0) return false;
            pending.append(buffer, static_cast<size_t>(n));
        }
    }

    void Serve(intptr_t s) {
        std::string pending;
        // Answering kinds keep the connection for the client's next request.
        while (!stop_ && ReadHead(s, pending)) {
            if (kind_ == Kind::answer) {
                loopback::SendAll(s, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
            } else if (kind_ == Kind::errorStatus) {
                loopback::SendAll(s, "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 4\r\n\r\noops");
            } else if (kind_ == Kind::chunked) {
                loopback::SendAll(
                    s, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nhel\r\n2\r\nlo\r\n0\r\n\r\n");
            } else if (kind_ == Kind::reset) {
                loopback::Reset(s);
                s = loopback::kNoSocket;
                break;
            } else if (kind_ == Kind::slowHeader) {
                // A head that stops halfway; the client's bound ends the fetch.
                loopback::SendAll(s, "HTTP/1.1 200 OK\r\nServer: sl");
                loopback::WaitReadable(s, 2000);
                break;
            } else {
                break;  // close before answering
            }
        }
        if (s != loopback::kNoSocket) loopback::Close(s);
    }

    Kind kind_;
    loopback::Socket listener_ = loopback::kNoSocket;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> busy_{false};
    std::thread thread_;
};

struct Servers {
    // The refused port stays bound (not listening) for the whole run: a port
    // merely released could be handed out again as the client's own local
    // port, and a connect to it would then reach the client itself.
    TIdTCPClient stackMember{nullptr};
    TIdSocketHandle refusedHolder;
    uint16_t refusedPort = 0;
    std::vector<std::unique_ptr<KindServer>> byKind;
    Servers() {
        refusedHolder.OpenSocket(Id_SOCK_STREAM, 0);
        refusedHolder.SetIP("127.0.0.1");
        refusedHolder.BindLocal();
        refusedPort = static_cast<uint16_t>(refusedHolder.Port());
        for (Kind k : kKinds) byKind.push_back(k == Kind::refused ? nullptr : std::make_unique<KindServer>(k));
    }
    // Waits (at most 2 s) until every server has closed its connection, so
    // that a report counts the client's descriptors and not a server's.
    void Quiesce() const {
        for (int i = 0; i < 200; ++i) {
            bool busy = false;
            for (const auto& s : byKind) busy = busy || (s && s->Busy());
            if (!busy) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    std::string Url(Kind k) const {
        const uint16_t port = k == Kind::refused ? refusedPort : byKind[static_cast<size_t>(k)]->Port();
        return "http://127.0.0.1:" + std::to_string(port) + "/kestrin";
    }
};

// Whether one probe ended as its kind should; `seen` gets what it ended with.
bool Probe(TIdHTTP& http, const Servers& servers, Kind kind, std::string& seen) {
    // The stall is ended by the fetch bound; the others never come near it.
    http.SetFetchTimeout(kind == Kind::slowHeader ? 50 : 5000);
    std::string outcome;
    int32_t code = 0;
    seen.clear();
    try {
        const AnsiString body = http.GetDocument(servers.Url(kind));
        outcome = body == "hello" ? "returned" : "wrong body";
    } catch (const EIdHTTPProtocolException& e) {
        outcome = e.ClassName();
        code = e.ReplyCode();
    } catch (const EIdSocketError& e) {
        outcome = e.ClassName();
        code = e.SocketCode();
    } catch (const Exception& e) {
        outcome = e.ClassName();
        seen = e.Message();
    }
    seen = outcome + " " + std::to_string(code) + " " + seen;
    switch (kind) {
    case Kind::refused: return outcome == "EIdSocketError" && code == 10061;
    case Kind::answer:
    case Kind::chunked: return outcome == "returned";
    case Kind::close: return outcome == "EIdConnClosedGracefully";
    // Some platforms (Wine) report a reset on the read side as a close.
    case Kind::reset: return (outcome == "EIdSocketError" && code == 10054) || outcome == "EIdConnClosedGracefully";
    case Kind::errorStatus: return outcome == "EIdHTTPProtocolException" && code == 500;
    case Kind::slowHeader: return outcome == "EIdReadTimeout";
    }
    return false;
}

bool ParseCount(const char* text, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return end && *end == 0 && end != text;
}

}  // namespace

int main(int argc, char** argv) {
    long probes = 10000, every = 1000, maxGrowthKiB = 1024;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        long* target = arg == "--probes"           ? &probes
                       : arg == "--every"          ? &every
                       : arg == "--max-growth-kib" ? &maxGrowthKiB
                                                   : nullptr;
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!target || i + 1 >= argc || !ParseCount(argv[++i], *target) || *target < 1) {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }

    bool ok = true;
    try {
        Servers servers;
        for (const bool clientPerProbe : {false, true}) {
            const char* mode = clientPerProbe ? "new client per probe" : "one client";
            auto shared = std::make_unique<TIdHTTP>(nullptr);
            long failures[7] = {};
            std::string firstSeen[7];
            std::string seen;
            const auto tally = [&](Kind kind, bool expected) {
                const size_t k = static_cast<size_t>(kind);
                if (expected) return;
                if (failures[k]++ == 0) firstSeen[k] = seen;
            };
            ProcessUsage first{};
            ProcessUsage last{};
            for (long n = 1; n <= probes; ++n) {
                const Kind kind = kKinds[(n - 1) % 7];
                if (clientPerProbe) {
                    TIdHTTP http(nullptr);
                    tally(kind, Probe(http, servers, kind, seen));
                } else {
                    tally(kind, Probe(*shared, servers, kind, seen));
                }
                if (n % every == 0) {
                    // A refused probe first: the shared client then holds no
                    // connection, and the servers close theirs.
                    if (!clientPerProbe) tally(Kind::refused, Probe(*shared, servers, Kind::refused, seen));
                    servers.Quiesce();
                    last = CurrentProcessUsage();
                    if (n == every) first = last;
                    std::printf("%s: %ld probes, %lld descriptors, %lld KiB resident\n", mode, n,
                                static_cast<long long>(last.descriptors), static_cast<long long>(last.residentKiB));
                    std::fflush(stdout);
                }
            }
            shared.reset();
            for (size_t k = 0; k < 7; ++k) {
                if (failures[k] == 0) continue;
                std::printf("%s: %ld %s probes ended otherwise than expected, first with: %s\n", mode, failures[k],
                            kKindNames[k], firstSeen[k].c_str());
                ok = false;
            }
            if (last.descriptors != first.descriptors) {
                std::printf("%s: descriptors went from %lld to %lld\n", mode, static_cast<long long>(first.descriptors),
                            static_cast<long long>(last.descriptors));
                ok = false;
            }
            if (last.residentKiB - first.residentKiB > maxGrowthKiB) {
                std::printf("%s: memory grew by %lld KiB\n", mode,
                            static_cast<long long>(last.residentKiB - first.residentKiB));
                ok = false;
            }
        }
    } catch (const std::exception& e) {
        std::printf("soak: %s\n", e.what());
        return 1;
    }
    std::puts(ok ? "soak: flat" : "soak: FAILED");
    return ok ? 0 : 1;
}
