// The response path end to end over real sockets: a loopback server inside
// this process answers real GET requests of a real client with the fuzz
// input, on one connection or on new ones, as the client asks. Slow (a
// thread and a connection per input); fuzz_response runs the same inputs
// over memory, and this target keeps the socket layer in the path.
// Input: byte 0 picks the mode (bit 0: two fetches on one client; bit 1:
// a small MaxLineLength; bit 2: keep-alive through HTTP/1.0), byte 1 where
// the input splits into the two answers, the rest the answers' bytes.
// Every fetch must end in a return or an Exception, and a fetch that fails
// without an answer must leave the client disconnected.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "IdHTTP.h"
#include "ResponseInput.h"

namespace {

// The listener lives for the whole run; each input gets a server thread.
int listener = -1;
uint16_t listenerPort = 0;

void OpenListener() {
    listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener, 16) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        std::perror("fuzz_response: loopback listener");
        std::abort();
    }
    listenerPort = ntohs(a.sin_port);
}

bool WaitReadable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) == 1;
}

// Reads one request head; false when the client closed, failed or stayed
// silent for `ms`.
bool ReadRequestHead(int fd, int ms) {
    std::string head;
    while (head.find("\r\n\r\n") == std::string::npos) {
        if (!WaitReadable(fd, ms)) return false;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        head.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

void Close(int& fd) {
    if (fd < 0) return;
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
    fd = -1;
}

// Answers one request per answer: on the current connection while the client
// keeps it, else on the next one it opens. Every wait is bounded and ends
// early once the client is done, so no connection is left for the next input.
void Serve(std::vector<std::string> answers, const std::atomic<bool>& clientDone) {
    int fd = -1;
    // Waits for a request head, on fd or on a new connection; false once the
    // client is done.
    const auto nextRequest = [&](int keptMs) {
        // A request on a kept connection comes at once; a client still reading
        // the previous answer (waiting for the close) is let go.
        if (fd >= 0 && ReadRequestHead(fd, keptMs)) return true;
        Close(fd);
        while (!clientDone.load()) {
            if (!WaitReadable(listener, 10)) continue;
            fd = ::accept(listener, nullptr, nullptr);
            if (fd >= 0 && ReadRequestHead(fd, 2000)) return true;
            Close(fd);  // closed before its request: an earlier client's
        }
        return false;
    };
    for (const std::string& answer : answers) {
        if (!nextRequest(30)) break;
        size_t sent = 0;
        while (sent < answer.size()) {
            const ssize_t n = ::send(fd, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
    }
    Close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (listener < 0) OpenListener();
    if (size < 2) return 0;
    const uint8_t mode = data[0];
    const std::vector<std::string> answers = AnswersOf(data, size);

    std::atomic<bool> clientDone{false};
    std::thread server(Serve, answers, std::cref(clientDone));
    {
        TIdHTTP http(nullptr);
        // A safety bound only: the server closes once its answers are out.
        http.SetFetchTimeout(3000);
        if (mode & 2) http.SetMaxLineLength(64);
        if (mode & 4) http.SetProtocolVersion(TIdHTTPProtocolVersion::pv1_0);
        const std::string url = "http://127.0.0.1:" + std::to_string(listenerPort) + "/kestrin";
        for (size_t i = 0; i < answers.size(); ++i) {
            try {
                const AnsiString body = http.GetDocument(url);
                if (body.size() > size) __builtin_trap();  // bytes from nowhere
            } catch (const EIdHTTPProtocolException&) {
            } catch (const Exception&) {
                // No usable answer: nothing of it may stay for the next fetch.
                if (http.IsConnected()) __builtin_trap();
            }
        }
    }
    clientDone = true;
    server.join();
    return 0;
}
