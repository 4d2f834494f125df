// POSIX side of the demo server's platform layer, for running the server
// natively next to the native builds.
#include "demo_platform.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>

int64_t NowEpochMs()
{
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string LocalClockText(int64_t epochMs)
{
    std::time_t secs = static_cast<std::time_t>(epochMs / 1000);
    std::tm tm;
    localtime_r(&secs, &tm);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(epochMs % 1000));
    return buf;
}

void SleepMs(int ms)
{
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

int ProcessId() { return static_cast<int>(getpid()); }

std::string ProgramDir()
{
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string path(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    std::string::size_type cut = path.rfind('/');
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool AppendToFile(const std::string& path, const std::string& text)
{
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    ssize_t n = write(fd, text.data(), text.size());
    close(fd);
    return n == static_cast<ssize_t>(text.size());
}

bool ReadWholeFile(const std::string& path, std::string& text)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    text.clear();
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) {
        text.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    return true;
}

namespace {
int lastError = 0;
}

bool NetStartup() { return true; }

int NetLastError() { return lastError; }

SocketHandle ListenLoopback(uint16_t port)
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        lastError = errno;
        return kNoSocket;
    }
    // On Linux this only lets the port be taken again over connections in
    // TIME_WAIT; a live listener still makes bind fail.
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 16) != 0) {
        lastError = errno;
        close(s);
        return kNoSocket;
    }
    return s;
}

SocketHandle AcceptConnection(SocketHandle listener)
{
    int s = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    if (s < 0) {
        lastError = errno;
        return kNoSocket;
    }
    return s;
}

int ReceiveSome(SocketHandle s, char* buf, int size)
{
    ssize_t n = recv(static_cast<int>(s), buf, static_cast<std::size_t>(size), 0);
    if (n < 0) {
        lastError = errno;
        return -1;
    }
    return static_cast<int>(n);
}

bool SendAll(SocketHandle s, const std::string& data)
{
    std::string::size_type done = 0;
    while (done < data.size()) {
        ssize_t n = send(static_cast<int>(s), data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            lastError = errno;
            return false;
        }
        done += static_cast<std::string::size_type>(n);
    }
    return true;
}

void ShutdownSend(SocketHandle s) { shutdown(static_cast<int>(s), SHUT_WR); }

void CloseSocket(SocketHandle s) { close(static_cast<int>(s)); }

void ResetSocket(SocketHandle s)
{
    linger l{1, 0};
    setsockopt(static_cast<int>(s), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(static_cast<int>(s));
}

bool WaitReadable(const std::vector<SocketHandle>& sockets, int timeoutMs, std::vector<bool>& ready)
{
    std::vector<pollfd> fds;
    for (SocketHandle s : sockets) {
        fds.push_back(pollfd{static_cast<int>(s), POLLIN, 0});
    }
    ready.assign(sockets.size(), false);
    int n = poll(fds.data(), fds.size(), timeoutMs);
    if (n < 0) {
        if (errno == EINTR) {
            return true;
        }
        lastError = errno;
        return false;
    }
    for (std::size_t i = 0; i < fds.size(); ++i) {
        ready[i] = (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    }
    return true;
}
