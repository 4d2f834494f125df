#include <windows.h>
// After windows.h, whose types it uses.
#include <psapi.h>

#include "ProcessUsage.h"

ProcessUsage CurrentProcessUsage() {
    ProcessUsage u;
    DWORD handles = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &handles)) u.descriptors = handles;
    PROCESS_MEMORY_COUNTERS counters{};
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        u.residentKiB = static_cast<int64_t>(counters.WorkingSetSize / 1024);
    return u;
}
