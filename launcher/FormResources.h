// The form descriptions built into the program (Unit1.dfm as "TFORM1").
#pragma once

#include "SysUtils.h"

// The text of the named description; null when the program has none.
const char* FindFormResource(const AnsiString& name);
