#include "IdHTTP.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <new>
#include <stdexcept>

#include "IdGlobal.h"

namespace {

// Sets the connection's read time-out for a scope.
class ReadTimeoutScope {
public:
    ReadTimeoutScope(TIdTCPConnection& connection, int32_t timeout)
        : connection_(connection), saved_(connection.ReadTimeout()) {
        connection_.SetReadTimeout(timeout);
    }
    ~ReadTimeoutScope() { connection_.SetReadTimeout(saved_); }
    ReadTimeoutScope(const ReadTimeoutScope&) = delete;
    ReadTimeoutScope& operator=(const ReadTimeoutScope&) = delete;

private:
    TIdTCPConnection& connection_;
    int32_t saved_;
};

// Swaps the response's body sink for a scratch stream for a scope.
class ScratchBody {
public:
    explicit ScratchBody(TIdHTTPResponse& response) : response_(response), saved_(response.ContentStream()) {
        response_.SetContentStream(&scratch_);
    }
    ~ScratchBody() { response_.SetContentStream(saved_); }
    ScratchBody(const ScratchBody&) = delete;
    ScratchBody& operator=(const ScratchBody&) = delete;
    AnsiString Bytes() const { return scratch_.Bytes(); }

private:
    TIdHTTPResponse& response_;
    TStream* saved_;
    TMemoryStream scratch_;
};

// Lends the caller's streams to the request and the response for one fetch.
class BorrowedStreams {
public:
    BorrowedStreams(TIdHTTPRequest& request, TIdHTTPResponse& response, TStream* source, TStream* content)
        : request_(request), response_(response) {
        request_.SetBodyStream(source);
        response_.SetContentStream(content);
    }
    ~BorrowedStreams() {
        request_.SetBodyStream(nullptr);
        response_.SetContentStream(nullptr);
    }
    BorrowedStreams(const BorrowedStreams&) = delete;
    BorrowedStreams& operator=(const BorrowedStreams&) = delete;

private:
    TIdHTTPRequest& request_;
    TIdHTTPResponse& response_;
};

// Bounds every wait for data of one fetch by a deadline on the connection.
class FetchDeadline {
public:
    FetchDeadline(TIdTCPConnection& connection, int32_t timeoutMs) : connection_(connection), set_(timeoutMs > 0) {
        if (set_) connection_.SetReadDeadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs));
    }
    ~FetchDeadline() {
        if (set_) connection_.ClearReadDeadline();
    }
    FetchDeadline(const FetchDeadline&) = delete;
    FetchDeadline& operator=(const FetchDeadline&) = delete;

private:
    TIdTCPConnection& connection_;
    bool set_;
};

const char* MethodWord(TIdHTTPMethod method) {
    switch (method) {
    case TIdHTTPMethod::hmHead: return "HEAD ";
    case TIdHTTPMethod::hmGet: return "GET ";
    case TIdHTTPMethod::hmPost: return "POST ";
    case TIdHTTPMethod::hmOptions: return "OPTIONS ";
    case TIdHTTPMethod::hmTrace: return "TRACE ";
    case TIdHTTPMethod::hmPut: return "PUT ";
    case TIdHTTPMethod::hmDelete: return "DELETE ";
    case TIdHTTPMethod::hmConnect: return "CONNECT ";
    }
    return "GET ";
}

// An interim answer, passed over on the way to the final one; 101 switches
// protocols and so is final for this client.
bool IsInterim(int32_t code) { return code >= 100 && code <= 199 && code != 101; }

// Bound on a wait for the rest of an answer whose server has already shown
// that it is there: the final answer after an interim answer other than 100,
// the trailer lines after the first one. The same as for an error body.
constexpr int32_t kFollowUpWaitMs = 2000;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool CarriesBody(TIdHTTPMethod method) { return method == TIdHTTPMethod::hmPost || method == TIdHTTPMethod::hmPut; }

// A URL goes into the request line as it is: a CR, LF or NUL in it would
// end the line early and let the rest pass as header lines of its own.
void CheckURLCharacters(const AnsiString& url) {
    if (url.find_first_of(AnsiString("\r\n\0", 3)) != AnsiString::npos) throw EIdException("Invalid character in URL");
}

}  // namespace

// ---- proxy settings ----

void TIdProxyConnectionInfo::Clear() {
    proxyServer_.clear();
    proxyUsername_.clear();
    proxyPassword_.clear();
    proxyPort_ = 0;
}

void TIdProxyConnectionInfo::SetProxyPort(int32_t v) {
    if (v != proxyPort_) authentication_.reset();
    proxyPort_ = v;
}

void TIdProxyConnectionInfo::SetProxyServer(const AnsiString& v) {
    if (!SameText(v, proxyServer_)) authentication_.reset();
    proxyServer_ = v;
}

void TIdProxyConnectionInfo::AddProxyAuthorization(TIdHeaderList& headers) {
    if (!authentication_ && basicAuthentication_) {
        authentication_ = std::make_unique<TIdBasicAuthentication>();
        authentication_->SetUsername(proxyUsername_);
        authentication_->SetPassword(proxyPassword_);
    }
    if (authentication_) {
        const AnsiString value = authentication_->Authentication();
        if (!value.empty()) headers.SetHeaderValue("Proxy-Authorization", value);
    }
}

// ---- exchange object ----

TIdHTTPProtocol::TIdHTTPProtocol(TIdCustomHTTP* client)
    : client_(client),
      request_(std::make_unique<TIdHTTPRequest>(client)),
      response_(std::make_unique<TIdHTTPResponse>(client)) {}

void TIdHTTPProtocol::WriteRequest(TIdURI* url) {
    TIdHTTPRequest& request = *request_;
    request.BuildHeaderLines();
    client_->ProxyParams()->AddProxyAuthorization(request.HeaderLines());
    if (url) client_->AttachCookies(*url, request);

    client_->BeginBufferedWrite(-1);
    const char* version = client_->ProtocolVersion() == TIdHTTPProtocolVersion::pv1_0 ? "1.0" : "1.1";
    client_->SendLine(MethodWord(request.RequestMethod()) + request.RequestTarget() + " HTTP/" + version);
    const TIdHeaderList& lines = request.HeaderLines();
    for (int i = 0; i < lines.Count(); ++i)
        if (!lines[i].empty()) client_->SendLine(lines[i]);
    client_->SendLine("");
    client_->EndBufferedWrite();
}

AnsiString TIdHTTPProtocol::ReadHeadLine() {
    AnsiString line = client_->ReadLine();
    headBytes_ += line.size() + 2;
    if (headBytes_ > TIdCustomHTTP::MaxHeaderBlockSize) throw EIdHTTPHeaderBlockTooLarge();
    return line;
}

void TIdHTTPProtocol::ReadHeaderBlock() {
    TIdHTTPResponse& response = *response_;
    response.HeaderLines().Clear();
    AnsiString line = ReadHeadLine();
    while (!line.empty()) {
        response.HeaderLines().Add(line);
        try {
            line = ReadHeadLine();
        } catch (const EIdConnClosedGracefully&) {
            // The server ended the block by closing: go on with what came.
            client_->CloseConnection();
            break;
        }
    }
    response.ParseHeaderLines();
}

void TIdHTTPProtocol::ReadAnswerHead() {
    TIdHTTPResponse& response = *response_;
    headBytes_ = 0;
    response.SetStatusLine(ReadHeadLine());
    ReadHeaderBlock();
    client_->StoreResponseCookies(*request_, response);
    for (int32_t code = response.StatusCode(); IsInterim(code); code = response.StatusCode()) {
        response.SetStatusLine(code == 100 ? ReadHeadLine() : ReadStatusLineAfterInterim());
        ReadHeaderBlock();
        client_->StoreResponseCookies(*request_, response);
    }
}

AnsiString TIdHTTPProtocol::ReadStatusLineAfterInterim() {
    TIdHTTPResponse& response = *response_;
    const int32_t readTimeout = client_->ReadTimeout();
    try {
        ReadTimeoutScope timeout(*client_, readTimeout > 0 ? std::min(readTimeout, kFollowUpWaitMs) : kFollowUpWaitMs);
        AnsiString line = ReadHeadLine();
        if (!client_->LineTimedOut()) return line;  // else the close cut the line
    } catch (const EIdConnClosedGracefully&) {
    } catch (const EIdReadTimeout&) {
    }
    // No final answer: the interim one is the server's answer. Whatever came
    // of a next line is its error body; the connection is not reused, since
    // the final answer may still come.
    TIdBuffer& rest = client_->InputBuffer();
    const AnsiString cut = rest.ExtractString(rest.Size());
    response.MarkFramingDoubtful();
    throw EIdHTTPProtocolException(response.StatusCode(), response.StatusLine(), cut);
}

void TIdHTTPProtocol::RaiseProtocolError() {
    TIdHTTPResponse& response = *response_;
    AnsiString body;
    {
        ReadTimeoutScope timeout(*client_, 2000);
        ScratchBody scratch(response);
        client_->ReadResponseBody(response);
        body = scratch.Bytes();
    }
    // A 304 answer has no body of its own in HTTP: what its framing took may
    // be the start of the next answer, so the connection is not reused.
    if (response.StatusCode() == 304) response.MarkFramingDoubtful();
    throw EIdHTTPProtocolException(response.StatusCode(), response.StatusLine(), body);
}

void TIdHTTPProtocol::DrainBody() {
    ScratchBody scratch(*response_);
    client_->ReadResponseBody(*response_);
}

void TIdHTTPProtocol::DrainQuietly() {
    ReadTimeoutScope timeout(*client_, 4000);
    try {
        DrainBody();
    } catch (const Exception&) {
        // Where the discarded answer ends is unknown now.
        response_->MarkFramingDoubtful();
    }
}

TIdNextStep TIdHTTPProtocol::DecideNextStep() {
    TIdHTTPResponse& response = *response_;
    const int32_t code = response.StatusCode();
    const bool success = code / 100 == 2;
    if ((code / 100 == 3 && code != 304) || !response.Location().empty()) return RedirectStep();

    const bool authPending = !success && NegotiateOrRaise(code);
    // The server closed within the head, so no body follows: a success is
    // then undetermined, and a challenge with credentials is repeated.
    if (!client_->IsConnected()) return success ? TIdNextStep::nsUndetermined : TIdNextStep::nsRepeatRequest;
    if (authPending) {
        DrainQuietly();
        return TIdNextStep::nsAuthRetry;
    }
    if (code != 204) client_->ReadResponseBody(response);
    return TIdNextStep::nsDone;
}

TIdNextStep TIdHTTPProtocol::RedirectStep() {
    TIdHTTPRequest& request = *request_;
    TIdHTTPResponse& response = *response_;
    AnsiString location = response.Location();
    TIdHTTPMethod method = request.RequestMethod();
    // The answer that reaches the redirect limit ends the fetch, once the
    // handler has let it.
    const bool follow = client_->HandleRedirects() && client_->RedirectCount() < client_->RedirectMaximum();
    if (!client_->NotifyRedirect(location, method, client_->RedirectCount())) RaiseProtocolError();
    if (follow) {
        request.SetRequestTarget(location);
        request.SetRequestMethod(method);
    } else {
        response.SetLocation(location);
    }
    if (client_->IsConnected()) DrainQuietly();
    return follow ? TIdNextStep::nsRepeatRequest : TIdNextStep::nsDone;
}

bool TIdHTTPProtocol::NegotiateOrRaise(int32_t code) {
    TIdHTTPRequest& request = *request_;
    TIdHTTPResponse& response = *response_;
    const bool inProcess = client_->HTTPOptions().Contains(TIdHTTPOption::hoInProcessAuth);
    const bool retriesLeft =
        (code == 401 ? client_->AuthRetryCount() : client_->ProxyAuthRetryCount()) < client_->AuthRetries();
    if (code == 401) {
        if (!retriesLeft || !client_->NegotiateAuthorization(request, response)) {
            if (request.Authenticator()) request.Authenticator()->Reset();
            RaiseProtocolError();
        }
    } else if (code == 407) {
        TIdProxyConnectionInfo& proxy = *client_->ProxyParams();
        if (!retriesLeft || !client_->NegotiateProxyAuthorization(request, response)) {
            if (proxy.Authentication()) proxy.Authentication()->Reset();
            RaiseProtocolError();
        }
    } else {
        RaiseProtocolError();
    }
    return inProcess;
}

// ---- client ----

TIdCustomHTTP::TIdCustomHTTP(TComponent* owner) : TIdTCPClient(owner), currentURI_(std::make_unique<TIdURI>()) {
    SetPort(80);
    protocol_ = std::make_unique<TIdHTTPProtocol>(this);
    proxyParams_ = std::make_unique<TIdProxyConnectionInfo>();
    proxyParams_->Clear();
}

TIdCustomHTTP::~TIdCustomHTTP() {
    protocol_.reset();
    currentURI_.reset();
    proxyParams_.reset();
}

void TIdCustomHTTP::SetHost(const AnsiString& host) {
    TIdTCPClient::SetHost(host);
    if (currentURI_) currentURI_->SetHost(host);
}

void TIdCustomHTTP::SetPort(int32_t port) {
    TIdTCPClient::SetPort(port);
    if (currentURI_) currentURI_->SetPort(IntToStr(port));
}

void TIdCustomHTTP::SetRequest(const TIdHTTPRequest& source) {
    TIdHTTPRequest& r = *Request();
    if (&r == &source) return;
    r.SetAccept(source.Accept());
    r.SetAcceptCharSet(source.AcceptCharSet());
    r.SetAcceptEncoding(source.AcceptEncoding());
    r.SetAcceptLanguage(source.AcceptLanguage());
    r.SetFrom(source.From());
    r.SetPassword(source.Password());
    r.SetReferer(source.Referer());
    r.SetUserAgent(source.UserAgent());
    r.SetUsername(source.Username());
    r.SetBasicAuthentication(source.BasicAuthentication());
}

void TIdCustomHTTP::SetCookieManager(TIdCookieManager* manager) {
    // Giving the client the manager it already holds changes nothing; freeing
    // it first would leave the client holding a freed object.
    if (manager == cookieManager_) return;
    if (cookieManager_) {
        TIdCookieManager* old = cookieManager_;
        if (ownsCookieManager_) delete old;  // its removal clears cookieManager_
        else RemoveFreeNotification(old);
    }
    cookieManager_ = manager;
    ownsCookieManager_ = false;
    if (manager) FreeNotification(manager);
}

void TIdCustomHTTP::SetAuthenticationManager(TIdAuthenticationManager* manager) {
    if (authenticationManager_ && authenticationManager_ != manager) RemoveFreeNotification(authenticationManager_);
    authenticationManager_ = manager;
    if (manager) FreeNotification(manager);
}

void TIdCustomHTTP::Notification(TComponent* component, TOperation operation) {
    TIdTCPClient::Notification(component, operation);
    if (operation != TOperation::opRemove) return;
    if (component == cookieManager_) {
        cookieManager_ = nullptr;
        ownsCookieManager_ = false;
    }
    if (component == authenticationManager_) authenticationManager_ = nullptr;
}

AnsiString TIdCustomHTTP::GetDocument(const AnsiString& url) {
    // The body is received straight into the stream's memory; building the
    // result text is its one copy.
    TMemoryStream stream;
    GetDocumentToStream(url, stream);
    try {
        return stream.Bytes();
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory();
    }
}

void TIdCustomHTTP::GetDocumentToStream(const AnsiString& url, TStream& content) {
    RunExchange(TIdHTTPMethod::hmGet, url, nullptr, &content);
}

void TIdCustomHTTP::RunExchange(TIdHTTPMethod method, const AnsiString& url, TStream* source, TStream* content) {
    TIdHTTPRequest& request = *Request();
    TIdHTTPResponse& response = *Response();
    const int64_t start = content ? content->Position() : 0;
    // Every fetch counts its own passes, so a fetch that failed midway does
    // not use up the redirects of the next one.
    redirectCount_ = 0;
    authRetryCount_ = 0;
    proxyAuthRetryCount_ = 0;

    request.SetRequestTarget(url);
    request.SetRequestMethod(method);
    BorrowedStreams streams(request, response, source, content);
    response.SetBodyCut(false);
    FetchDeadline deadline(*this, fetchTimeout_);
    try {
        for (bool more = true; more;) {
            ++redirectCount_;
            SetUpRequest(request);
            OpenAndSendRequest(request, response);
            protocol_->ReadAnswerHead();
            more = ApplyNextStep(protocol_->DecideNextStep(), url, content, start);
        }
    } catch (const EIdHTTPProtocolException&) {
        // The server answered: the connection stays when the answer allows.
        EndAnswer(response);
        throw;
    } catch (...) {
        AbandonFetch();
    }
    EndAnswer(response);
    redirectCount_ = 0;
}

bool TIdCustomHTTP::ApplyNextStep(TIdNextStep step, const AnsiString& url, TStream* content, int64_t contentStart) {
    switch (step) {
    case TIdNextStep::nsRepeatRequest:
        // Only the final answer's body stays in the caller's stream.
        if (content) {
            content->SetPosition(contentStart);
            content->SetSize(contentStart);
        }
        authRetryCount_ = 0;
        proxyAuthRetryCount_ = 0;
        return true;
    case TIdNextStep::nsDone: return false;
    case TIdNextStep::nsUndetermined: throw EIdException("Undefined situation");
    case TIdNextStep::nsAuthRetry:
        // An authorization retry is no redirect, and goes to the URL given.
        --redirectCount_;
        Request()->SetRequestTarget(url);
        return true;
    }
    return false;
}

void TIdCustomHTTP::AbandonFetch() {
    // No usable answer: whatever is left on this connection (the rest of a
    // cut answer, or nothing at all) must not be read as the next answer, so
    // the next fetch starts on a fresh connection.
    try {
        CloseConnection();
    } catch (const Exception&) {
    }
    // Exhausted memory leaves as an error of the class library, which
    // callers catch like every other failure of a fetch.
    try {
        throw;
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory();
    } catch (const std::length_error&) {
        throw EOutOfMemory();
    }
}

bool TIdCustomHTTP::ConnectionReusable(TIdHTTPResponse& response, bool answerEnded) {
    CheckConnectionClosed(false, false);
    if (!response.KeepConnection(IsConnected(), protocolVersion_)) return false;
    return !answerEnded || InputBuffer().Empty();
}

void TIdCustomHTTP::EndAnswer(TIdHTTPResponse& response) {
    if (!ConnectionReusable(response, true)) CloseConnection();
}

void TIdCustomHTTP::SetUpRequest(TIdHTTPRequest& request) {
    CheckURLCharacters(request.RequestTarget());
    TIdURI& current = *currentURI_;
    TIdURI url;
    url.ParseURI(request.RequestTarget());

    if (!url.Username().empty()) {
        request.SetUsername(url.Username());
        request.SetPassword(url.Password());
    }
    current.SetUsername(request.Username());
    current.SetPassword(request.Password());
    current.SetPath(MergePath(current.Path(), url.Path(), "/"));
    current.SetDocument(url.Document());
    current.SetQuery(url.Query());
    if (!url.Host().empty()) current.SetHost(url.Host());
    current.SetProtocol(url.Protocol().empty() ? AnsiString("http") : url.Protocol());

    if (!url.Port().empty()) {
        current.SetPort(url.Port());
    } else {
        // A URL without a port goes to the held port unless that is one of
        // the protocols' own (or none), which the protocol then decides.
        const int32_t held = StrToIntDef(current.Port(), 0);
        if (held == 0 || held == 80 || held == 443) {
            if (SameText(current.Protocol(), "http")) current.SetPort("80");
            else if (SameText(current.Protocol(), "https")) current.SetPort("443");
            else throw EIdUnknownProtocol("");
        }
    }

    if (request.RequestMethod() == TIdHTTPMethod::hmOptions && url.Document() == "*") request.SetRequestTarget("*");
    else request.SetRequestTarget(current.Path() + current.Document() + current.Query());

    const TIdHTTPMethod method = request.RequestMethod();
    if ((method == TIdHTTPMethod::hmOptions || method == TIdHTTPMethod::hmTrace || method == TIdHTTPMethod::hmPut ||
         method == TIdHTTPMethod::hmDelete) &&
        protocolVersion_ != TIdHTTPProtocolVersion::pv1_1)
        throw EIdException("This request method is supported in HTTP 1.1");

    if (CarriesBody(method))
        request.SetContentLength(request.BodyStream() ? static_cast<int32_t>(request.BodyStream()->Size()) : 0);
    else request.SetContentLength(-1);

    request.SetHost(current.Port() == "80" ? current.Host() : current.Host() + ":" + current.Port());
}

TIdConnectionKind TIdCustomHTTP::ChooseConnectionKind() {
    TIdURI& current = *currentURI_;
    const bool secure = SameText(current.Protocol(), "HTTPS");
    // No secure transport is built in: every IO handler, and none, is of
    // another kind than a secure one, so an https URL cannot be fetched.
    if (proxyParams_->ProxyServer().empty()) {
        const int32_t port = StrToInt(current.Port());
        if (!SameText(Host(), current.Host()) || Port() != port) {
            if (IsConnected()) CloseConnection();
            SetHost(current.Host());
            SetPort(port);
        }
        if (secure) throw EIdIOHandlerPropInvalid();
        return TIdConnectionKind::ckDirect;
    }
    // Through a proxy the connection goes to the proxy, while CurrentURI
    // keeps the URL's host and port.
    if (!SameText(Host(), proxyParams_->ProxyServer()) || Port() != proxyParams_->ProxyPort()) {
        if (IsConnected()) CloseConnection();
        TIdTCPClient::SetHost(proxyParams_->ProxyServer());
        TIdTCPClient::SetPort(proxyParams_->ProxyPort());
    }
    if (secure) throw EIdIOHandlerPropInvalid();
    return TIdConnectionKind::ckProxy;
}

void TIdCustomHTTP::OpenAndSendRequest(TIdHTTPRequest& request, TIdHTTPResponse& response) {
    const TIdConnectionKind kind = ChooseConnectionKind();
    request.SetConnectionKind(kind);
    const bool v10 = protocolVersion_ == TIdHTTPProtocolVersion::pv1_0;
    switch (kind) {
    case TIdConnectionKind::ckDirect:
        if (v10 && request.Connection().empty()) request.SetConnection("keep-alive");
        break;
    case TIdConnectionKind::ckProxy:
        request.SetRequestTarget(currentURI_->URLText());
        if (v10 && request.Connection().empty()) request.SetProxyConnection("keep-alive");
        break;
    case TIdConnectionKind::ckSecure:
    case TIdConnectionKind::ckSecureProxy:
        // Not reached: without a secure IO handler the choice has raised.
        request.SetConnection("");
        throw EIdIOHandlerPropInvalid();
    }
    EnsureConnected(response);
    protocol_->WriteRequest(currentURI_.get());
    if (CarriesBody(request.RequestMethod()) && request.BodyStream()) SendStream(*request.BodyStream(), true, false, 0);
}

void TIdCustomHTTP::EnsureConnected(TIdHTTPResponse& response) {
    if (!ConnectionReusable(response, false)) CloseConnection();
    CheckPeerClosed(false);
    if (!IsConnected()) OpenConnection(ReadTimeout());
}

void TIdCustomHTTP::ReadResponseBody(TIdHTTPResponse& response) {
    TStream* stream = response.ContentStream();
    if (!stream) return;
    switch (response.BodyFraming()) {
    case TIdBodyFraming::bfLength: {
        const int64_t length = response.BodyLength();
        if (length <= 0) return;
        try {
            if (ReadToStream(*stream, length, false) < length) response.SetBodyCut(true);
        } catch (const EIdConnClosedGracefully&) {
            // A body cut short by the close keeps every byte that came.
            response.SetBodyCut(true);
        }
        return;
    }
    case TIdBodyFraming::bfChunked: ReadChunkedBody(response, *stream); return;
    case TIdBodyFraming::bfUntilClosed: ReadToStream(*stream, -1, true); return;
    case TIdBodyFraming::bfInvalid: throw EIdHTTPFramingError(response.StatusCode(), response.FramingFault());
    }
}

void TIdCustomHTTP::ReadChunkedBody(TIdHTTPResponse& response, TStream& stream) {
    ReportStatus(TIdStatus::hsStatusText, {"Chunk Started"});
    for (;;) {
        const int64_t size = ReadChunkSize(response);
        if (size == 0) break;
        try {
            // The chunk's line end and the next size line come with its data.
            if (ReadToStream(stream, size, false, true) < size) throw EIdConnClosedGracefully();
        } catch (const EIdConnClosedGracefully&) {
            response.SetBodyCut(true);
            throw;
        }
        // The chunk data ends with a line end of its own; anything else means
        // the size did not frame the data.
        if (!ReadFramingLine(response).empty())
            throw EIdHTTPFramingError(response.StatusCode(), "Chunk data not followed by a line end.");
    }
    ReadTrailerSection(response);
}

AnsiString TIdCustomHTTP::ReadFramingLine(TIdHTTPResponse& response) {
    try {
        AnsiString line = ReadLine();
        // An unfinished line that the close ended comes back empty.
        if (LineTimedOut()) throw EIdConnClosedGracefully();
        return line;
    } catch (const EIdConnClosedGracefully&) {
        response.SetBodyCut(true);
        throw;
    }
}

int64_t TIdCustomHTTP::ReadChunkSize(TIdHTTPResponse& response) {
    const AnsiString line = ReadFramingLine(response);
    int64_t size = 0;
    size_t i = 0;
    for (; i < line.size(); ++i) {
        const int digit = HexDigit(line[i]);
        if (digit < 0) break;
        if (size > (INT64_MAX - digit) / 16) throw EIdHTTPFramingError(response.StatusCode(), "Invalid chunk size.");
        size = size * 16 + digit;
    }
    const bool ends = i == line.size() || line[i] == ';' || line[i] == ' ' || line[i] == '\t';
    if (i == 0 || !ends) throw EIdHTTPFramingError(response.StatusCode(), "Invalid chunk size.");
    return size;
}

void TIdCustomHTTP::ReadTrailerSection(TIdHTTPResponse& response) {
    // Its lines are passed over; they count against the same limit as a head.
    size_t bytes = 0;
    const int32_t readTimeout = ReadTimeout();
    for (bool first = true;; first = false) {
        AnsiString line;
        try {
            if (first) {
                line = ReadFramingLine(response);
            } else {
                // The body is whole: a server that stops within the trailer
                // section holds the fetch only for a bounded wait.
                ReadTimeoutScope timeout(*this,
                                         readTimeout > 0 ? std::min(readTimeout, kFollowUpWaitMs) : kFollowUpWaitMs);
                line = ReadFramingLine(response);
            }
        } catch (const EIdConnClosedGracefully&) {
            // Without the line after the last chunk the body's end is in
            // doubt; after a trailer line the body is whole and the fetch
            // goes on with it, marked cut.
            if (first) throw;
            return;
        } catch (const EIdReadTimeout&) {
            if (first) throw;
            response.MarkFramingDoubtful();
            return;
        } catch (const EIdReadLnMaxLineLengthExceeded&) {
            throw EIdHTTPFramingError(response.StatusCode(), "Trailer section too large.");
        }
        if (line.empty()) return;
        bytes += line.size() + 2;
        if (bytes > MaxHeaderBlockSize) throw EIdHTTPFramingError(response.StatusCode(), "Trailer section too large.");
    }
}

void TIdCustomHTTP::StoreResponseCookies(TIdHTTPRequest& /*request*/, TIdHTTPResponse& response) {
    if (!cookieManager_ && allowCookies_) {
        cookieManager_ = new TIdCookieManager(this);  // owned as a component
        ownsCookieManager_ = true;
    }
    if (!cookieManager_) return;
    TStringList cookies, cookies2;
    response.HeaderLines().CollectValues("Set-cookie", &cookies);
    response.HeaderLines().CollectValues("Set-cookie2", &cookies2);
    const AnsiString host = currentURI_->Host();
    for (int i = 0; i < cookies.Count(); ++i)
        cookieManager_->AddCookie(std::make_unique<TIdCookieRFC2109>(cookies[i]), host);
    for (int i = 0; i < cookies2.Count(); ++i)
        cookieManager_->AddCookie(std::make_unique<TIdCookieRFC2965>(cookies2[i]), host);
}

void TIdCustomHTTP::AttachCookies(TIdURI& url, TIdHTTPRequest& request) {
    if (!cookieManager_) return;
    const AnsiString cookies = cookieManager_->GenerateCookieList(url);
    if (!cookies.empty()) request.HeaderLines().SetHeaderValue("Cookie", cookies);
}

namespace {

// The first challenge whose scheme is registered, or none.
TIdAuthenticationClass ChooseScheme(TIdHeaderList& challenges) {
    for (int i = 0; i < challenges.Count(); ++i) {
        AnsiString challenge = challenges[i];
        if (TIdAuthenticationClass scheme = FindAuthClass(CutToken(challenge, " "))) return scheme;
    }
    return nullptr;
}

// The authentication object for a challenge list: the first scheme in it
// that the client knows, which the select handler may change or clear;
// null when no scheme is left.
std::unique_ptr<TIdAuthentication> SelectAuthentication(TComponent* sender, TIdHeaderList& challenges,
                                                        const TIdOnSelectAuthorization& onSelect) {
    TIdAuthenticationClass scheme = ChooseScheme(challenges);
    if (scheme && onSelect) onSelect(sender, scheme, challenges);
    return scheme ? scheme() : nullptr;
}

// Runs the authorization handler on `auth`, which carries the holder's
// credentials; when the handler accepts, `accept` hands them back to the
// holder. The handler's answer.
template <class Accept>
bool Authorize(TComponent* sender, const TIdOnAuthorization& onAuthorization, TIdAuthentication& auth, Accept accept) {
    bool handled = true;
    onAuthorization(sender, &auth, handled);
    if (handled) accept();
    return handled;
}

}  // namespace

bool TIdCustomHTTP::NegotiateAuthorization(TIdHTTPRequest& request, TIdHTTPResponse& response) {
    ++authRetryCount_;
    if (!request.Authenticator()) {
        auto auth = SelectAuthentication(this, response.WWWAuthenticate(), OnSelectAuthorization);
        if (!auth) return false;
        request.SetAuthenticator(std::move(auth));
    }
    if (!OnAuthorization) return false;
    TIdAuthentication& auth = *request.Authenticator();
    auth.SetUsername(request.Username());
    auth.SetPassword(request.Password());
    return Authorize(this, OnAuthorization, auth, [&] {
        request.SetUsername(auth.Username());
        request.SetPassword(auth.Password());
    });
}

bool TIdCustomHTTP::NegotiateProxyAuthorization(TIdHTTPRequest& /*request*/, TIdHTTPResponse& response) {
    ++proxyAuthRetryCount_;
    TIdProxyConnectionInfo& proxy = *proxyParams_;
    if (!proxy.Authentication()) {
        auto auth = SelectAuthentication(this, response.ProxyAuthenticate(), OnSelectProxyAuthorization);
        if (!auth) return false;
        proxy.SetAuthentication(std::move(auth));
    }
    proxy.SetProxyPassword("");
    proxy.Authentication()->Reset();
    if (!OnProxyAuthorization) return false;
    TIdAuthentication& auth = *proxy.Authentication();
    auth.SetUsername(proxy.ProxyUsername());
    return Authorize(this, OnProxyAuthorization, auth, [&] {
        proxy.SetProxyUsername(auth.Username());
        proxy.SetProxyPassword(auth.Password());
    });
}

bool TIdCustomHTTP::NotifyRedirect(AnsiString& location, TIdHTTPMethod& method, int32_t redirectCount) {
    bool handled = handleRedirects_;
    if (OnRedirect) {
        int32_t numRedirect = redirectCount;  // a change by the handler has no effect
        OnRedirect(this, location, numRedirect, handled, method);
    }
    return handled;
}

void TIdCustomHTTP::NotifyDisconnected() {
    TIdTCPClient::NotifyDisconnected();
    if (!protocol_) return;
    TIdHTTPRequest& request = *Request();
    if (TIdAuthentication* auth = request.Authenticator()) {
        if (auth->CurrentStep() >= auth->Steps()) {
            if (authenticationManager_ && currentURI_) authenticationManager_->AddAuthentication(*auth, *currentURI_);
            request.SetAuthenticator(nullptr);
        }
    }
    if (proxyParams_ && proxyParams_->Authentication()) proxyParams_->Authentication()->Reset();
}
