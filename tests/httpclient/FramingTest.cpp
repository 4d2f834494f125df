// Where an answer ends: every framing case with what the fetch returns or
// raises, what reached the caller's stream, whether the answer was marked cut
// short, and whether the connection carried a second fetch.
#include <gtest/gtest.h>

#include <cstdio>

#include "HTTPTestSupport.h"

namespace {

using namespace step;

const std::string kOk = "HTTP/1.1 200 OK\r\n";
const std::string kChunked = kOk + "Transfer-Encoding: chunked\r\n\r\n";
// What the second fetch gets on the same connection, and on a new one.
const std::string kSecond = "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecond";
const std::string kFresh = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfresh";
// A complete answer, sent where a wrong framing would take it as the next one.
const std::string kInjected = "HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\ninjected";

struct FramingCase {
    const char* what;
    Script answer;     // after the request head: the first answer's steps
    std::string kind;  // "returned" or the error's class
    std::string message;
    int32_t replyCode;     // of a protocol or framing error
    std::string streamed;  // what the caller's stream holds afterwards
    bool cut;              // the answer is marked cut short
    bool reused;           // the second fetch went over the same connection
    int32_t readTimeout = 0;
};

void PrintTo(const FramingCase& c, std::ostream* os) { *os << c.what; }

class Framing : public ::testing::TestWithParam<FramingCase> {};

TEST_P(Framing, EndsTheAnswerWhereItsFramingSaysOrSaysSo) {
    const FramingCase& c = GetParam();
    // The first connection serves a second request after the answer; a
    // client that does not reuse it gets kFresh from a second connection.
    Script first = {ReadHead()};
    first.insert(first.end(), c.answer.begin(), c.answer.end());
    first.push_back(ReadHead());
    first.push_back(Send(kSecond));
    first.push_back(Silent(3000));
    ScriptedServer server({first, AnswerOnce(kFresh)});
    TIdHTTP http(nullptr);
    http.SetReadTimeout(c.readTimeout);

    TMemoryStream stream;
    std::string kind = "returned", message;
    int32_t replyCode = 0;
    try {
        http.GetDocumentToStream(UrlOf(server), stream);
    } catch (const EIdProtocolReplyError& e) {
        kind = e.ClassName();
        message = e.Message();
        replyCode = e.ReplyCode();
    } catch (const Exception& e) {
        kind = e.ClassName();
        message = e.Message();
    }
    EXPECT_EQ(kind, c.kind) << message;
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(replyCode, c.replyCode);
    EXPECT_EQ(stream.Bytes(), c.streamed);
    EXPECT_EQ(http.Response()->BodyCut(), c.cut);

    const Outcome second = Fetch(http, UrlOf(server));
    EXPECT_EQ(second.body, c.reused ? "second" : "fresh") << second.kind << ": " << second.message;
    EXPECT_EQ(server.Accepted(), c.reused ? 1 : 2);
}

const std::string kBig(40000, 'x');

std::vector<FramingCase> Cases() {
    const std::string hello = "5\r\nhello\r\n0\r\n\r\n";
    char injectedSize[16];
    std::snprintf(injectedSize, sizeof injectedSize, "%zx", kInjected.size());
    std::string manyTrailers;
    for (int i = 0; i < 70; ++i) manyTrailers += "X-T" + std::to_string(i) + ": " + std::string(16000, 't') + "\r\n";
    return {
        // Chunk sizes: hexadecimal digits, then nothing, a blank or ";".
        {"chunk extension joined by ;",
         {Send(kChunked + "5;name=value\r\nhello\r\n0\r\n\r\n")},
         "returned",
         "",
         0,
         "hello",
         false,
         true},
        {"chunk extension after a blank",
         {Send(kChunked + "5 ; a=b\r\nhello\r\n0\r\n\r\n")},
         "returned",
         "",
         0,
         "hello",
         false,
         true},
        // Were the extension taken as the last chunk, the chunk data (an
        // answer of its own) would be read as the second fetch's answer.
        {"extension, the chunk data a complete answer arriving late",
         {Send(kChunked + injectedSize + ";e=1\r\n"), Pause(200), Send(kInjected + "\r\n0\r\n\r\n")},
         "returned",
         "",
         0,
         kInjected,
         false,
         true},
        {"chunk size not hexadecimal",
         {Send(kChunked + "zz\r\nhello\r\n0\r\n\r\n")},
         "EIdHTTPFramingError",
         "Invalid chunk size.",
         200,
         "",
         false,
         false},
        {"chunk size with 0x",
         {Send(kChunked + "0x5\r\nhello\r\n0\r\n\r\n")},
         "EIdHTTPFramingError",
         "Invalid chunk size.",
         200,
         "",
         false,
         false},
        {"empty chunk-size line",
         {Send(kChunked + "\r\nhello\r\n0\r\n\r\n")},
         "EIdHTTPFramingError",
         "Invalid chunk size.",
         200,
         "",
         false,
         false},
        {"chunk size past 63 bits",
         {Send(kChunked + "8000000000000000\r\nhello\r\n0\r\n\r\n")},
         "EIdHTTPFramingError",
         "Invalid chunk size.",
         200,
         "",
         false,
         false},
        {"chunk data longer than its size",
         {Send(kChunked + "3\r\nhello\r\n0\r\n\r\n")},
         "EIdHTTPFramingError",
         "Chunk data not followed by a line end.",
         200,
         "hel",
         false,
         false},
        // A size of 2^31 and more is a size, not the last chunk: the close
        // cuts that chunk, and what came of it is kept.
        {"chunk size 80000000, closed after 10 bytes",
         {Send(kChunked + "80000000\r\n0123456789"), Pause(100), Close()},
         "EIdConnClosedGracefully",
         "Connection Closed Gracefully.",
         0,
         "0123456789",
         true,
         false},
        {"chunk cut after a block",
         {Send(kChunked + "10000\r\n"), Pause(100), Send(kBig), Pause(100), Close()},
         "EIdConnClosedGracefully",
         "Connection Closed Gracefully.",
         0,
         kBig,
         true,
         false},
        // Transfer codings.
        {"capital Chunked",
         {Send(kOk + "Transfer-Encoding: Chunked\r\n\r\n" + hello)},
         "returned",
         "",
         0,
         "hello",
         false,
         true},
        {"chunked on a second Transfer-Encoding line",
         {Send(kOk + "Transfer-Encoding: gzip\r\nTransfer-Encoding: CHUNKED\r\n\r\n" + hello)},
         "returned",
         "",
         0,
         "hello",
         false,
         true},
        {"chunked wins over Content-Length, not reused",
         {Send(kOk + "Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n" + hello)},
         "returned",
         "",
         0,
         "hello",
         false,
         false},
        {"chunked in an HTTP/1.0 answer, not reused",
         {Send("HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + hello)},
         "returned",
         "",
         0,
         "hello",
         false,
         false},
        // Content-Length: decimal digits, 64 bits, one value.
        {"hexadecimal Content-Length",
         {Send(kOk + "Content-Length: 0x5\r\n\r\nhello")},
         "EIdHTTPFramingError",
         "Invalid Content-Length.",
         200,
         "",
         false,
         false},
        {"Content-Length with a sign",
         {Send(kOk + "Content-Length: +5\r\n\r\nhello")},
         "EIdHTTPFramingError",
         "Invalid Content-Length.",
         200,
         "",
         false,
         false},
        {"two different Content-Length lines",
         {Send(kOk + "Content-Length: 5\r\nContent-Length: 10\r\n\r\nhelloworld")},
         "EIdHTTPFramingError",
         "Conflicting Content-Length values.",
         200,
         "",
         false,
         false},
        {"a Content-Length list with different values",
         {Send(kOk + "Content-Length: 5, 10\r\n\r\nhelloworld")},
         "EIdHTTPFramingError",
         "Conflicting Content-Length values.",
         200,
         "",
         false,
         false},
        {"a Content-Length list of one value",
         {Send(kOk + "Content-Length: 5, 5\r\n\r\nhello")},
         "returned",
         "",
         0,
         "hello",
         false,
         true},
        {"an error answer with a bad length",
         {Send("HTTP/1.1 404 Not Found\r\nContent-Length: 5x\r\n\r\nnope!")},
         "EIdHTTPFramingError",
         "Invalid Content-Length.",
         404,
         "",
         false,
         false},
        // A 304 has no body of its own: what its length takes may belong to
        // the next answer, so its connection is not reused.
        {"a 304 with a length",
         {Send("HTTP/1.1 304 Not Modified\r\nContent-Length: 5\r\n\r\nhello")},
         "EIdHTTPProtocolException",
         "HTTP/1.1 304 Not Modified",
         304,
         "",
         false,
         false},
        {"Content-Length 2^31, closed after 10 bytes",
         {Send(kOk + "Content-Length: 2147483648\r\n\r\n0123456789"), Close()},
         "returned",
         "",
         0,
         "0123456789",
         true,
         false},
        // A body short of its length keeps its unfinished last block.
        {"Content-Length, closed after a block of 40000",
         {Send(kOk + "Content-Length: 70000\r\n\r\n"), Pause(100), Send(kBig), Pause(100), Close()},
         "returned",
         "",
         0,
         kBig,
         true,
         false},
        // Interim answers other than 101 are passed over.
        {"103 before the answer",
         {Send("HTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\n" + kOk + "Content-Length: 2\r\n\r\nok")},
         "returned",
         "",
         0,
         "ok",
         false,
         true},
        {"102 and 100 before the answer, late",
         {Send("HTTP/1.1 102 Processing\r\n\r\n"), Pause(300), Send("HTTP/1.1 100 Continue\r\n\r\n"), Pause(300),
          Send(kOk + "Content-Length: 2\r\n\r\nok")},
         "returned",
         "",
         0,
         "ok",
         false,
         true},
        {"103, then closed",
         {Send("HTTP/1.1 103 Early Hints\r\n\r\n"), Close()},
         "EIdHTTPProtocolException",
         "HTTP/1.1 103 Early Hints",
         103,
         "",
         false,
         false},
        {"103, then part of a line, then closed",
         {Send("HTTP/1.1 103 Early Hints\r\n\r\nHTTP/1.1 2"), Close()},
         "EIdHTTPProtocolException",
         "HTTP/1.1 103 Early Hints",
         103,
         "",
         false,
         false},
        {"103, then silence past the read time-out",
         {Send("HTTP/1.1 103 Early Hints\r\n\r\n"), Pause(600), Send(kOk + "Content-Length: 2\r\n\r\nok")},
         "EIdHTTPProtocolException",
         "HTTP/1.1 103 Early Hints",
         103,
         "",
         false,
         false,
         300},
        // Trailer lines are read up to the empty line.
        {"two trailer lines, the second late",
         {Send(kChunked + "5\r\nhello\r\n0\r\nX-A: 1\r\n"), Pause(200), Send("X-B: 2\r\n\r\n")},
         "returned",
         "",
         0,
         "hello",
         false,
         true},
        {"silent within the trailer section",
         {Send(kChunked + "5\r\nhello\r\n0\r\nX-A: 1\r\n"), Pause(600), Send("X-B: 2\r\n\r\n")},
         "returned",
         "",
         0,
         "hello",
         false,
         false,
         300},
        {"closed within the trailer section",
         {Send(kChunked + "5\r\nhello\r\n0\r\nX-A: 1\r\n"), Close()},
         "returned",
         "",
         0,
         "hello",
         true,
         false},
        {"a trailer section past the head's limit",
         {Send(kChunked + "5\r\nhello\r\n0\r\n" + manyTrailers + "\r\n")},
         "EIdHTTPFramingError",
         "Trailer section too large.",
         200,
         "hello",
         false,
         false},
    };
}

INSTANTIATE_TEST_SUITE_P(Table, Framing, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<FramingCase>& info) {
                             return "case" + std::to_string(info.index);
                         });

}  // namespace
