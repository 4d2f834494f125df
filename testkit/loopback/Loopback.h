// Blocking TCP sockets on 127.0.0.1 for the programs that stand in for the
// outside world: the scripted test server, the demo server and the window
// probe. One implementation per platform (Loopback_posix.cpp,
// Loopback_win32.cpp); the product's client never uses this library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace loopback {

using Socket = intptr_t;
constexpr Socket kNoSocket = -1;

// Starts the platform's socket library once per process (later calls give
// the first result). Listen and StartConnect call it themselves.
bool Startup();
// The platform's code of the last failed call (errno, or the WinSock code).
int LastError();
// A code of LastError() as text for a message: the system's words where
// the platform has them, else "error <code>".
std::string ErrorText(int code);

// A listening socket on 127.0.0.1:port (0: an ephemeral port); kNoSocket
// with LastError() set when the port is taken or the stack refuses. A port
// held by a live listener is never shared.
Socket Listen(uint16_t port, int backlog = 16);
// A socket bound to 127.0.0.1:port (0: an ephemeral port) that does not
// listen yet: connects to the port are refused while it stays so. kNoSocket
// with LastError() set on failure.
Socket Bind(uint16_t port);
// Starts listening on a socket from Bind; false with LastError() set.
bool StartListening(Socket socket, int backlog = 16);
// The local port of a bound socket; 0 when it cannot be read.
uint16_t LocalPort(Socket socket);
// A non-blocking connect to 127.0.0.1:port that is left pending; kNoSocket
// on failure.
Socket StartConnect(uint16_t port);
Socket Accept(Socket listener);

// > 0: bytes read; 0: the peer closed; -1: failure (a reset included).
int Recv(Socket socket, char* buffer, int length);
// Bytes accepted, -1 on failure; never raises a signal.
int Send(Socket socket, const char* buffer, int length);
// Sends everything; false when the connection fails first.
bool SendAll(Socket socket, const std::string& data);
// Shuts down the sending direction; the socket can still receive.
void ShutdownSend(Socket socket);
void Close(Socket socket);
// Closes with a reset (RST) instead of the orderly close (linger on, time 0).
void Reset(Socket socket);

// Waits up to ms for any of the sockets to become readable (data, close,
// reset or a pending error); fills ready in the same order. False on a
// failure of the wait itself; an interrupted wait is true with none ready.
bool WaitReadable(const std::vector<Socket>& sockets, int ms, std::vector<bool>& ready);
bool WaitReadable(Socket socket, int ms);

}  // namespace loopback

// Text in double quotes for a one-line log or report: '"' and '\' get a
// backslash, control characters and DEL become \xNN; other bytes stay.
std::string Quote(const std::string& text);
