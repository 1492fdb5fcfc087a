#pragma once

// The server's registration as rows of a Windows Installer package's Registry
// table. Windows Installer does not let a program register itself (it could
// neither repair nor roll that back), so a package carries what /RegServer
// writes as rows of its own: the keys and values of the class scripts, listed
// by the script listing, and the type library's entries with its interfaces',
// derived from the library in the form the platform's type-library
// registration gives them. Where registration writes the server's path, a row
// holds the package's reference to its installed file ([#key]).

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <string_view>
#include <vector>

#include "registration/script_listing.h"

// The Root column of the rows that go to the classes: the machine's or the
// installing user's, as the installation goes (ALLUSERS). Their keys start
// at Software\Classes.
constexpr int kRootUserOrMachine = -1;

// The Name column of a row for a key itself: the key is made on install and
// removed on uninstall. Only a key that holds nothing the package writes gets
// such a row; every other key comes and goes with its values.
constexpr wchar_t kKeyRowName[] = L"*";

struct PackageRow
{
    int root = kRootUserOrMachine;
    // Below the root, as formatted text.
    std::wstring key;
    // Formatted text: empty for the key's default value, kKeyRowName for the
    // key itself.
    std::wstring name;
    // Formatted text (a REG_DWORD as "#n"); empty for a key row.
    std::wstring value;
};

// The components that carry the server in every package that installs it: the
// server's own packages and, through the fragment, the drawing application's
// installer. Their ids stay the same from version to version, so that Windows
// Installer can tell which product installed a copy of the server.
struct PackageComponent
{
    const wchar_t* id;
    const wchar_t* guid;
};
struct PackageLayout
{
    // The server's file with the rows of the package's own registry view.
    PackageComponent server;
    PackageComponent check;
    // The rows of the 32-bit view in a package for 64-bit Windows (which
    // registers for both views, as /RegServer does there); none in a package
    // for 32-bit Windows.
    PackageComponent otherView;
    bool win64;
};
extern const PackageLayout kPackageLayoutX64;
extern const PackageLayout kPackageLayoutX86;

// The keys under which the package knows the server's file, the check
// program's and their folder (the drawing application's resources folder).
constexpr wchar_t kServerFileKey[] = L"QuillmorphOLE.exe";
constexpr wchar_t kCheckFileKey[] = L"QuillmorphCheck.exe";
constexpr wchar_t kResourcesDirectoryKey[] = L"QuillmorphResources";
constexpr wchar_t kInstallDirectoryKey[] = L"INSTALLDIR";

// Where the package installs the server: the rows name these instead of a path.
struct PackageReferences
{
    // The File table's key of the server: [#fileKey] is its installed path.
    std::wstring fileKey;
    // Its folder's path without a final backslash, as formatted text (a
    // directory's reference, [key], ends in one).
    std::wstring folder;
};

// text as it stands, for a formatted column: brackets escaped (and braces,
// where brackets or a reference go into the same text), and, in the Value
// column, a leading '#' doubled.
std::wstring FormattedLiteral(std::wstring_view text, bool valueColumn);

// The rows of the entries a class script lists, expanded with standIn where
// the server's path goes (a text that occurs nowhere else), in one registry
// view. Keys shared with other software (NoRemove) get no row of their own. A
// value type the package's rows cannot carry (binary, multi-string) or an
// empty string gives E_NOTIMPL.
HRESULT ClassRows(const std::vector<ScriptEntry>& entries, std::wstring_view standIn,
                  const PackageReferences& references, std::vector<PackageRow>* rows);

// The type library's rows and the entries of each interface that its
// registration couples to it (dispatch and automation-compatible ones).
HRESULT TypeLibraryRows(ITypeLib* library, const PackageReferences& references,
                        std::vector<PackageRow>* rows);

// Every row of one registry view for the server file serverFile (read as data:
// its scripts and its type library), as a package that installs it carries them.
HRESULT ServerPackageRows(const std::wstring& serverFile, const PackageReferences& references,
                          std::vector<PackageRow>* rows);
