// The demo KESTRIN web server: a stand-in for the real application that the
// server script starts. It answers GET "/kestrin" and
// "/kestrin/demo_install.jsp" on 127.0.0.1:9080 with small pages, and can be
// told to misbehave so that the launchers can be watched from outside.
// Every connection ends in one line of the request log.
#include "Loopback.h"
#include "demo_platform.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: demo_server [options]\n"
    "  --log FILE          append one line per event to FILE\n"
    "                      (default: demo_server.log beside the program)\n"
    "  --args-file FILE    read more options from FILE (blank separated, '#' to\n"
    "                      the end of a line is a comment); a missing FILE is ignored\n"
    "  --port N            listen on 127.0.0.1:N (default 9080)\n"
    "  --delay MS          wait MS milliseconds before listening (boot delay)\n"
    "  --status CODE       answer every request with this status\n"
    "                      (default: 200 for the two pages, 404 for other paths)\n"
    "  --location URL      Location header sent with the answers\n"
    "  --close N|always    close connections after their request, without an answer\n"
    "  --reset N|always    reset connections (RST) after their request\n"
    "  --silent N|always   take the request and never answer, until the client closes\n"
    "  --never             never listen: log the start and exit\n"
    "The --close, --reset and --silent phases apply, in the order given, to the\n"
    "first N connections each; the connections after them are answered.\n";

constexpr int kAlways = INT_MAX;
constexpr std::size_t kMaxHead = 64 * 1024;
constexpr int64_t kRequestWaitMs = 30000;  // for a complete request head
constexpr int64_t kDrainMs = 2000;         // after the answer, for the client's close
constexpr std::size_t kMaxOpen = 60;       // below the 64 sockets one select watches

enum class Treatment { Answer, Close, Reset, Silent };

const char* TreatmentName(Treatment t) {
    switch (t) {
    case Treatment::Close: return "close";
    case Treatment::Reset: return "reset";
    case Treatment::Silent: return "silent";
    case Treatment::Answer: break;
    }
    return "answer";
}

struct Phase {
    Treatment treatment;
    int count;
};

struct Options {
    std::string log;
    int port = 9080;
    int delayMs = 0;
    int status = 0;  // 0: by path
    std::string location;
    std::vector<Phase> phases;
    bool never = false;
    std::string commandLine;
};

struct UsageError {
    std::string text;
};

bool ParseCount(const std::string& text, int low, int& value) {
    if (text == "always") {
        value = kAlways;
        return true;
    }
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9) {
        return false;
    }
    value = std::atoi(text.c_str());
    return value >= low;
}

std::vector<std::string> SplitWords(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool comment = false;
    for (char c : text) {
        if (c == '\n') {
            comment = false;
        } else if (c == '#') {
            comment = true;
        }
        if (!comment && c != ' ' && c != '\t' && c != '\r' && c != '\n') {
            word += c;
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    if (!word.empty()) {
        words.push_back(word);
    }
    return words;
}

void ParseWords(const std::vector<std::string>& words, Options& o, int depth) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= words.size()) {
                throw UsageError{"demo_server: " + w + " needs a value"};
            }
            o.commandLine += ' ' + words[i + 1];
            return words[++i];
        };
        auto number = [&](int low, int high) {
            const std::string& v = value();
            int n = 0;
            if (v == "always" || !ParseCount(v, low, n) || n > high) {
                throw UsageError{"demo_server: bad value for " + w + ": " + v};
            }
            return n;
        };
        if (w != "--args-file") {
            o.commandLine += o.commandLine.empty() ? w : ' ' + w;
        }
        if (w == "--log") {
            o.log = value();
        } else if (w == "--args-file") {
            if (i + 1 >= words.size()) {
                throw UsageError{"demo_server: " + w + " needs a value"};
            }
            const std::string path = words[++i];
            std::string text;
            if (depth < 4 && ReadWholeFile(path, text)) {
                ParseWords(SplitWords(text), o, depth + 1);
            }
        } else if (w == "--port") {
            o.port = number(1, 65535);
        } else if (w == "--delay") {
            o.delayMs = number(0, 3600000);
        } else if (w == "--status") {
            o.status = number(100, 999);
        } else if (w == "--location") {
            o.location = value();
        } else if (w == "--close" || w == "--reset" || w == "--silent") {
            const std::string& v = value();
            Phase p{w == "--close" ? Treatment::Close : w == "--reset" ? Treatment::Reset : Treatment::Silent, 0};
            if (!ParseCount(v, 0, p.count)) {
                throw UsageError{"demo_server: bad value for " + w + ": " + v};
            }
            o.phases.push_back(p);
        } else if (w == "--never") {
            o.never = true;
        } else if (w == "--help" || w == "-h") {
            throw UsageError{};
        } else {
            throw UsageError{"demo_server: unknown option " + w};
        }
    }
}

class Log {
public:
    explicit Log(std::string path) : path_(std::move(path)) {}
    // One line: epoch ms, local clock, process id, event.
    void Line(const std::string& event) const {
        int64_t now = NowEpochMs();
        std::string line = std::to_string(now) + " " + LocalClockText(now) + " pid=" + std::to_string(ProcessId()) +
                           " " + event + "\n";
        if (!AppendToFile(path_, line)) {
            std::fputs(line.c_str(), stderr);
        }
    }

private:
    std::string path_;
};

const char* ReasonPhrase(int status) {
    switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

std::string Page(const std::string& title, const std::string& text) {
    return "<html><head><title>" + title + "</title></head><body><h1>" + title + "</h1><p>" + text +
           "</p></body></html>\r\n";
}

// The answer for a request target under the configured status.
std::string Answer(const Options& o, const std::string& target, int& status) {
    std::string path = target.substr(0, target.find('?'));
    std::string body;
    if (path == "/kestrin" || path == "/kestrin/") {
        status = 200;
        body = Page("KESTRIN", "The demo KESTRIN server is running.");
    } else if (path == "/kestrin/demo_install.jsp") {
        status = 200;
        body = Page("KESTRIN demo set-up", "Welcome to KESTRIN. The demonstration set-up starts here.");
    } else {
        status = 404;
        body = Page("Not found", "There is no page at " + path + ".");
    }
    if (o.status != 0) {
        status = o.status;
        if (status != 200) {
            body = Page(std::to_string(status) + " " + ReasonPhrase(status), "The demo server was told to answer so.");
        }
    }
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\n" +
                       "Server: KESTRIN demo server\r\n" + "Content-Type: text/html\r\n" +
                       "Content-Length: " + std::to_string(body.size()) + "\r\n";
    if (!o.location.empty()) {
        head += "Location: " + o.location + "\r\n";
    }
    head += "Connection: close\r\n\r\n";
    return head + body;
}

struct Connection {
    int id = 0;
    loopback::Socket socket = loopback::kNoSocket;
    Treatment treatment = Treatment::Answer;
    int64_t since = 0;
    std::string head;
    std::string requestLine;
    bool headDone = false;
    bool draining = false;  // answered; waiting briefly for the client to close
    std::string outcome;    // logged when the connection is dropped
    bool done = false;
};

class Server {
public:
    Server(const Options& o, const Log& log) : o_(o), log_(log) {}

    int Run(loopback::Socket listener) {
        listener_ = listener;
        for (;;) {
            // New connections wait in the backlog while kMaxOpen are open.
            const bool accepting = conns_.size() < kMaxOpen;
            std::vector<loopback::Socket> watch;
            for (const Connection& c : conns_) {
                watch.push_back(c.socket);
            }
            if (accepting) {
                watch.push_back(listener_);
            }
            std::vector<bool> ready;
            if (!loopback::WaitReadable(watch, 200, ready)) {
                log_.Line("select failed, error " + std::to_string(loopback::LastError()));
                return 1;
            }
            const int64_t now = NowEpochMs();
            for (std::size_t i = 0; i < conns_.size(); ++i) {
                if (ready[i]) {
                    Readable(conns_[i], now);
                }
                Expire(conns_[i], now);
            }
            const bool incoming = accepting && ready.back();
            for (std::size_t i = conns_.size(); i-- > 0;) {
                if (conns_[i].done) {
                    Finish(conns_[i], now);
                    conns_.erase(conns_.begin() + static_cast<std::ptrdiff_t>(i));
                }
            }
            if (incoming) {
                Accept(now);
            }
        }
    }

private:
    Treatment Next() {
        int n = ++accepted_;
        for (const Phase& p : o_.phases) {
            if (p.count == kAlways || n <= p.count) {
                return p.treatment;
            }
            n -= p.count;
        }
        return Treatment::Answer;
    }

    void Accept(int64_t now) {
        loopback::Socket s = loopback::Accept(listener_);
        if (s == loopback::kNoSocket) {
            return;
        }
        Connection c;
        c.treatment = Next();
        c.id = accepted_;
        c.socket = s;
        c.since = now;
        conns_.push_back(c);
    }

    void Readable(Connection& c, int64_t now) {
        char buf[4096];
        int n = loopback::Recv(c.socket, buf, sizeof buf);
        if (n <= 0) {
            // The client closed (n == 0) or reset the connection.
            const std::string how = n == 0 ? "closed" : "reset";
            if (!c.headDone) {
                c.outcome = "outcome=client_" + how + "_before_request";
            } else if (!c.draining) {
                c.outcome += " outcome=silent_then_client_" + how;
            }
            c.done = true;
            return;
        }
        if (c.headDone) {
            return;  // a silent or draining connection: what more comes is dropped
        }
        c.head.append(buf, static_cast<std::size_t>(n));
        std::string::size_type end = c.head.find("\r\n\r\n");
        if (end == std::string::npos && c.head.size() < kMaxHead) {
            return;
        }
        c.headDone = true;
        c.requestLine = c.head.substr(0, c.head.find("\r\n"));
        std::size_t headBytes = end == std::string::npos ? c.head.size() : end + 4;
        std::string about = "request=" + Quote(c.requestLine) + " head_bytes=" + std::to_string(headBytes);
        switch (c.treatment) {
        case Treatment::Answer: {
            std::string target;
            std::string::size_type sp1 = c.requestLine.find(' ');
            if (sp1 != std::string::npos) {
                target = c.requestLine.substr(sp1 + 1, c.requestLine.find(' ', sp1 + 1) - sp1 - 1);
            }
            int status = 0;
            bool sent = loopback::SendAll(c.socket, Answer(o_, target, status));
            // Logged now, at the moment of the answer, not when the socket goes.
            log_.Line("conn=" + std::to_string(c.id) + " treatment=answer " + about +
                      (sent ? " outcome=answered status=" : " outcome=answer_not_delivered status=") +
                      std::to_string(status));
            loopback::ShutdownSend(c.socket);
            c.draining = true;
            c.since = now;
            break;
        }
        case Treatment::Close:
            c.outcome = about + " outcome=closed_without_answer";
            c.done = true;
            break;
        case Treatment::Reset:
            c.outcome = about + " outcome=reset";
            c.done = true;
            break;
        case Treatment::Silent:
            // The connection stays open; the line is written when the client gives up.
            log_.Line("conn=" + std::to_string(c.id) + " " + about + " silent=waiting");
            c.outcome = about;
            break;
        }
    }

    void Expire(Connection& c, int64_t now) {
        if (c.done) {
            return;
        }
        if (c.draining && now - c.since >= kDrainMs) {
            c.done = true;
        } else if (!c.headDone && now - c.since >= kRequestWaitMs) {
            c.outcome = "outcome=no_request_within_" + std::to_string(kRequestWaitMs) + "ms";
            c.treatment = Treatment::Close;
            c.done = true;
        }
    }

    void Finish(Connection& c, int64_t now) {
        if (c.treatment == Treatment::Reset && c.headDone) {
            loopback::Reset(c.socket);
        } else {
            loopback::Close(c.socket);
        }
        if (c.draining) {
            return;  // logged when answered
        }
        log_.Line("conn=" + std::to_string(c.id) + " treatment=" + TreatmentName(c.treatment) + " " + c.outcome +
                  " held_ms=" + std::to_string(now - c.since));
    }

    const Options& o_;
    const Log& log_;
    loopback::Socket listener_ = loopback::kNoSocket;
    std::vector<Connection> conns_;
    int accepted_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    Options o;
    try {
        std::vector<std::string> words(argv + 1, argv + argc);
        ParseWords(words, o, 0);
    } catch (const UsageError& e) {
        if (e.text.empty()) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        // Started hidden by the server script, the log is the only place
        // where a bad option shows.
        Log(o.log.empty() ? ProgramDir() + "demo_server.log" : o.log).Line("not started: " + e.text);
        std::fprintf(stderr, "%s\n%s", e.text.c_str(), kUsage);
        return 2;
    }
    if (o.log.empty()) {
        o.log = ProgramDir() + "demo_server.log";
    }
    Log log(o.log);
    log.Line("started options=" + Quote(o.commandLine));
    if (o.never) {
        log.Line("never listens; exiting");
        return 0;
    }
    if (!loopback::Startup()) {
        log.Line("socket library did not start");
        return 1;
    }
    if (o.delayMs > 0) {
        log.Line("booting for " + std::to_string(o.delayMs) + " ms");
        SleepMs(o.delayMs);
    }
    loopback::Socket listener = loopback::Listen(static_cast<uint16_t>(o.port));
    if (listener == loopback::kNoSocket) {
        log.Line("cannot listen on 127.0.0.1:" + std::to_string(o.port) +
                 " error=" + std::to_string(loopback::LastError()) + "; exiting");
        return 1;
    }
    log.Line("listening on 127.0.0.1:" + std::to_string(o.port));
    Server server(o, log);
    return server.Run(listener);
}
