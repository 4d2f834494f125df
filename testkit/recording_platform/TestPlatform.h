// Controls of the recording test platform (TestPlatform.cpp), which gives
// native builds the services of GuiPlatform.h.
//
// The message loop runs on a virtual clock: nothing waits in real time.
// GetAndDispatchMessage jumps the clock to the next thing that falls due (a
// scheduled user action or hook, or a timer tick) and dispatches it; a
// posted quit comes first, user actions and hooks before ticks. Ticks fall
// due every interval from the moment the timer was set; when the clock has
// moved past several of them (because a handler "took time", see Advance),
// they are delivered as one. With nothing left to happen the loop records
// "Stall" and ends as if quit, so a test can never hang.
//
// Every platform call is recorded with its arguments as text (null pointers
// as "(null)", handles and numbers in decimal, message box flags and
// HRESULTs in hex as 0x...), with the virtual time it was made at.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "GuiPlatform.h"
#include "SysUtils.h"

struct TPlatformCall {
    AnsiString name;
    std::vector<AnsiString> args;
    int64_t time = 0;
};

struct TestPlatform {
    // Forgets every call, schedule, failure and setting; the clock is 0, and
    // the next window is 4096 and the next timer 1.
    static void Reset();

    // The virtual clock in ms. Advance may be called from any thread (a test
    // server "taking time" while a probe waits for it).
    static int64_t Now();
    static void Advance(int64_t ms);

    static std::vector<TPlatformCall> Calls();
    // Only the calls with one of these names, in order.
    static std::vector<TPlatformCall> Calls(std::initializer_list<const char*> names);
    // Timer ticks delivered since Reset.
    static int Ticks();

    // Scheduling, in virtual time.
    static void At(int64_t time, std::function<void()> action);
    // Runs inside the n-th tick (1-based, counted over all timers), after the
    // tick was taken from the timer and before its handler runs.
    static void InTick(int n, std::function<void()> action);
    // The user closes / restores the most recently created window.
    static void CloseWindowAt(int64_t time);
    static void RestoreWindowAt(int64_t time);

    // Settings and failures.
    static void SetStartupShowCommand(int32_t command);  // default 1
    static void SetNoTimerLeft(bool none);
    static void SetCreateWindowFails(bool fails);
    static void SetCoInitializeResult(int32_t result);      // default S_OK
    static void SetCoCreateInstanceResult(int32_t result);  // default S_OK
    static void FailQueryInterface(const TGUID& iid);       // answers E_NOINTERFACE
    static void SetSaveResult(int32_t result);              // default S_OK
    // The desktop folder's path; nullopt: the folder cannot be found.
    static void SetDesktopPath(std::optional<AnsiString> path);
    static void SetSystemErrorText(int32_t code, AnsiString text);
    static void SetModuleFileName(AnsiString path);
    static void SetVirtualScreenSize(int32_t width, int32_t height);  // default 1024 x 768
    // What ShellExecuteA returns (default 42: success).
    static void SetShellExecuteResult(intptr_t result);
    // The run log: the local application data folder (nullopt: none), and
    // whether the log file opens. The lines written to an open log are
    // recorded as "WriteLogLine" calls; local time is 2026-12-11 09:00:00.000
    // at virtual time 0, the process id 4242, the monotonic clock the
    // virtual one.
    static void SetLocalAppDataFolder(std::optional<AnsiString> path);
    static void SetLogFileOpens(bool opens);
    static std::vector<AnsiString> LogLines();
    // The frame the platform adds around a client area (total width and
    // height); default 6 x 25 for a dialog frame.
    static void SetDialogFrameSize(int32_t width, int32_t height);

    // State for checks.
    static int LiveComReferences();  // interface references and ID lists not yet released / freed
    static int LiveTimers();
    static int LiveWindows();
    static std::u16string LastSavedFileName();
};
