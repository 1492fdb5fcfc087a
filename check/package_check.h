#pragma once

// Which Windows Installer package installed the server, if one did, and
// whether that package holds the server's registration as the server's own
// scripts and type library give it, in every registry view: a repair writes
// only what the package holds, so a package that lacks a row cannot be
// mended by repairing it.

#include "check/check_report.h"
#include "check/installation.h"

// The result "package".
CheckResult CheckPackage(const Installation& installation);
