#include <windows.h>
// After windows.h, whose types it uses.
#include <psapi.h>

#include "PeakMemory.h"

uint64_t PeakResidentBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
    return counters.PeakWorkingSetSize;
}
