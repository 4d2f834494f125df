// The launcher window: shows the waiting text, starts the local server,
// polls its address once a second and hands the user over to the browser.
// Built twice: with KESTRIN_INSTALL for the first-run launcher, which also
// writes the desktop shortcut and opens the set-up page.
#pragma once

#include <cstdint>

#include "Forms.h"
#include "IdHTTP.h"

class TForm1 : public TForm {
public:
    // Reads the form description "TFORM1" and makes the window (hidden).
    explicit TForm1(TComponent* owner);
    ~TForm1() override;
    const char* ClassName() const override { return "TForm1"; }

    TLabel* Label1 = nullptr;
    TTimer* Timer1 = nullptr;
    TIdHTTP* http = nullptr;
    int32_t FailedTries = 0;      // probes that got no answer; never reset
    bool ShowInstallPage = false;  // which page the hand-off opens

    // OnShow: starts the server and the polling.
    void FormShow(TComponent* sender);
    // OnTimer of Timer1: one probe; the first answer of any kind opens the
    // page, and after 120 failures one last probe decides.
    void Timer1Timer(TComponent* sender);

private:
    void OpenApplicationPage();
#ifdef KESTRIN_INSTALL
    void CreateDesktopShortcut();
#endif
};

extern TForm1* Form1;
