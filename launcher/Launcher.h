// The program entry of both launchers.
#pragma once

// Initialises the application (and COM), sets the title "KESTRIN", creates
// the launcher window and runs the message loop. 0 after a normal end; 1
// after an error at start-up, which gets the last-resort report.
int RunLauncher();
