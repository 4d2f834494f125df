// In-process benchmarks of the client's data path against a loopback server
// thread: a body fetched into a memory stream by GetDocumentToStream, beside
// libcurl fetching the same body into a std::string; and the reading and
// parsing of a response head, with no socket at all.
#include <arpa/inet.h>
#include <curl/curl.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "IdHTTP.h"

namespace {

// Answers every request on every connection with one fixed response, until
// destroyed. Keeps connections open between requests.
class LoopbackServer {
public:
    explicit LoopbackServer(std::string response) : response_(std::move(response)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 8);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { Accept(); });
    }
    ~LoopbackServer() {
        stopping_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        acceptor_.join();
        for (std::thread& t : connections_) t.join();
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

private:
    void Accept() {
        for (;;) {
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0) return;
            connections_.emplace_back([this, fd] { Serve(fd); });
        }
    }
    void Serve(int fd) {
        std::string pending;
        char buffer[4096];
        while (!stopping_) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            pending.append(buffer, static_cast<size_t>(n));
            size_t end;
            while ((end = pending.find("\r\n\r\n")) != std::string::npos) {
                pending.erase(0, end + 4);
                for (size_t sent = 0; sent < response_.size();) {
                    const ssize_t m = ::send(fd, response_.data() + sent, response_.size() - sent, MSG_NOSIGNAL);
                    if (m <= 0) break;
                    sent += static_cast<size_t>(m);
                }
            }
        }
        ::close(fd);
    }

    std::string response_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::vector<std::thread> connections_;
};

// Bytes copied in user space so far, when the copy counter (copycount) is
// preloaded; see README.md.
using CopiedFn = unsigned long long (*)();
const CopiedFn Copied = reinterpret_cast<CopiedFn>(dlsym(RTLD_DEFAULT, "copycount_bytes"));

// Reports the copies per body byte made inside the timed loop.
class CopyCounter {
public:
    explicit CopyCounter(benchmark::State& state) : state_(state), start_(Copied ? Copied() : 0) {}
    void Report(size_t bodySize) {
        if (!Copied || state_.iterations() == 0) return;
        state_.counters["copies_per_byte"] =
            static_cast<double>(Copied() - start_) / (static_cast<double>(state_.iterations()) * bodySize);
    }

private:
    benchmark::State& state_;
    unsigned long long start_;
};

std::string Body(size_t size) {
    std::string body(size, '\0');
    for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>((i * 131) >> 3);
    return body;
}

std::string Answer(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nServer: bench\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Arguments: body size; 1 for a new connection for every fetch, 0 for one
// kept connection (the client then waits 1 ms before each reused request to
// notice a close by the server, which counts in its time).
void ClientIntoMemoryStream(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    const bool freshConnection = state.range(1) != 0;
    LoopbackServer server(Answer(Body(size)));
    TIdHTTP http(nullptr);
    const std::string url = server.Url("/body");
    CopyCounter copies(state);
    for (auto _ : state) {
        TMemoryStream stream;  // a fresh stream each time, as libcurl gets a fresh string
        http.GetDocumentToStream(url, stream);
        if (freshConnection) http.CloseConnection();
        if (static_cast<size_t>(stream.Size()) != size) state.SkipWithError("short body");
        benchmark::DoNotOptimize(stream.Memory());
    }
    copies.Report(size);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

size_t AppendToString(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

void LibcurlIntoString(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    const bool freshConnection = state.range(1) != 0;
    LoopbackServer server(Answer(Body(size)));
    CURL* curl = curl_easy_init();
    const std::string url = server.Url("/body");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendToString);
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, freshConnection ? 1L : 0L);
    CopyCounter copies(state);
    for (auto _ : state) {
        std::string body;
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
        if (curl_easy_perform(curl) != CURLE_OK || body.size() != size) state.SkipWithError("curl failed");
        benchmark::DoNotOptimize(body.data());
    }
    copies.Report(size);
    curl_easy_cleanup(curl);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

// A response head as a typical web server sends it, read line by line from
// the input buffer and parsed into the response's fields.
void ParseResponseHead(benchmark::State& state) {
    const std::string head =
        "HTTP/1.1 200 OK\r\n"
        "Server: nginx/1.22.1\r\n"
        "Date: Thu, 10 Dec 2026 15:03:11 GMT\r\n"
        "Content-Type: text/html; charset=utf-8\r\n"
        "Content-Length: 1024\r\n"
        "Last-Modified: Wed, 09 Dec 2026 10:00:00 GMT\r\n"
        "Connection: keep-alive\r\n"
        "ETag: \"6570a1b0-400\"\r\n"
        "Cache-Control: no-cache\r\n"
        "Set-Cookie: session=abc123; Path=/; HttpOnly\r\n"
        "Accept-Ranges: bytes\r\n"
        "\r\n";
    TIdHTTP http(nullptr);
    http.SetAllowCookies(false);
    TIdHTTPResponse& response = *http.Response();
    for (auto _ : state) {
        http.InputBuffer().Append(head.data(), static_cast<int32_t>(head.size()));
        response.HeaderLines().Clear();
        const AnsiString status = http.ReadLine();
        for (AnsiString line = http.ReadLine(); !line.empty(); line = http.ReadLine()) response.HeaderLines().Add(line);
        response.ParseHeaderLines();
        benchmark::DoNotOptimize(status.data());
        if (response.ContentLength() != 1024) state.SkipWithError("parse failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(head.size()));
}

}  // namespace

BENCHMARK(ClientIntoMemoryStream)
    ->ArgsProduct({{1 << 20, 16 << 20}, {0, 1}})
    ->ArgNames({"size", "fresh"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(LibcurlIntoString)
    ->ArgsProduct({{1 << 20, 16 << 20}, {0, 1}})
    ->ArgNames({"size", "fresh"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(ParseResponseHead)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    curl_global_cleanup();
    return 0;
}
