// kestrin: the everyday launcher.
#include "Launcher.h"

int main() { return RunLauncher(); }
