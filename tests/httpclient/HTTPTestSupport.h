// Shared helpers of the client tests: one fetch's outcome as plain values,
// the expected request head, and the URL of a scripted server.
#pragma once

#include <chrono>
#include <string>

#include "IdHTTP.h"
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

// The head a default client sends for GET `target` to `hostLine`.
inline std::string DefaultHead(const std::string& hostLine, const std::string& target = "/kestrin") {
    return "GET " + target +
           " HTTP/1.1\r\n"
           "Content-Type: text/html\r\n"
           "Host: " +
           hostLine +
           "\r\n"
           "Accept: text/html, */*\r\n"
           "User-Agent: Mozilla/3.0 (compatible; HTTP Library)\r\n"
           "\r\n";
}

inline std::string HostOf(const ScriptedServer& server) { return "127.0.0.1:" + std::to_string(server.Port()); }
