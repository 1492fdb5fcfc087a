// The listing of a script's entries against what the register walk really
// writes: the same script applied under a throwaway key of the current user
// (HKCU\Software\QuillmorphListingTest) and listed must agree entry by entry,
// and a script the walk refuses is refused by the listing too.

#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "registration/registrar.h"
#include "registration/registry_script.h"
#include "registration/script_listing.h"
#include "registry_reader.h"

using namespace registry_reader;

namespace {

const wchar_t kTestKey[] = L"Software\\QuillmorphListingTest";

// Every construct the server's scripts use, and the ones they might.
const char kScript[] =
    "HKCU\r\n{\r\n\tNoRemove Software\r\n\t{\r\n\t\tForceRemove QuillmorphListingTest = s "
    "'%MODULE%'\r\n\t\t{\r\n\t\t\tval Threading = s 'both'\r\n\t\t\tval Count = d '42'\r\n"
    "\t\t\tval Bits = b '0A0b'\r\n\t\t\tval Many = m 'one\\0two'\r\n\t\t\t'Spaced name' = s "
    "'it''s'\r\n\t\t\tverb {\r\n\t\t\t\t-1 = s 'Show,0,0'\r\n\t\t\t\tEmpty\r\n\t\t\t}\r\n"
    "\t\t\tDelete Gone = s 'x'\r\n\t\t}\r\n\t}\r\n}\r\n";

class ScriptListing : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
        ASSERT_EQ(registrar_.DefineReplacement(L"Module", L"\"C:\\Program Files\\Q\\QuillmorphOLE.exe\""),
                  S_OK);
    }
    void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey); }

    HRESULT List(const char* script, std::vector<ScriptEntry>* entries)
    {
        std::wstring expanded;
        HRESULT hr =
            CRegScriptParser(registrar_.Replacements(), ScriptTarget{}).ExpandScript(script, &expanded);
        return SUCCEEDED(hr) ? ListScriptEntries(expanded, entries) : hr;
    }

    HRESULT Apply(const char* script)
    {
        return CRegScriptParser(registrar_.Replacements(), ScriptTarget{}).ApplyScript(script, true);
    }

    CRegObject registrar_;
};

// Every key and value below the test key, as "path" and "path|name".
void Collect(HKEY key, const std::wstring& path, std::set<std::wstring>* found)
{
    found->insert(path);
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (::RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        found->insert(path + L"|" + name);
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (::RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        UniqueHKey child = OpenKey(key, name);
        Collect(child.get(), path + L"\\" + name, found);
    }
}

TEST_F(ScriptListing, ListsExactlyTheKeysAndValuesTheWalkWrites)
{
    ASSERT_EQ(Apply(kScript), S_OK);
    std::vector<ScriptEntry> entries;
    ASSERT_EQ(List(kScript, &entries), S_OK);

    std::set<std::wstring> listed;
    for (const ScriptEntry& entry : entries) {
        EXPECT_EQ(entry.root, HKEY_CURRENT_USER);
        if (entry.keyPath.rfind(kTestKey, 0) != 0)
            continue; // Software, shared with everything else
        if (!entry.isValue) {
            listed.insert(entry.keyPath);
            continue;
        }
        listed.insert(entry.keyPath + L"|" + entry.valueName);
        UniqueHKey key = OpenKey(HKEY_CURRENT_USER, entry.keyPath);
        ASSERT_TRUE(key) << std::string(entry.keyPath.begin(), entry.keyPath.end());
        DWORD type = 0;
        std::vector<BYTE> data(1024);
        DWORD size = static_cast<DWORD>(data.size());
        ASSERT_EQ(::RegQueryValueExW(key.get(), entry.valueName.empty() ? nullptr : entry.valueName.c_str(),
                                     nullptr, &type, data.data(), &size),
                  ERROR_SUCCESS);
        data.resize(size);
        EXPECT_EQ(type, entry.value.type);
        EXPECT_EQ(data, entry.value.data) << std::string(entry.valueName.begin(), entry.valueName.end());
    }

    // A key's default value is enumerated by the empty name, as listed.
    std::set<std::wstring> written;
    UniqueHKey root = OpenKey(HKEY_CURRENT_USER, kTestKey);
    ASSERT_TRUE(root);
    Collect(root.get(), kTestKey, &written);
    EXPECT_EQ(written, listed);
    EXPECT_EQ(written.count(std::wstring(kTestKey) + L"\\Gone"), 0u) << "a deleted key is not listed";
}

TEST_F(ScriptListing, RefusesWhatTheWalkRefuses)
{
    const char* const refused[] = {
        "HKCU { Software { QuillmorphListingTest { val Name = s 'x' { } } } }", // a named value takes no
                                                                                // block
        "HKCU { Software { QuillmorphListingTest { 'a\\b' = s 'x' } } }",       // a key names one level
        "HKCU { Software { QuillmorphListingTest { Key = q 'x' } } }",          // no such value type
        "HKXX { }",                                                             // no such root
        "HKCU { Software { QuillmorphListingTest { Key { } }",                  // the script ends in a block
    };
    for (const char* script : refused) {
        std::vector<ScriptEntry> entries;
        const HRESULT listed = List(script, &entries);
        EXPECT_TRUE(FAILED(listed)) << script;
        EXPECT_EQ(listed, Apply(script)) << script;
    }
}

} // namespace
