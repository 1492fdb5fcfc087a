#pragma once

// The clipboard format under which the drawing application's native document
// travels between the bridge and an embedded drawing, registered by name at each
// use (the platform hands back the same number every time).

#include <windows.h>
#include <ole2.h>

// The request for the native document in a global memory block, content aspect.
FORMATETC NativeDataFormatEtc();
