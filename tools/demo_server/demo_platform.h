// The little the demo server needs from the operating system: clock, files,
// and blocking TCP sockets on 127.0.0.1 watched with select.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using SocketHandle = intptr_t;
constexpr SocketHandle kNoSocket = -1;

int64_t NowEpochMs();               // wall clock, ms since 1970-01-01 UTC
std::string LocalClockText(int64_t epochMs);  // "HH:MM:SS.mmm", local time
void SleepMs(int ms);
int ProcessId();
std::string ProgramDir();           // folder of the running program, with separator
// Appends text with one write, so that lines of several processes sharing
// the file do not interleave.
bool AppendToFile(const std::string& path, const std::string& text);
bool ReadWholeFile(const std::string& path, std::string& text);

bool NetStartup();
int NetLastError();
// A listening socket on 127.0.0.1:port; kNoSocket with NetLastError() set
// when the port is taken or the stack refuses.
SocketHandle ListenLoopback(uint16_t port);
SocketHandle AcceptConnection(SocketHandle listener);
// > 0: bytes read; 0: the peer closed; < 0: error (reset included).
int ReceiveSome(SocketHandle s, char* buf, int size);
bool SendAll(SocketHandle s, const std::string& data);
void ShutdownSend(SocketHandle s);
void CloseSocket(SocketHandle s);
// Closes with an RST instead of the orderly FIN (linger on, time 0).
void ResetSocket(SocketHandle s);
// Waits up to timeoutMs for any of the sockets to become readable; fills
// ready (same order). Returns false on a select error.
bool WaitReadable(const std::vector<SocketHandle>& sockets, int timeoutMs, std::vector<bool>& ready);
