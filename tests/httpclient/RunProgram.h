// Runs a program with its standard output and error sent to files, and
// waits (bounded) for its exit status.
#pragma once

#include <string>
#include <vector>

// The exit status, or -1 when the program could not be started or did not
// end within timeoutMs (it is then killed).
int RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& stdoutPath,
               const std::string& stderrPath, int timeoutMs);
