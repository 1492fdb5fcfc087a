#pragma once

// The installation the check looks at: this program, the server beside it, the
// bitness of both and of the system, the registry views the system keeps, and
// the registry entries the server's own scripts write.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "check/file_paths.h"
#include "check/installing_package.h"
#include "registration/script_listing.h"

struct RegistryView
{
    // KEY_WOW64_64KEY or KEY_WOW64_32KEY; 0 on a 32-bit system's one view.
    REGSAM flag;
    const wchar_t* name;
};

struct Installation
{
    std::wstring program;
    // QuillmorphOLE.exe in this program's folder.
    std::wstring server;
    int programBits = 0;
    int systemBits = 0;
    std::vector<RegistryView> views;
    // What registration writes machine-wide and per user, from the server's
    // own script resources with its path put in.
    std::vector<ScriptEntry> machineEntries;
    std::vector<ScriptEntry> userEntries;
    // The Windows Installer package that installed this copy, if one did.
    std::optional<InstallingPackage> package;
};

// Fills installation; a failure means the check cannot run, and reason says why.
HRESULT FindInstallation(Installation* installation, std::wstring* reason);

// The entries registration writes for a server at serverPath: its scripts read
// from its resources, %MODULE% and %MODULE_RAW% expanded as registration
// expands them, rewritten for the user's classes when perUser.
HRESULT ExpectedEntries(const std::wstring& serverPath, bool perUser, std::vector<ScriptEntry>* entries);

// A command as a support person types it, with the path quoted.
std::wstring QuotedCommand(const std::wstring& path, const wchar_t* arguments);

// How to register the server again, as advice: "register the server again" +
// whom + ": from a prompt started as administrator, run ... (or QuillmorphCheck
// --repair)". Where a package installed the server, its repair instead, so that
// Windows Installer's record and the registry stay in agreement.
std::wstring RegisterAgainAdvice(const Installation& installation, const wchar_t* whom);
