#include <dirent.h>
#include <unistd.h>

#include <cstdio>

#include "ProcessUsage.h"

ProcessUsage CurrentProcessUsage() {
    ProcessUsage u;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.') ++u.descriptors;
        ::closedir(dir);
        --u.descriptors;  // the directory stream itself
    }
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        long long size = 0, resident = 0;
        if (std::fscanf(statm, "%lld %lld", &size, &resident) == 2)
            u.residentKiB = resident * (::sysconf(_SC_PAGESIZE) / 1024);
        std::fclose(statm);
    }
    return u;
}
