// The recording test platform: the GUI, shell and COM services of
// GuiPlatform.h modelled on a virtual clock (see TestPlatform.h), for native
// builds, which have no real GUI. It runs on the GUI thread only, except for
// the clock, which test servers may advance from their threads.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "ComObj.h"
#include "GuiPlatform.h"
#include "TestPlatform.h"

namespace {

constexpr int32_t kSOk = 0;
constexpr int32_t kENoInterface = static_cast<int32_t>(0x80004002u);
constexpr int32_t kEFail = static_cast<int32_t>(0x80004005u);
// More than this much virtual time without anything due, or this many
// messages, and the loop is taken to be stuck.
constexpr int64_t kLongestWait = 24LL * 3600 * 1000;
constexpr int64_t kMostMessages = 1000000;

struct FakeWindow {
    TWindowEvents* events = nullptr;
    TWindowParams params;
    int32_t x = 0, y = 0;
};

struct FakeTimer {
    TTimerTarget* target = nullptr;
    uint32_t interval = 0;
    int64_t start = 0;
    int64_t taken = 0;  // ticks taken so far: the next falls due at start + (taken + 1) * interval
    int64_t Due() const { return start + (taken + 1) * static_cast<int64_t>(interval); }
};

struct FakeInterface {
    TGUID iid;
};

struct FakeIdList {
    int32_t folder;
};

struct ScheduledEvent {
    int64_t time;
    int64_t order;
    std::function<void()> action;
};

struct State {
    std::mutex mutex;  // guards calls
    std::vector<TPlatformCall> calls;

    int64_t order = 0;
    std::vector<ScheduledEvent> events;
    std::multimap<int, std::function<void()>> tickActions;
    int ticks = 0;
    int64_t messages = 0;
    bool quitPosted = false;

    std::map<TWindowHandle, FakeWindow> windows;
    TWindowHandle nextWindow = 0x1000;
    TWindowHandle lastWindow = 0;
    std::map<uintptr_t, FakeTimer> timers;
    uintptr_t nextTimer = 1;
    int liveCom = 0;
    std::u16string lastSaved;

    int32_t showCommand = swShowNormal;
    bool noTimerLeft = false;
    bool createWindowFails = false;
    int32_t coInitializeResult = kSOk;
    int32_t coCreateResult = kSOk;
    std::vector<TGUID> failingInterfaces;
    int32_t saveResult = kSOk;
    std::optional<AnsiString> desktopPath = AnsiString("C:\\Users\\tester\\Desktop");
    std::map<int32_t, AnsiString> errorTexts;
    AnsiString moduleFileName = "C:\\tests\\program.exe";
    int32_t screenWidth = 1024, screenHeight = 768;
    int32_t frameWidth = 6, frameHeight = 25;
    intptr_t shellResult = 42;
    std::optional<AnsiString> localAppData = AnsiString("C:\\Users\\tester\\AppData\\Local");
    bool logOpens = true;
    bool logOpen = false;
};

State& S() {
    static State state;
    return state;
}

std::atomic<int64_t> g_now{0};

AnsiString Text(const char* p) { return p ? AnsiString(p) : AnsiString("(null)"); }
AnsiString Num(int64_t v) { return IntToStr(v); }
AnsiString Hex(uint32_t v) { return "0x" + Format("%.8x", {v}); }

AnsiString Escape(const std::u16string& text) {
    AnsiString out;
    for (char16_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
            out += buf;
        }
    }
    return out;
}

void Record(AnsiString name, std::vector<AnsiString> args) {
    State& s = S();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.calls.push_back({std::move(name), std::move(args), g_now.load()});
}

AnsiString InterfaceName(const void* object) {
    if (!object) return "(null)";
    const TGUID& iid = static_cast<const FakeInterface*>(object)->iid;
    if (iid == IID_IUnknown) return "IUnknown";
    if (iid == IID_IShellLinkA) return "IShellLinkA";
    if (iid == IID_IPersistFile) return "IPersistFile";
    return GUIDToString(iid);
}

void* NewInterface(const TGUID& iid) {
    ++S().liveCom;
    return new FakeInterface{iid};
}

// Windows-1252, the usual ANSI code page: 0x80..0x9F hold typographic
// characters; the five unassigned codes map to the same value.
const char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

// ---- Test controls

void TestPlatform::Reset() {
    State& s = S();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.calls.clear();
    }
    s.order = 0;
    s.events.clear();
    s.tickActions.clear();
    s.ticks = 0;
    s.messages = 0;
    s.quitPosted = false;
    s.windows.clear();
    s.nextWindow = 0x1000;
    s.lastWindow = 0;
    s.timers.clear();
    s.nextTimer = 1;
    s.liveCom = 0;
    s.lastSaved.clear();
    s.showCommand = swShowNormal;
    s.noTimerLeft = false;
    s.createWindowFails = false;
    s.coInitializeResult = kSOk;
    s.coCreateResult = kSOk;
    s.failingInterfaces.clear();
    s.saveResult = kSOk;
    s.desktopPath = AnsiString("C:\\Users\\tester\\Desktop");
    s.errorTexts = {{static_cast<int32_t>(0x80040154u), "Class not registered\r\n"}};
    s.moduleFileName = "C:\\tests\\program.exe";
    s.screenWidth = 1024;
    s.screenHeight = 768;
    s.frameWidth = 6;
    s.frameHeight = 25;
    s.shellResult = 42;
    s.localAppData = AnsiString("C:\\Users\\tester\\AppData\\Local");
    s.logOpens = true;
    s.logOpen = false;
    g_now = 0;
}

int64_t TestPlatform::Now() { return g_now.load(); }
void TestPlatform::Advance(int64_t ms) { g_now += ms; }

std::vector<TPlatformCall> TestPlatform::Calls() {
    std::lock_guard<std::mutex> lock(S().mutex);
    return S().calls;
}

std::vector<TPlatformCall> TestPlatform::Calls(std::initializer_list<const char*> names) {
    std::vector<TPlatformCall> out;
    for (TPlatformCall& c : Calls())
        for (const char* n : names)
            if (c.name == n) {
                out.push_back(std::move(c));
                break;
            }
    return out;
}

int TestPlatform::Ticks() { return S().ticks; }

void TestPlatform::At(int64_t time, std::function<void()> action) {
    S().events.push_back({time, S().order++, std::move(action)});
}

void TestPlatform::InTick(int n, std::function<void()> action) { S().tickActions.emplace(n, std::move(action)); }

void TestPlatform::CloseWindowAt(int64_t time) {
    At(time, [] {
        Record("UserClose", {Num(static_cast<int64_t>(S().lastWindow))});
        const auto it = S().windows.find(S().lastWindow);
        if (it != S().windows.end() && it->second.events) it->second.events->WindowCloseRequested();
    });
}

void TestPlatform::RestoreWindowAt(int64_t time) {
    At(time, [] {
        Record("UserRestore", {Num(static_cast<int64_t>(S().lastWindow))});
        const auto it = S().windows.find(S().lastWindow);
        if (it != S().windows.end() && it->second.events && !it->second.events->WindowRestoreRequested())
            Record("DefaultRestore", {Num(static_cast<int64_t>(S().lastWindow))});
    });
}

void TestPlatform::SetStartupShowCommand(int32_t command) { S().showCommand = command; }
void TestPlatform::SetNoTimerLeft(bool none) { S().noTimerLeft = none; }
void TestPlatform::SetCreateWindowFails(bool fails) { S().createWindowFails = fails; }
void TestPlatform::SetCoInitializeResult(int32_t result) { S().coInitializeResult = result; }
void TestPlatform::SetCoCreateInstanceResult(int32_t result) { S().coCreateResult = result; }
void TestPlatform::FailQueryInterface(const TGUID& iid) { S().failingInterfaces.push_back(iid); }
void TestPlatform::SetSaveResult(int32_t result) { S().saveResult = result; }
void TestPlatform::SetDesktopPath(std::optional<AnsiString> path) { S().desktopPath = std::move(path); }
void TestPlatform::SetSystemErrorText(int32_t code, AnsiString text) { S().errorTexts[code] = std::move(text); }
void TestPlatform::SetModuleFileName(AnsiString path) { S().moduleFileName = std::move(path); }
void TestPlatform::SetVirtualScreenSize(int32_t width, int32_t height) {
    S().screenWidth = width;
    S().screenHeight = height;
}
void TestPlatform::SetShellExecuteResult(intptr_t result) { S().shellResult = result; }
void TestPlatform::SetLocalAppDataFolder(std::optional<AnsiString> path) { S().localAppData = std::move(path); }
void TestPlatform::SetLogFileOpens(bool opens) { S().logOpens = opens; }

std::vector<AnsiString> TestPlatform::LogLines() {
    std::vector<AnsiString> lines;
    for (const TPlatformCall& c : Calls({"WriteLogLine"})) lines.push_back(c.args[0]);
    return lines;
}

void TestPlatform::SetDialogFrameSize(int32_t width, int32_t height) {
    S().frameWidth = width;
    S().frameHeight = height;
}

int TestPlatform::LiveComReferences() { return S().liveCom; }
int TestPlatform::LiveTimers() { return static_cast<int>(S().timers.size()); }
int TestPlatform::LiveWindows() { return static_cast<int>(S().windows.size()); }
std::u16string TestPlatform::LastSavedFileName() { return S().lastSaved; }

// ---- Message loop and timers

bool GuiPlatform::GetAndDispatchMessage() {
    State& s = S();
    if (s.quitPosted) {
        s.quitPosted = false;
        return false;
    }
    const int64_t now = g_now.load();
    auto event = s.events.end();
    for (auto it = s.events.begin(); it != s.events.end(); ++it)
        if (event == s.events.end() || it->time < event->time || (it->time == event->time && it->order < event->order))
            event = it;
    auto timer = s.timers.end();
    for (auto it = s.timers.begin(); it != s.timers.end(); ++it)
        if (timer == s.timers.end() || it->second.Due() < timer->second.Due()) timer = it;

    const bool haveEvent = event != s.events.end();
    const bool haveTimer = timer != s.timers.end();
    const int64_t eventAt = haveEvent ? std::max(event->time, now) : 0;
    const int64_t timerAt = haveTimer ? std::max(timer->second.Due(), now) : 0;
    const bool takeEvent = haveEvent && (!haveTimer || eventAt <= timerAt);
    const int64_t at = takeEvent ? eventAt : timerAt;
    if ((!haveEvent && !haveTimer) || at - now > kLongestWait || ++s.messages > kMostMessages) {
        Record("Stall", {});
        return false;
    }
    g_now = at;
    if (takeEvent) {
        std::function<void()> action = std::move(event->action);
        s.events.erase(event);
        action();
        return true;
    }
    // One tick for all the periods that have passed.
    FakeTimer& t = timer->second;
    t.taken = (at - t.start) / static_cast<int64_t>(t.interval);
    ++s.ticks;
    Record("WM_TIMER", {Num(static_cast<int64_t>(timer->first))});
    TTimerTarget* target = t.target;
    const auto actions = s.tickActions.equal_range(s.ticks);
    std::vector<std::function<void()>> run;
    for (auto it = actions.first; it != actions.second; ++it) run.push_back(it->second);
    for (auto& action : run) action();
    target->TimerFired();
    return true;
}

void GuiPlatform::PostQuitMessage(int32_t exitCode) {
    Record("PostQuitMessage", {Num(exitCode)});
    S().quitPosted = true;
}

uintptr_t GuiPlatform::SetTimer(uint32_t interval, TTimerTarget* target) {
    State& s = S();
    if (s.noTimerLeft || interval == 0) {
        Record("SetTimer", {Num(interval), "0"});
        return 0;
    }
    const uintptr_t id = s.nextTimer++;
    s.timers[id] = FakeTimer{target, interval, g_now.load(), 0};
    Record("SetTimer", {Num(interval), Num(static_cast<int64_t>(id))});
    return id;
}

void GuiPlatform::KillTimer(uintptr_t timer) {
    Record("KillTimer", {Num(static_cast<int64_t>(timer))});
    S().timers.erase(timer);
}

// ---- Windows

TWindowHandle GuiPlatform::CreateMainWindow(const TWindowParams& params, TWindowEvents* events) {
    State& s = S();
    Record("CreateMainWindow", {params.caption, Num(params.clientWidth), Num(params.clientHeight), Num(params.left),
                                Num(params.top), params.dialogFrame ? "dialog" : "sizeable",
                                params.stayOnTop ? "topmost" : "normal", Hex(static_cast<uint32_t>(params.color))});
    if (s.createWindowFails) return 0;
    const TWindowHandle handle = s.nextWindow++;
    s.windows[handle] = FakeWindow{events, params, params.left, params.top};
    s.lastWindow = handle;
    return handle;
}

bool GuiPlatform::CreateLabel(TWindowHandle parent, const TLabelParams& params) {
    AnsiString style;
    if (params.bold) style += "B";
    if (params.italic) style += "I";
    if (params.underline) style += "U";
    if (params.strikeOut) style += "S";
    Record("CreateLabel", {Num(static_cast<int64_t>(parent)), params.caption, Num(params.left), Num(params.top),
                           Num(params.width), Num(params.height), params.fontName, Num(params.fontHeight),
                           Num(params.fontCharset), Hex(static_cast<uint32_t>(params.fontColor)), style});
    return S().windows.count(parent) != 0;
}

void GuiPlatform::DestroyWindow(TWindowHandle window) {
    Record("DestroyWindow", {Num(static_cast<int64_t>(window))});
    S().windows.erase(window);
}

void GuiPlatform::ShowWindow(TWindowHandle window, int32_t showCommand) {
    Record("ShowWindow", {Num(static_cast<int64_t>(window)), Num(showCommand)});
}

void GuiPlatform::SetWindowPos(TWindowHandle window, int32_t x, int32_t y) {
    Record("SetWindowPos", {Num(static_cast<int64_t>(window)), Num(x), Num(y)});
    const auto it = S().windows.find(window);
    if (it != S().windows.end()) {
        it->second.x = x;
        it->second.y = y;
    }
}

void GuiPlatform::GetWindowSize(TWindowHandle window, int32_t& width, int32_t& height) {
    width = height = 0;
    const auto it = S().windows.find(window);
    if (it == S().windows.end()) return;
    const bool dialog = it->second.params.dialogFrame;
    width = it->second.params.clientWidth + (dialog ? S().frameWidth : S().frameWidth + 2);
    height = it->second.params.clientHeight + (dialog ? S().frameHeight : S().frameHeight + 2);
}

void GuiPlatform::GetVirtualScreenSize(int32_t& width, int32_t& height) {
    width = S().screenWidth;
    height = S().screenHeight;
}

int32_t GuiPlatform::StartupShowCommand() { return S().showCommand; }

int32_t GuiPlatform::MessageBoxA(TWindowHandle owner, const AnsiString& text, const AnsiString& caption,
                                 uint32_t flags) {
    Record("MessageBoxA", {Num(static_cast<int64_t>(owner)), text, caption, Hex(flags)});
    return idOk;
}

AnsiString GuiPlatform::ModuleFileName() { return S().moduleFileName; }

// ---- Shell

intptr_t GuiPlatform::ShellExecuteA(TWindowHandle owner, const char* verb, const char* file, const char* parameters,
                                    const char* directory, int32_t showCommand) {
    Record("ShellExecuteA", {Num(static_cast<int64_t>(owner)), Text(verb), Text(file), Text(parameters),
                             Text(directory), Num(showCommand)});
    return S().shellResult;
}

int32_t GuiPlatform::SHGetSpecialFolderLocation(TWindowHandle owner, int32_t folder, void** idList) {
    Record("SHGetSpecialFolderLocation", {Num(static_cast<int64_t>(owner)), Num(folder)});
    *idList = nullptr;
    if (!S().desktopPath || folder != 16) return kEFail;
    ++S().liveCom;
    *idList = new FakeIdList{folder};
    return kSOk;
}

bool GuiPlatform::SHGetPathFromIDListA(const void* idList, char* path) {
    Record("SHGetPathFromIDListA", {idList ? "list" : "(null)"});
    if (!idList || !S().desktopPath) return false;
    const AnsiString& p = *S().desktopPath;
    const size_t n = std::min<size_t>(p.size(), 260);
    std::memcpy(path, p.data(), n);
    path[n] = '\0';
    return true;
}

// ---- Run log

AnsiString GuiPlatform::LocalAppDataFolder() { return S().localAppData.value_or(AnsiString()); }

bool GuiPlatform::OpenLogFile(const AnsiString& folder, const AnsiString& fileName, uint64_t rotateAbove) {
    Record("OpenLogFile", {folder, fileName, Num(static_cast<int64_t>(rotateAbove))});
    S().logOpen = S().logOpens;
    return S().logOpen;
}

void GuiPlatform::WriteLogLine(const AnsiString& line) {
    if (S().logOpen) Record("WriteLogLine", {line});
}

void GuiPlatform::CloseLogFile() {
    Record("CloseLogFile", {});
    S().logOpen = false;
}

// 2026-12-11 09:00:00.000 at virtual time 0.
TLocalTime GuiPlatform::LocalTime() {
    const int64_t now = g_now.load();
    TLocalTime t;
    t.year = 2026;
    t.month = 12;
    t.day = 11;
    t.millisecond = static_cast<int32_t>(now % 1000);
    t.second = static_cast<int32_t>(now / 1000 % 60);
    t.minute = static_cast<int32_t>(now / 60000 % 60);
    t.hour = static_cast<int32_t>(9 + now / 3600000 % 15);
    return t;
}

uint32_t GuiPlatform::CurrentProcessId() { return 4242; }

int64_t GuiPlatform::MonotonicMs() { return g_now.load(); }

// ---- COM

int32_t GuiPlatform::CoInitialize() {
    Record("CoInitialize", {"(null)"});
    return S().coInitializeResult;
}

void GuiPlatform::CoUninitialize() { Record("CoUninitialize", {}); }

int32_t GuiPlatform::CoCreateInstance(const TGUID& clsid, void* outer, uint32_t context, const TGUID& iid,
                                      void** object) {
    Record("CoCreateInstance", {GUIDToString(clsid), outer ? "outer" : "(null)", Num(context), GUIDToString(iid)});
    *object = nullptr;
    if (S().coCreateResult < 0) return S().coCreateResult;
    *object = NewInterface(iid);
    return S().coCreateResult;
}

int32_t GuiPlatform::QueryInterface(void* object, const TGUID& iid, void** result) {
    Record("QueryInterface", {InterfaceName(object), GUIDToString(iid)});
    *result = nullptr;
    for (const TGUID& failing : S().failingInterfaces)
        if (failing == iid) return kENoInterface;
    *result = NewInterface(iid);
    return kSOk;
}

uint32_t GuiPlatform::Release(void* object) {
    Record("Release", {InterfaceName(object)});
    if (object) {
        --S().liveCom;
        delete static_cast<FakeInterface*>(object);
    }
    return 0;
}

void GuiPlatform::CoTaskMemFree(void* memory) {
    Record("CoTaskMemFree", {memory ? "list" : "(null)"});
    if (memory) {
        --S().liveCom;
        delete static_cast<FakeIdList*>(memory);
    }
}

int32_t GuiPlatform::ShellLinkSetPath(void* shellLink, const char* path) {
    Record(InterfaceName(shellLink) + "::SetPath", {Text(path)});
    return kSOk;
}

int32_t GuiPlatform::ShellLinkSetWorkingDirectory(void* shellLink, const char* directory) {
    Record(InterfaceName(shellLink) + "::SetWorkingDirectory", {Text(directory)});
    return kSOk;
}

int32_t GuiPlatform::PersistFileSave(void* persistFile, const char16_t* fileName, bool remember) {
    const std::u16string name = fileName ? std::u16string(fileName) : std::u16string();
    Record(InterfaceName(persistFile) + "::Save", {Escape(name), remember ? "TRUE" : "FALSE"});
    S().lastSaved = name;
    return S().saveResult;
}

std::u16string GuiPlatform::MultiByteToWideChar(const AnsiString& text) {
    Record("MultiByteToWideChar", {text});
    std::u16string out;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        out += c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : static_cast<char16_t>(c);
    }
    return out;
}

AnsiString GuiPlatform::SystemErrorText(int32_t code) {
    const auto it = S().errorTexts.find(code);
    return it == S().errorTexts.end() ? AnsiString() : it->second;
}
