#pragma once

// The WiX fragment that installs the server: one component group,
// "QuillmorphOLE", with the server, the check program and the server's
// registration as registry rows, in the resources folder below the directory
// INSTALLDIR (the drawing application's folder). The server's own packages
// are built from it, and the drawing application's installer references it.
//
// wixl 0.101, the package builder on Debian, leaves out a key without values
// (RegistryKey with ForceCreateOnInstall and ForceDeleteOnUninstall, standard
// WiX for such a key). The rows it leaves out are given apart, as statements
// that put them into a package built with it.

#include <windows.h>

#include <string>
#include <vector>

#include "registration/package_rows.h"

struct PackageViews
{
    // The rows of the package's own view: the 64-bit one in a package for
    // 64-bit Windows, the only one in a package for 32-bit Windows.
    std::vector<PackageRow> own;
    // The same rows for the 32-bit view of 64-bit Windows; empty for 32-bit Windows.
    std::vector<PackageRow> other;
};

struct PackageFragment
{
    // The fragment's WiX source.
    std::wstring wix;
    // One SQL statement a line: the key rows wixl leaves out.
    std::wstring wixlMends;
};

// The fragment of layout with views' rows. E_NOTIMPL for a row WiX cannot
// carry as it stands (a value that would read as a preprocessor variable, a
// value beginning with "##", a quote in a key row's text).
HRESULT MakePackageFragment(const PackageLayout& layout, const PackageViews& views,
                            PackageFragment* fragment);
