// The client beside an independent HTTP parser (Debian's libhttp-parser) on
// the same bytes: one answer, or two on one connection. Where the parser
// finds a well-framed answer, the client must give its status code and body
// bytes and end it exactly where the parser does, so that the second answer
// begins at the same byte for both. Where the parser finds the body cut short
// or malformed, the client must keep the bytes that arrived, not report the
// answer as sound, and not reuse the connection. The few deliberate
// differences are listed in fuzz/README.md; the cases they cover are not
// compared here.
// Input: byte 0 picks the mode (bit 0: fetch the second answer too; bits 3
// to 7: the seed of the sizes in which the bytes arrive, 0 for all at once),
// the rest is the byte stream. The server hands the client the stream up to
// where the parser ends the first answer, and the rest on the next request.
// A disagreement prints both sides before the trap.
#include <http_parser.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "IdHTTP.h"
#include "MemoryIOHandler.h"

namespace {

// ---- the independent parser's reading

struct OracleAnswer {
    enum Kind {
        None,     // no answer begins (empty stream)
        Framed,   // complete, ending at `end`
        ToClose,  // its body ends with the close
        Cut,      // head complete, body short of its framing at the close
        BadBody,  // head complete, body framing malformed
        BadHead,  // head malformed or cut: not compared
        Upgrade,  // 101: not compared
    } kind = None;
    int status = 0;
    std::string body;
    size_t end = 0;
    // Features the known framing faults depend on.
    std::vector<int> interim;  // statuses of the 1xx answers passed over
    bool chunked = false;
    bool lengthBesideChunked = false;
    uint64_t contentLength = 0;
    bool hasContentLength = false;
    uint64_t largestChunk = 0;
    int trailers = 0;
    std::string transferEncoding;
    int transferEncodingFields = 0;
    http_errno error = HPE_OK;      // the parser's complaint for BadBody and BadHead
    bool looseChunkEnd = false;     // a chunk's data not followed by CRLF
    bool bareLFChunkEnd = false;    // a chunk's data followed by a bare LF
    bool looseChunkSize = false;    // a chunk-size line not beginning with a hex digit
    bool emptyLineFirst = false;    // an empty line before a status line
    bool blankBeforeColon = false;  // a header name followed by a blank
};

struct OracleState {
    OracleAnswer* answer = nullptr;
    bool inHead = true;  // false once the head of the current message is done
    bool headDone = false;
    bool completed = false;
    bool fieldOpen = false;  // last header callback was a field name
    std::string field, value;
    // Where the stream starts, and how far the head's text of the current
    // message reached in it.
    const char* base = nullptr;
    std::vector<bool> isBody;  // per stream byte: body data
    size_t chunkDataEnd = 0;   // just past the current chunk's data, 0 before any
    bool lastChunk = false;    // the zero-size chunk was read
};

OracleState& State(http_parser* p) { return *static_cast<OracleState*>(p->data); }

void EndHeaderLine(OracleState& s) {
    if (s.field.empty()) return;
    std::string lower;
    for (char c : s.field) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (lower == "transfer-encoding") {
        // Several fields make one list.
        std::string& list = s.answer->transferEncoding;
        list += (s.answer->transferEncodingFields++ == 0 ? "" : ", ") + s.value;
    }
    s.field.clear();
    s.value.clear();
}

int OnMessageBegin(http_parser* p) {
    OracleState& s = State(p);
    s.inHead = true;
    s.headDone = false;
    s.lastChunk = false;
    s.answer->body.clear();
    s.answer->transferEncoding.clear();
    s.answer->transferEncodingFields = 0;
    s.answer->trailers = 0;
    s.answer->largestChunk = 0;
    return 0;
}

int OnHeaderField(http_parser* p, const char* at, size_t length) {
    OracleState& s = State(p);
    if (!s.inHead) {
        if (!s.fieldOpen) ++s.answer->trailers;
        s.fieldOpen = true;
        return 0;
    }
    if (!s.fieldOpen) EndHeaderLine(s);
    s.fieldOpen = true;
    s.field.append(at, length);
    if (length > 0 && (at[length - 1] == ' ' || at[length - 1] == '\t')) s.answer->blankBeforeColon = true;
    return 0;
}

int OnHeaderValue(http_parser* p, const char* at, size_t length) {
    OracleState& s = State(p);
    s.fieldOpen = false;
    if (s.inHead) s.value.append(at, length);
    return 0;
}

int OnHeadersComplete(http_parser* p) {
    OracleState& s = State(p);
    EndHeaderLine(s);
    s.inHead = false;
    s.headDone = true;
    s.fieldOpen = false;
    OracleAnswer& a = *s.answer;
    a.status = p->status_code;
    a.chunked = (p->flags & F_CHUNKED) != 0;
    a.hasContentLength = (p->flags & F_CONTENTLENGTH) != 0;
    a.lengthBesideChunked = a.chunked && a.hasContentLength;
    a.contentLength = a.hasContentLength ? p->content_length : 0;
    // A careful client's reading: 1xx, 204 and 304 answers never have a body,
    // whatever their head says.
    return p->status_code / 100 == 1 || p->status_code == 204 || p->status_code == 304 ? 1 : 0;
}

int OnBody(http_parser* p, const char* at, size_t length) {
    OracleState& s = State(p);
    s.answer->body.append(at, length);
    const size_t from = static_cast<size_t>(at - s.base);
    if (p->flags & F_CHUNKED && s.chunkDataEnd == 0) {
        // The first data of a chunk: its size line, before the line end just
        // passed, must begin with a hex digit (the parser passes over other
        // bytes there).
        size_t line = from >= 2 ? from - 2 : 0;
        while (line > 0 && s.base[line - 1] != '\n') --line;
        if (!std::isxdigit(static_cast<unsigned char>(s.base[line]))) s.answer->looseChunkSize = true;
        // Nor may anything but hex digits come before an extension, a blank
        // or the line end (the non-strict parser passes over such bytes).
        size_t i = line;
        while (std::isxdigit(static_cast<unsigned char>(s.base[i]))) ++i;
        const char after = s.base[i];
        if (after != ';' && after != ' ' && after != '\t' && after != '\r' && after != '\n')
            s.answer->looseChunkSize = true;
    }
    for (size_t i = from; i < from + length; ++i) s.isBody[i] = true;
    s.chunkDataEnd = from + length;
    return 0;
}

int OnChunkHeader(http_parser* p) {
    OracleState& s = State(p);
    OracleAnswer& a = *s.answer;
    if (p->content_length > a.largestChunk) a.largestChunk = p->content_length;
    if (p->content_length == 0) {
        s.lastChunk = true;
        // The last chunk carries no data for OnBody to look at its size line
        // by: after a chunk's data and its line end, the size line must be
        // hex digits up to an extension, a blank or the line end.
        const size_t size = s.isBody.size();
        size_t i = s.chunkDataEnd + 2;
        if (s.chunkDataEnd != 0 && i < size) {
            const size_t first = i;
            while (i < size && std::isxdigit(static_cast<unsigned char>(s.base[i]))) ++i;
            const char after = i < size ? s.base[i] : '\r';
            if (i == first || (after != ';' && after != ' ' && after != '\t' && after != '\r' && after != '\n'))
                a.looseChunkSize = true;
        }
    }
    s.chunkDataEnd = 0;
    return 0;
}

// Debian's build of the parser is the non-strict one: it takes any two bytes
// after a chunk's data for its CRLF. Here they must be CRLF.
int OnChunkComplete(http_parser* p) {
    OracleState& s = State(p);
    const std::string_view rest(s.base + s.chunkDataEnd, 2);
    if (s.chunkDataEnd != 0 && rest != "\r\n") s.answer->looseChunkEnd = true;
    if (s.chunkDataEnd != 0 && rest[0] == '\n') s.answer->bareLFChunkEnd = true;
    return 0;
}

int OnMessageComplete(http_parser* p) {
    State(p).completed = true;
    http_parser_pause(p, 1);  // so that execute tells where the message ended
    return 0;
}

// Debian's build of the parser takes a CR followed by any byte for a line
// end; the client ends lines at LF only. Answers with such a CR among the
// bytes up to `end`, body data aside, are not compared.
bool LoneCR(const std::string& stream, const std::vector<bool>& isBody, size_t end) {
    end = std::min(end, stream.size());
    for (size_t i = 0; i < end; ++i)
        if (!isBody[i] && stream[i] == '\r' && (i + 1 >= stream.size() || stream[i + 1] != '\n')) return true;
    return false;
}

// Debian's build of the parser does not check the letters of "HTTP/" in the
// status line; the client needs them. Answers whose status line (after any
// empty lines) has other letters are not compared.
bool StatusLineStarts(const std::string& stream, size_t at) {
    while (at < stream.size() && (stream[at] == '\r' || stream[at] == '\n')) ++at;
    return stream.compare(at, 5, "HTTP/") == 0;
}

OracleAnswer ReadWithParser(const std::string& stream);

// The parser's reading of the first final answer in `stream`. A blank
// between a header name and its colon is not allowed; the non-strict parser
// takes the field, the client does not know the name: not compared.
OracleAnswer ReadWithOracle(const std::string& stream) {
    OracleAnswer answer = ReadWithParser(stream);
    if (answer.blankBeforeColon) answer.kind = OracleAnswer::BadHead;
    return answer;
}

OracleAnswer ReadWithParser(const std::string& stream) {
    OracleAnswer answer;
    if (stream.empty()) return answer;
    http_parser_settings settings;
    http_parser_settings_init(&settings);
    settings.on_message_begin = OnMessageBegin;
    settings.on_header_field = OnHeaderField;
    settings.on_header_value = OnHeaderValue;
    settings.on_headers_complete = OnHeadersComplete;
    settings.on_body = OnBody;
    settings.on_chunk_header = OnChunkHeader;
    settings.on_chunk_complete = OnChunkComplete;
    settings.on_message_complete = OnMessageComplete;
    http_parser parser;
    http_parser_init(&parser, HTTP_RESPONSE);
    OracleState state;
    state.answer = &answer;
    state.base = stream.data();
    state.isBody.assign(stream.size(), false);
    parser.data = &state;

    size_t at = 0;
    for (;;) {
        if (at < stream.size() && (stream[at] == '\r' || stream[at] == '\n')) answer.emptyLineFirst = true;
        if (!StatusLineStarts(stream, at)) {
            answer.kind = OracleAnswer::BadHead;
            return answer;
        }
        state.completed = false;
        const size_t n = http_parser_execute(&parser, &settings, stream.data() + at, stream.size() - at);
        at += n;
        const http_errno error = HTTP_PARSER_ERRNO(&parser);
        if (state.completed) {
            http_parser_pause(&parser, 0);
            if (answer.status == 101) {
                answer.kind = OracleAnswer::Upgrade;
                return answer;
            }
            if (answer.status / 100 == 1) {
                // An interim answer: the final one follows (a failure before
                // its first byte is one of the head).
                answer.interim.push_back(answer.status);
                state.headDone = false;
                continue;
            }
            answer.end = at;
            if (LoneCR(stream, state.isBody, at)) answer.kind = OracleAnswer::BadHead;
            else if (answer.bareLFChunkEnd) answer.kind = OracleAnswer::BadHead;  // not compared
            else if (answer.looseChunkEnd || answer.looseChunkSize) answer.kind = OracleAnswer::BadBody;
            else answer.kind = OracleAnswer::Framed;
            return answer;
        }
        if (error != HPE_OK) {
            answer.error = error;
            // Trailer lines the parser finds malformed: the client reads and
            // drops them up to the empty line, unchecked.
            const bool inTrailers = state.lastChunk;
            // A chunk-size line ended by a bare LF, or with a tab after the
            // size: the parser wants CRLF and a blank there, the client ends
            // every line at LF and takes a tab for a blank.
            const bool bareLF = answer.bareLFChunkEnd || (error == HPE_INVALID_CHUNK_SIZE && at < stream.size() &&
                                                          (stream[at] == '\n' || stream[at] == '\t'));
            answer.kind = state.headDone && !inTrailers && !bareLF && !LoneCR(stream, state.isBody, at + 1)
                              ? OracleAnswer::BadBody
                              : OracleAnswer::BadHead;
            return answer;
        }
        break;  // every byte read, no message complete
    }
    // The close.
    http_parser_execute(&parser, &settings, nullptr, 0);
    if (state.headDone && LoneCR(stream, state.isBody, stream.size())) {
        answer.kind = OracleAnswer::BadHead;
        return answer;
    }
    if (state.completed) {
        answer.kind = !state.headDone                                 ? OracleAnswer::None
                      : answer.bareLFChunkEnd                         ? OracleAnswer::BadHead
                      : answer.looseChunkEnd || answer.looseChunkSize ? OracleAnswer::BadBody
                                                                      : OracleAnswer::ToClose;
        answer.end = stream.size();
    } else if (!state.headDone) {
        // Nothing, or a head cut by the close (the client reads on with the
        // head it has: a deliberate difference).
        answer.kind = at == 0 && answer.interim.empty() ? OracleAnswer::None : OracleAnswer::BadHead;
    } else if (answer.bareLFChunkEnd) {
        answer.kind = OracleAnswer::BadHead;  // not compared
    } else if (answer.looseChunkEnd || answer.looseChunkSize) {
        // Malformed before it was cut: what a strict reader stops at.
        answer.kind = OracleAnswer::BadBody;
    } else {
        answer.kind = OracleAnswer::Cut;
    }
    return answer;
}

// ---- the client's reading

struct ClientAnswer {
    bool returned = false;       // the fetch returned
    bool protocolError = false;  // EIdHTTPProtocolException
    std::string failure;         // any other Exception's class
    int status = 0;
    std::string body;
    int64_t consumed = 0;  // bytes of the stream the client took, up to the answer's end
    bool readPast = false;
    bool connected = false;
    bool cut = false;  // the client marked the answer cut short
};

ClientAnswer Fetch(TIdHTTP& http, TMemoryIOHandler& connection) {
    ClientAnswer result;
    connection.ClearReadPast();
    TMemoryStream content;
    try {
        http.GetDocumentToStream("http://127.0.0.1:9080/kestrin", content);
        result.returned = true;
        result.body = content.Bytes();
    } catch (const EIdHTTPProtocolException& e) {
        result.protocolError = true;
        result.body = e.ErrorBody();
    } catch (const Exception& e) {
        result.failure = e.ClassName();
        result.body = content.Bytes();
    }
    result.status = http.ResponseCode();
    result.consumed = connection.Delivered() - http.InputBuffer().Size();
    result.readPast = connection.ReadPast();
    result.connected = http.IsConnected();
    result.cut = http.Response()->BodyCut();
    return result;
}

// ---- comparison

// The deliberate differences that a disagreement may show, by name; empty
// when none applies (the disagreement is then a finding).
std::string Deliberate(const OracleAnswer& a, const ClientAnswer& c, const std::string& stream) {
    // The client ends every line of the chunk framing at LF; the parser wants
    // CRLF and takes a bare LF inside a chunk-size line for part of it.
    if (a.chunked)
        for (size_t i = stream.find('\n'); i != std::string::npos; i = stream.find('\n', i + 1))
            if (i == 0 || stream[i - 1] != '\r') return "bare LF in chunked framing";
    // The client's header list trims every control character around a value
    // (as for every header); the parser keeps them, so "chunked" with a tab
    // or an escape beside it is no chunked coding for it.
    for (unsigned char ch : a.transferEncoding)
        if (ch < 0x20 || ch == 0x7F) return "control character around a Transfer-Encoding value";
    // HTTP lists may hold empty elements (",chunked" is chunked); the parser
    // then does not see the coding.
    size_t from = 0;
    for (;;) {
        const size_t comma = a.transferEncoding.find(',', from);
        const std::string element = a.transferEncoding.substr(from, comma == std::string::npos ? comma : comma - from);
        if (element.find_first_not_of(' ') == std::string::npos && !a.transferEncoding.empty())
            return "empty element in the Transfer-Encoding list";
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    // A 304 answer's body is read as its framing says (a 304 followed by
    // silence is a failed probe for the launcher); the client then never
    // reuses the connection, so no byte of it can be taken for the next answer.
    if (a.status == 304 && !c.connected) return "304 answer read with a body";
    // An empty first line is a status line without a code: the server
    // answered, with an answer the client cannot read.
    if (a.emptyLineFirst && c.protocolError && c.status == -1) return "empty line before the status line";
    // A chunked error body cut by the close raises the close, without the
    // bytes (the launcher counts it a failed probe).
    if (a.kind == OracleAnswer::Cut && a.chunked && a.status / 100 != 2 && c.failure == "EIdConnClosedGracefully" &&
        !c.connected)
        return "cut chunked error body";
    return {};
}

std::string Printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes.substr(0, 200)) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return bytes.size() > 200 ? out + "..." : out;
}

// Traps, or returns false for a deliberate difference.
bool Disagree(const char* what, const OracleAnswer& o, const ClientAnswer& c, const std::string& stream, int64_t base) {
    if (!Deliberate(o, c, stream).empty()) return false;
    std::fprintf(stderr,
                 "disagreement: %s\n"
                 "  parser: kind %d (%s), status %d, end %zu, body \"%s\"\n"
                 "  client: %s%s, status %d, end %lld%s, body \"%s\"\n",
                 what, static_cast<int>(o.kind), http_errno_name(o.error), o.status, o.end, Printable(o.body).c_str(),
                 c.returned        ? "returned"
                 : c.protocolError ? "EIdHTTPProtocolException"
                                   : c.failure.c_str(),
                 c.connected ? ", connected" : "", c.status, static_cast<long long>(c.consumed - base),
                 c.readPast ? " (read on past it)" : "", Printable(c.body).c_str());
    __builtin_trap();
}

// Compares one answer; `base` is where it begins in what the client was
// sent. False when they differ only in a deliberate way.
bool Compare(const OracleAnswer& o, const ClientAnswer& c, const std::string& stream, int64_t base) {
    switch (o.kind) {
    case OracleAnswer::Framed:
        if (!c.failure.empty()) return Disagree("the client failed on a sound answer", o, c, stream, base);
        if (c.status != o.status) return Disagree("status code", o, c, stream, base);
        if (c.body != o.body) return Disagree("body bytes", o, c, stream, base);
        if (c.readPast || c.consumed - base != static_cast<int64_t>(o.end))
            return Disagree("where the answer ends", o, c, stream, base);
        break;
    case OracleAnswer::ToClose:
        if (!c.failure.empty()) return Disagree("the client failed on a sound answer", o, c, stream, base);
        if (c.status != o.status) return Disagree("status code", o, c, stream, base);
        if (c.body != o.body) return Disagree("body bytes", o, c, stream, base);
        break;
    case OracleAnswer::Cut:
        if (c.status != o.status) return Disagree("status code", o, c, stream, base);
        if (c.body != o.body) return Disagree("bytes of a cut body", o, c, stream, base);
        // A short Content-Length body may be returned (the caller can see
        // it short); a cut chunked one only marked cut (its trailer section
        // cut short, the data whole).
        if (c.connected || (o.chunked && c.returned && !c.cut))
            return Disagree("a cut body reported as sound", o, c, stream, base);
        break;
    case OracleAnswer::BadBody:
        if (c.status != o.status) return Disagree("status code", o, c, stream, base);
        if (c.returned || c.connected) return Disagree("a malformed body reported as sound", o, c, stream, base);
        break;
    case OracleAnswer::None:
    case OracleAnswer::BadHead:
    case OracleAnswer::Upgrade: break;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    const std::string stream(reinterpret_cast<const char*>(data + 1), size - 1);

    const OracleAnswer first = ReadWithOracle(stream);
    // The server's two answers: up to where the parser ends the first, and
    // the rest.
    const size_t split = first.kind == OracleAnswer::Framed ? first.end : stream.size();
    const std::string second = stream.substr(split);

    TMemoryIOHandler connection(nullptr);
    connection.Serve({stream.substr(0, split), second});
    connection.SetSliceSeed((mode >> 3) * 2654435761u);
    TIdHTTP http(nullptr);
    http.SetIOHandler(&connection);
    http.SetFetchTimeout(3000);

    const bool agreed = Compare(first, Fetch(http, connection), stream, 0);
    if (agreed && (mode & 1) && first.kind == OracleAnswer::Framed && !second.empty())
        Compare(ReadWithOracle(second), Fetch(http, connection), second, static_cast<int64_t>(split));
    return 0;
}
