#include "RunLog.h"

#include <cstdio>

#include "GuiPlatform.h"

namespace {

struct RunLogState {
    bool open = false;
    AnsiString prefix;  // " <program>[<pid>] "
};

RunLogState& State() {
    static RunLogState state;
    return state;
}

}  // namespace

void TRunLog::Open(const AnsiString& programName) {
    RunLogState& s = State();
    s.prefix = " " + programName + "[" + IntToStr(static_cast<int64_t>(GuiPlatform::CurrentProcessId())) + "] ";
    const AnsiString base = GuiPlatform::LocalAppDataFolder();
    s.open = !base.empty() && GuiPlatform::OpenLogFile(base + "\\KESTRIN", "launcher.log", RotateAbove);
}

void TRunLog::Close() {
    if (!State().open) return;
    State().open = false;
    GuiPlatform::CloseLogFile();
}

bool TRunLog::IsOpen() { return State().open; }

void TRunLog::Write(const AnsiString& event) {
    const RunLogState& s = State();
    if (!s.open) return;
    const TLocalTime t = GuiPlatform::LocalTime();
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second, t.millisecond);
    GuiPlatform::WriteLogLine(stamp + s.prefix + Printable(event));
}

AnsiString TRunLog::Printable(const AnsiString& text, size_t limit) {
    AnsiString out;
    size_t taken = 0;
    for (char ch : text) {
        if (taken++ == limit) break;
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c != 0x7F) {
            out += ch;
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}
