// The product's GUI, shell and COM services: user32, gdi32, shell32, ole32.
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <windows.h>

#include <cstring>
#include <map>
#include <memory>
#include <type_traits>
#include <vector>

#include "GuiPlatform.h"

namespace {

const char kFormClass[] = "TForm";

static_assert(sizeof(TGUID) == sizeof(GUID), "TGUID must have the layout of GUID");

GUID ToGUID(const TGUID& g) {
    GUID out;
    std::memcpy(&out, &g, sizeof out);
    return out;
}

COLORREF ToColorRef(int32_t color) { return color < 0 ? GetSysColor(color & 0xFF) : static_cast<COLORREF>(color); }

struct GdiObjectDeleter {
    void operator()(HGDIOBJ object) const {
        if (object) DeleteObject(object);
    }
};
using TGdiObject = std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, GdiObjectDeleter>;

// What a form window owns besides its children; freed with the window.
struct WindowData {
    TWindowEvents* events = nullptr;
    int32_t color = 0;
    HBRUSH background = nullptr;  // a system brush, or ownBrush
    TGdiObject ownBrush;
    std::vector<TGdiObject> fonts;
    std::map<HWND, COLORREF> labelColors;
};

// The data of the window being created, until its WM_NCCREATE adopts it.
WindowData* g_pendingData = nullptr;

WindowData* DataOf(HWND window) { return reinterpret_cast<WindowData*>(GetWindowLongPtrA(window, GWLP_USERDATA)); }

LRESULT CALLBACK FormWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE && g_pendingData) {
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(g_pendingData));
        g_pendingData = nullptr;
    }
    WindowData* data = DataOf(window);
    if (data) {
        switch (message) {
        case WM_CLOSE: data->events->WindowCloseRequested(); return 0;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_RESTORE && IsIconic(window) && data->events->WindowRestoreRequested()) return 0;
            break;
        case WM_ERASEBKGND: {
            RECT r;
            GetClientRect(window, &r);
            FillRect(reinterpret_cast<HDC>(wParam), &r, data->background);
            return 1;
        }
        case WM_CTLCOLORSTATIC: {
            const auto dc = reinterpret_cast<HDC>(wParam);
            const auto it = data->labelColors.find(reinterpret_cast<HWND>(lParam));
            if (it != data->labelColors.end()) SetTextColor(dc, it->second);
            SetBkColor(dc, ToColorRef(data->color));
            return reinterpret_cast<LRESULT>(data->background);
        }
        case WM_NCDESTROY:
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
            delete data;
            break;
        default: break;
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterFormClass() {
    static const bool registered = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = FormWindowProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hIcon = LoadIconA(wc.hInstance, "MAINICON");
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.lpszClassName = kFormClass;
        return RegisterClassA(&wc) != 0;
    }();
    return registered;
}

std::map<UINT_PTR, TTimerTarget*>& Timers() {
    static std::map<UINT_PTR, TTimerTarget*> timers;
    return timers;
}

void CALLBACK TimerProc(HWND, UINT, UINT_PTR id, DWORD) {
    const auto it = Timers().find(id);
    if (it != Timers().end()) it->second->TimerFired();
}

HWND Hwnd(TWindowHandle h) { return reinterpret_cast<HWND>(h); }

}  // namespace

// ---- Message loop and timers

bool GuiPlatform::GetAndDispatchMessage() {
    MSG msg;
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) return false;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return true;
}

void GuiPlatform::PostQuitMessage(int32_t exitCode) { ::PostQuitMessage(exitCode); }

uintptr_t GuiPlatform::SetTimer(uint32_t interval, TTimerTarget* target) {
    const UINT_PTR id = ::SetTimer(nullptr, 0, interval, TimerProc);
    if (id != 0) Timers()[id] = target;
    return id;
}

void GuiPlatform::KillTimer(uintptr_t timer) {
    ::KillTimer(nullptr, timer);
    Timers().erase(timer);
}

// ---- Windows

TWindowHandle GuiPlatform::CreateMainWindow(const TWindowParams& params, TWindowEvents* events) {
    if (!RegisterFormClass()) return 0;
    const DWORD style = params.dialogFrame ? (WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN)
                                           : (WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN);
    const DWORD exStyle =
        WS_EX_APPWINDOW | (params.dialogFrame ? WS_EX_DLGMODALFRAME : 0) | (params.stayOnTop ? WS_EX_TOPMOST : 0);
    RECT frame = {0, 0, params.clientWidth, params.clientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);

    auto data = std::make_unique<WindowData>();
    data->events = events;
    data->color = params.color;
    if (params.color < 0) {
        data->background = GetSysColorBrush(params.color & 0xFF);
    } else {
        data->ownBrush.reset(CreateSolidBrush(static_cast<COLORREF>(params.color)));
        data->background = static_cast<HBRUSH>(data->ownBrush.get());
    }
    // From WM_NCCREATE on, the window owns the data and frees it in
    // WM_NCDESTROY; if creation fails before that, it is still ours.
    g_pendingData = data.release();
    HWND window = CreateWindowExA(exStyle, kFormClass, params.caption.c_str(), style, params.left, params.top,
                                  frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    delete g_pendingData;
    g_pendingData = nullptr;
    return reinterpret_cast<TWindowHandle>(window);
}

bool GuiPlatform::CreateLabel(TWindowHandle parent, const TLabelParams& params) {
    WindowData* data = DataOf(Hwnd(parent));
    if (!data) return false;
    HWND label = CreateWindowExA(
        0, "STATIC", params.caption.c_str(), WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, params.left,
        params.top, params.width, params.height, Hwnd(parent), nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!label) return false;
    TGdiObject font(CreateFontA(params.fontHeight, 0, 0, 0, params.bold ? FW_BOLD : FW_NORMAL, params.italic,
                                params.underline, params.strikeOut, static_cast<DWORD>(params.fontCharset),
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                params.fontName.c_str()));
    if (font) SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
    data->fonts.push_back(std::move(font));
    data->labelColors[label] = ToColorRef(params.fontColor);
    return true;
}

void GuiPlatform::DestroyWindow(TWindowHandle window) { ::DestroyWindow(Hwnd(window)); }

void GuiPlatform::ShowWindow(TWindowHandle window, int32_t showCommand) { ::ShowWindow(Hwnd(window), showCommand); }

void GuiPlatform::SetWindowPos(TWindowHandle window, int32_t x, int32_t y) {
    HWND w = Hwnd(window);
    if (IsIconic(w)) {
        // A minimised window keeps its restored frame in its placement.
        WINDOWPLACEMENT wp = {};
        wp.length = sizeof wp;
        GetWindowPlacement(w, &wp);
        const LONG width = wp.rcNormalPosition.right - wp.rcNormalPosition.left;
        const LONG height = wp.rcNormalPosition.bottom - wp.rcNormalPosition.top;
        wp.rcNormalPosition = {x, y, x + width, y + height};
        wp.showCmd = SW_SHOWMINNOACTIVE;
        wp.flags = 0;
        SetWindowPlacement(w, &wp);
    } else {
        ::SetWindowPos(w, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void GuiPlatform::GetWindowSize(TWindowHandle window, int32_t& width, int32_t& height) {
    WINDOWPLACEMENT wp = {};
    wp.length = sizeof wp;
    GetWindowPlacement(Hwnd(window), &wp);
    width = wp.rcNormalPosition.right - wp.rcNormalPosition.left;
    height = wp.rcNormalPosition.bottom - wp.rcNormalPosition.top;
}

void GuiPlatform::GetVirtualScreenSize(int32_t& width, int32_t& height) {
    width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
}

int32_t GuiPlatform::StartupShowCommand() {
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    GetStartupInfoA(&si);
    return (si.dwFlags & STARTF_USESHOWWINDOW) ? si.wShowWindow : SW_SHOWNORMAL;
}

int32_t GuiPlatform::MessageBoxA(TWindowHandle owner, const AnsiString& text, const AnsiString& caption,
                                 uint32_t flags) {
    return ::MessageBoxA(Hwnd(owner), text.c_str(), caption.c_str(), flags);
}

AnsiString GuiPlatform::ModuleFileName() {
    char path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return AnsiString(path, n);
}

// ---- Shell

intptr_t GuiPlatform::ShellExecuteA(TWindowHandle owner, const char* verb, const char* file, const char* parameters,
                                    const char* directory, int32_t showCommand) {
    return reinterpret_cast<intptr_t>(::ShellExecuteA(Hwnd(owner), verb, file, parameters, directory, showCommand));
}

int32_t GuiPlatform::SHGetSpecialFolderLocation(TWindowHandle owner, int32_t folder, void** idList) {
    LPITEMIDLIST list = nullptr;
    const HRESULT hr = ::SHGetSpecialFolderLocation(Hwnd(owner), folder, &list);
    *idList = list;
    return hr;
}

bool GuiPlatform::SHGetPathFromIDListA(const void* idList, char* path) {
    return ::SHGetPathFromIDListA(static_cast<LPCITEMIDLIST>(idList), path) != FALSE;
}

// ---- COM

int32_t GuiPlatform::CoInitialize() { return ::CoInitialize(nullptr); }

void GuiPlatform::CoUninitialize() { ::CoUninitialize(); }

int32_t GuiPlatform::CoCreateInstance(const TGUID& clsid, void* outer, uint32_t context, const TGUID& iid,
                                      void** object) {
    const GUID c = ToGUID(clsid);
    const GUID i = ToGUID(iid);
    return ::CoCreateInstance(c, static_cast<IUnknown*>(outer), context, i, object);
}

int32_t GuiPlatform::QueryInterface(void* object, const TGUID& iid, void** result) {
    const GUID i = ToGUID(iid);
    return static_cast<IUnknown*>(object)->QueryInterface(i, result);
}

uint32_t GuiPlatform::Release(void* object) { return static_cast<IUnknown*>(object)->Release(); }

void GuiPlatform::CoTaskMemFree(void* memory) { ::CoTaskMemFree(memory); }

int32_t GuiPlatform::ShellLinkSetPath(void* shellLink, const char* path) {
    return static_cast<IShellLinkA*>(shellLink)->SetPath(path);
}

int32_t GuiPlatform::ShellLinkSetWorkingDirectory(void* shellLink, const char* directory) {
    return static_cast<IShellLinkA*>(shellLink)->SetWorkingDirectory(directory);
}

int32_t GuiPlatform::PersistFileSave(void* persistFile, const char16_t* fileName, bool remember) {
    static_assert(sizeof(char16_t) == sizeof(OLECHAR), "UTF-16 code units");
    return static_cast<IPersistFile*>(persistFile)
        ->Save(reinterpret_cast<LPCOLESTR>(fileName), remember ? TRUE : FALSE);
}

std::u16string GuiPlatform::MultiByteToWideChar(const AnsiString& text) {
    if (text.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::u16string out(static_cast<size_t>(n > 0 ? n : 0), u'\0');
    if (n > 0)
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), reinterpret_cast<LPWSTR>(&out[0]),
                              n);
    return out;
}

AnsiString GuiPlatform::SystemErrorText(int32_t code) {
    char buffer[512];
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
    return AnsiString(buffer, n);
}

// ---- Run log

namespace {

struct HandleCloser {
    void operator()(HANDLE h) const {
        if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};
using TFileHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

TFileHandle& LogFile() {
    static TFileHandle file;
    return file;
}

}  // namespace

AnsiString GuiPlatform::LocalAppDataFolder() {
    char path[MAX_PATH + 1] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
    return AnsiString(path, strnlen(path, sizeof path));
}

bool GuiPlatform::OpenLogFile(const AnsiString& folder, const AnsiString& fileName, uint64_t rotateAbove) {
    LogFile().reset();
    if (folder.empty()) return false;
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    const AnsiString path = folder + "\\" + fileName;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        // Two launchers starting at once may both try; one rename wins and
        // the other finds no file to move, which is fine.
        if (size > rotateAbove) MoveFileExA(path.c_str(), (path + ".1").c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    // Append access only: every write goes to the end of the file as it is
    // then, whoever else appends, and a line written in one call stays whole.
    // Shared for deletion, so that another launcher can rotate it meanwhile.
    HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    LogFile().reset(h);
    return true;
}

void GuiPlatform::WriteLogLine(const AnsiString& line) {
    if (!LogFile()) return;
    const AnsiString bytes = line + "\r\n";
    DWORD written = 0;
    WriteFile(LogFile().get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void GuiPlatform::CloseLogFile() { LogFile().reset(); }

TLocalTime GuiPlatform::LocalTime() {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    TLocalTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    t.millisecond = st.wMilliseconds;
    return t;
}

uint32_t GuiPlatform::CurrentProcessId() { return GetCurrentProcessId(); }

int64_t GuiPlatform::MonotonicMs() {
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        return QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? f.QuadPart : int64_t{1000};
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return c.QuadPart / frequency * 1000 + c.QuadPart % frequency * 1000 / frequency;
}
