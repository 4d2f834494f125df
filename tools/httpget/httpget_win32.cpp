#include <fcntl.h>
#include <io.h>

#include "httpget_platform.h"

void SetBinaryMode(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }
