// The rows a package carries for a script, and the WiX that carries them: text
// that the installer would read as its own (a bracket, a brace around one, a
// leading '#') goes in escaped, the server's path becomes the reference to the
// installed file, and what a package cannot carry as it stands is refused
// rather than written wrong. What the server's own scripts give is compared
// with /RegServer as a whole by package_test.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "packaging/package_fragment.h"
#include "registration/package_rows.h"
#include "registration/registrar.h"
#include "registration/registry_script.h"

namespace {

const wchar_t kStandIn[] = L"\xE000";
const PackageReferences kReferences{L"QuillmorphOLE.exe", L"[INSTALLDIR]resources"};

HRESULT RowsOf(const char* script, std::vector<PackageRow>* rows)
{
    CRegObject registrar;
    registrar.DefineReplacement(L"Module", L"\"\xE000\"");
    std::wstring expanded;
    std::vector<ScriptEntry> entries;
    HRESULT hr = CRegScriptParser(registrar.Replacements(), ScriptTarget{}).ExpandScript(script, &expanded);
    if (SUCCEEDED(hr))
        hr = ListScriptEntries(expanded, &entries);
    return SUCCEEDED(hr) ? ClassRows(entries, kStandIn, kReferences, rows) : hr;
}

const PackageRow* Find(const std::vector<PackageRow>& rows, const std::wstring& key, const std::wstring& name)
{
    for (const PackageRow& row : rows) {
        if (row.key == key && row.name == name)
            return &row;
    }
    return nullptr;
}

TEST(FormattedText, EscapesWhatTheInstallerWouldReadAsItsOwn)
{
    EXPECT_EQ(FormattedLiteral(L"{7A3E51C0-4B2D}", true), L"{7A3E51C0-4B2D}");
    EXPECT_EQ(FormattedLiteral(L"a[b]c", false), L"a[\\[]b[\\]]c");
    // A brace group holding a bracket would be evaluated: its braces go escaped too.
    EXPECT_EQ(FormattedLiteral(L"{[x]}", false), L"[\\{][\\[]x[\\]][\\}]");
    EXPECT_EQ(FormattedLiteral(L"#5", true), L"##5");
    EXPECT_EQ(FormattedLiteral(L"#5", false), L"#5");
}

TEST(ClassRows, NameTheInstalledFileAndLeaveSharedKeysAlone)
{
    std::vector<PackageRow> rows;
    ASSERT_EQ(
        RowsOf("HKCR\r\n{\r\n\tNoRemove CLSID\r\n\t{\r\n\t\tForceRemove {AB} = s 'Name [1]'\r\n\t\t{\r\n"
               "\t\t\tLocalServer32 = s '%MODULE%'\r\n\t\t\tInsertable\r\n\t\t\tval Count = d '4294967295'"
               "\r\n\t\t\tverb {\r\n\t\t\t\t0 = s '&Edit'\r\n\t\t\t}\r\n\t\t}\r\n\t}\r\n}\r\n",
               &rows),
        S_OK);
    EXPECT_EQ(Find(rows, L"Software\\Classes\\CLSID", kKeyRowName), nullptr) << "shared with other software";
    EXPECT_EQ(Find(rows, L"Software\\Classes\\CLSID\\{AB}", kKeyRowName), nullptr) << "comes with its values";
    EXPECT_EQ(Find(rows, L"Software\\Classes\\CLSID\\{AB}\\verb", kKeyRowName), nullptr)
        << "comes with its key";
    ASSERT_NE(Find(rows, L"Software\\Classes\\CLSID\\{AB}\\Insertable", kKeyRowName), nullptr);
    ASSERT_NE(Find(rows, L"Software\\Classes\\CLSID\\{AB}", L""), nullptr);
    EXPECT_EQ(Find(rows, L"Software\\Classes\\CLSID\\{AB}", L"")->value, L"Name [\\[]1[\\]]");
    ASSERT_NE(Find(rows, L"Software\\Classes\\CLSID\\{AB}\\LocalServer32", L""), nullptr);
    EXPECT_EQ(Find(rows, L"Software\\Classes\\CLSID\\{AB}\\LocalServer32", L"")->value,
              L"\"[#QuillmorphOLE.exe]\"");
    ASSERT_NE(Find(rows, L"Software\\Classes\\CLSID\\{AB}", L"Count"), nullptr);
    EXPECT_EQ(Find(rows, L"Software\\Classes\\CLSID\\{AB}", L"Count")->value, L"#-1");
    for (const PackageRow& row : rows)
        EXPECT_EQ(row.root, kRootUserOrMachine);
}

TEST(ClassRows, RefuseWhatAPackageCannotCarryAsItStands)
{
    std::vector<PackageRow> rows;
    EXPECT_EQ(RowsOf("HKCR\r\n{\r\n\tX\r\n\t{\r\n\t\tval B = b '0aff'\r\n\t}\r\n}\r\n", &rows), E_NOTIMPL);
    EXPECT_EQ(RowsOf("HKCR\r\n{\r\n\tX\r\n\t{\r\n\t\tval M = m 'a\\0b'\r\n\t}\r\n}\r\n", &rows), E_NOTIMPL);
    EXPECT_EQ(RowsOf("HKCR\r\n{\r\n\tX = s ''\r\n}\r\n", &rows), E_NOTIMPL);
    EXPECT_EQ(RowsOf("HKCC\r\n{\r\n\tX = s 'y'\r\n}\r\n", &rows), E_NOTIMPL);
}

TEST(PackageFragment, CarriesEachViewInItsOwnComponent)
{
    PackageViews views;
    views.own = {{kRootUserOrMachine, L"Software\\Classes\\X\\Insertable", kKeyRowName, L""},
                 {kRootUserOrMachine, L"Software\\Classes\\X", L"", L"\"[#QuillmorphOLE.exe]\" & <co>"},
                 {kRootUserOrMachine, L"Software\\Classes\\X", L"N", L"#7"}};
    views.other = views.own;
    PackageFragment fragment;
    ASSERT_EQ(MakePackageFragment(kPackageLayoutX64, views, &fragment), S_OK);
    const std::wstring& wix = fragment.wix;
    EXPECT_NE(wix.find(L"Value=\"&quot;[#QuillmorphOLE.exe]&quot; &amp; &lt;co&gt;\"/>"), std::wstring::npos)
        << "the server's own view: no key path of its own (the file is)";
    EXPECT_NE(wix.find(L"Value=\"&quot;[#QuillmorphOLE.exe]&quot; &amp; &lt;co&gt;\" KeyPath=\"yes\"/>"),
              std::wstring::npos)
        << "the 32-bit view's component: its first value";
    EXPECT_NE(wix.find(L"Name=\"N\" Type=\"integer\" Value=\"7\""), std::wstring::npos);
    EXPECT_NE(
        wix.find(
            L"<Component Id=\"QuillmorphOLE.Registry32\" Guid=\"{EAF4D99B-CF46-42F0-9DC3-2548DBBF2A3F}\">"),
        std::wstring::npos)
        << "the 32-bit view's component is not a 64-bit one";
    // The key rows wixl leaves out, one statement for each view's component.
    EXPECT_NE(fragment.wixlMends.find(L"'Software\\Classes\\X\\Insertable', '*', 'QuillmorphOLE.Server')"),
              std::wstring::npos)
        << fragment.wixlMends;
    EXPECT_NE(
        fragment.wixlMends.find(L"'Software\\Classes\\X\\Insertable', '*', 'QuillmorphOLE.Registry32')"),
        std::wstring::npos)
        << fragment.wixlMends;

    views.own.push_back({kRootUserOrMachine, L"Software\\Classes\\X", L"V", L"$(var.Secret)"});
    EXPECT_EQ(MakePackageFragment(kPackageLayoutX64, views, &fragment), E_NOTIMPL);
    views.own.back().value = L"##literal";
    EXPECT_EQ(MakePackageFragment(kPackageLayoutX64, views, &fragment), E_NOTIMPL);
    EXPECT_EQ(MakePackageFragment(kPackageLayoutX86, views, &fragment), E_INVALIDARG)
        << "a package for 32-bit Windows has no second view";
}

} // namespace
