// TIdHTTP: the blocking HTTP/1.1 client component. One fetch
// (GetDocument / GetDocumentToStream) runs the exchange loop on the
// caller's thread: it sets up and sends the request, reads and classifies
// the answer, and returns the body or raises.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "IdAuthentication.h"
#include "IdCookieManager.h"
#include "IdHTTPHeaderInfo.h"
#include "IdSet.h"
#include "IdTCPClient.h"
#include "IdURI.h"

enum class TIdHTTPOption : uint8_t { hoInProcessAuth, hoKeepOrigProtocol, hoForceEncodeParams };
using TIdHTTPOptions = TIdSet<TIdHTTPOption>;
enum class TIdNextStep { nsRepeatRequest, nsDone, nsUndetermined, nsAuthRetry };

using TIdHTTPOnRedirectEvent = std::function<void(TComponent* sender, AnsiString& dest, int32_t& numRedirect,
                                                  bool& handled, TIdHTTPMethod& method)>;
using TIdOnSelectAuthorization =
    std::function<void(TComponent* sender, TIdAuthenticationClass& authenticationClass, TIdHeaderList& authInfo)>;
using TIdOnAuthorization = std::function<void(TComponent* sender, TIdAuthentication* authentication, bool& handled)>;

// Proxy settings. An empty ProxyServer means no proxy.
class TIdProxyConnectionInfo : public TPersistent {
public:
    TIdProxyConnectionInfo() = default;
    const char* ClassName() const override { return "TIdProxyConnectionInfo"; }

    // Empties server, user name and password and sets the port to 0;
    // BasicAuthentication and the authentication object stay.
    void Clear();
    // Adds "Proxy-Authorization" from the authentication object, or from a
    // basic one made of the proxy credentials when BasicAuthentication is set.
    void AddProxyAuthorization(TIdHeaderList& headers);

    TIdAuthentication* Authentication() const { return authentication_.get(); }
    void SetAuthentication(std::unique_ptr<TIdAuthentication> v) { authentication_ = std::move(v); }
    const AnsiString& ProxyPassword() const { return proxyPassword_; }
    void SetProxyPassword(const AnsiString& v) { proxyPassword_ = v; }
    // A different port, or a server that differs other than in letter case,
    // frees the authentication object.
    int32_t ProxyPort() const { return proxyPort_; }
    void SetProxyPort(int32_t v);
    const AnsiString& ProxyServer() const { return proxyServer_; }
    void SetProxyServer(const AnsiString& v);
    const AnsiString& ProxyUsername() const { return proxyUsername_; }
    void SetProxyUsername(const AnsiString& v) { proxyUsername_ = v; }
    bool BasicAuthentication() const { return basicAuthentication_; }
    void SetBasicAuthentication(bool v) { basicAuthentication_ = v; }

private:
    std::unique_ptr<TIdAuthentication> authentication_;
    AnsiString proxyPassword_;
    int32_t proxyPort_ = 0;
    AnsiString proxyServer_;
    AnsiString proxyUsername_;
    bool basicAuthentication_ = false;
};

// The exchange object: the client's one request and one response, the
// steps that write a request head and read an answer's head, and the
// decision what an answer means for the fetch. It works on the client's
// connection and reads the client's settings and counters through the
// client's public operations.
class TIdHTTPProtocol {
public:
    explicit TIdHTTPProtocol(TIdCustomHTTP* client);
    TIdHTTPProtocol(const TIdHTTPProtocol&) = delete;
    TIdHTTPProtocol& operator=(const TIdHTTPProtocol&) = delete;

    TIdHTTPRequest* Request() const { return request_.get(); }
    TIdHTTPResponse* Response() const { return response_.get(); }

    // Composes the request line and head and sends them in one write; with a
    // URL object the matching cookies are attached.
    void WriteRequest(TIdURI* url);
    // Reads the head of the answer to the request just sent (status line,
    // header block, cookies stored), passing over interim answers (1xx but
    // 101). The head limit counts from here, over every interim answer. A
    // final answer that does not follow an interim answer other than 100
    // within a bounded wait, or that the close cuts off, makes the interim
    // answer the server's answer: EIdHTTPProtocolException with its code.
    void ReadAnswerHead();
    // Reads the header lines after the status line up to the empty line and
    // fills the response fields.
    void ReadHeaderBlock();
    // Classifies the latest answer by its code and Location: a redirect, a
    // success, an authorization challenge or an error. Reads the body into
    // the caller's stream or discards it; raises the protocol error for an
    // answer that ends the fetch with an error.
    TIdNextStep DecideNextStep();

private:
    // Reads one line of the head. Raises EIdHTTPHeaderBlockTooLarge once the
    // head has grown past TIdCustomHTTP::MaxHeaderBlockSize.
    AnsiString ReadHeadLine();
    // The status line of the answer after an interim one (see ReadAnswerHead).
    AnsiString ReadStatusLineAfterInterim();
    // The next step after a redirect answer (3xx but 304, or any answer with
    // a Location): repeat at the new location, or end with this answer.
    TIdNextStep RedirectStep();
    // For an answer outside 2xx: a 401 or 407 whose negotiation gives
    // credentials goes on (true when the retry is to come within this fetch,
    // under hoInProcessAuth); every other answer raises the protocol error.
    bool NegotiateOrRaise(int32_t code);
    // Reads the error body (under a 2000 ms read time-out) and raises
    // EIdHTTPProtocolException with it.
    [[noreturn]] void RaiseProtocolError();
    // Reads and discards a body.
    void DrainBody();
    // Discards a body under a 4000 ms read time-out; an error on the way only
    // makes the answer's end doubtful.
    void DrainQuietly();

    TIdCustomHTTP* client_;
    std::unique_ptr<TIdHTTPRequest> request_;
    std::unique_ptr<TIdHTTPResponse> response_;
    size_t headBytes_ = 0;
};

class TIdCustomHTTP : public TIdTCPClient {
public:
    explicit TIdCustomHTTP(TComponent* owner);
    ~TIdCustomHTTP() override;
    const char* ClassName() const override { return "TIdCustomHTTP"; }

    // Limit in bytes on the head of one answer (line ends counted). 1 MiB is
    // four times what common browsers accept and three times curl's limit,
    // so no real server comes near it, while a hostile one cannot make the
    // client hold more than a few MB for a head.
    static constexpr size_t MaxHeaderBlockSize = size_t{1} << 20;

    // GET the URL and return the final answer's body, byte for byte. The
    // bytes read before an error are kept until the error goes on. Every
    // failure is an Exception; exhausted memory is EOutOfMemory.
    AnsiString GetDocument(const AnsiString& url);
    // GET the URL and write the body into content from its position on.
    void GetDocumentToStream(const AnsiString& url, TStream& content);

    // Published properties.
    int32_t AuthRetries() const { return authRetries_; }
    void SetAuthRetries(int32_t v) { authRetries_ = v; }
    bool AllowCookies() const { return allowCookies_; }
    void SetAllowCookies(bool v) { allowCookies_ = v; }
    bool HandleRedirects() const { return handleRedirects_; }
    void SetHandleRedirects(bool v) { handleRedirects_ = v; }
    TIdHTTPProtocolVersion ProtocolVersion() const { return protocolVersion_; }
    void SetProtocolVersion(TIdHTTPProtocolVersion v) { protocolVersion_ = v; }
    int32_t RedirectMaximum() const { return redirectMaximum_; }
    void SetRedirectMaximum(int32_t v) { redirectMaximum_ = v; }
    TIdHTTPOptions HTTPOptions() const { return httpOptions_; }
    void SetHTTPOptions(TIdHTTPOptions v) { httpOptions_ = v; }
    TIdProxyConnectionInfo* ProxyParams() const { return proxyParams_.get(); }
    TIdHTTPRequest* Request() const { return protocol_->Request(); }
    // Copies Accept, AcceptCharSet, AcceptEncoding, AcceptLanguage, From,
    // Password, Referer, UserAgent, Username and BasicAuthentication only.
    void SetRequest(const TIdHTTPRequest& source);
    TIdCookieManager* CookieManager() const { return cookieManager_; }
    // Frees a manager the client made itself; the new one stays the
    // caller's, and the client forgets it when it is destroyed.
    void SetCookieManager(TIdCookieManager* manager);
    TIdAuthenticationManager* AuthenticationManager() const { return authenticationManager_; }
    void SetAuthenticationManager(TIdAuthenticationManager* manager);
    // Upper bound in ms on one whole fetch (0 = none). A wait for data that
    // reaches it ends the fetch with EIdReadTimeout; a connect that has not
    // completed by then ends it with EIdConnectTimeout (a refused connect
    // still fails at once with EIdSocketError).
    int32_t FetchTimeout() const { return fetchTimeout_; }
    void SetFetchTimeout(int32_t v) { fetchTimeout_ = v; }

    TIdHTTPOnRedirectEvent OnRedirect;
    TIdOnSelectAuthorization OnSelectAuthorization;
    TIdOnSelectAuthorization OnSelectProxyAuthorization;
    TIdOnAuthorization OnAuthorization;
    TIdOnAuthorization OnProxyAuthorization;

    // The latest answer.
    TIdHTTPResponse* Response() const { return protocol_->Response(); }
    int32_t ResponseCode() const { return protocol_->Response()->StatusCode(); }
    const AnsiString& ResponseText() const { return protocol_->Response()->StatusLine(); }
    TIdHTTPProtocol* HTTPProtocol() const { return protocol_.get(); }

    // State of the current fetch.
    TIdURI& CurrentURI() { return *currentURI_; }
    bool OwnsCookieManager() const { return ownsCookieManager_; }
    int32_t AuthRetryCount() const { return authRetryCount_; }
    int32_t ProxyAuthRetryCount() const { return proxyAuthRetryCount_; }
    int32_t RedirectCount() const { return redirectCount_; }

    // The Host and Port setters also write CurrentURI's host and port text.
    void SetHost(const AnsiString& host) override;
    void SetPort(int32_t port) override;

    // The exchange loop of one fetch: passes of "send the request, read the
    // answer head, decide and apply the next step" until an answer ends it.
    virtual void RunExchange(TIdHTTPMethod method, const AnsiString& url, TStream* source, TStream* content);
    virtual bool NegotiateAuthorization(TIdHTTPRequest& request, TIdHTTPResponse& response);
    virtual bool NegotiateProxyAuthorization(TIdHTTPRequest& request, TIdHTTPResponse& response);
    virtual bool NotifyRedirect(AnsiString& location, TIdHTTPMethod& method, int32_t redirectCount);
    void NotifyDisconnected() override;

    // Merges the request's target into CurrentURI and fills the request's
    // target, Host and length for the next pass; connects to nothing.
    void SetUpRequest(TIdHTTPRequest& request);

    // What the exchange object uses of the client while it writes a request
    // and reads an answer.

    // Reads one body by the response's framing into its ContentStream
    // (nothing without one). Raises EIdHTTPFramingError for an invalid
    // framing; a close inside a chunked body raises EIdConnClosedGracefully,
    // while a body by length that the close cuts short keeps what came and
    // returns; both mark the response BodyCut.
    void ReadResponseBody(TIdHTTPResponse& response);
    void StoreResponseCookies(TIdHTTPRequest& request, TIdHTTPResponse& response);
    void AttachCookies(TIdURI& url, TIdHTTPRequest& request);

protected:
    void Notification(TComponent* component, TOperation operation) override;

    // Sending one pass's request: choose how the server is reached, connect
    // or reuse the connection, write the head and the body.
    void OpenAndSendRequest(TIdHTTPRequest& request, TIdHTTPResponse& response);
    TIdConnectionKind ChooseConnectionKind();
    void EnsureConnected(TIdHTTPResponse& response);
    // One chunk-size line: hexadecimal digits (up to 2^63-1), optionally
    // followed by a blank or ";" and whatever comes after it (extensions are
    // passed over). Anything else raises EIdHTTPFramingError.
    int64_t ReadChunkSize(TIdHTTPResponse& response);

private:
    // Whether the connection may carry the next request after the latest
    // answer: it is still open (a close seen by an earlier read counts) and
    // the answer lets it stay. At the end of an answer, bytes still buffered
    // past it rule it out too: they would be read as the next answer.
    bool ConnectionReusable(TIdHTTPResponse& response, bool answerEnded);
    // Closes the connection after an answer unless it can carry the next one.
    void EndAnswer(TIdHTTPResponse& response);
    // Acts on the next step of a pass; false when the fetch is done.
    bool ApplyNextStep(TIdNextStep step, const AnsiString& url, TStream* content, int64_t contentStart);
    // After a failure without a usable answer: closes the connection, so no
    // rest of a cut answer is read as the next one, and raises the failure
    // again, exhausted memory as EOutOfMemory.
    [[noreturn]] void AbandonFetch();

    void ReadChunkedBody(TIdHTTPResponse& response, TStream& stream);
    // The trailer section after the last chunk, up to its empty line.
    void ReadTrailerSection(TIdHTTPResponse& response);
    // A line of the chunked framing; a close before its end raises
    // EIdConnClosedGracefully and marks the body cut.
    AnsiString ReadFramingLine(TIdHTTPResponse& response);

    std::unique_ptr<TIdURI> currentURI_;
    TIdCookieManager* cookieManager_ = nullptr;
    bool ownsCookieManager_ = false;
    int32_t authRetryCount_ = 0;
    int32_t proxyAuthRetryCount_ = 0;
    int32_t authRetries_ = 3;
    bool allowCookies_ = true;
    TIdAuthenticationManager* authenticationManager_ = nullptr;
    TIdHTTPProtocolVersion protocolVersion_ = TIdHTTPProtocolVersion::pv1_1;
    int32_t redirectCount_ = 0;
    int32_t redirectMaximum_ = 15;
    bool handleRedirects_ = false;
    TIdHTTPOptions httpOptions_{TIdHTTPOption::hoForceEncodeParams};
    std::unique_ptr<TIdHTTPProtocol> protocol_;
    std::unique_ptr<TIdProxyConnectionInfo> proxyParams_;
    int32_t fetchTimeout_ = 0;
};

// Publishes the properties of TIdCustomHTTP; nothing of its own.
class TIdHTTP : public TIdCustomHTTP {
public:
    explicit TIdHTTP(TComponent* owner) : TIdCustomHTTP(owner) {}
    const char* ClassName() const override { return "TIdHTTP"; }
};
