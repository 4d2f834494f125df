#include "Unit1.h"

#include <cstring>

#include "FormResources.h"
#include "IdHTTPForm.h"
#include "RunLog.h"
#include "ShlObj.h"

TForm1* Form1 = nullptr;
TProbeSettings ProbeSettings;

namespace {

const char kApplicationPage[] = "http://localhost:9080/kestrin";
const char kInstallPage[] = "http://localhost:9080/kestrin/demo_install.jsp";
const int32_t kMaxFailedTries = 120;
const char kServerStarter[] = "c:\\kestrin\\bin\\cmdow.exe";
const char kServerStarterParameters[] = "/run /hid c:\\kestrin\\bin\\startup.bat";

// A status line in the log is cut after this many characters.
const size_t kLoggedStatusLine = 200;

// "shell result N", with what N means when it is a failure (32 and less).
AnsiString ShellResultText(intptr_t result) {
    struct Meaning {
        intptr_t code;
        const char* text;
    };
    static const Meaning kFailures[] = {
        {0, "out of memory or resources"},
        {2, "file not found"},
        {3, "path not found"},
        {5, "access denied"},
        {8, "out of memory"},
        {11, "not a valid program"},
        {26, "sharing violation"},
        {27, "association incomplete"},
        {28, "DDE time-out"},
        {29, "DDE failed"},
        {30, "DDE busy"},
        {31, "no program for this file type"},
        {32, "DLL not found"},
    };
    AnsiString text = "shell result " + IntToStr(static_cast<int64_t>(result));
    if (result > 32) return text;
    for (const Meaning& m : kFailures)
        if (m.code == result) return text + " (failed: " + m.text + ")";
    return text + " (failed)";
}

// How a probe that got no answer failed, from what the client raised.
AnsiString ProbeFailure(const Exception& error) {
    if (const auto* socket = dynamic_cast<const EIdSocketError*>(&error)) {
        switch (socket->SocketCode()) {
        case 10061: return "refused";
        case 10060: return "timed out";
        case 10054: return "reset";
        default: break;
        }
    }
    if (dynamic_cast<const EIdReadTimeout*>(&error) || dynamic_cast<const EIdConnectTimeout*>(&error))
        return "timed out";
    if (dynamic_cast<const EIdConnClosedGracefully*>(&error)) return "closed";
    return AnsiString("failed, ") + error.ClassName() + ": " + error.Message();
}

#ifdef KESTRIN_INSTALL
const char kShortcutTarget[] = "c:\\kestrin\\kestrin.exe";
const char kShortcutFileName[] = "\\KESTRIN.lnk";

// The path up to and including its last "\" or ":".
AnsiString ExtractFilePath(const AnsiString& path) {
    const size_t cut = path.find_last_of("\\:");
    return cut == AnsiString::npos ? AnsiString() : path.substr(0, cut + 1);
}
#endif

}  // namespace

AnsiString TProbeSettings::URL() const { return "http://localhost:" + IntToStr(port) + "/kestrin"; }

TForm1::TForm1(TComponent* owner) : TForm(owner) {
    RegisterIdHTTPClass();
    BindField("Label1", Label1);
    BindField("Timer1", Timer1);
    BindField("http", http);
    BindMethod("FormShow", [this](TComponent* sender) { FormShow(sender); });
    BindMethod("Timer1Timer", [this](TComponent* sender) { Timer1Timer(sender); });
    ReadForm("TFORM1", FindFormResource("TFORM1"));
    if (!Label1 || !Timer1 || !http) throw EReadError("Form description TFORM1 lacks a component");
    // With the form's read time-out of 0, a server that accepts the
    // connection and never answers would hold the probe, and with it the
    // only thread and the window, for ever. Bounded, such a probe fails
    // like any other probe without an answer.
    http->SetFetchTimeout(ProbeSettings.timeout);
    probeURL_ = ProbeSettings.URL();
}

TForm1::~TForm1() {
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::FormShow(TComponent* /*sender*/) {
#ifdef KESTRIN_INSTALL
    ShowInstallPage = true;
    Timer1->SetEnabled(false);
    try {
        CreateDesktopShortcut();
    } catch (const Exception& error) {
        TRunLog::Write("shortcut not written: " + error.Message());
        throw;
    }
#else
    ShowInstallPage = false;
    Timer1->SetEnabled(false);
#endif
    const intptr_t started =
        ShellExecute(Handle(), "open", kServerStarter, kServerStarterParameters, nullptr, swShowMaximized);
    TRunLog::Write(AnsiString("server start: ") + kServerStarter + " " + kServerStarterParameters + ": " +
                   ShellResultText(started));
    Timer1->SetEnabled(true);
}

void TForm1::Timer1Timer(TComponent* /*sender*/) {
    if (FailedTries == kMaxFailedTries) Timer1->SetEnabled(false);
    bool answered = false;
    AnsiString outcome;  // for the run log
    const int32_t probe = FailedTries + 1;
    const int64_t began = GuiPlatform::MonotonicMs();
    try {
        http->GetDocument(probeURL_);
        answered = true;
        outcome = TRunLog::Printable(http->ResponseText(), kLoggedStatusLine);
    } catch (const EIdHTTPProtocolException& error) {
        answered = true;  // any status line means the server is up
        outcome = TRunLog::Printable(error.Message(), kLoggedStatusLine);
    } catch (const EIdProtocolReplyError& error) {
        // A status line whose answer's body framing is broken: up all the same.
        answered = true;
        outcome = TRunLog::Printable(http->ResponseText() + ", " + error.Message(), kLoggedStatusLine);
    } catch (const Exception& error) {
        ++FailedTries;
        outcome = ProbeFailure(error);
    }
    TRunLog::Write("probe " + IntToStr(probe) + " took " + IntToStr(GuiPlatform::MonotonicMs() - began) +
                   " ms: " + outcome);
    if (answered) OpenApplicationPage();
    else if (!Timer1->Enabled()) TRunLog::Write("gave up after " + IntToStr(FailedTries) + " probes without an answer");
    if (!Timer1->Enabled()) Application->Terminate();
}

void TForm1::OpenApplicationPage() {
    Timer1->SetEnabled(false);
    const char* page = ShowInstallPage ? kInstallPage : kApplicationPage;
    const intptr_t opened = ShellExecute(Handle(), "open", page, nullptr, nullptr, swShowMaximized);
    TRunLog::Write(AnsiString("page opened: ") + page + ": " + ShellResultText(opened));
}

#ifdef KESTRIN_INSTALL
void TForm1::CreateDesktopShortcut() {
    const AnsiString target = kShortcutTarget;
    // Declared in this order so that they are released in the reverse one,
    // also when a step raises.
    TInterfaceRef object = CreateComObject(CLSID_ShellLink);
    TInterfaceRef link = InterfaceCast(object, IID_IShellLinkA);
    TInterfaceRef file = InterfaceCast(object, IID_IPersistFile);
    ShellLinkSetPath(link, target);
    ShellLinkSetWorkingDirectory(link, ExtractFilePath(target));

    TItemIdList desktop;
    char folder[kMaxPath + 1] = {};
    // Without a desktop folder the name would be "\KESTRIN.lnk", the root
    // of the current drive: then nothing is saved.
    const char kNoDesktop[] = "shortcut not written: the desktop folder cannot be found";
    if (SHGetSpecialFolderLocation(0, csidlDesktopDirectory, desktop) < 0 || !desktop) {
        TRunLog::Write(kNoDesktop);
        return;
    }
    if (!SHGetPathFromIDList(desktop, folder)) {
        TRunLog::Write(kNoDesktop);
        return;
    }
    const AnsiString path(folder, strnlen(folder, sizeof folder));
    if (path.empty()) {
        TRunLog::Write(kNoDesktop);
        return;
    }
    // A failed save (folder not writable) is not reported, only logged.
    const AnsiString fileName = path + kShortcutFileName;
    const int32_t saved = PersistFileSave(file, AnsiToWide(fileName), false);
    if (saved < 0) TRunLog::Write("shortcut not written: " + fileName + ": " + OleErrorMessage(saved));
    else TRunLog::Write("shortcut written: " + fileName);
}
#endif
