// The header-field objects of a request and a response: the entity fields
// shared by both, the request fields, the response fields, and the request
// and response objects of one client.
#pragma once

#include <cstdint>
#include <memory>

#include "../runtime/Classes.h"
#include "IdAuthentication.h"
#include "IdDateTime.h"
#include "IdHeaderList.h"

class TIdCustomHTTP;

enum class TIdHTTPMethod : uint8_t { hmHead, hmGet, hmPost, hmOptions, hmTrace, hmPut, hmDelete, hmConnect };
enum class TIdHTTPProtocolVersion : uint8_t { pv1_0, pv1_1 };
enum class TIdConnectionKind : uint8_t { ckDirect, ckSecure, ckProxy, ckSecureProxy };
// How an answer's body is delimited: by its Content-Length, by chunked
// coding, by the server's close, or not at all soundly (bfInvalid).
enum class TIdBodyFraming : uint8_t { bfLength, bfChunked, bfUntilClosed, bfInvalid };

class TIdEntityHeaderInfo : public TPersistent {
public:
    TIdEntityHeaderInfo();
    const char* ClassName() const override { return "TIdEntityHeaderInfo"; }

    // Fills the fields from HeaderLines (the response side).
    virtual void ParseHeaderLines();
    // Empties HeaderLines and composes the lines of the set fields.
    virtual void BuildHeaderLines();
    virtual void ResetFields();

    TIdHeaderList& HeaderLines() { return headerLines_; }
    const TIdHeaderList& HeaderLines() const { return headerLines_; }
    TIdHeaderList& CustomHeaders() { return customHeaders_; }
    const TIdHeaderList& CustomHeaders() const { return customHeaders_; }

    const AnsiString& CacheControl() const { return cacheControl_; }
    void SetCacheControl(const AnsiString& v) { cacheControl_ = v; }
    const AnsiString& Connection() const { return connection_; }
    void SetConnection(const AnsiString& v) { connection_ = v; }
    const AnsiString& ContentEncoding() const { return contentEncoding_; }
    void SetContentEncoding(const AnsiString& v) { contentEncoding_ = v; }
    const AnsiString& ContentLanguage() const { return contentLanguage_; }
    void SetContentLanguage(const AnsiString& v) { contentLanguage_ = v; }
    // Sets HasContentLength too: true for 0 or more.
    int64_t ContentLength() const { return contentLength_; }
    void SetContentLength(int64_t v) {
        contentLength_ = v;
        hasContentLength_ = v >= 0;
    }
    bool HasContentLength() const { return hasContentLength_; }
    uint32_t ContentRangeStart() const { return contentRangeStart_; }
    void SetContentRangeStart(uint32_t v) { contentRangeStart_ = v; }
    uint32_t ContentRangeEnd() const { return contentRangeEnd_; }
    void SetContentRangeEnd(uint32_t v) { contentRangeEnd_ = v; }
    const AnsiString& ContentType() const { return contentType_; }
    void SetContentType(const AnsiString& v) { contentType_ = v; }
    const AnsiString& ContentVersion() const { return contentVersion_; }
    void SetContentVersion(const AnsiString& v) { contentVersion_ = v; }
    TDateTime Date() const { return date_; }
    void SetDate(TDateTime v) { date_ = v; }
    TDateTime Expires() const { return expires_; }
    void SetExpires(TDateTime v) { expires_ = v; }
    TDateTime LastModified() const { return lastModified_; }
    void SetLastModified(TDateTime v) { lastModified_ = v; }
    const AnsiString& Pragma() const { return pragma_; }
    void SetPragma(const AnsiString& v) { pragma_ = v; }

private:
    void ResetEntityFields();

    TIdHeaderList headerLines_;
    TIdHeaderList customHeaders_;
    AnsiString cacheControl_;
    AnsiString connection_;
    AnsiString contentEncoding_;
    AnsiString contentLanguage_;
    int64_t contentLength_ = -1;
    bool hasContentLength_ = false;
    uint32_t contentRangeStart_ = 0;
    uint32_t contentRangeEnd_ = 0;
    AnsiString contentType_;
    AnsiString contentVersion_;
    TDateTime date_ = 0;
    TDateTime expires_ = 0;
    TDateTime lastModified_ = 0;
    AnsiString pragma_;
};

class TIdRequestHeaderInfo : public TIdEntityHeaderInfo {
public:
    TIdRequestHeaderInfo();
    const char* ClassName() const override { return "TIdRequestHeaderInfo"; }

    void BuildHeaderLines() override;
    void ResetFields() override;

    const AnsiString& Accept() const { return accept_; }
    void SetAccept(const AnsiString& v) { accept_ = v; }
    const AnsiString& AcceptCharSet() const { return acceptCharSet_; }
    void SetAcceptCharSet(const AnsiString& v) { acceptCharSet_ = v; }
    const AnsiString& AcceptEncoding() const { return acceptEncoding_; }
    void SetAcceptEncoding(const AnsiString& v) { acceptEncoding_ = v; }
    const AnsiString& AcceptLanguage() const { return acceptLanguage_; }
    void SetAcceptLanguage(const AnsiString& v) { acceptLanguage_ = v; }
    const AnsiString& From() const { return from_; }
    void SetFrom(const AnsiString& v) { from_ = v; }
    const AnsiString& Referer() const { return referer_; }
    void SetReferer(const AnsiString& v) { referer_ = v; }
    const AnsiString& UserAgent() const { return userAgent_; }
    void SetUserAgent(const AnsiString& v) { userAgent_ = v; }
    const AnsiString& Host() const { return host_; }
    void SetHost(const AnsiString& v) { host_ = v; }
    const AnsiString& ProxyConnection() const { return proxyConnection_; }
    void SetProxyConnection(const AnsiString& v) { proxyConnection_ = v; }
    const AnsiString& Username() const { return username_; }
    void SetUsername(const AnsiString& v) { username_ = v; }
    const AnsiString& Password() const { return password_; }
    void SetPassword(const AnsiString& v) { password_ = v; }
    bool BasicAuthentication() const { return basicAuthentication_; }
    void SetBasicAuthentication(bool v) { basicAuthentication_ = v; }
    // Owned; none until a negotiation or BasicAuthentication attaches one.
    TIdAuthentication* Authenticator() const { return authenticator_.get(); }
    void SetAuthenticator(std::unique_ptr<TIdAuthentication> v) { authenticator_ = std::move(v); }

private:
    void ResetRequestFields();

    AnsiString accept_;
    AnsiString acceptCharSet_;
    AnsiString acceptEncoding_;
    AnsiString acceptLanguage_;
    AnsiString from_;
    AnsiString referer_;
    AnsiString userAgent_;
    AnsiString host_;
    AnsiString proxyConnection_;
    AnsiString username_;
    AnsiString password_;
    bool basicAuthentication_ = false;
    std::unique_ptr<TIdAuthentication> authenticator_;
};

class TIdResponseHeaderInfo : public TIdEntityHeaderInfo {
public:
    TIdResponseHeaderInfo();
    const char* ClassName() const override { return "TIdResponseHeaderInfo"; }

    void ParseHeaderLines() override;
    void ResetFields() override;

    const AnsiString& Location() const { return location_; }
    void SetLocation(const AnsiString& v) { location_ = v; }
    const AnsiString& Server() const { return server_; }
    void SetServer(const AnsiString& v) { server_ = v; }
    const AnsiString& ProxyConnection() const { return proxyConnection_; }
    void SetProxyConnection(const AnsiString& v) { proxyConnection_ = v; }
    TIdHeaderList& ProxyAuthenticate() { return proxyAuthenticate_; }
    TIdHeaderList& WWWAuthenticate() { return wwwAuthenticate_; }

private:
    AnsiString location_;
    AnsiString server_;
    AnsiString proxyConnection_;
    TIdHeaderList proxyAuthenticate_;
    TIdHeaderList wwwAuthenticate_;
};

class TIdHTTPRequest : public TIdRequestHeaderInfo {
public:
    explicit TIdHTTPRequest(TIdCustomHTTP* client);
    const char* ClassName() const override { return "TIdHTTPRequest"; }

    TIdCustomHTTP* Client() const { return client_; }
    TIdHTTPMethod RequestMethod() const { return method_; }
    void SetRequestMethod(TIdHTTPMethod v) { method_ = v; }
    const AnsiString& RequestTarget() const { return target_; }
    void SetRequestTarget(const AnsiString& v) { target_ = v; }
    // The request body, not owned; none for GET.
    TStream* BodyStream() const { return bodyStream_; }
    void SetBodyStream(TStream* v) { bodyStream_ = v; }
    TIdConnectionKind ConnectionKind() const { return connectionKind_; }
    void SetConnectionKind(TIdConnectionKind v) { connectionKind_ = v; }

private:
    TIdCustomHTTP* client_;
    TIdHTTPMethod method_ = TIdHTTPMethod::hmGet;
    AnsiString target_;
    TStream* bodyStream_ = nullptr;
    TIdConnectionKind connectionKind_ = TIdConnectionKind::ckDirect;
};

class TIdHTTPResponse : public TIdResponseHeaderInfo {
public:
    explicit TIdHTTPResponse(TIdCustomHTTP* client);
    const char* ClassName() const override { return "TIdHTTPResponse"; }

    TIdCustomHTTP* Client() const { return client_; }
    const AnsiString& StatusLine() const { return statusLine_; }
    void SetStatusLine(const AnsiString& v) { statusLine_ = v; }
    // The code parsed afresh from StatusLine: its second word as an integer,
    // -1 when it is none.
    int32_t StatusCode();
    // Whether the connection stays open after this answer, given whether it
    // is still open and the client's protocol version: under 1.1 unless a
    // Connection or Proxy-Connection value is "close", under 1.0 only when one
    // is "keep-alive" (any letter case, blanks around ignored). An answer
    // whose framing is doubtful (FramingDoubtful) never keeps it: bytes the
    // server meant as part of this answer could otherwise be read as the
    // next one.
    bool KeepConnection(bool connected, TIdHTTPProtocolVersion version);
    // Fills the fields from HeaderLines, and the framing below.
    void ParseHeaderLines() override;
    // The body's framing, from the latest header block: Transfer-Encoding
    // whose last coding is "chunked" (any letter case) wins; another
    // Transfer-Encoding means up to the close; else every Content-Length
    // value, decimal digits only, all equal; else up to the close.
    TIdBodyFraming BodyFraming() const { return framing_; }
    // The length for bfLength (up to 2^63-1), else -1.
    int64_t BodyLength() const { return bodyLength_; }
    // For bfInvalid: what is wrong, as the framing error's message.
    const AnsiString& FramingFault() const { return framingFault_; }
    // The answer cannot be trusted to end where its framing says: a
    // Content-Length beside Transfer-Encoding, a Transfer-Encoding that does
    // not end in chunked or comes in an HTTP/1.0 answer, an invalid framing,
    // or a body the close cut short.
    bool FramingDoubtful() const { return framingDoubtful_ || bodyCut_; }
    // The server closed the connection before the body (or the trailer
    // section after a chunked body) was whole. The bytes that came are in
    // the content stream, also when the fetch returned.
    bool BodyCut() const { return bodyCut_; }
    void SetBodyCut(bool v) { bodyCut_ = v; }
    // Where this answer ends is in doubt for another reason (an error while
    // its body was read or discarded, a final answer that never came after an
    // interim one): the connection is not reused.
    void MarkFramingDoubtful() { framingDoubtful_ = true; }
    // Where a body is written; borrowed, never freed here.
    TStream* ContentStream() const { return contentStream_; }
    void SetContentStream(TStream* v) { contentStream_ = v; }

private:
    TIdCustomHTTP* client_;
    AnsiString statusLine_;
    int32_t statusCode_ = -1;
    bool keepConnection_ = false;
    TStream* contentStream_ = nullptr;
    TIdBodyFraming framing_ = TIdBodyFraming::bfUntilClosed;
    int64_t bodyLength_ = -1;
    AnsiString framingFault_;
    bool framingDoubtful_ = false;
    bool bodyCut_ = false;
};

// The code in a status line: the second word as an integer, or -1.
int32_t StatusCodeOf(const AnsiString& statusLine);
