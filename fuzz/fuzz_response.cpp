// The response path end to end at memory speed: real GET requests of a real
// client, through its data path and an IO handler, answered from memory by a
// scripted server (no threads, no sockets, no waiting), one answer per
// request on a kept connection or on a new one, as the client asks.
// Input: byte 0 picks the mode (bit 0: two fetches on one client; bit 1: a
// small MaxLineLength; bit 2: keep-alive through HTTP/1.0; bits 3 to 7: the
// seed of the sizes in which the answers' bytes arrive, 0 for all at once),
// byte 1 where the input splits into the two answers, the rest the answers'
// bytes. The layout is that of fuzz_response_loopback, so the two share
// inputs.
// Every fetch must end in a return or an Exception, a fetch that fails
// without an answer must leave the client disconnected, a body never holds
// more bytes than arrived, and every request sent is a whole GET head.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "IdHTTP.h"
#include "MemoryIOHandler.h"
#include "ResponseInput.h"

namespace {

// A request head as the client writes it: a GET of the path, one line per
// header, an empty line at the end.
bool WellFormedRequests(const std::string& sent, int requests) {
    int heads = 0;
    size_t at = 0;
    while (at < sent.size()) {
        const size_t end = sent.find("\r\n\r\n", at);
        if (end == std::string::npos) return false;
        if (sent.compare(at, 13, "GET /kestrin ") != 0) return false;
        at = end + 4;
        ++heads;
    }
    return heads == requests;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t mode = data[0];
    const std::vector<std::string> answers = AnswersOf(data, size);

    TMemoryIOHandler connection(nullptr);
    connection.Serve(answers);
    connection.SetSliceSeed((mode >> 3) * 2654435761u);
    {
        TIdHTTP http(nullptr);
        http.SetIOHandler(&connection);
        // Only a bound on the waits: no time passes over memory.
        http.SetFetchTimeout(3000);
        if (mode & 2) http.SetMaxLineLength(64);
        if (mode & 4) http.SetProtocolVersion(TIdHTTPProtocolVersion::pv1_0);
        for (size_t i = 0; i < answers.size(); ++i) {
            try {
                const AnsiString body = http.GetDocument("http://127.0.0.1:9080/kestrin");
                if (body.size() > size) __builtin_trap();  // bytes from nowhere
            } catch (const EIdHTTPProtocolException&) {
            } catch (const Exception&) {
                // No usable answer: nothing of it may stay for the next fetch.
                if (http.IsConnected()) __builtin_trap();
            }
        }
        if (!WellFormedRequests(connection.Sent(), connection.Requests())) __builtin_trap();
        if (connection.Delivered() > static_cast<int64_t>(size - 2)) __builtin_trap();  // more than was sent
    }
    return 0;
}
