// Shared helpers of the client tests: one fetch's outcome as plain values,
// the URL of a scripted server or of a refused port; the expected request
// head comes from RequestHead.h.
#pragma once

#include <chrono>
#include <string>

#include "IdHTTP.h"
#include "RequestHead.h"
#include "ScriptedServer.h"

struct Outcome {
    std::string kind;  // "returned", or the error's class name
    std::string message;
    int32_t replyCode = 0;
    std::string body;  // the returned text, or ErrorBody
    int32_t socketCode = 0;
    int64_t elapsedMs = 0;
};

inline Outcome Fetch(TIdHTTP& http, const std::string& url) {
    Outcome o;
    const auto start = std::chrono::steady_clock::now();
    try {
        o.body = http.GetDocument(url);
        o.kind = "returned";
    } catch (const EIdHTTPProtocolException& e) {
        o.kind = e.ClassName();
        o.message = e.Message();
        o.replyCode = e.ReplyCode();
        o.body = e.ErrorBody();
    } catch (const EIdSocketError& e) {
        o.kind = e.ClassName();
        o.message = e.Message();
        o.socketCode = e.SocketCode();
    } catch (const Exception& e) {
        o.kind = e.ClassName();
        o.message = e.Message();
    }
    o.elapsedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    return o;
}

inline std::string UrlOf(const ScriptedServer& server, const std::string& path = "/kestrin") {
    return "http://127.0.0.1:" + std::to_string(server.Port()) + path;
}

// A URL on a port where nothing listens: connects to it are refused.
inline std::string UrlOf(const ReservedPort& refused, const std::string& path = "/kestrin") {
    return "http://127.0.0.1:" + std::to_string(refused.Port()) + path;
}

inline std::string HostOf(const ScriptedServer& server) { return "127.0.0.1:" + std::to_string(server.Port()); }
