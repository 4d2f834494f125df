// The launcher window: shows the waiting text, starts the local server,
// polls its address once a second and hands the user over to the browser.
// Built twice: with KESTRIN_INSTALL for the first-run launcher, which also
// writes the desktop shortcut and opens the set-up page.
#pragma once

#include <cstdint>

#include "Forms.h"
#include "IdHTTP.h"

// Where the launcher probes and how long one probe may wait. The programs
// always run with these defaults; tests point the probe at a server of
// their own, and shorten the bound, before the window is created.
struct TProbeSettings {
    uint16_t port = 9080;     // of the probe URL "http://localhost:<port>/kestrin"
    int32_t timeout = 10000;  // the bound of one probe's waits for data, ms
    AnsiString URL() const;
};
extern TProbeSettings ProbeSettings;

class TForm1 : public TForm {
public:
    // Reads the form description "TFORM1" and makes the window (hidden).
    explicit TForm1(TComponent* owner);
    ~TForm1() override;
    const char* ClassName() const override { return "TForm1"; }

    TLabel* Label1 = nullptr;
    TTimer* Timer1 = nullptr;
    TIdHTTP* http = nullptr;
    int32_t FailedTries = 0;       // probes that got no answer; never reset
    bool ShowInstallPage = false;  // which page the hand-off opens

    // OnShow: starts the server and the polling.
    void FormShow(TComponent* sender);
    // OnTimer of Timer1: one probe; the first answer of any kind opens the
    // page, and after 120 failures one last probe decides.
    void Timer1Timer(TComponent* sender);

private:
    void OpenApplicationPage();

    AnsiString probeURL_;
#ifdef KESTRIN_INSTALL
    void CreateDesktopShortcut();
#endif
};

extern TForm1* Form1;
