#pragma once

// The Windows Installer package that installed this copy of the server, if
// one did. Every package that carries the server (its own packages, and the
// drawing application's installer through the fragment) installs the file in
// a component of a fixed id: Windows Installer names the products that hold
// that component and where each put it.

#include <windows.h>

#include <string>

struct InstallingPackage
{
    std::wstring productCode;
    std::wstring name;
    std::wstring version;
    // Windows Installer's own copy of the package, which a repair reads.
    std::wstring localPackage;
    // The package it was installed from.
    std::wstring source;
    // The server's component id in that package.
    std::wstring serverComponent;
    // False once the package is found to lack part of the server's
    // registration: repairing it then cannot mend the registration.
    bool holdsRegistration = true;
};

// The product that installed the server at serverPath into *package: S_OK;
// S_FALSE when no product did (or Windows Installer cannot tell).
HRESULT FindInstallingPackage(const std::wstring& serverPath, InstallingPackage* package);

// The product in words: "QuillmorphOLE (64-bit) 1.0.0 ({product code})".
std::wstring DescribePackage(const InstallingPackage& package);

// The repair command a person types: Windows Installer rewrites the package's
// files where missing or older, and its registry entries.
std::wstring PackageRepairCommand(const InstallingPackage& package);
