#pragma once

// Whether the server's type library is registered, loads in this program's
// bitness in the version the server carries, and whether the interface
// entries that let the platform marshal IQuillmorphOLE are there in every
// registry view.

#include "check/check_report.h"
#include "check/installation.h"

CheckResult CheckTypeLibrary(const Installation& installation);
