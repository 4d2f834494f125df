// The platform-independent part of the loopback library.
#include <algorithm>
#include <climits>
#include <cstdio>

#include "Loopback.h"

namespace loopback {

bool SendAll(Socket socket, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const size_t chunk = std::min<size_t>(data.size() - done, INT_MAX);
        const int n = Send(socket, data.data() + done, static_cast<int>(chunk));
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool WaitReadable(Socket socket, int ms) {
    std::vector<bool> ready;
    return WaitReadable(std::vector<Socket>{socket}, ms, ready) && ready[0];
}

}  // namespace loopback

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 32 || u == 127) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}
