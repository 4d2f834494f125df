// cmdow: the command-window utility that the launchers run to start the
// server script with its console hidden. Only the one form the launchers use
// is supported:
//
//     cmdow /run /hid FILE
//
// FILE is started through the command interpreter ("cmd.exe /c FILE") in a
// process without a console window; cmdow does not wait for it and exits 0.
// Anything else prints a usage message and exits 2; a FILE that cannot be
// found or started exits 1.
#include <windows.h>

#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: cmdow /run /hid FILE\r\n"
    "  Starts FILE (a batch file or program) through the command interpreter\r\n"
    "  with its window hidden, and returns at once without waiting for it.\r\n"
    "  Switches are case-blind; no other form is supported.\r\n";

// cmdow is a GUI-subsystem program so that starting it never opens a console
// window of its own. Messages go to the standard error handle when the caller
// provided one, and to a message box otherwise.
void Report(const std::string& text, bool error) {
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    if (err != nullptr && err != INVALID_HANDLE_VALUE &&
        WriteFile(err, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        return;
    }
    MessageBoxA(nullptr, text.c_str(), "cmdow", MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
}

bool IsSwitch(const char* arg, const char* name) { return lstrcmpiA(arg, name) == 0; }

std::string Interpreter() {
    char buf[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("COMSPEC", buf, sizeof buf);
    if (n > 0 && n < sizeof buf) {
        return buf;
    }
    return "cmd.exe";
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<const char*> files;
    bool run = false;
    bool hid = false;
    for (int i = 1; i < argc; ++i) {
        if (IsSwitch(argv[i], "/run")) {
            run = true;
        } else if (IsSwitch(argv[i], "/hid")) {
            hid = true;
        } else {
            files.push_back(argv[i]);
        }
    }
    if (!run || !hid || files.size() != 1 || files[0][0] == '/') {
        Report(kUsage, argc > 1);
        return 2;
    }

    const std::string file = files[0];
    if (GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
        Report("cmdow: cannot find \"" + file + "\"\r\n", true);
        return 1;
    }

    // The outer quotes are the ones "cmd /c" strips; the inner ones keep a
    // path with blanks in one piece.
    std::string command = "\"" + Interpreter() + "\" /c \"\"" + file + "\"\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
        Report("cmdow: cannot start \"" + file + "\" (error " + std::to_string(GetLastError()) + ")\r\n", true);
        return 1;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 0;
}
