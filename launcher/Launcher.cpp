#include "Launcher.h"

#include "Forms.h"
#include "RunLog.h"
#include "Unit1.h"

namespace {

// Closes the run log with the exit code, however the run ends.
int Finish(int exitCode) {
    TRunLog::Write("exit code " + IntToStr(exitCode));
    TRunLog::Close();
    return exitCode;
}

}  // namespace

int RunLauncher() {
    TApplication application;
    TRunLog::Open(KESTRIN_PROGRAM_NAME);
    TRunLog::Write("start: version " KESTRIN_VERSION_TEXT ", show command " +
                   IntToStr(GuiPlatform::StartupShowCommand()));
    try {
        Application->Initialize();
        Application->SetTitle("KESTRIN");
        Application->CreateForm(Form1);
        Application->Run();
    } catch (...) {
        ShowUnhandledException();
        return Finish(1);
    }
    return Finish(0);
}
