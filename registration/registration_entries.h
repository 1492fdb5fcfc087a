#pragma once

// What registration writes for a server, listed without touching the registry:
// the class scripts carried by the server's file, in registration's order,
// expanded with the replacements registration defines. The check program
// compares the registry with this listing, and the Windows Installer packages
// are made from it, so that all three agree with /RegServer.

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "registration/script_listing.h"

class CRegObject;

// "Module" and "Module_Raw" for a module at modulePath: every single quote
// doubled, so that the path reads back whole inside a quoted script token; an
// executable's "Module" in double quotes, since it is started by that text
// and a path with blanks must not be taken apart.
HRESULT DefineModuleReplacements(CRegObject* registrar, std::wstring_view modulePath, bool isExecutable);

// The entries the class scripts of the executable scriptFile write for a
// server whose path reads modulePath (the file's own path for the registry as
// registration leaves it, or a stand-in for a package's reference to its
// installed file), rewritten for the user's classes when perUser; appended to
// entries.
HRESULT ListRegistrationEntries(const std::wstring& scriptFile, std::wstring_view modulePath, bool perUser,
                                std::vector<ScriptEntry>* entries);
