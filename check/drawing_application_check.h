#pragma once

// Whether the server finds the drawing application where it looks for it, in
// the folder above its "resources" folder, and which build it will start.

#include "check/check_report.h"
#include "check/installation.h"

CheckResult CheckDrawingApplication(const Installation& installation);
