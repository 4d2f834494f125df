#include "ReservedPort.h"

#include <stdexcept>
#include <string>
#include <utility>

ReservedPort::ReservedPort() : socket_(loopback::Bind(0)) {
    if (socket_ == loopback::kNoSocket)
        throw std::runtime_error("no loopback port to reserve: " + loopback::ErrorText(loopback::LastError()));
    port_ = loopback::LocalPort(socket_);
    if (port_ == 0) {
        loopback::Close(socket_);
        throw std::runtime_error("the reserved loopback port cannot be read");
    }
}

ReservedPort::~ReservedPort() {
    if (socket_ != loopback::kNoSocket) loopback::Close(socket_);
}

ReservedPort::ReservedPort(ReservedPort&& other) noexcept
    : socket_(std::exchange(other.socket_, loopback::kNoSocket)), port_(other.port_) {}

ReservedPort& ReservedPort::operator=(ReservedPort&& other) noexcept {
    if (this != &other) {
        if (socket_ != loopback::kNoSocket) loopback::Close(socket_);
        socket_ = std::exchange(other.socket_, loopback::kNoSocket);
        port_ = other.port_;
    }
    return *this;
}

loopback::Socket ReservedPort::Release() { return std::exchange(socket_, loopback::kNoSocket); }
