// POSIX side of the demo server's platform layer, for running the server
// natively next to the native builds.
#include "demo_platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>

int64_t NowEpochMs() {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string LocalClockText(int64_t epochMs) {
    std::time_t secs = static_cast<std::time_t>(epochMs / 1000);
    std::tm tm;
    localtime_r(&secs, &tm);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(epochMs % 1000));
    return buf;
}

void SleepMs(int ms) {
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

int ProcessId() { return static_cast<int>(getpid()); }

std::string ProgramDir() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string path(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    std::string::size_type cut = path.rfind('/');
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool AppendToFile(const std::string& path, const std::string& text) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    ssize_t n = write(fd, text.data(), text.size());
    close(fd);
    return n == static_cast<ssize_t>(text.size());
}

bool ReadWholeFile(const std::string& path, std::string& text) {
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
