#pragma once

// The process-wide table of drawings that are open in the drawing application,
// by object key. Each entry owns one reference on its drawing.

#include <windows.h>
#include <ole2.h>

#include <map>

#include <wrl/client.h>

using OpenObjectTable = std::map<LONG, Microsoft::WRL::ComPtr<IUnknown>>;

extern OpenObjectTable s_openObjects;
extern LONG s_nextObjectKey;
