// The httpget tool against scripted servers: bodies byte for byte, the
// options, and the error report with its exit status.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "HTTPTestSupport.h"
#include "RunProgram.h"

namespace {

using namespace step;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct ProgramRun {
    int status;
    std::string out, err;
};

ProgramRun HttpGet(const std::vector<std::string>& args) {
    const std::string out = "httpget_test.out", err = "httpget_test.err";
    ProgramRun r;
    r.status = RunProgram(HTTPGET_PROGRAM, args, out, err, 20000);
    r.out = ReadFile(out);
    r.err = ReadFile(err);
    std::remove(out.c_str());
    std::remove(err.c_str());
    return r;
}

std::string Answer(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Bytes a text-mode stream would change: LF alone, CR LF, Ctrl-Z, NUL, high bytes.
const std::string kBinary(
    "a\nb\r\nc\x1a"
    "d\0e\xff\x80",
    12);

TEST(HttpGet, WritesEveryBodyByteForByteOverOneKeptConnection) {
    ScriptedServer server({{ReadHead(), Send(Answer(kBinary)), ReadHead(), Send(Answer(kBinary)), ReadHead(),
                            Send(Answer("two")), ReadHead(), Send(Answer("two")), Silent(3000)}});
    const ProgramRun r = HttpGet({"-n", "2", UrlOf(server, "/one"), UrlOf(server, "/two")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kBinary + kBinary + "twotwo");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(server.Accepted(), 1);
}

TEST(HttpGet, AnyReceiveSizeGivesTheSameBytes) {
    std::string body;
    for (int i = 0; i < 3000; ++i) body += static_cast<char>(i * 7);
    const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7d0\r\n" + body.substr(0, 2000) +
                                "\r\n3e8;x=y\r\n" + body.substr(2000) + "\r\n0\r\n\r\n";
    for (const char* size : {"1", "5", "1024", "262144"}) {
        ScriptedServer server({{ReadHead(), Send(Answer(body)), ReadHead(), Send(chunked), Silent(3000)}});
        const ProgramRun r = HttpGet({"--recv-size", size, "-n", "2", UrlOf(server, "/b")});
        EXPECT_EQ(r.status, 0) << size << r.err;
        EXPECT_TRUE(r.out == body + body) << size << ": " << r.out.size() << " bytes";
        EXPECT_EQ(server.Accepted(), 1) << size;
    }
}

TEST(HttpGet, OptionsShapeTheRequests) {
    ScriptedServer server(
        {{ReadHead(),
          Send("HTTP/1.0 302 Found\r\nLocation: /moved\r\nConnection: keep-alive\r\nContent-Length: 0\r\n\r\n"),
          ReadHead(), Send("HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\ndone"), Close()}});
    const std::string file = "httpget_test.body";
    const ProgramRun r =
        HttpGet({"-0", "-L", "-t", "2000", "-H", "X-A: 1", "-H", "X-B: 2", "-o", file, UrlOf(server, "/k")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadFile(file), "done");
    std::remove(file.c_str());
    const auto head = [&](const std::string& target) {
        return WithLines(DefaultHead(HostOf(server), target, "HTTP/1.0"),
                         {{"Content-Type:", "Connection: keep-alive"}, {"Host:", "X-A: 1"}, {"Host:", "X-B: 2"}});
    };
    EXPECT_EQ(server.Connection(0).received, head("/k") + head("/moved"));
}

TEST(HttpGet, ReportsTheFirstFailureAndStops) {
    ScriptedServer refusedAfter({AnswerOnce(Answer("first"))});
    const ReservedPort nothingListens;
    const std::string closedUrl = UrlOf(nothingListens, "/x");
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int status;
        std::string out, err;
    };
    ScriptedServer notFound({AnswerOnce("HTTP/1.1 404 Not Found\r\nContent-Length: 7\r\n\r\nno\r\npe!")});
    ScriptedServer silent({{ReadHead(), Silent(3000)}});
    // A body that trickles in a byte every 100 ms never trips a read
    // time-out of 300 ms; only the whole-fetch bound ends it.
    Script trickle = {ReadHead(), Send("HTTP/1.1 200 OK\r\n\r\n")};
    for (int i = 0; i < 30; ++i) {
        trickle.push_back(Send("x"));
        trickle.push_back(Pause(100));
    }
    ScriptedServer trickling({trickle, trickle}, {0, 5000, false});
    const Case cases[] = {
        {"protocol error",
         {UrlOf(notFound)},
         1,
         "",
         "EIdHTTPProtocolException: HTTP/1.1 404 Not Found\nReplyCode: 404\nno\r\npe!"},
        {"refused, after one body",
         {UrlOf(refusedAfter), closedUrl, UrlOf(refusedAfter)},
         2,
         "first",
         "EIdSocketError: Socket Error # 10061\\r\\nConnection refused.\n"},
        {"read time-out", {"-t", "300", UrlOf(silent)}, 2, "", "EIdReadTimeout: Read Timeout\n"},
        // What arrived before the bound is written out (any number of "x").
        {"trickling body, -m", {"-t", "300", "-m", "600", UrlOf(trickling)}, 2, "x*", "EIdReadTimeout: Read Timeout\n"},
        {"trickling body, --max-time",
         {"--max-time", "600", UrlOf(trickling)},
         2,
         "x*",
         "EIdReadTimeout: Read Timeout\n"},
        {"line break in the URL", {closedUrl + "\r\nX: y"}, 2, "", "EIdException: Invalid character in URL\n"},
    };
    for (const Case& c : cases) {
        const ProgramRun r = HttpGet(c.args);
        EXPECT_EQ(r.status, c.status) << c.what;
        if (c.out == "x*") EXPECT_EQ(r.out.find_first_not_of('x'), std::string::npos) << c.what << ": " << r.out;
        else EXPECT_EQ(r.out, c.out) << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
    }
}

// -v tells on standard error what went over the connection: the request
// heads, the answers' heads as received (an interim answer's too), and the
// connect, the reuse and the close; the bodies go to the output as ever.
TEST(HttpGet, VerboseShowsHeadsAndConnectionEvents) {
    ScriptedServer server({{ReadHead(), Send("HTTP/1.1 100 Continue\r\n\r\n" + Answer("one")), ReadHead(),
                            Send("HTTP/1.1 404 Not Found\r\nConnection: close\r\nContent-Length: 0\r\n\r\n"), Close()}},
                          {0, 5000, true});
    const std::string peer = "127.0.0.1 port " + std::to_string(server.Port());
    const std::string request =
        "> Content-Type: text/html\n"
        "> Host: " +
        HostOf(server) +
        "\n"
        "> Accept: text/html, */*\n"
        "> User-Agent: Mozilla/3.0 (compatible; HTTP Library)\n"
        "> \n";
    for (const char* option : {"-v", "--verbose"}) {
        const ProgramRun r = HttpGet({option, UrlOf(server, "/kestrin"), UrlOf(server, "/gone")});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "one");
        EXPECT_EQ(r.err,
                  "* Connecting to 127.0.0.1.\n"
                  "* Connected to " +
                      peer +
                      "\n"
                      "> GET /kestrin HTTP/1.1\n" +
                      request +
                      "< HTTP/1.1 100 Continue\n"
                      "< \n"
                      "< HTTP/1.1 200 OK\n"
                      "< Content-Length: 3\n"
                      "< \n"
                      "* Re-using the connection to " +
                      peer +
                      "\n"
                      "> GET /gone HTTP/1.1\n" +
                      request +
                      "< HTTP/1.1 404 Not Found\n"
                      "< Connection: close\n"
                      "< Content-Length: 0\n"
                      "< \n"
                      "* Connection to " +
                      peer +
                      " closed\n"
                      "EIdHTTPProtocolException: HTTP/1.1 404 Not Found\nReplyCode: 404\n");
    }
}

TEST(HttpGet, ABodyShortOfItsLengthIsWrittenAndReported) {
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: ";
    // With -L the fifteenth redirect answer ends the fetch with no body: the
    // client read its body off the connection and put it aside.
    Script redirectLimit;
    for (int i = 0; i < 15; ++i) {
        redirectLimit.push_back(ReadHead());
        redirectLimit.push_back(Send("HTTP/1.1 302 Found\r\nLocation: /x\r\nContent-Length: 4\r\n\r\nbody"));
    }
    redirectLimit.insert(redirectLimit.end(), {ReadHead(), Send(Answer("second")), Close()});
    struct Case {
        const char* what;
        Script script;
        std::string out, err;
        int status = 18;
        std::vector<std::string> options = {};
    };
    const Case cases[] = {
        {"bytes came with the head",
         {ReadHead(), Send(head + "10\r\n\r\n01234"), Close()},
         "01234",
         "httpget: transfer closed with 5 bytes remaining\n"},
        // The last bytes form a block the close left unfinished.
        {"bytes came after the head",
         {ReadHead(), Send(head + "70000\r\n\r\n"), Pause(50), Send(std::string(40000, 'x')), Pause(50), Close()},
         std::string(40000, 'x'),
         "httpget: transfer closed with 30000 bytes remaining\n"},
        {"huge announced length",
         {ReadHead(), Send(head + "2147483647\r\n\r\n0123456789"), Close()},
         "0123456789",
         "httpget: transfer closed with 2147483637 bytes remaining\n"},
        // An answer that carries no body is never short, whatever its length says.
        {"204 with a length",
         {ReadHead(), Send("HTTP/1.1 204 No Content\r\nContent-Length: 5\r\n\r\n"), ReadHead(), Send(Answer("second")),
          Close()},
         "second",
         "",
         0},
        {"redirect limit reached", redirectLimit, "second", "", 0, {"-L"}},
    };
    for (const Case& c : cases) {
        ScriptedServer server({c.script, AnswerOnce(Answer("second"))});
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {UrlOf(server), UrlOf(server)});
        const ProgramRun r = HttpGet(args);
        EXPECT_EQ(r.status, c.status) << c.what;
        EXPECT_EQ(r.out, c.out) << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
        EXPECT_EQ(server.Accepted(), 1) << c.what;  // stopped there, or went on over the kept connection
    }
}

TEST(HttpGet, FramingFaultsAreReportedAndNeverMixAnswers) {
    const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string injected = Answer("injected");
    struct Case {
        const char* what;
        Script script;  // the first connection; a second one answers "fresh"
        int status;
        std::string out, err;
        int connections;
    };
    const Case cases[] = {
        {"chunk extension",
         {ReadHead(), Send(chunked + "5;name=value\r\nhello\r\n0\r\n\r\n"), ReadHead(), Send(Answer("second")),
          Silent(3000)},
         0,
         "hellosecond",
         "",
         1},
        {"hexadecimal Content-Length",
         {ReadHead(), Send("HTTP/1.1 200 OK\r\nContent-Length: 0x5\r\n\r\nhello"), ReadHead(), Send(Answer("second")),
          Silent(3000)},
         8,
         "",
         "EIdHTTPFramingError: Invalid Content-Length.\n",
         1},
        // The bytes after the size line are chunk data, not the next answer.
        {"chunk size 0x80000000",
         {ReadHead(), Send(chunked + "80000000\r\n"), Pause(200), Send(injected), Pause(100), Close()},
         18,
         injected,
         "httpget: transfer closed with outstanding read data remaining\n",
         1},
        {"two different Content-Length values",
         {ReadHead(), Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 10\r\n\r\nhelloworld"),
          Silent(3000)},
         8,
         "",
         "EIdHTTPFramingError: Conflicting Content-Length values.\n",
         1},
        {"Content-Length beside chunked coding",
         {ReadHead(),
          Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n"
               "0\r\n\r\n"),
          ReadHead(), Send(Answer("second")), Silent(3000)},
         0,
         "hellofresh",
         "",
         2},
        {"103 before the answer",
         {ReadHead(), Send("HTTP/1.1 103 Early Hints\r\n\r\n" + Answer("ok")), ReadHead(), Send(Answer("second")),
          Silent(3000)},
         0,
         "oksecond",
         "",
         1},
        {"closed within the trailer section",
         {ReadHead(), Send(chunked + "5\r\nhello\r\n0\r\nX-A: 1\r\n"), Pause(100), Close()},
         18,
         "hello",
         "httpget: transfer closed with outstanding read data remaining\n",
         1},
    };
    for (const Case& c : cases) {
        ScriptedServer server({c.script, AnswerOnce(Answer("fresh"))});
        const ProgramRun r = HttpGet({"-n", "2", UrlOf(server)});
        EXPECT_EQ(r.status, c.status) << c.what << ": " << r.err;
        EXPECT_EQ(r.out, c.out) << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
        server.Stop();
        EXPECT_EQ(server.Accepted(), c.connections) << c.what;
    }
}

TEST(HttpGet, HelpAndUsage) {
    const ProgramRun help = HttpGet({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* word : {"Usage: httpget", "-o FILE", "-t MS", "-m, --max-time MS", "-0", "-H", "-L", "-n N",
                             "--recv-size N", "ReplyCode", "bytes remaining", "18", "EIdHTTPFramingError"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    EXPECT_EQ(HttpGet({}).status, 2);
    EXPECT_EQ(HttpGet({"-n", "0", "http://127.0.0.1/"}).status, 2);
    EXPECT_EQ(HttpGet({"-q", "http://127.0.0.1/"}).status, 2);
    EXPECT_EQ(HttpGet({"-m", "soon", "http://127.0.0.1/"}).status, 2);
    EXPECT_EQ(HttpGet({"--recv-size", "0", "http://127.0.0.1/"}).status, 2);
}

}  // namespace
