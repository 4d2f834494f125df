// The little the demo server needs from the operating system besides its
// sockets (those come from the test kit's loopback library): clock and files.
#pragma once

#include <cstdint>
#include <string>

int64_t NowEpochMs();                         // wall clock, ms since 1970-01-01 UTC
std::string LocalClockText(int64_t epochMs);  // "HH:MM:SS.mmm", local time
void SleepMs(int ms);
int ProcessId();
std::string ProgramDir();  // folder of the running program, with separator
// Appends text with one write, so that lines of several processes sharing
// the file do not interleave.
bool AppendToFile(const std::string& path, const std::string& text);
bool ReadWholeFile(const std::string& path, std::string& text);
