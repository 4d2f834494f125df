// A loopback port held for a test, so that the port a test hands to a client
// is never free for another program to take in between.
//
// It holds a socket bound to an ephemeral port of 127.0.0.1 that does not
// listen: while it is held, connects to the port are refused (a "nothing
// listens here" port that stays so), and no other socket can bind the port.
// A server can later listen on that very socket (ScriptedServer takes it
// over), so a port can be given to a client before its server starts.
#pragma once

#include <cstdint>

#include "Loopback.h"

class ReservedPort {
public:
    // Raises std::runtime_error when the system has no port to give.
    ReservedPort();
    ~ReservedPort();
    ReservedPort(ReservedPort&& other) noexcept;
    ReservedPort& operator=(ReservedPort&& other) noexcept;
    ReservedPort(const ReservedPort&) = delete;
    ReservedPort& operator=(const ReservedPort&) = delete;

    uint16_t Port() const { return port_; }
    // Hands the bound socket to the caller, who then owns it; the reservation
    // holds nothing afterwards (Port() still tells which port it was).
    loopback::Socket Release();

private:
    loopback::Socket socket_ = loopback::kNoSocket;
    uint16_t port_ = 0;
};
