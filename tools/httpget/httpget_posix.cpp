#include "httpget_platform.h"

void SetBinaryMode(std::FILE*) {}  // streams carry bytes unchanged here
