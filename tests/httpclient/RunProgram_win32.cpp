#include <windows.h>

#include "RunProgram.h"

namespace {

// Closes a handle on every way out.
class Handle {
public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
    ~Handle() {
        if (h_ != INVALID_HANDLE_VALUE && h_ != nullptr) CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }

private:
    HANDLE h_;
};

HANDLE CreateInheritable(const std::string& path) {
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof sa;
    sa.bInheritHandle = TRUE;
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

std::string Quoted(const std::string& arg) {
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') out.append(backslashes * 2 + 1, '\\');
        else out.append(backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

}  // namespace

int RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& stdoutPath,
               const std::string& stderrPath, int timeoutMs) {
    std::string path = program;
    for (char& c : path)
        if (c == '/') c = '\\';
    std::string commandLine = Quoted(path);
    for (const std::string& a : args) commandLine += " " + Quoted(a);

    Handle out(CreateInheritable(stdoutPath));
    Handle err(CreateInheritable(stderrPath));
    if (!out.valid() || !err.valid()) return -1;

    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out.get();
    si.hStdError = err.get();
    PROCESS_INFORMATION pi{};
    std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
    mutableLine.push_back('\0');
    if (!CreateProcessA(path.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    Handle process(pi.hProcess);
    Handle thread(pi.hThread);
    if (WaitForSingleObject(process.get(), static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
        return -1;
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(process.get(), &code)) return -1;
    return static_cast<int>(code);
}
