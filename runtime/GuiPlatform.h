// The GUI, shell and COM services of the platform, as the class library's
// forms, timers and shell helpers use them. GuiPlatform_win32.cpp implements
// them over user32, shell32 and ole32. A native build has no GUI: there the
// tests link the recording test platform of the test kit in their place.
//
// Names mirror the platform calls they stand for, so that a recorded call
// reads like the real one; the types are the class library's own.
#pragma once

#include <cstdint>
#include <string>

#include "SysUtils.h"

// A native window handle; 0 is "no window".
using TWindowHandle = uintptr_t;

// The layout of a COM class or interface identifier.
struct TGUID {
    uint32_t D1;
    uint16_t D2;
    uint16_t D3;
    uint8_t D4[8];
};
bool operator==(const TGUID& a, const TGUID& b);
inline bool operator!=(const TGUID& a, const TGUID& b) { return !(a == b); }
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
AnsiString GUIDToString(const TGUID& guid);

// Show commands.
enum : int32_t {
    swHide = 0,
    swShowNormal = 1,
    swShowMinimized = 2,
    swShowMaximized = 3,
    swShowMinNoActive = 7,
    swRestore = 9,
};

// Message box flags and the answer of its only button.
enum : uint32_t {
    mbOk = 0x0,
    mbIconError = 0x10,  // the stop icon
    mbTaskModal = 0x2000,
};
enum : int32_t { idOk = 1 };

// What the platform tells a window's owner. Both are called from the
// message loop on the GUI thread and must not raise.
class TWindowEvents {
public:
    // The user asked to close the window (close button, Alt+F4, system menu).
    virtual void WindowCloseRequested() noexcept = 0;
    // The user asked to restore the minimised window. True when the owner
    // showed the window itself; false leaves it to the platform.
    virtual bool WindowRestoreRequested() noexcept = 0;

protected:
    ~TWindowEvents() = default;
};

// Receives the ticks of a platform timer.
class TTimerTarget {
public:
    virtual void TimerFired() noexcept = 0;

protected:
    ~TTimerTarget() = default;
};

// A top-level window. Color is a class-library colour: negative values
// name a system colour (low byte: its index), others are RGB.
struct TWindowParams {
    AnsiString caption;
    int32_t clientWidth = 0;
    int32_t clientHeight = 0;
    int32_t left = 0;
    int32_t top = 0;
    bool dialogFrame = false;  // fixed frame, system menu and close button only
    bool stayOnTop = false;
    int32_t color = 0;
};

// A static text inside a window, in the given font (height in pixels,
// negative: character height).
struct TLabelParams {
    AnsiString caption;
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
    AnsiString fontName;
    int32_t fontHeight = 0;
    int32_t fontCharset = 0;
    int32_t fontColor = 0;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
};

// A local date and time to the millisecond.
struct TLocalTime {
    int32_t year = 0, month = 0, day = 0;
    int32_t hour = 0, minute = 0, second = 0, millisecond = 0;
};

struct GuiPlatform {
    // Message loop. Waits for the next message and dispatches it (timer
    // ticks, window events); false once the quit message arrives.
    static bool GetAndDispatchMessage();
    static void PostQuitMessage(int32_t exitCode);

    // Periodic timer on the GUI thread; ticks fall due every `interval` ms
    // from now and are merged while the thread is busy. 0 when no timer is
    // left.
    static uintptr_t SetTimer(uint32_t interval, TTimerTarget* target);
    static void KillTimer(uintptr_t timer);

    // Windows. CreateMainWindow gives 0 when the window cannot be made; the
    // window stays hidden until ShowWindow.
    static TWindowHandle CreateMainWindow(const TWindowParams& params, TWindowEvents* events);
    static bool CreateLabel(TWindowHandle parent, const TLabelParams& params);
    static void DestroyWindow(TWindowHandle window);
    static void ShowWindow(TWindowHandle window, int32_t showCommand);
    // Moves the window's (restored) frame to x, y without resizing it.
    static void SetWindowPos(TWindowHandle window, int32_t x, int32_t y);
    // Outer size of the window's restored frame.
    static void GetWindowSize(TWindowHandle window, int32_t& width, int32_t& height);
    static void GetVirtualScreenSize(int32_t& width, int32_t& height);
    // How the process was asked to show its first window.
    static int32_t StartupShowCommand();
    static int32_t MessageBoxA(TWindowHandle owner, const AnsiString& text, const AnsiString& caption, uint32_t flags);
    // Full path of the running program.
    static AnsiString ModuleFileName();

    // Shell. Null pointers are passed on as null.
    static intptr_t ShellExecuteA(TWindowHandle owner, const char* verb, const char* file, const char* parameters,
                                  const char* directory, int32_t showCommand);
    static int32_t SHGetSpecialFolderLocation(TWindowHandle owner, int32_t folder, void** idList);
    // `path` must hold 261 bytes.
    static bool SHGetPathFromIDListA(const void* idList, char* path);

    // COM. Interface pointers are opaque here; Release is the only way to
    // let go of one.
    static int32_t CoInitialize();
    static void CoUninitialize();
    static int32_t CoCreateInstance(const TGUID& clsid, void* outer, uint32_t context, const TGUID& iid, void** object);
    static int32_t QueryInterface(void* object, const TGUID& iid, void** result);
    static uint32_t Release(void* object);
    static void CoTaskMemFree(void* memory);
    // IShellLinkA and IPersistFile methods.
    static int32_t ShellLinkSetPath(void* shellLink, const char* path);
    static int32_t ShellLinkSetWorkingDirectory(void* shellLink, const char* directory);
    static int32_t PersistFileSave(void* persistFile, const char16_t* fileName, bool remember);

    // The run log file. LocalAppDataFolder is the current user's local
    // application data folder as the shell's known-folder call gives it
    // (empty when there is none). OpenLogFile makes `folder` when missing;
    // when `folder\fileName` is larger than `rotateAbove` bytes it first
    // becomes `fileName.1` (replacing an older one); then it opens the file
    // for appending. False when any of it fails; nothing is retried.
    // WriteLogLine appends the line and CR LF in one write (so lines of
    // processes writing at once never mix); it does nothing while no log
    // is open and reports no failure.
    static AnsiString LocalAppDataFolder();
    static bool OpenLogFile(const AnsiString& folder, const AnsiString& fileName, uint64_t rotateAbove);
    static void WriteLogLine(const AnsiString& line);
    static void CloseLogFile();
    // What a log line starts with, and the duration of a step.
    static TLocalTime LocalTime();
    static uint32_t CurrentProcessId();
    // A monotonic clock in ms, for durations.
    static int64_t MonotonicMs();

    // ANSI code page to UTF-16.
    static std::u16string MultiByteToWideChar(const AnsiString& text);
    // The system's text for an error code, as the system gives it; empty
    // when it has none.
    static AnsiString SystemErrorText(int32_t code);
};
