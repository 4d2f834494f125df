// httpget [options] URL...: GETs the URLs in order with one client object,
// so that a kept connection carries the next fetch, and writes each body
// to the output as it arrives.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "IdHTTP.h"
#include "IdIOHandlerSocket.h"
#include "httpget_platform.h"

namespace {

const char kUsage[] =
    "Usage: httpget [options] URL...\n"
    "Fetches each URL in order with one HTTP client (a kept connection is reused)\n"
    "and writes each body, byte for byte, to standard output.\n"
    "\n"
    "Options:\n"
    "  -o FILE          write the bodies to FILE instead of standard output\n"
    "  -t MS            read time-out in milliseconds (0, the default: no limit);\n"
    "                   it bounds each single wait for data, so a server that\n"
    "                   trickles a byte now and then can hold a fetch for ever\n"
    "  -m, --max-time MS  bound on each whole fetch, connect included (0, the\n"
    "                   default: none); a fetch that reaches it fails\n"
    "  -0               send HTTP/1.0 requests instead of HTTP/1.1\n"
    "  -H \"Name: value\" add a request header line (may be repeated)\n"
    "  -L               follow redirects\n"
    "  -n N             fetch each URL N times (default 1)\n"
    "  -v, --verbose    tell on standard error what is sent and received: the\n"
    "                   request head lines prefixed \"> \", the answer's head lines\n"
    "                   prefixed \"< \", connection events prefixed \"* \"\n"
    "  --recv-size N    bytes asked of each receive from the socket (default 262144)\n"
    "  --help           show this text\n"
    "\n"
    "Exit status: 0 when every fetch returned a body. At the first failure the\n"
    "program stops and writes one line \"<error class>: <message>\" to standard\n"
    "error (CR and LF in the message written as \\r and \\n); for\n"
    "EIdHTTPProtocolException (the server answered with an error) a line\n"
    "\"ReplyCode: N\" and the error body follow, and the status is 1; for any\n"
    "other error, and for wrong usage, it is 2. For EIdHTTPFramingError (the\n"
    "server answered, but where its answer ends cannot be told: a bad\n"
    "Content-Length or chunk framing) the status is 8. When the server closes\n"
    "the connection before a body is whole, the bytes that came are written,\n"
    "the program stops with one line on standard error, \"httpget: transfer\n"
    "closed with N bytes remaining\" (or, where N is not known, \"httpget:\n"
    "transfer closed with outstanding read data remaining\"), and the status\n"
    "is 18.\n";

// Exit statuses of curl's: a body cut short by the close, and an answer whose
// framing is broken.
constexpr int kShortBody = 18;
constexpr int kWeirdReply = 8;

// The client's receive size (RecvBufferSize): the fastest on the benchmark
// against nginx on loopback (bench/README.md has the figures). With the
// client's own default, 32768, large bodies take about a fifth more wall
// time and half as much CPU time again.
constexpr int32_t kRecvSize = 262144;
constexpr int32_t kMaxRecvSize = 16 << 20;

struct Options {
    std::string output;
    int32_t readTimeout = 0;
    int32_t maxTime = 0;
    bool http10 = false;
    std::vector<std::string> headers;
    bool followRedirects = false;
    int32_t times = 1;
    bool verbose = false;
    int32_t recvSize = kRecvSize;
    std::vector<std::string> urls;
};

int UsageError(const std::string& text) {
    std::fprintf(stderr, "httpget: %s\n(try --help)\n", text.c_str());
    return 2;
}

bool ParseNumber(const char* text, int32_t& value) {
    int32_t v = 0;
    if (!TryStrToInt(text, v) || v < 0) return false;
    value = v;
    return true;
}

// Returns -1 when the options are fine, else the exit status.
int ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "-o") {
            const char* v = value();
            if (!v) return UsageError("-o needs a file name");
            o.output = v;
        } else if (arg == "-t") {
            const char* v = value();
            if (!v || !ParseNumber(v, o.readTimeout)) return UsageError("-t needs a number of milliseconds");
        } else if (arg == "-m" || arg == "--max-time") {
            const char* v = value();
            if (!v || !ParseNumber(v, o.maxTime)) return UsageError(arg + " needs a number of milliseconds");
        } else if (arg == "-0") {
            o.http10 = true;
        } else if (arg == "-H") {
            const char* v = value();
            if (!v || !std::strchr(v, ':')) return UsageError("-H needs \"Name: value\"");
            o.headers.push_back(v);
        } else if (arg == "-v" || arg == "--verbose") {
            o.verbose = true;
        } else if (arg == "-L") {
            o.followRedirects = true;
        } else if (arg == "-n") {
            const char* v = value();
            if (!v || !ParseNumber(v, o.times) || o.times < 1) return UsageError("-n needs a count of 1 or more");
        } else if (arg == "--recv-size") {
            const char* v = value();
            if (!v || !ParseNumber(v, o.recvSize) || o.recvSize < 1 || o.recvSize > kMaxRecvSize)
                return UsageError("--recv-size needs a number of bytes from 1 to 16777216");
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option " + arg);
        } else {
            o.urls.push_back(arg);
        }
    }
    if (o.urls.empty()) return UsageError("no URL given");
    return -1;
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

bool WriteAll(std::FILE* out, const std::string& bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
}

// Closes a file this program opened.
struct OutputFile {
    std::FILE* file = nullptr;
    bool owned = false;
    ~OutputFile() {
        if (owned && file) std::fclose(file);
    }
};

struct OutputFailed {};

// The output as a forward-only stream: every block of a body is written
// through as it arrives, so memory does not grow with the body. Its
// position is the count of bytes written; it cannot move back or shrink.
class OutputStream : public TStream {
public:
    explicit OutputStream(std::FILE* file) : file_(file) {}
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void* buffer, int32_t count) override {
        if (count <= 0) return 0;
        if (std::fwrite(buffer, 1, static_cast<size_t>(count), file_) != static_cast<size_t>(count))
            throw OutputFailed();
        written_ += count;
        return count;
    }
    int64_t Seek(int64_t, TSeekOrigin) override { return written_; }
    void SetSize(int64_t) override {}

private:
    std::FILE* file_;
    int64_t written_ = 0;
};

// -v: watches a client's connection and writes to standard error, as curl -v
// does, each request head ("> " lines), each answer's head as received ("< "
// lines, interim answers included) and the connection's events ("* "
// lines). Bodies are not shown.
class VerboseTrace : public TIdConnectionIntercept {
public:
    explicit VerboseTrace(TIdHTTP& http) : TIdConnectionIntercept(nullptr), http_(http) {
        http.SetIntercept(this);
        http.OnStatus = [](TComponent*, TIdStatus status, const AnsiString& text) {
            if (status == TIdStatus::hsResolving || status == TIdStatus::hsConnecting) Event(text);
        };
    }
    ~VerboseTrace() override { http_.SetIntercept(nullptr); }

    // A fetch is about to start: its first bytes sent are a request head.
    void StartFetch() {
        sendingHead_ = true;
        receivingHead_ = false;
        sent_.clear();
    }

    void Connect(TComponent*) override {
        connected_ = open_ = true;
        Event("Connected to " + Peer());
    }
    // Also called for a connect that failed, which the error line reports.
    void Disconnect() override {
        if (open_) Event("Connection to " + Peer() + " closed");
        open_ = false;
    }

    void Send(std::vector<uint8_t>& bytes) override {
        if (!sendingHead_) return;
        if (sent_.empty() && !connected_) Event("Re-using the connection to " + Peer());
        connected_ = false;
        sent_.append(bytes.begin(), bytes.end());
        size_t end;
        while ((end = sent_.find("\r\n")) != std::string::npos) {
            const std::string line = sent_.substr(0, end);
            sent_.erase(0, end + 2);
            Line("> ", line);
            if (line.empty()) {
                // The head is complete; what follows is a body.
                sendingHead_ = false;
                receivingHead_ = true;
                received_.clear();
                sent_.clear();
                return;
            }
        }
    }

    void Receive(std::vector<uint8_t>& bytes) override {
        if (!receivingHead_) return;
        received_.append(bytes.begin(), bytes.end());
        size_t end;
        while (receivingHead_ && (end = received_.find('\n')) != std::string::npos) {
            std::string line = received_.substr(0, end);
            received_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            Line("< ", line);
            if (line.empty()) {
                // An interim (1xx) answer is followed by another head.
                receivingHead_ = interim_;
                if (!receivingHead_) sendingHead_ = true;
            } else if (!inHead_) {
                interim_ = line.size() > 9 && line[9] == '1';
            }
            inHead_ = !line.empty();
        }
    }

private:
    static void Event(const AnsiString& text) { std::fprintf(stderr, "* %s\n", text.c_str()); }
    static void Line(const char* prefix, const std::string& line) {
        std::fprintf(stderr, "%s%s\n", prefix, line.c_str());
    }
    AnsiString Peer() const { return http_.Host() + " port " + IntToStr(http_.Port()); }

    TIdHTTP& http_;
    bool open_ = false;
    bool connected_ = false;  // connected since the last request head
    bool sendingHead_ = false;
    bool receivingHead_ = false;
    bool inHead_ = false;  // a line of the current answer's head has been seen
    bool interim_ = false;
    std::string sent_, received_;
};

// Reports a body the server's close cut short; its bytes that came have been
// written.
int ReportCutBody(TIdHTTPResponse& response, int64_t written) {
    if (response.BodyFraming() == TIdBodyFraming::bfLength && written < response.BodyLength())
        std::fprintf(stderr, "httpget: transfer closed with %" PRId64 " bytes remaining\n",
                     response.BodyLength() - written);
    else std::fprintf(stderr, "httpget: transfer closed with outstanding read data remaining\n");
    return kShortBody;
}

int Run(const Options& o) {
    OutputFile out;
    if (o.output.empty()) {
        SetBinaryMode(stdout);
        out.file = stdout;
    } else {
        out.file = std::fopen(o.output.c_str(), "wb");
        out.owned = true;
        if (!out.file) {
            std::fprintf(stderr, "httpget: cannot write %s\n", o.output.c_str());
            return 2;
        }
    }
    SetBinaryMode(stderr);

    // Blocks go straight to the file: the client hands over whole blocks.
    std::setvbuf(out.file, nullptr, _IONBF, 0);
    OutputStream stream(out.file);

    try {
        TIdHTTP http(nullptr);
        http.SetRecvBufferSize(o.recvSize);
        http.SetReadTimeout(o.readTimeout);
        http.SetFetchTimeout(o.maxTime);
        if (o.http10) http.SetProtocolVersion(TIdHTTPProtocolVersion::pv1_0);
        http.SetHandleRedirects(o.followRedirects);
        for (const std::string& line : o.headers) http.Request()->CustomHeaders().Add(line);
        TIdHTTPResponse& response = *http.Response();
        std::unique_ptr<VerboseTrace> trace;
        if (o.verbose) trace = std::make_unique<VerboseTrace>(http);
        for (const std::string& url : o.urls) {
            for (int32_t n = 0; n < o.times; ++n) {
                if (trace) trace->StartFetch();
                const int64_t start = stream.Position();
                try {
                    http.GetDocumentToStream(url, stream);
                } catch (const EIdConnClosedGracefully&) {
                    // Closed inside a chunked body: what came is written.
                    if (response.BodyCut()) return ReportCutBody(response, stream.Position() - start);
                    throw;
                }
                if (response.BodyCut()) return ReportCutBody(response, stream.Position() - start);
            }
        }
    } catch (const OutputFailed&) {
        std::fprintf(stderr, "httpget: cannot write the body\n");
        return 2;
    } catch (const EIdHTTPProtocolException& e) {
        std::fprintf(stderr, "%s: %s\nReplyCode: %d\n", e.ClassName(), Escaped(e.Message()).c_str(),
                     static_cast<int>(e.ReplyCode()));
        WriteAll(stderr, e.ErrorBody());
        return 1;
    } catch (const EIdHTTPFramingError& e) {
        std::fprintf(stderr, "%s: %s\n", e.ClassName(), Escaped(e.Message()).c_str());
        return kWeirdReply;
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s: %s\n", e.ClassName(), Escaped(e.Message()).c_str());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Exception: %s\n", Escaped(e.what()).c_str());
        return 2;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int status = ParseOptions(argc, argv, options);
    if (status >= 0) return status;
    return Run(options);
}
