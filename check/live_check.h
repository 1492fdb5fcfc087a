#pragma once

// The server in use, in this program's own bitness: the automation class
// activated out of process and called once (something harmless: the check
// never ends a user's open edits), a drawing created through the platform's
// default handler into a storage in memory, its picture fetched and the
// drawing closed without saving; which server process ran, and its bitness.

#include "check/check_report.h"
#include "check/installation.h"

// Needs the calling thread in a single-threaded apartment with OLE initialised.
CheckResult CheckLiveActivation(const Installation& installation);
