#pragma once

// Whether the user's temporary folder takes the files of an edit: a name can
// be reserved there and a ".ZRN" file written beside it, as the server does
// when a drawing is opened; and how many such files earlier edits left.

#include "check/check_report.h"

CheckResult CheckTemporaryFolder();
