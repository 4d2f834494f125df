// kestrin_install: the first-run launcher (writes the desktop shortcut and
// opens the set-up page).
#include "Launcher.h"

int main() { return RunLauncher(); }
