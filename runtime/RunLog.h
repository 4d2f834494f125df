// The run log: what a program did, one line per event, appended to
// "%LOCALAPPDATA%\KESTRIN\launcher.log" for whoever has to find out later why
// a start went wrong. A line reads
//   2026-12-11 14:03:07.125 kestrin[1234] probe 3 took 2 ms: refused
// (local time to the millisecond, program name, process id, event).
//
// The log never changes what the program does: when it cannot be opened the
// run goes on without it (no box, no retry), and a line is one small write
// through the platform layer.
#pragma once

#include <cstdint>

#include "SysUtils.h"

class TRunLog {
public:
    // Larger than this at the start of a run, the log becomes "launcher.log.1".
    static constexpr uint64_t RotateAbove = 256 * 1024;

    // Opens the log for the program `programName` (rotating it first); on
    // failure every later Write does nothing.
    static void Open(const AnsiString& programName);
    static void Close();
    static bool IsOpen();
    // One line for `event`. Control characters in it are written escaped
    // ("\r", "\n", "\t", "\xNN"), so that a line stays one line.
    static void Write(const AnsiString& event);

    // `text` with its control characters escaped, cut after `limit` of its
    // characters.
    static AnsiString Printable(const AnsiString& text, size_t limit = AnsiString::npos);
};
