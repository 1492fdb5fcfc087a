// The registry-script interpreter, driven with script texts in-process against
// the real registry. Everything is written below a throwaway key of the
// current user (HKCU\Software\QuillmorphScriptTest), which each test starts
// from empty and removes again.

#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "app/server_module.h"
#include "registration/registrar.h"
#include "registration/registry_script.h"
#include "registration/script_grammar.h"
#include "registration/server_registration.h"
#include "registry_reader.h"
#include "support/test_support.h"

using namespace registry_reader;

namespace {

constexpr const char* kTestKey = "Software\\QuillmorphScriptTest";

std::vector<BYTE> Bytes(std::initializer_list<int> values)
{
    std::vector<BYTE> bytes;
    for (int v : values)
        bytes.push_back(static_cast<BYTE>(v));
    return bytes;
}

std::vector<BYTE> TextBytes(const std::string& text)
{
    std::vector<BYTE> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

class RegistryScript : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kTestKey);
        CreateKey("");
        EnablePerUserRegistration(false);
    }

    void TearDown() override
    {
        EnablePerUserRegistration(false);
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kTestKey);
    }

    // body placed inside the throwaway key.
    static std::string Wrapped(const std::string& body)
    {
        return "HKCU\r\n{\r\n\tNoRemove Software\r\n\t{\r\n\t\tNoRemove QuillmorphScriptTest\r\n\t\t{\r\n" +
               body + "\r\n\t\t}\r\n\t}\r\n}\r\n";
    }

    HRESULT ApplyRaw(const std::string& script, bool registerEntries = true)
    {
        CRegScriptParser parser(registrar_.Replacements(), target_);
        return parser.ApplyScript(script.c_str(), registerEntries);
    }

    HRESULT Apply(const std::string& body, bool registerEntries = true)
    {
        return ApplyRaw(Wrapped(body), registerEntries);
    }

    HRESULT Expand(const std::string& script, std::string* expanded)
    {
        CRegScriptParser parser(registrar_.Replacements(), target_);
        std::wstring text;
        HRESULT hr = parser.ExpandScript(script.c_str(), &text);
        // The expanded text is UTF-16; these scripts are ASCII.
        expanded->assign(text.begin(), text.end());
        return hr;
    }

    static std::string Path(const std::string& relative)
    {
        return relative.empty() ? kTestKey : std::string(kTestKey) + "\\" + relative;
    }

    static bool Exists(const std::string& relative)
    {
        return KeyExists(HKEY_CURRENT_USER, Wide(Path(relative)));
    }

    static std::optional<RegValue> Value(const std::string& relative, const char* name = nullptr)
    {
        return ReadValueA(HKEY_CURRENT_USER, Path(relative), name);
    }

    static void ExpectValue(const std::string& relative, const char* name, DWORD type,
                            const std::vector<BYTE>& bytes)
    {
        std::optional<RegValue> value = Value(relative, name);
        ASSERT_TRUE(value.has_value()) << relative << " : " << (name ? name : "(default)");
        EXPECT_EQ(value->type, type) << relative << " : " << (name ? name : "(default)");
        EXPECT_EQ(value->bytes, bytes) << relative << " : " << (name ? name : "(default)");
    }

    static void ExpectString(const std::string& relative, const char* name, const std::string& text)
    {
        ExpectValue(relative, name, REG_SZ, TextBytes(text));
    }

    static void CreateKey(const std::string& relative, DWORD options = REG_OPTION_NON_VOLATILE)
    {
        HKEY raw = nullptr;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, Path(relative).c_str(), 0, nullptr, options,
                                    KEY_ALL_ACCESS, nullptr, &raw, nullptr),
                  ERROR_SUCCESS);
        ::RegCloseKey(raw);
    }

    static void SetString(const std::string& relative, const char* name, const std::string& text)
    {
        ASSERT_EQ(::RegSetKeyValueA(HKEY_CURRENT_USER, Path(relative).c_str(), name, REG_SZ, text.c_str(),
                                    static_cast<DWORD>(text.size() + 1)),
                  ERROR_SUCCESS);
    }

    // Nothing at all below the throwaway key.
    static void ExpectNothingLeft()
    {
        EXPECT_EQ(SubkeyNames(HKEY_CURRENT_USER, Wide(kTestKey)), std::set<std::wstring>{});
        EXPECT_EQ(ValueNames(HKEY_CURRENT_USER, Wide(kTestKey)), std::set<std::wstring>{});
    }

    CRegObject registrar_;
    ScriptTarget target_;
};

// --- Expansion -------------------------------------------------------------

TEST_F(RegistryScript, PercentSignsAndReplacementNamesExpand)
{
    ASSERT_EQ(registrar_.DefineReplacement(L"Module", L"C:\\a b\\x.exe"), S_OK);
    ASSERT_EQ(registrar_.DefineReplacement(L"Dup", L"first"), S_OK);
    ASSERT_EQ(registrar_.DefineReplacement(L"DUP", L"second"), S_OK);
    ASSERT_EQ(registrar_.DefineReplacement(L"Empty", L""), S_OK);
    std::string out;
    ASSERT_EQ(Expand("50%% '%module%' %MODULE% %dup%[%Empty%]%%%%", &out), S_OK);
    EXPECT_EQ(out, "50% 'C:\\a b\\x.exe' C:\\a b\\x.exe first[]%%");
}

TEST_F(RegistryScript, ReplacementValuesInAnyLettersAreWrittenWhole)
{
    // Letters outside the 8-bit code page: a path under such a folder must not
    // turn into question marks on its way into the registry.
    const std::wstring path = L"C:\\Quill \u03a9\u03bc\u03ad\u03b3\u03b1\\\u56fe\\QuillmorphOLE.exe";
    ASSERT_EQ(registrar_.DefineReplacement(L"Module", path.c_str()), S_OK);
    ASSERT_EQ(Apply("K = s '%Module%' { val m = m '%Module%\\0b' }"), S_OK);
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, Wide(Path("K"))), path);
    const std::wstring strings = path + L'\0' + L"b" + L'\0' + L'\0';
    std::wstring read(strings.size() + 8, L'\0');
    DWORD bytes = static_cast<DWORD>(read.size() * sizeof(wchar_t));
    ASSERT_EQ(::RegGetValueW(HKEY_CURRENT_USER, Wide(Path("K")).c_str(), L"m", RRF_RT_REG_MULTI_SZ, nullptr,
                             &read[0], &bytes),
              ERROR_SUCCESS);
    read.resize(bytes / sizeof(wchar_t));
    EXPECT_EQ(read, strings);
}

TEST_F(RegistryScript, ReplacementNamesHoldAtMost31Bytes)
{
    const std::string name31(31, 'N');
    const std::string name32(32, 'N');
    ASSERT_EQ(registrar_.DefineReplacement(Wide(name31).c_str(), L"v31"), S_OK);
    ASSERT_EQ(registrar_.DefineReplacement(Wide(name32).c_str(), L"v32"), S_OK);
    std::string out;
    EXPECT_EQ(Expand("%" + name31 + "%", &out), S_OK);
    EXPECT_EQ(out, "v31");
    EXPECT_EQ(Expand("%" + name32 + "%", &out), E_FAIL);
    EXPECT_EQ(Apply("Written = s 'x'\r\nOther = s '%" + name32 + "%'"), E_FAIL);
    ExpectNothingLeft();
}

TEST_F(RegistryScript, ALonePercentOrAnUnknownNameFailsBeforeAnythingIsWritten)
{
    EXPECT_EQ(Apply("Written = s 'x'\r\nOther = s '50%'"), DISP_E_EXCEPTION);
    EXPECT_EQ(Apply("Written = s 'x'\r\nOther = s '%Unknown%'"), DISP_E_EXCEPTION);
    ASSERT_EQ(registrar_.DefineReplacement(L"Known", L"k"), S_OK);
    ASSERT_EQ(registrar_.RemoveAllReplacements(), S_OK);
    EXPECT_EQ(Apply("Written = s '%Known%'"), DISP_E_EXCEPTION);
    ExpectNothingLeft();
}

TEST_F(RegistryScript, DefineReplacementRefusesAMissingNameOrValue)
{
    EXPECT_EQ(registrar_.DefineReplacement(nullptr, L"v"), E_INVALIDARG);
    EXPECT_EQ(registrar_.DefineReplacement(L"n", nullptr), E_INVALIDARG);
    EXPECT_EQ(registrar_.FindReplacement(L"n"), nullptr);
}

TEST_F(RegistryScript, PerUserExpansionRewritesOnlyRootBlocksNamedHKCR)
{
    std::string out;
    ASSERT_EQ(Expand("HKCR\r\n{\r\n\tA = s 'x'\r\n}", &out), S_OK);
    EXPECT_EQ(out, "HKCR\r\n{\r\n\tA = s 'x'\r\n}") << "only with the per-user switch on";

    target_.perUser = true;
    ASSERT_EQ(Expand("HKCR\r\n{\r\n\tA = s 'x'\r\n}", &out), S_OK);
    EXPECT_EQ(out, "HKCU\r\n{\tSoftware\r\n\t{\r\n\t\tClasses\r\n{\r\n\tA = s 'x'\r\n\r\n\t}\r\n}\r\n}");

    // Braces and doubled quotes inside quotes do not count; nested blocks do.
    ASSERT_EQ(Expand("HKCR { A = s '}{''' { B } }", &out), S_OK);
    EXPECT_EQ(out, "HKCU\r\n{\tSoftware\r\n\t{\r\n\t\tClasses { A = s '}{''' { B } \r\n\t}\r\n}\r\n}");

    for (const char* untouched : {"hkcr { A }", "HKEY_CLASSES_ROOT { A }", "HKCRX { A }", "HKLM { HKCR }"}) {
        ASSERT_EQ(Expand(untouched, &out), S_OK);
        EXPECT_EQ(out, untouched);
    }
}

TEST_F(RegistryScript, PerUserScriptsWriteUnderTheUsersClassesOnly)
{
    const std::wstring classes = L"Software\\Classes";
    const bool classesKept = !SubkeyNames(HKEY_CURRENT_USER, classes).empty();
    const std::string script =
        "HKCR\r\n{\r\n\tQuillmorphScriptTestClass = s 'x'\r\n\t{\r\n\t\tSub = s 'y'\r\n\t}\r\n}";

    target_.perUser = true;
    ASSERT_EQ(ApplyRaw(script), S_OK);
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, classes + L"\\QuillmorphScriptTestClass"), L"x");
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, classes + L"\\QuillmorphScriptTestClass\\Sub"), L"y");
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"QuillmorphScriptTestClass"));

    ASSERT_EQ(ApplyRaw(script, false), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, classes + L"\\QuillmorphScriptTestClass"));
    // The user's Classes key goes only when nothing else is left in it.
    EXPECT_EQ(KeyExists(HKEY_CURRENT_USER, classes), classesKept);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software"));

    // With a subkey of someone else's, it stays.
    HKEY raw = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, (classes + L"\\QuillmorphScriptTestForeign").c_str(), 0,
                                nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(raw);
    ASSERT_EQ(ApplyRaw(script), S_OK);
    ASSERT_EQ(ApplyRaw(script, false), S_OK);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, classes + L"\\QuillmorphScriptTestForeign"));
    ::RegDeleteKeyW(HKEY_CURRENT_USER, (classes + L"\\QuillmorphScriptTestForeign").c_str());
    if (!classesKept)
        ::RegDeleteKeyW(HKEY_CURRENT_USER, classes.c_str());
}

TEST_F(RegistryScript, QuotedTokensKeepBlanksBracesAndDoubledQuotes)
{
    ASSERT_EQ(Apply("'Key With Blanks' = s 'It''s { a = b } \\ done'\r\na'b = s x{y}=z\r\n'' = s ''"), S_OK);
    ExpectString("Key With Blanks", nullptr, "It's { a = b } \\ done");
    ExpectString("a'b", nullptr, "x{y}=z");
}

TEST_F(RegistryScript, KeywordsAndTypeLettersIgnoreCase)
{
    ASSERT_EQ(Apply("noremove K { val x = s 'y' VAL X2 = S 'z' FORCEREMOVE F = s 'f' }"), S_OK);
    ExpectString("K", "x", "y");
    ExpectString("K", "X2", "z");
    ExpectString("K\\F", nullptr, "f");
    ASSERT_EQ(Apply("NOREMOVE K { val x = s 'y' F }", false), S_OK);
    EXPECT_TRUE(Exists("K"));
    EXPECT_FALSE(Value("K", "x").has_value());
    EXPECT_FALSE(Exists("K\\F"));
}

TEST_F(RegistryScript, ATokenHoldsAtMost4094Bytes)
{
    const std::string longest(4094, 'A');
    ASSERT_EQ(Apply("K = s '" + longest + "'\r\nL = s " + longest), S_OK);
    ExpectString("K", nullptr, longest);
    ExpectString("L", nullptr, longest);
    ASSERT_EQ(::RegDeleteTreeA(HKEY_CURRENT_USER, Path("K").c_str()), ERROR_SUCCESS);
    ASSERT_EQ(::RegDeleteTreeA(HKEY_CURRENT_USER, Path("L").c_str()), ERROR_SUCCESS);

    EXPECT_EQ(Apply("K = s '" + longest + "A'"), DISP_E_EXCEPTION);
    EXPECT_EQ(Apply("K = s " + longest + "A"), DISP_E_EXCEPTION);
    ExpectNothingLeft();
}

TEST_F(RegistryScript, EmptyAndBlankScriptsApplyNothing)
{
    for (bool registerEntries : {true, false}) {
        EXPECT_EQ(ApplyRaw("", registerEntries), S_OK);
        EXPECT_EQ(ApplyRaw(" \r\n\t \r\n", registerEntries), S_OK);
    }
}

// --- Values --------------------------------------------------------------------

TEST_F(RegistryScript, ValuesAreWrittenWithTheirExactBytes)
{
    ASSERT_EQ(Apply("K = s 'abc'\r\n"
                    "{\r\n"
                    "\tval s0 = s ''\r\n"
                    "\tval b1 = b 0aFf\r\n"
                    "\tval b2 = b zz\r\n"
                    "\tval b3 = b ''\r\n"
                    "\tval m1 = m 'a\\0b'\r\n"
                    "\tval m2 = m 'a\\0\\0b'\r\n"
                    "\tval m3 = m 'one'\r\n"
                    "\tval d1 = d 42\r\n"
                    "\tval d2 = D '4294967295'\r\n"
                    "}"),
              S_OK);
    ExpectValue("K", nullptr, REG_SZ, TextBytes("abc"));
    ExpectValue("K", "s0", REG_SZ, Bytes({0}));
    ExpectValue("K", "b1", REG_BINARY, Bytes({0x0A, 0xFF}));
    ExpectValue("K", "b2", REG_BINARY, Bytes({0x00}));
    ExpectValue("K", "b3", REG_BINARY, Bytes({}));
    ExpectValue("K", "m1", REG_MULTI_SZ, Bytes({'a', 0, 'b', 0, 0}));
    // An empty element ends the list.
    ExpectValue("K", "m2", REG_MULTI_SZ, Bytes({'a', 0, 0}));
    ExpectValue("K", "m3", REG_MULTI_SZ, Bytes({'o', 'n', 'e', 0, 0}));
    ExpectValue("K", "d1", REG_DWORD, Bytes({42, 0, 0, 0}));
    ExpectValue("K", "d2", REG_DWORD, Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(RegistryScript, BadValuesFailWithTheirOwnStatus)
{
    EXPECT_EQ(Apply("K = s 'k' { val b = b abc }"), E_FAIL) << "odd number of binary digits";
    EXPECT_EQ(Apply("K = q 'k'"), DISP_E_EXCEPTION) << "unknown type";

    // A number is what the platform's parsing makes of it, failures included.
    ULONG number = 0;
    HRESULT parsed = ::VarUI4FromStr(const_cast<OLECHAR*>(L"x1"), 0, 0, &number);
    ASSERT_TRUE(FAILED(parsed));
    EXPECT_EQ(Apply("K = s 'k' { val d = d x1 }"), parsed);
    parsed = ::VarUI4FromStr(const_cast<OLECHAR*>(L"4294967296"), 0, 0, &number);
    ASSERT_TRUE(FAILED(parsed));
    EXPECT_EQ(Apply("K = d 4294967296"), parsed);
    ExpectNothingLeft();
}

// --- Modifiers -------------------------------------------------------------------

TEST_F(RegistryScript, ForceRemoveWritesAnUnprotectedKeyAfresh)
{
    CreateKey("X\\Old\\Deep");
    SetString("X", "stale", "s");
    ASSERT_EQ(Apply("ForceRemove X = s 'new' { Y = s 'y' }"), S_OK);
    EXPECT_FALSE(Exists("X\\Old"));
    EXPECT_FALSE(Value("X", "stale").has_value());
    ExpectString("X", nullptr, "new");
    ExpectString("X\\Y", nullptr, "y");
}

TEST_F(RegistryScript, ForceRemoveAndDeleteNeverDeleteAProtectedName)
{
    CreateKey("CLSID\\Keep");
    CreateKey("Software\\Keep");
    ASSERT_EQ(Apply("ForceRemove clsid { A = s 'a' }\r\nDelete SOFTWARE"), S_OK);
    EXPECT_TRUE(Exists("CLSID\\Keep"));
    ExpectString("CLSID\\A", nullptr, "a");
    EXPECT_TRUE(Exists("Software\\Keep"));
}

TEST_F(RegistryScript, DeleteRemovesATreeAndCreatesNothing)
{
    CreateKey("Gone\\Sub\\Deeper");
    ASSERT_EQ(Apply("Delete Gone = s 'ignored'\r\nDelete Never\r\nAfter = s 'a'"), S_OK);
    EXPECT_FALSE(Exists("Gone"));
    EXPECT_FALSE(Exists("Never"));
    ExpectString("After", nullptr, "a");
}

TEST_F(RegistryScript, UnregisteringRemovesWhatTheScriptNamesAndKeepsWhatOthersAdded)
{
    const std::string script = "NoRemove Kept { Mine = s 'm' }\r\n"
                               "K = s 'k' { C = s 'c' { D = s 'd' } E = s 'e' val v = s 'x' }";
    ASSERT_EQ(Apply(script), S_OK);
    CreateKey("K\\C\\Foreign");
    SetString("K\\E", "foreign", "values do not keep a key");
    ASSERT_EQ(Apply(script, false), S_OK);
    EXPECT_TRUE(Exists("Kept")) << "NoRemove";
    EXPECT_FALSE(Exists("Kept\\Mine"));
    EXPECT_TRUE(Exists("K\\C\\Foreign"));
    EXPECT_FALSE(Exists("K\\C\\D"));
    EXPECT_FALSE(Exists("K\\E"));
    EXPECT_FALSE(Value("K", "v").has_value());
    EXPECT_TRUE(Exists("K")) << "a key with subkeys left stays";

    ::RegDeleteTreeA(HKEY_CURRENT_USER, Path("K\\C\\Foreign").c_str());
    ASSERT_EQ(Apply(script, false), S_OK);
    EXPECT_FALSE(Exists("K"));
}

TEST_F(RegistryScript, UnregisteringAbsentKeysIsNoErrorAndWritesNothing)
{
    EXPECT_EQ(Apply("Missing = s 'x' { Deeper { val v = s 'x' } NoRemove N } val w = s 'y'", false), S_OK);
    ExpectNothingLeft();
}

// --- Failures and rollback -----------------------------------------------------

TEST_F(RegistryScript, AFailingEntryFailsTheScriptAndTheRollbackLeavesNothing)
{
    // Each failing entry stands deep inside keys and values written before it;
    // taking the root block back removes all of them.
    const struct
    {
        const char* entry;
        HRESULT expected;
    } failing[] = {
        {"K\\Sub = s 'x'", DISP_E_EXCEPTION},              // one key level per entry
        {"ForceRemove A\\B", DISP_E_EXCEPTION},            //
        {"val v s 'x'", DISP_E_EXCEPTION},                 // Val without '='
        {"val v = s 'x' { A }", DISP_E_EXCEPTION},         // a named value has no block
        {"Delete A { B }", DISP_E_EXCEPTION},              // a deleted key has no block
        {"val v = t 'x'", DISP_E_EXCEPTION},               // unknown type
        {"K = s 'unterminated } } } }", DISP_E_EXCEPTION}, //
        {"K = b abc", E_FAIL},                             // odd number of binary digits
        {"val v = b abc", E_FAIL},                         //
        {"K = s", DISP_E_EXCEPTION},                       // the closing braces are the value...
    };
    for (const auto& f : failing) {
        std::string body =
            std::string("Before = s 'b'\r\nOuter = s 'o' { Inner { val x = s 'x'\r\n") + f.entry;
        EXPECT_EQ(Apply(body + "\r\n} }"), f.expected) << f.entry;
        ExpectNothingLeft();
    }
    for (const char* script :
         {"HKXX { A }", "HKCU A", "HKCU", "HKCU { A", "HKCU { A = s", "HKCU { A = s 'x' {"})
        EXPECT_EQ(ApplyRaw(script), DISP_E_EXCEPTION) << script;
}

TEST_F(RegistryScript, AFailedRootBlockIsTakenBackAndEarlierRootBlocksStay)
{
    const std::string script =
        Wrapped("First = s '1'") + Wrapped("Second = s '2' { Third\\Bad }") + Wrapped("Fourth = s '4'");
    EXPECT_EQ(ApplyRaw(script), DISP_E_EXCEPTION);
    ExpectString("First", nullptr, "1");
    EXPECT_FALSE(Exists("Second"));
    EXPECT_FALSE(Exists("Fourth"));

    // A root name that is not one stops the script the same way.
    EXPECT_EQ(ApplyRaw(Wrapped("Fifth = s '5'") + "HKXX { }" + Wrapped("Sixth")), DISP_E_EXCEPTION);
    EXPECT_TRUE(Exists("Fifth"));
    EXPECT_FALSE(Exists("Sixth"));

    // Closing braces beyond the root block's end are read as the next root name.
    EXPECT_EQ(ApplyRaw(Wrapped("Seventh = s '7' { A = s 'a' }") + "}"), DISP_E_EXCEPTION);
    ExpectString("Seventh\\A", nullptr, "a");
}

TEST_F(RegistryScript, ARegistryFailureReturnsThePlatformsCodeAfterTheRollback)
{
    // A key below a volatile key must be volatile too: the registry refuses
    // to create the script's (non-volatile) key there.
    CreateKey("Volatile", REG_OPTION_VOLATILE);
    SetString("", "kept", "outside the script");
    EXPECT_EQ(Apply("Before = s 'b'\r\nVolatile { Child = s 'c' }"),
              HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
    EXPECT_FALSE(Exists("Before"));
    EXPECT_FALSE(Exists("Volatile\\Child"));
    // The rollback removes keys the script lists even when they were there
    // before, as long as nothing is left below them.
    EXPECT_FALSE(Exists("Volatile"));
    EXPECT_TRUE(Value("", "kept").has_value());
}

TEST_F(RegistryScript, AKeyTheRegistryRefusesFailsWithTheRegistrysCode)
{
    // Key names are limited in length: the registry refuses to create or open
    // a longer one, with its own code (the interpreter's calls are the wide ones).
    const std::string tooLong(300, 'k');
    HKEY raw = nullptr;
    LONG createCode = ::RegCreateKeyExW(HKEY_CURRENT_USER, Wide(Path(tooLong)).c_str(), 0, nullptr, 0,
                                        KEY_ALL_ACCESS, nullptr, &raw, nullptr);
    ASSERT_NE(createCode, ERROR_SUCCESS);
    LONG openCode = ::RegOpenKeyExW(HKEY_CURRENT_USER, Wide(Path(tooLong)).c_str(), 0, KEY_READ, &raw);
    ASSERT_NE(openCode, ERROR_SUCCESS);

    EXPECT_EQ(Apply("Before = s 'b'\r\n" + tooLong + " = s 'x'"), HRESULT_FROM_WIN32(createCode));
    ExpectNothingLeft();

    // Unregistering skips the refused key's block (nothing below it is
    // touched) and then fails, unless the key is merely absent.
    CreateKey("Before");
    CreateKey("Inner");
    HRESULT hr = Apply("Before\r\n" + tooLong + " { Inner }\r\nAfter", false);
    EXPECT_EQ(hr, openCode == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(openCode));
    EXPECT_FALSE(Exists("Before"));
    EXPECT_TRUE(Exists("Inner"));
}

TEST_F(RegistryScript, UnregisteringStopsAtTheFirstFailure)
{
    CreateKey("A");
    CreateKey("C");
    EXPECT_EQ(Apply("A\r\nB\\X\r\nC", false), DISP_E_EXCEPTION);
    EXPECT_FALSE(Exists("A"));
    EXPECT_TRUE(Exists("C"));
}

TEST_F(RegistryScript, AMalformedBlockOfAnAbsentKeyStillFailsTheUnregistering)
{
    // Read on from the middle of the bad block, its tokens would be taken for
    // keys of the level above and removed.
    CreateKey("Other");
    EXPECT_EQ(Apply("Absent { val v s Other }", false), DISP_E_EXCEPTION);
    EXPECT_TRUE(Exists("Other"));
}

TEST_F(RegistryScript, BlocksNestAtMost64Deep)
{
    // The throwaway key's wrapping takes three levels.
    auto nested = [](int levels) {
        std::string text;
        for (int i = 0; i < levels; ++i)
            text += "K { ";
        for (int i = 0; i < levels; ++i)
            text += "} ";
        return text;
    };
    EXPECT_EQ(Apply(nested(kMaxBlockDepth - 3)), S_OK);
    EXPECT_EQ(Apply(nested(kMaxBlockDepth - 3), false), S_OK);
    ExpectNothingLeft();
    EXPECT_EQ(Apply(nested(kMaxBlockDepth - 2)), DISP_E_EXCEPTION);
    ExpectNothingLeft();
    EXPECT_EQ(Apply(nested(20000)), DISP_E_EXCEPTION);
    EXPECT_EQ(Apply(nested(20000), false), DISP_E_EXCEPTION);
    ExpectNothingLeft();
}

// --- Script resources ------------------------------------------------------------

// HKCR\CLSID is kept once per view on a 64-bit system (and in the prefixes the
// tests run in): a script told a view writes, removes and takes back there only.
TEST_F(RegistryScript, AScriptToldAViewWritesRemovesAndTakesBackInThatViewOnly)
{
    const std::string clsid = "{5A1D0C2E-7E3B-4F19-9D0A-2C6B8E4F1A37}";
    const std::wstring key = L"CLSID\\" + Wide(clsid);
    auto Script = [&](const std::string& extra) {
        return "HKCR\r\n{\r\n\tNoRemove CLSID\r\n\t{\r\n\t\tForceRemove " + clsid +
               " = s 'x'\r\n\t\t{\r\n\t\t\tSub = s 'y'\r\n" + extra + "\t\t}\r\n\t}\r\n}";
    };

    target_.view = KEY_WOW64_32KEY;
    ASSERT_EQ(ApplyRaw(Script("")), S_OK);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key + L"\\Sub", nullptr, KEY_WOW64_32KEY), L"y");
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key, KEY_WOW64_64KEY));

    target_.view = KEY_WOW64_64KEY;
    ASSERT_EQ(ApplyRaw(Script("")), S_OK);
    target_.view = KEY_WOW64_32KEY;
    ASSERT_EQ(ApplyRaw(Script(""), false), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key, KEY_WOW64_32KEY));
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key + L"\\Sub", nullptr, KEY_WOW64_64KEY), L"y");

    // Registering fails after the key and its subkey were written in this view:
    // they are taken back here, and the other view keeps its own.
    EXPECT_EQ(ApplyRaw(Script("\t\t\tVal broken s 'z'\r\n")), DISP_E_EXCEPTION);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key, KEY_WOW64_32KEY));
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key + L"\\Sub", nullptr, KEY_WOW64_64KEY), L"y");

    target_.view = KEY_WOW64_64KEY;
    ASSERT_EQ(ApplyRaw(Script(""), false), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key, KEY_WOW64_64KEY));
}

TEST_F(RegistryScript, AMissingModuleOrResourceFailsWithThePlatformsError)
{
    wchar_t self[MAX_PATH];
    ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    EXPECT_EQ(registrar_.RegisterScriptResource(self, 999, L"REGISTRY", {}),
              HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(registrar_.RegisterScriptResource(self, IDR_QUILLMORPHOLE, L"NOSUCHTYPE", {}),
              HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND));
    HRESULT missing = registrar_.RegisterScriptResource(L"C:\\no such folder\\none.exe", 1, L"REGISTRY", {});
    EXPECT_TRUE(missing == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) ||
                missing == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) ||
                missing == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
        << std::hex << missing;
}

TEST_F(RegistryScript, AClassScriptResourceAppliesPerUserWithTheModulesPath)
{
    // The test program carries the server's scripts; per user they stay out of
    // the machine's classes.
    const std::wstring classes = L"Software\\Classes";
    const bool classesExisted = KeyExists(HKEY_CURRENT_USER, classes);
    const std::wstring classKey = classes + L"\\CLSID\\{3C94F2A8-6D1B-47E5-A0C3-95E2B7D4F168}";
    wchar_t self[MAX_PATH];
    ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);

    EnablePerUserRegistration(true);
    ASSERT_EQ(ApplyRegistryResource(IDR_QUILLMORPHEMBEDDEDOBJECT, true), S_OK);
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, classKey), L"Quillmorph OLE");
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, classKey + L"\\LocalServer32"),
              L"\"" + std::wstring(self) + L"\"");
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, classKey + L"\\LocalServer32", L"ThreadingModel"), L"both");
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, classKey + L"\\verb\\0"), L"&Edit,0,0");

    ASSERT_EQ(ApplyRegistryResource(IDR_QUILLMORPHEMBEDDEDOBJECT, false), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, classKey));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, classes + L"\\QUILLMORPHOLE.QuillmorphEmbeddedObject"));
    if (!classesExisted) {
        ::RegDeleteKeyW(HKEY_CURRENT_USER, (classes + L"\\CLSID").c_str());
        ::RegDeleteKeyW(HKEY_CURRENT_USER, classes.c_str());
    }
}

} // namespace
