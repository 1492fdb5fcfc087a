#pragma once

// Repair: the server's own registration switch, run and waited for, its exit
// code said in words. Machine-wide needs an administrator; without the rights
// the result says so and names the per-user form.

#include "check/check_report.h"
#include "check/installation.h"

CheckResult RunRepair(const Installation& installation, bool perUser);
