// The process's peak resident memory so far, in bytes.
#pragma once

#include <cstdint>

uint64_t PeakResidentBytes();
