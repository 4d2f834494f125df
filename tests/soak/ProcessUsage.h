// What the process holds now: open descriptors (handles on Windows) and
// resident memory (working set on Windows).
#pragma once

#include <cstdint>

struct ProcessUsage {
    int64_t descriptors = 0;
    int64_t residentKiB = 0;
};

ProcessUsage CurrentProcessUsage();
