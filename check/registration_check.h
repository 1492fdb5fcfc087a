#pragma once

// Whether the registry holds the server's registration as the server's own
// scripts write it, in every registry view, machine-wide and for the current
// user: the class keys, their server paths (pointing at this copy of the
// server), the ProgIDs with CurVer, the handler, the verbs, the status, the
// user types and the Insertable marker.

#include <vector>

#include "check/check_report.h"
#include "check/installation.h"

// Two results: the machine-wide registration ("registration-machine") and the
// current user's ("registration-user"), each covering every view.
std::vector<CheckResult> CheckRegistration(const Installation& installation);
