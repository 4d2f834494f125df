// The few socket calls the scripted server needs, one implementation per
// platform (ScriptedServerSocket_posix.cpp, ScriptedServerSocket_win32.cpp).
#pragma once

#include <cstdint>

namespace scripted_socket {

// Listens on 127.0.0.1:port (0: ephemeral); stores the bound port. Raises
// std::runtime_error when the port cannot be had.
intptr_t ListenLoopback(uint16_t port, uint16_t& boundPort, int backlog = 16);
// A non-blocking connect to 127.0.0.1:port that is left pending; -1 on failure.
intptr_t StartConnectLoopback(uint16_t port);
// True when the socket became readable (or has a pending error) within ms.
bool WaitReadable(intptr_t socket, int ms);
// -1 on failure.
intptr_t Accept(intptr_t listener);
// > 0 bytes, 0 orderly close by the peer, -1 failure.
int Recv(intptr_t socket, char* buffer, int length);
// Bytes accepted, -1 on failure (never raises a signal).
int Send(intptr_t socket, const char* buffer, int length);
void ShutdownSend(intptr_t socket);
void SetLingerZero(intptr_t socket);
void Close(intptr_t socket);

}  // namespace scripted_socket
