#include "Unit1.h"

#include <cstring>

#include "FormResources.h"
#include "IdHTTPForm.h"
#include "ShlObj.h"

TForm1* Form1 = nullptr;
TProbeSettings ProbeSettings;

namespace {

const char kApplicationPage[] = "http://localhost:9080/kestrin";
const char kInstallPage[] = "http://localhost:9080/kestrin/demo_install.jsp";
const int32_t kMaxFailedTries = 120;
const char kServerStarter[] = "c:\\kestrin\\bin\\cmdow.exe";
const char kServerStarterParameters[] = "/run /hid c:\\kestrin\\bin\\startup.bat";

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
    CreateDesktopShortcut();
#else
    ShowInstallPage = false;
    Timer1->SetEnabled(false);
#endif
    ShellExecute(Handle(), "open", kServerStarter, kServerStarterParameters, nullptr, swShowMaximized);
    Timer1->SetEnabled(true);
}

void TForm1::Timer1Timer(TComponent* /*sender*/) {
    if (FailedTries == kMaxFailedTries) Timer1->SetEnabled(false);
    bool answered = false;
    try {
        http->GetDocument(probeURL_);
        answered = true;
    } catch (const EIdProtocolReplyError&) {
        // Any status line means the server is up: an error answer, or an
        // answer whose body framing is broken.
        answered = true;
    } catch (const Exception&) {
        ++FailedTries;
    }
    if (answered) OpenApplicationPage();
    if (!Timer1->Enabled()) Application->Terminate();
}

void TForm1::OpenApplicationPage() {
    Timer1->SetEnabled(false);
    ShellExecute(Handle(), "open", ShowInstallPage ? kInstallPage : kApplicationPage, nullptr, nullptr,
                 swShowMaximized);
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
    if (SHGetSpecialFolderLocation(0, csidlDesktopDirectory, desktop) < 0 || !desktop) return;
    if (!SHGetPathFromIDList(desktop, folder)) return;
    const AnsiString path(folder, strnlen(folder, sizeof folder));
    if (path.empty()) return;
    // A failed save (folder not writable) is not reported.
    PersistFileSave(file, AnsiToWide(path + kShortcutFileName), false);
}
#endif
