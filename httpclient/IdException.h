// The HTTP client's error classes, one per kind, with base and message.
// Every chain ends in EIdException -> Exception.
#pragma once

#include <cstdint>

#include "../runtime/SysUtils.h"

KESTRIN_ERROR_CLASS(EIdException, Exception, "Undefined situation");
KESTRIN_ERROR_CLASS(EIdSilentException, EIdException, "");
KESTRIN_ERROR_CLASS(EIdConnClosedGracefully, EIdSilentException, "Connection Closed Gracefully.");
KESTRIN_ERROR_CLASS(EIdClosedSocket, EIdException, "Disconnected.");
KESTRIN_ERROR_CLASS(EIdInvalidSocket, EIdException, "Cannot allocate socket.");
KESTRIN_ERROR_CLASS(EIdAlreadyConnected, EIdException, "Already connected.");
KESTRIN_ERROR_CLASS(EIdConnectTimeout, EIdException, "Connect timed out.");
KESTRIN_ERROR_CLASS(EIdConnectException, EIdException, "");
KESTRIN_ERROR_CLASS(EIdReadTimeout, EIdException, "Read Timeout");
KESTRIN_ERROR_CLASS(EIdReadLnMaxLineLengthExceeded, EIdException, "Max line length exceeded.");
// An answer's head (status line and header lines, with interim answers) grew
// past the client's limit; the connection is closed.
KESTRIN_ERROR_CLASS(EIdHTTPHeaderBlockTooLarge, EIdException, "Header block too large.");
KESTRIN_ERROR_CLASS(EIdFailedToRetreiveTimeZoneInfo, EIdException,
                    "Failed attempting to retrieve time zone information.");
KESTRIN_ERROR_CLASS(EIdURIException, EIdException, "");
KESTRIN_ERROR_CLASS(EIdUnknownProtocol, EIdException, "");
KESTRIN_ERROR_CLASS(EIdInvalidServiceName, EIdException, "");
KESTRIN_ERROR_CLASS(EIdAlreadyRegisteredAuthenticationMethod, EIdException, "");

KESTRIN_ERROR_CLASS(EIdSocketHandleError, EIdException, "");
KESTRIN_ERROR_CLASS(EIdCouldNotBindSocket, EIdSocketHandleError,
                    "Could not bind socket. Address and port are already in use.");
KESTRIN_ERROR_CLASS(EIdCanNotBindPortInRange, EIdSocketHandleError, "");
KESTRIN_ERROR_CLASS(EIdInvalidPortRange, EIdSocketHandleError, "");

KESTRIN_ERROR_CLASS(EIdTCPConnectionError, EIdException, "");
KESTRIN_ERROR_CLASS(EIdNotConnected, EIdTCPConnectionError, "Not Connected");
KESTRIN_ERROR_CLASS(EIdIOHandlerPropInvalid, EIdTCPConnectionError, "IOHandler value is not valid");
KESTRIN_ERROR_CLASS(EIdNoDataToRead, EIdTCPConnectionError, "No data to read.");
KESTRIN_ERROR_CLASS(EIdNotEnoughDataInBuffer, EIdTCPConnectionError, "Not enough data in buffer.");
KESTRIN_ERROR_CLASS(EIdFileNotFound, EIdTCPConnectionError, "");

KESTRIN_ERROR_CLASS(EIdStackError, EIdException, "");
KESTRIN_ERROR_CLASS(EIdStackInitializationFailed, EIdStackError, "Winsock Initialization Error.");
KESTRIN_ERROR_CLASS(EIdStackSetSizeExceeded, EIdStackError, "Set Size Exceeded.");

// A failed platform socket call; the message is "Socket Error # %d\r\n%s".
class EIdSocketError : public EIdException {
public:
    EIdSocketError(AnsiString message, int32_t socketCode)
        : EIdException(std::move(message)), socketCode_(socketCode) {}
    int32_t SocketCode() const { return socketCode_; }
    const char* ClassName() const override { return "EIdSocketError"; }

private:
    int32_t socketCode_;
};

// The socket library could not be loaded, or a function of it was called
// while it was not loaded. Message: StubTitle, then ": " and SystemMessage
// when SystemCode is not 0.
class EIdWS2StubError : public EIdException {
public:
    EIdWS2StubError(AnsiString stubTitle, int32_t systemCode, AnsiString systemMessage)
        : EIdException(systemCode != 0 ? stubTitle + ": " + systemMessage : stubTitle),
          stubTitle_(std::move(stubTitle)),
          systemCode_(systemCode),
          systemMessage_(std::move(systemMessage)) {}
    const AnsiString& StubTitle() const { return stubTitle_; }
    int32_t SystemCode() const { return systemCode_; }
    const AnsiString& SystemMessage() const { return systemMessage_; }
    const char* ClassName() const override { return "EIdWS2StubError"; }

private:
    AnsiString stubTitle_;
    int32_t systemCode_;
    AnsiString systemMessage_;
};

// An answer that carries a reply code.
class EIdProtocolReplyError : public EIdException {
public:
    EIdProtocolReplyError(int32_t replyCode, AnsiString message)
        : EIdException(std::move(message)), replyCode_(replyCode) {}
    int32_t ReplyCode() const { return replyCode_; }
    const char* ClassName() const override { return "EIdProtocolReplyError"; }

private:
    int32_t replyCode_;
};

// The server answered and the answer is an error: the message is the status
// line as received, ErrorBody the error answer's body as far as it was read.
class EIdHTTPProtocolException : public EIdProtocolReplyError {
public:
    EIdHTTPProtocolException(int32_t replyCode, AnsiString statusLine, AnsiString errorBody)
        : EIdProtocolReplyError(replyCode, std::move(statusLine)), errorBody_(std::move(errorBody)) {}
    const AnsiString& ErrorBody() const { return errorBody_; }
    const char* ClassName() const override { return "EIdHTTPProtocolException"; }

private:
    AnsiString errorBody_;
};

// The server answered with a status line, but where its answer ends cannot be
// told: a Content-Length that is not decimal digits or whose values differ, a
// chunk-size line that is not hexadecimal, chunk data not followed by its line
// end, a trailer section past the head's limit. ReplyCode is the answer's
// status code. The connection is closed: bytes after the fault could belong to
// this answer or the next one.
class EIdHTTPFramingError : public EIdProtocolReplyError {
public:
    EIdHTTPFramingError(int32_t replyCode, AnsiString message) : EIdProtocolReplyError(replyCode, std::move(message)) {}
    const char* ClassName() const override { return "EIdHTTPFramingError"; }
};
