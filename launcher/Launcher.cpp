#include "Launcher.h"

#include "Forms.h"
#include "Unit1.h"

int RunLauncher() {
    TApplication application;
    try {
        Application->Initialize();
        Application->SetTitle("KESTRIN");
        Application->CreateForm(Form1);
        Application->Run();
    } catch (...) {
        ShowUnhandledException();
        return 1;
    }
    return 0;
}
