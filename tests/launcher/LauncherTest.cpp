// The launcher on the recording test platform, with the real HTTP client
// probing real loopback servers. The probe goes to an ephemeral port of the
// test's own (the pages it opens keep the product's address). Built once per
// deliverable; KESTRIN_INSTALL marks the first-run launcher.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <tuple>

#include "../httpclient/RequestHead.h"
#include "ComObj.h"
#include "IdHTTPForm.h"
#include "Launcher.h"
#include "ScriptedServer.h"
#include "TestPlatform.h"
#include "Unit1.h"

namespace {

#ifdef KESTRIN_INSTALL
constexpr bool kInstall = true;
const char kPage[] = "http://localhost:9080/kestrin/demo_install.jsp";
const char kProgram[] = "kestrin_install";
#else
constexpr bool kInstall = false;
const char kPage[] = "http://localhost:9080/kestrin";
const char kProgram[] = "kestrin";
#endif

using Strings = std::vector<AnsiString>;

const AnsiString kWindow = "4096";  // the first window after TestPlatform::Reset
const Strings kServerStart = {
    kWindow, "open", "c:\\kestrin\\bin\\cmdow.exe", "/run /hid c:\\kestrin\\bin\\startup.bat", "(null)", "3"};
const Strings kPageOpen = {kWindow, "open", kPage, "(null)", "(null)", "3"};
const char kOk[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

Strings Names(const std::vector<TPlatformCall>& calls) {
    Strings names;
    for (const TPlatformCall& c : calls) names.push_back(c.name);
    return names;
}

std::vector<Strings> ArgsOf(const char* name) {
    std::vector<Strings> out;
    for (const TPlatformCall& c : TestPlatform::Calls({name})) out.push_back(c.args);
    return out;
}

// Position of the first call named `name` in the whole log, -1 if none.
int IndexOf(const char* name, size_t from = 0) {
    const auto calls = TestPlatform::Calls();
    for (size_t i = from; i < calls.size(); ++i)
        if (calls[i].name == name) return static_cast<int>(i);
    return -1;
}

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestPlatform::Reset();
        TestPlatform::SetModuleFileName("C:\\kestrin\\kestrin.exe");
        ReserveProbePort();
    }
    void TearDown() override {
        ProbeSettings = TProbeSettings();
        EXPECT_EQ(TestPlatform::LiveComReferences(), 0);
        EXPECT_EQ(TestPlatform::LiveTimers(), 0);
        EXPECT_EQ(TestPlatform::LiveWindows(), 0);
    }
    static void ExpectNoStall() { EXPECT_EQ(IndexOf("Stall"), -1) << "the loop ran out of things to do"; }

    // Points the probe at a newly reserved port: its connects are refused
    // until a server takes the port over.
    void ReserveProbePort() {
        probePort_.emplace();
        ProbeSettings.port = probePort_->Port();
    }
    // The probe's port for a server to listen on; a new one when an earlier
    // server of the test has taken the last.
    ReservedPort TakeProbePort() {
        if (!probePort_) ReserveProbePort();
        ReservedPort port = std::move(*probePort_);
        probePort_.reset();
        return port;
    }
    // A server on the probe's port that plays `script` for every connection.
    std::unique_ptr<ScriptedServer> Serve(Script script) {
        ScriptedServerOptions options;
        options.repeatLast = true;
        options.stepTimeoutMs = 3000;
        return std::make_unique<ScriptedServer>(std::vector<Script>{std::move(script)}, TakeProbePort(), options);
    }

private:
    std::optional<ReservedPort> probePort_;
};

TEST_F(LauncherTest, StartsTheServerShowsTheWindowAndHandsOff) {
    auto server = Serve(AnswerOnce(kOk));
    EXPECT_EQ(RunLauncher(), 0);
    ExpectNoStall();

    const auto calls = TestPlatform::Calls({"CoInitialize", "CreateMainWindow", "CreateLabel", "ShellExecuteA",
                                            "SetTimer", "SetWindowPos", "ShowWindow", "WM_TIMER", "KillTimer",
                                            "PostQuitMessage", "DestroyWindow", "CoUninitialize"});
    ASSERT_EQ(Names(calls), (Strings{"CoInitialize", "CreateMainWindow", "CreateLabel", "ShellExecuteA", "SetTimer",
                                     "SetWindowPos", "ShowWindow", "WM_TIMER", "KillTimer", "ShellExecuteA",
                                     "PostQuitMessage", "DestroyWindow", "CoUninitialize"}));
    EXPECT_EQ(calls[1].args, (Strings{"KESTRIN", "258", "89", "192", "114", "dialog", "topmost", "0xFF00000F"}));
    EXPECT_EQ(calls[2].args, (Strings{kWindow, "Wait please, KESTRIN is starting.", "48", "40", "157", "13",
                                      "MS Sans Serif", "-11", "1", "0xFF000008", ""}));
    EXPECT_EQ(calls[3].args, kServerStart);
    EXPECT_EQ(calls[4].args, (Strings{"1000", "1"}));
    // Centred on the 1024 x 768 virtual screen: the window is 264 x 114.
    EXPECT_EQ(calls[5].args, (Strings{kWindow, "380", "327"}));
    EXPECT_EQ(calls[6].args, (Strings{kWindow, "1"}));
    EXPECT_EQ(calls[7].time, 1000);
    EXPECT_EQ(calls[8].args, (Strings{"1"}));  // the timer is off before the shell is called
    EXPECT_EQ(calls[9].args, kPageOpen);
    EXPECT_EQ(calls[10].time, 1000);

    server->Stop();
    EXPECT_EQ(server->Accepted(), 1);  // no request after the answer
    // The product's 148-byte probe, but for the digits of the test's port.
    const std::string port = std::to_string(ProbeSettings.port);
    const std::string head = DefaultHead("localhost:" + port);
    EXPECT_EQ(head.size() - port.size(), 148u - 4u);
    EXPECT_EQ(server->Connection(0).received, head);
}

TEST_F(LauncherTest, EveryAnswerOpensThePage) {
    const char* const answers[] = {
        kOk,
        "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n",
        "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found",
        "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n",
        "HTTP/1.1 302 Found\r\nLocation: http://localhost:9080/elsewhere\r\nContent-Length: 0\r\n\r\n",
    };
    for (const char* answer : answers) {
        SCOPED_TRACE(answer);
        TestPlatform::Reset();
        auto server = Serve(AnswerOnce(answer));
        EXPECT_EQ(RunLauncher(), 0);
        ExpectNoStall();
        EXPECT_EQ(TestPlatform::Ticks(), 1);
        EXPECT_EQ(ArgsOf("ShellExecuteA"), (std::vector<Strings>{kServerStart, kPageOpen}));
        server->Stop();
        EXPECT_EQ(server->Accepted(), 1);
    }
}

TEST_F(LauncherTest, FailedProbesAreCountedUpToTheLimit) {
    struct Case {
        const char* name;
        int serverFromTick;  // 0: nothing listens
        Script script;
        int probes;
        bool page;
    };
    const std::vector<Case> cases = {
        {"nothing listens", 0, {}, 121, false},
        {"closed before an answer", 1, {step::ReadHead(), step::Close()}, 121, false},
        {"answer on the 120th probe", 120, AnswerOnce(kOk), 120, true},
        {"answer on the 121st probe", 121, AnswerOnce(kOk), 121, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlatform::Reset();
        ReserveProbePort();  // refused until the server starts
        std::unique_ptr<ScriptedServer> server;
        if (c.serverFromTick > 0) TestPlatform::InTick(c.serverFromTick, [&] { server = Serve(c.script); });
        EXPECT_EQ(RunLauncher(), 0);
        ExpectNoStall();
        EXPECT_EQ(TestPlatform::Ticks(), c.probes);
        const auto quit = TestPlatform::Calls({"PostQuitMessage"});
        ASSERT_EQ(quit.size(), 1u);
        EXPECT_EQ(quit[0].time, c.probes * 1000);
        // The last tick turns the timer off before its probe; once is enough.
        const auto kills = TestPlatform::Calls({"KillTimer"});
        ASSERT_EQ(kills.size(), 1u);
        EXPECT_EQ(kills[0].time, c.probes * 1000);
        const std::vector<Strings> shell = ArgsOf("ShellExecuteA");
        EXPECT_EQ(shell, c.page ? (std::vector<Strings>{kServerStart, kPageOpen}) : std::vector<Strings>{kServerStart});
        EXPECT_EQ(IndexOf("MessageBoxA"), -1);
        if (server) {
            server->Stop();
            const int firstAtServer = c.serverFromTick;
            EXPECT_EQ(server->Accepted(), c.probes - firstAtServer + 1);
        }
    }
}

// A server that takes the request and never answers holds the probe (in
// real time) only for the launcher's own bound; the probe then fails. The
// product's bound is 10 s; here it is shortened to keep the test fast.
TEST_F(LauncherTest, ASilentServerDoesNotHoldTheWindowForEver) {
    ProbeSettings.timeout = 200;
    ScriptedServerOptions options;
    options.stepTimeoutMs = 5000;
    ScriptedServer server({{step::ReadHead(), step::Silent(5000)}}, TakeProbePort(), options);
    TestPlatform::CloseWindowAt(1500);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunLauncher(), 0);
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(seconds, 0.19);
    EXPECT_LT(seconds, 4.0);
    ExpectNoStall();
    EXPECT_EQ(TestPlatform::Ticks(), 1);
    EXPECT_EQ(ArgsOf("ShellExecuteA"), std::vector<Strings>{kServerStart});  // counted as failed: no page
    EXPECT_EQ(IndexOf("MessageBoxA"), -1);
}

TEST_F(LauncherTest, StartUpShowCommand) {
    struct Case {
        int32_t command;
        int64_t restoreAt;  // -1: no restore
        Strings shows;      // show commands given to the window, in order
        int64_t formShowAt;
    };
    const Case cases[] = {
        {1, -1, {"1"}, 0},
        {3, -1, {"3"}, 0},
        {2, -1, {"1"}, 0},
        {7, 30000, {"7", "1"}, 30000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        TestPlatform::Reset();
        TestPlatform::SetStartupShowCommand(c.command);
        if (c.restoreAt >= 0) TestPlatform::RestoreWindowAt(c.restoreAt);
        auto server = Serve(AnswerOnce(kOk));
        EXPECT_EQ(RunLauncher(), 0);
        ExpectNoStall();
        Strings shows;
        for (const Strings& a : ArgsOf("ShowWindow")) shows.push_back(a[1]);
        EXPECT_EQ(shows, c.shows);
        const auto shell = TestPlatform::Calls({"ShellExecuteA"});
        ASSERT_EQ(shell.size(), 2u);
        EXPECT_EQ(shell[0].time, c.formShowAt);
        EXPECT_EQ(shell[1].time, c.formShowAt + 1000);
        // Placed once, after the show handler and before becoming visible.
        const auto placed = TestPlatform::Calls({"SetWindowPos"});
        ASSERT_EQ(placed.size(), 1u);
        EXPECT_EQ(placed[0].time, c.formShowAt);
        EXPECT_LT(IndexOf("ShellExecuteA"), IndexOf("SetWindowPos"));
        EXPECT_LT(IndexOf("SetWindowPos"), IndexOf("ShowWindow", IndexOf("SetWindowPos")));
    }
}

TEST_F(LauncherTest, ClosingTheWindowEndsTheProgramWithoutAPage) {
    struct Case {
        const char* state;
        std::function<void()> arrange;
        int64_t closeAt;
        int64_t closedAt;  // when the close takes effect
        bool serverStarted;
        int probes;
    };
    const std::vector<Case> cases = {
        {"not yet restored", [] { TestPlatform::SetStartupShowCommand(7); }, 5000, 5000, false, 0},
        {"polling", [] {}, 5500, 5500, true, 5},
        {"during a probe that takes 3 s", [] { TestPlatform::InTick(2, [] { TestPlatform::Advance(3000); }); }, 2500,
         5000, true, 2},
        {"waiting after a failed show handler", [] { TestPlatform::SetNoTimerLeft(true); }, 5000, 5000, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        TestPlatform::Reset();
        c.arrange();
        TestPlatform::CloseWindowAt(c.closeAt);
        EXPECT_EQ(RunLauncher(), 0);
        ExpectNoStall();
        EXPECT_EQ(TestPlatform::Ticks(), c.probes);
        EXPECT_EQ(ArgsOf("ShellExecuteA"),
                  c.serverStarted ? std::vector<Strings>{kServerStart} : std::vector<Strings>{});
        const auto end = TestPlatform::Calls({"UserClose", "PostQuitMessage", "DestroyWindow", "CoUninitialize"});
        ASSERT_EQ(Names(end), (Strings{"UserClose", "PostQuitMessage", "DestroyWindow", "CoUninitialize"}));
        EXPECT_EQ(end[0].time, c.closedAt);
    }
}

TEST_F(LauncherTest, AFailingShowHandlerIsReportedThenTheWindowWaits) {
    struct Case {
        const char* name;
        bool installOnly;
        std::function<void()> arrange;
        AnsiString text;
        bool serverStarted;
        Strings releases;
    };
    const std::vector<Case> cases = {
        {"no timer left",
         false,
         [] { TestPlatform::SetNoTimerLeft(true); },
         "Not enough timers available.",
         true,
         {"IPersistFile", "IShellLinkA", "IUnknown"}},
        {"shell-link class not registered",
         true,
         [] { TestPlatform::SetCoCreateInstanceResult(static_cast<int32_t>(0x80040154u)); },
         "Class not registered.",
         false,
         {}},
        {"creation error without a system text",
         true,
         [] { TestPlatform::SetCoCreateInstanceResult(static_cast<int32_t>(0x80041234u)); },
         "OLE error 80041234.",
         false,
         {}},
        {"system text with its own full stop",
         true,
         [] {
             TestPlatform::SetCoCreateInstanceResult(static_cast<int32_t>(0x80070005u));
             TestPlatform::SetSystemErrorText(static_cast<int32_t>(0x80070005u), "Access is denied. \r\n");
         },
         "Access is denied.",
         false,
         {}},
        {"no IShellLinkA",
         true,
         [] { TestPlatform::FailQueryInterface(IID_IShellLinkA); },
         "Interface not supported.",
         false,
         {"IUnknown"}},
        {"no IPersistFile",
         true,
         [] { TestPlatform::FailQueryInterface(IID_IPersistFile); },
         "Interface not supported.",
         false,
         {"IShellLinkA", "IUnknown"}},
    };
    for (const Case& c : cases) {
        if (c.installOnly && !kInstall) continue;
        SCOPED_TRACE(c.name);
        TestPlatform::Reset();
        c.arrange();
        TestPlatform::CloseWindowAt(60000);
        EXPECT_EQ(RunLauncher(), 0);
        ExpectNoStall();
        EXPECT_EQ(ArgsOf("MessageBoxA"), (std::vector<Strings>{{kWindow, c.text, "KESTRIN", "0x00000010"}}));
        EXPECT_EQ(ArgsOf("ShellExecuteA"),
                  c.serverStarted ? std::vector<Strings>{kServerStart} : std::vector<Strings>{});
        EXPECT_EQ(TestPlatform::Ticks(), 0);
        // Visible only after the box, and then left alone until closed.
        const int box = IndexOf("MessageBoxA");
        EXPECT_NE(IndexOf("ShowWindow", box), -1);
        EXPECT_EQ(IndexOf("ShowWindow"), IndexOf("ShowWindow", box));
        if (kInstall) {
            Strings releases;
            for (const Strings& a : ArgsOf("Release")) releases.push_back(a[0]);
            EXPECT_EQ(releases, c.releases);
        }
    }
}

TEST_F(LauncherTest, DesktopShortcut) {
    struct Case {
        AnsiString desktop;
        std::u16string saved;
        AnsiString savedAsRecorded;  // as recorded: non-ASCII code units in hex escapes
    };
    const Case cases[] = {
        {"C:\\Users\\tester\\Desktop", u"C:\\Users\\tester\\Desktop\\KESTRIN.lnk",
         "C:\\Users\\tester\\Desktop\\KESTRIN.lnk"},
        // Through the ANSI code page (Windows-1252 on the test platform).
        {"C:\\Users\\J\xE9r\xF4me\x80\\Desktop", u"C:\\Users\\J\u00E9r\u00F4me\u20AC\\Desktop\\KESTRIN.lnk",
         "C:\\Users\\J\\u00E9r\\u00F4me\\u20AC\\Desktop\\KESTRIN.lnk"},
        // No separator added or removed.
        {"D:\\", u"D:\\\\KESTRIN.lnk", "D:\\\\KESTRIN.lnk"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.desktop);
        TestPlatform::Reset();
        TestPlatform::SetDesktopPath(c.desktop);
        auto server = Serve(AnswerOnce(kOk));
        EXPECT_EQ(RunLauncher(), 0);
        const auto calls = TestPlatform::Calls({"CoCreateInstance", "QueryInterface", "IShellLinkA::SetPath",
                                                "IShellLinkA::SetWorkingDirectory", "SHGetSpecialFolderLocation",
                                                "SHGetPathFromIDListA", "MultiByteToWideChar", "IPersistFile::Save",
                                                "CoTaskMemFree", "Release"});
        if (!kInstall) {
            EXPECT_TRUE(calls.empty());  // the everyday launcher writes no shortcut
            continue;
        }
        const AnsiString file = c.desktop + "\\KESTRIN.lnk";
        const std::vector<std::pair<AnsiString, Strings>> expected = {
            {"CoCreateInstance",
             {"{00021401-0000-0000-C000-000000000046}", "(null)", "5", "{00000000-0000-0000-C000-000000000046}"}},
            {"QueryInterface", {"IUnknown", "{000214EE-0000-0000-C000-000000000046}"}},
            {"QueryInterface", {"IUnknown", "{0000010B-0000-0000-C000-000000000046}"}},
            {"IShellLinkA::SetPath", {"c:\\kestrin\\kestrin.exe"}},
            {"IShellLinkA::SetWorkingDirectory", {"c:\\kestrin\\"}},
            {"SHGetSpecialFolderLocation", {"0", "16"}},
            {"SHGetPathFromIDListA", {"list"}},
            {"MultiByteToWideChar", {file}},
            {"IPersistFile::Save", {c.savedAsRecorded, "FALSE"}},
            {"CoTaskMemFree", {"list"}},
            {"Release", {"IPersistFile"}},
            {"Release", {"IShellLinkA"}},
            {"Release", {"IUnknown"}},
        };
        ASSERT_EQ(calls.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(calls[i].name, expected[i].first) << i;
            EXPECT_EQ(calls[i].args, expected[i].second) << i;
        }
        EXPECT_EQ(TestPlatform::LastSavedFileName(), c.saved);
        // Written before the server is started.
        EXPECT_LT(IndexOf("IPersistFile::Save"), IndexOf("ShellExecuteA"));
    }
}

TEST_F(LauncherTest, ShortcutSaveProblemsAreSilent) {
    if (!kInstall) GTEST_SKIP() << "only the first-run launcher writes a shortcut";
    struct Case {
        const char* name;
        std::function<void()> arrange;
        bool saved;
    };
    const std::vector<Case> cases = {
        {"save fails", [] { TestPlatform::SetSaveResult(static_cast<int32_t>(0x80070005u)); }, true},
        {"no desktop folder", [] { TestPlatform::SetDesktopPath(std::nullopt); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlatform::Reset();
        c.arrange();
        auto server = Serve(AnswerOnce(kOk));
        EXPECT_EQ(RunLauncher(), 0);
        ExpectNoStall();
        EXPECT_EQ(IndexOf("MessageBoxA"), -1);
        EXPECT_EQ(IndexOf("IPersistFile::Save") != -1, c.saved);
        EXPECT_EQ(ArgsOf("ShellExecuteA"), (std::vector<Strings>{kServerStart, kPageOpen}));
    }
}

TEST_F(LauncherTest, StartUpErrorGetsTheLastResortReport) {
    TestPlatform::SetCreateWindowFails(true);
    EXPECT_EQ(RunLauncher(), 1);
    EXPECT_EQ(ArgsOf("MessageBoxA"),
              (std::vector<Strings>{{"0",
                                     "Exception EOutOfResources in module kestrin.exe at 00000000.\r\n"
                                     "Error creating window.\r\n",
                                     "Application Error", "0x00002010"}}));
    EXPECT_EQ(IndexOf("ShellExecuteA"), -1);
    EXPECT_EQ(Names(TestPlatform::Calls({"CoInitialize", "MessageBoxA", "CoUninitialize"})),
              (Strings{"CoInitialize", "MessageBoxA", "CoUninitialize"}));
}

TEST_F(LauncherTest, ComIsUninitialisedOnlyAfterASuccessfulInitialise) {
    struct Case {
        uint32_t result;
        size_t uninitialises;
    };
    const Case cases[] = {{0x00000000u, 1}, {0x00000001u, 1}, {0x80010106u, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        TestPlatform::Reset();
        TestPlatform::SetCoInitializeResult(static_cast<int32_t>(c.result));
        auto server = Serve(AnswerOnce(kOk));
        EXPECT_EQ(RunLauncher(), 0);
        EXPECT_EQ(TestPlatform::Calls({"CoUninitialize"}).size(), c.uninitialises);
        EXPECT_EQ(ArgsOf("ShellExecuteA"), (std::vector<Strings>{kServerStart, kPageOpen}));
    }
}

// The events of the run log, without the time and program that start each
// line.
Strings LogEvents() {
    const AnsiString prefix = AnsiString(" ") + kProgram + "[4242] ";
    Strings events;
    for (const AnsiString& line : TestPlatform::LogLines()) {
        const size_t at = line.find(prefix);
        events.push_back(at == 23 ? line.substr(at + prefix.size()) : "(malformed) " + line);
    }
    return events;
}

const AnsiString kLogStart = AnsiString("start: version ") + KESTRIN_VERSION_TEXT + ", show command 1";
const AnsiString kLogServerStart =
    "server start: c:\\kestrin\\bin\\cmdow.exe /run /hid c:\\kestrin\\bin\\startup.bat: shell result 42";
const AnsiString kLogPage = AnsiString("page opened: ") + kPage + ": shell result 42";

// The shortcut line of kestrin_install, nothing for kestrin.
Strings ShortcutLine(const AnsiString& line = "shortcut written: C:\\Users\\tester\\Desktop\\KESTRIN.lnk") {
    return kInstall ? Strings{line} : Strings{};
}

Strings Concat(std::initializer_list<Strings> parts) {
    Strings out;
    for (const Strings& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST_F(LauncherTest, TheRunLogTellsWhatHappened) {
    const std::string longReason(300, 'x');
    struct Case {
        const char* name;
        std::function<std::unique_ptr<ScriptedServer>()> arrange;
        Strings events;
    };
    std::unique_ptr<ScriptedServer> later;
    const std::vector<Case> cases = {
        {"server up", [this] { return Serve(AnswerOnce(kOk)); },
         Concat({{kLogStart},
                 ShortcutLine(),
                 {kLogServerStart, "window shown", "probe 1 took 0 ms: HTTP/1.1 200 OK", kLogPage, "exit code 0"}})},
        {"refused, then up",
         [&] {
             TestPlatform::InTick(3, [&] { later = Serve(AnswerOnce(kOk)); });
             return nullptr;
         },
         Concat({{kLogStart},
                 ShortcutLine(),
                 {kLogServerStart, "window shown", "probe 1 took 0 ms: refused", "probe 2 took 0 ms: refused",
                  "probe 3 took 0 ms: HTTP/1.1 200 OK", kLogPage, "exit code 0"}})},
        {"error status", [this] { return Serve(AnswerOnce("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")); },
         Concat({{kLogStart},
                 ShortcutLine(),
                 {kLogServerStart, "window shown", "probe 1 took 0 ms: HTTP/1.1 404 Not Found", kLogPage,
                  "exit code 0"}})},
        // Control characters escaped, cut after 200 characters of the line.
        {"odd status line",
         [&] { return Serve(AnswerOnce("HTTP/1.1 200 O\tK\x01" + longReason + "\r\nContent-Length: 0\r\n\r\n")); },
         Concat({{kLogStart},
                 ShortcutLine(),
                 {kLogServerStart, "window shown",
                  "probe 1 took 0 ms: HTTP/1.1 200 O\\tK\\x01" + longReason.substr(0, 200 - 17), kLogPage,
                  "exit code 0"}})},
        {"server start fails",
         [this] {
             TestPlatform::SetShellExecuteResult(2);
             return Serve(AnswerOnce(kOk));
         },
         Concat({{kLogStart},
                 ShortcutLine(),
                 {"server start: c:\\kestrin\\bin\\cmdow.exe /run /hid c:\\kestrin\\bin\\startup.bat: shell "
                  "result 2 (failed: file not found)",
                  "window shown", "probe 1 took 0 ms: HTTP/1.1 200 OK",
                  AnsiString("page opened: ") + kPage + ": shell result 2 (failed: file not found)", "exit code 0"}})},
        {"started minimised",
         [this] {
             TestPlatform::SetStartupShowCommand(7);
             TestPlatform::RestoreWindowAt(5000);
             return Serve(AnswerOnce(kOk));
         },
         Concat({{AnsiString("start: version ") + KESTRIN_VERSION_TEXT + ", show command 7",
                  "window minimised, waiting for the user to restore it"},
                 ShortcutLine(),
                 {kLogServerStart, "window shown", "probe 1 took 0 ms: HTTP/1.1 200 OK", kLogPage, "exit code 0"}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlatform::Reset();
        ReserveProbePort();  // refused until a server takes it
        auto server = c.arrange();
        EXPECT_EQ(RunLauncher(), 0);
        ExpectNoStall();
        EXPECT_EQ(LogEvents(), c.events);
        later.reset();
    }
}

// How a probe without an answer failed, as the client reported it; the
// user then closes the window.
TEST_F(LauncherTest, TheRunLogNamesHowAProbeFailed) {
    struct Case {
        const char* name;
        Script script;
        AnsiString outcome;
    };
    const std::vector<Case> cases = {
        {"nothing listens", {}, "refused"},
        {"closed before an answer", {step::ReadHead(), step::Close()}, "closed"},
        {"reset before an answer", {step::ReadHead(), step::Reset()}, "reset"},
        {"never answers", {step::ReadHead(), step::Silent(5000)}, "timed out"},
        {"answer's head too large",
         {step::ReadHead(), step::Send("HTTP/1.1 200 OK\r\nX: " + std::string(20000, 'a') + "\r\n\r\n"), step::Close()},
         "failed, EIdReadLnMaxLineLengthExceeded: Max line length exceeded."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlatform::Reset();
        ProbeSettings.timeout = 200;
        // Refused while the reserved port does not listen.
        ReserveProbePort();
        std::unique_ptr<ScriptedServer> server;
        if (!c.script.empty()) {
            ScriptedServerOptions options;
            options.stepTimeoutMs = 5000;
            server = std::make_unique<ScriptedServer>(std::vector<Script>{c.script}, TakeProbePort(), options);
        }
        TestPlatform::CloseWindowAt(1500);
        EXPECT_EQ(RunLauncher(), 0);
        ExpectNoStall();
        EXPECT_EQ(LogEvents(), Concat({{kLogStart},
                                       ShortcutLine(),
                                       {kLogServerStart, "window shown", "probe 1 took 0 ms: " + c.outcome,
                                        "window closed by the user", "exit code 0"}}));
    }
}

TEST_F(LauncherTest, TheRunLogOfAGiveUp) {
    EXPECT_EQ(RunLauncher(), 0);
    const Strings events = LogEvents();
    ASSERT_EQ(events.size(), 121u + 5u + ShortcutLine().size());
    const size_t first = 3 + ShortcutLine().size();
    for (int n = 1; n <= 121; ++n) EXPECT_EQ(events[first + n - 1], "probe " + IntToStr(n) + " took 0 ms: refused");
    EXPECT_EQ(Strings(events.end() - 2, events.end()),
              (Strings{"gave up after 121 probes without an answer", "exit code 0"}));
    // Each line begins with the local time to the millisecond, the program
    // and its process id.
    const Strings lines = TestPlatform::LogLines();
    EXPECT_EQ(lines[first + 2],
              AnsiString("2026-12-11 09:00:03.000 ") + kProgram + "[4242] probe 3 took 0 ms: refused");
    EXPECT_EQ(lines.back(), AnsiString("2026-12-11 09:02:01.000 ") + kProgram + "[4242] exit code 0");
}

TEST_F(LauncherTest, TheRunLogOfFailures) {
    struct Case {
        const char* name;
        bool installOnly;
        std::function<void()> arrange;
        Strings events;
    };
    const std::vector<Case> cases = {
        {"shortcut save fails", true, [] { TestPlatform::SetSaveResult(static_cast<int32_t>(0x80070005u)); },
         Concat({{kLogStart},
                 ShortcutLine("shortcut not written: C:\\Users\\tester\\Desktop\\KESTRIN.lnk: OLE error 80070005"),
                 {kLogServerStart, "window shown", "probe 1 took 0 ms: refused", "window closed by the user",
                  "exit code 0"}})},
        {"no desktop folder", true, [] { TestPlatform::SetDesktopPath(std::nullopt); },
         Concat({{kLogStart},
                 ShortcutLine("shortcut not written: the desktop folder cannot be found"),
                 {kLogServerStart, "window shown", "probe 1 took 0 ms: refused", "window closed by the user",
                  "exit code 0"}})},
        {"shell-link class not registered",
         true,
         [] { TestPlatform::SetCoCreateInstanceResult(static_cast<int32_t>(0x80040154u)); },
         {kLogStart, "shortcut not written: Class not registered", "error box: Class not registered.", "window shown",
          "window closed by the user", "exit code 0"}},
        {"no timer left", false, [] { TestPlatform::SetNoTimerLeft(true); },
         Concat({{kLogStart},
                 ShortcutLine(),
                 {kLogServerStart, "error box: Not enough timers available.", "window shown",
                  "window closed by the user", "exit code 0"}})},
    };
    for (const Case& c : cases) {
        if (c.installOnly && !kInstall) continue;
        SCOPED_TRACE(c.name);
        TestPlatform::Reset();
        c.arrange();
        TestPlatform::CloseWindowAt(1500);
        EXPECT_EQ(RunLauncher(), 0);
        ExpectNoStall();
        EXPECT_EQ(LogEvents(), c.events);
    }

    SCOPED_TRACE("start-up error");
    TestPlatform::Reset();
    TestPlatform::SetCreateWindowFails(true);
    EXPECT_EQ(RunLauncher(), 1);
    EXPECT_EQ(LogEvents(), (Strings{kLogStart,
                                    "error box: Exception EOutOfResources in module program.exe at 00000000.\\r\\n"
                                    "Error creating window.\\r\\n",
                                    "exit code 1"}));
}

// The log is opened once, in the user's local application data folder; a log
// that cannot be written leaves every other call as it was, at the same
// virtual time.
TEST_F(LauncherTest, AnUnwritableLogChangesNothing) {
    using Recorded = std::vector<std::tuple<AnsiString, Strings, int64_t>>;
    const auto run = [this](std::function<void()> arrange) {
        TestPlatform::Reset();
        ReserveProbePort();  // refused until the server starts
        arrange();
        std::unique_ptr<ScriptedServer> server;
        TestPlatform::InTick(3, [&] { server = Serve(AnswerOnce(kOk)); });
        EXPECT_EQ(RunLauncher(), 0);
        Recorded calls;
        for (const TPlatformCall& c : TestPlatform::Calls())
            if (c.name != "OpenLogFile" && c.name != "WriteLogLine" && c.name != "CloseLogFile")
                calls.emplace_back(c.name, c.args, c.time);
        return calls;
    };
    const Recorded logged = run([] {});
    EXPECT_EQ(ArgsOf("OpenLogFile"),
              (std::vector<Strings>{{"C:\\Users\\tester\\AppData\\Local\\KESTRIN", "launcher.log", "262144"}}));
    EXPECT_EQ(TestPlatform::LogLines().size(), 8u + ShortcutLine().size());
    EXPECT_EQ(run([] { TestPlatform::SetLogFileOpens(false); }), logged);
    EXPECT_TRUE(TestPlatform::LogLines().empty());
    EXPECT_EQ(run([] { TestPlatform::SetLocalAppDataFolder(std::nullopt); }), logged);
    EXPECT_TRUE(TestPlatform::Calls({"OpenLogFile", "WriteLogLine"}).empty());
}

TEST_F(LauncherTest, TheFormsClientHasTheDefaultsOfAClientBuiltInCode) {
    TApplication app;
    TForm1* form = nullptr;
    app.CreateForm(form);
    ASSERT_EQ(form->ComponentCount(), 3);
    EXPECT_EQ(form->Components(0), form->Label1);
    EXPECT_EQ(form->Components(1), form->Timer1);
    EXPECT_EQ(form->Components(2), form->http);
    EXPECT_EQ(form->http->Name(), "http");
    EXPECT_EQ(form->http->Owner(), form);
    EXPECT_FALSE(form->Timer1->Enabled());
    EXPECT_EQ(form->Timer1->Interval(), 1000u);
    EXPECT_EQ(form->FailedTries, 0);
    EXPECT_FALSE(form->ShowInstallPage);
    EXPECT_EQ(form->http->FetchTimeout(), 10000);                        // the launcher's own bound, not from the form
    EXPECT_EQ(TProbeSettings().URL(), "http://localhost:9080/kestrin");  // what the programs probe

    TIdHTTP code(nullptr);
    for (const TIdHTTPPublishedProperty& p : IdHTTPPublishedProperties())
        EXPECT_EQ(p.text(*form->http), p.text(code)) << p.name;

    // And the values the form stores are the ones it is meant to store.
    EXPECT_EQ(form->http->Request()->UserAgent(), "Mozilla/3.0 (compatible; HTTP Library)");
    EXPECT_EQ(form->http->Request()->Accept(), "text/html, */*");
    EXPECT_EQ(form->http->Request()->ContentType(), "text/html");
    EXPECT_EQ(form->http->Request()->ContentLength(), -1);
    EXPECT_TRUE(form->http->HTTPOptions() == TIdHTTPOptions{TIdHTTPOption::hoForceEncodeParams});
}

}  // namespace
