// What httpget needs of the platform.
#pragma once

#include <cstdio>

// Switches a standard stream to binary mode, so that bytes pass unchanged.
void SetBinaryMode(std::FILE* stream);
