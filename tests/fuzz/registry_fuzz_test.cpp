// The registry-script interpreter fed mutations of the server's own scripts,
// scripts with one fault put into an otherwise sound root block, and random
// token soup, in register and unregister mode, per machine and per user. Every
// root the scripts may name is redirected by the platform into a throwaway key
// (HKCU\Software\QuillmorphFuzz), which is emptied after each script; nothing
// outside it may change. Results are those of the interpreter's failure table,
// and a register that fails inside a root block leaves nothing of that block but
// what its NoRemove keys keep.

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/server_module.h"
#include "registration/registrar.h"
#include "registration/registry_script.h"
#include "registration/server_registration.h"
#include "resources/resource.h"
#include "support/test_support.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

const char kThrowawayRoot[] = "Software\\QuillmorphFuzz";

struct RedirectedRoot
{
    HKEY predefined;
    const char* name;
};
const RedirectedRoot kRoots[] = {{HKEY_CLASSES_ROOT, "HKCR"},
                                 {HKEY_CURRENT_USER, "HKCU"},
                                 {HKEY_LOCAL_MACHINE, "HKLM"},
                                 {HKEY_USERS, "HKU"},
                                 {HKEY_CURRENT_CONFIG, "HKCC"}};

std::string ScriptResource(WORD id)
{
    HRSRC resource = ::FindResourceA(nullptr, MAKEINTRESOURCEA(id), "REGISTRY");
    if (!resource)
        return {};
    const char* bytes = static_cast<const char*>(::LockResource(::LoadResource(nullptr, resource)));
    return std::string(bytes, ::SizeofResource(nullptr, resource));
}

// The names below a key, each with its subkeys' names, as one text.
void Fingerprint(HKEY key, int depth, std::string* out)
{
    char name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof(name);
        if (::RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (depth == 1 && ::lstrcmpiA(name, "QuillmorphFuzz") == 0)
            continue;
        *out += std::string(depth, ' ') + name + "\n";
        HKEY child = nullptr;
        if (depth < 2 && ::RegOpenKeyExA(key, name, 0, KEY_READ, &child) == ERROR_SUCCESS) {
            Fingerprint(child, depth + 1, out);
            ::RegCloseKey(child);
        }
    }
    DWORD values = 0;
    ::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr);
    *out += std::string(depth, ' ') + "values " + std::to_string(values) + "\n";
}

std::string RealRegistryFingerprint()
{
    std::string text;
    for (const RedirectedRoot& root : kRoots) {
        text += std::string(root.name) + "\n";
        Fingerprint(root.predefined, 0, &text);
    }
    return text;
}

// What is left below a redirected root: every key's name, and whether any key
// holds a value.
void Remains(HKEY key, std::vector<std::string>* names, bool* values)
{
    DWORD count = 0;
    ::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                       nullptr, nullptr);
    if (count)
        *values = true;
    char name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof(name);
        if (::RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names->push_back(name);
        HKEY child = nullptr;
        if (::RegOpenKeyExA(key, name, 0, KEY_READ, &child) == ERROR_SUCCESS) {
            Remains(child, names, values);
            ::RegCloseKey(child);
        }
    }
}

bool AllowedResult(HRESULT hr)
{
    return hr == S_OK || hr == DISP_E_EXCEPTION || hr == E_FAIL || hr == E_OUTOFMEMORY ||
           HRESULT_FACILITY(hr) == FACILITY_WIN32 || hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW;
}

std::vector<std::string> Tokens(const std::string& text)
{
    std::vector<std::string> tokens;
    size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && std::strchr(" \t\r\n", text[at]))
            ++at;
        size_t end = at;
        while (end < text.size() && !std::strchr(" \t\r\n", text[end]))
            ++end;
        if (end > at)
            tokens.push_back(text.substr(at, end - at));
        at = end;
    }
    return tokens;
}

std::string Join(const std::vector<std::string>& tokens, fuzz::Random& random)
{
    static const char* kBlanks[] = {" ", "\r\n", "\t", "\n\t\t"};
    std::string text;
    for (const std::string& token : tokens)
        text += token + kBlanks[random.Below(4)];
    return text;
}

const char* const kVocabulary[] = {"HKCR",
                                   "HKCU",
                                   "HKLM",
                                   "HKU",
                                   "HKCC",
                                   "hkcr",
                                   "HKEY_CLASSES_ROOT",
                                   "HKEY_CURRENT_USER",
                                   "HKXX",
                                   "{",
                                   "{",
                                   "{",
                                   "}",
                                   "}",
                                   "}",
                                   "=",
                                   "=",
                                   "s",
                                   "S",
                                   "d",
                                   "b",
                                   "m",
                                   "x",
                                   "'value'",
                                   "'It''s'",
                                   "''",
                                   "'open",
                                   "Val",
                                   "val",
                                   "ForceRemove",
                                   "NoRemove",
                                   "Delete",
                                   "Key",
                                   "CLSID",
                                   "Software",
                                   "a\\b",
                                   "'a b'",
                                   "%MODULE%",
                                   "%%",
                                   "%",
                                   "%NOSUCHNAME%",
                                   "%AN_EXCESSIVELY_LONG_REPLACEMENT_NAME%",
                                   "0",
                                   "4294967295",
                                   "4294967296",
                                   "-1",
                                   "0x10",
                                   "0aFf",
                                   "abc",
                                   "zz",
                                   "a\\0b",
                                   "a\\0\\0b",
                                   "{guid}",
                                   "verb",
                                   "-3",
                                   "'Hide,0,1'"};

// One of the faults of the failure table, as an entry.
const char* const kFaults[] = {
    "Bad = x 'v'",  "Odd = b 'abc'",       "Number = d 'zz'", "Number = d '99999999999'",
    "a\\b = s 'v'", "val v s 'no equals'", "Val v = q 'v'",   "Delete Gone { }"};

class RegistryFuzz : public ::testing::Test
{
protected:
    void SetUp() override
    {
        before_ = RealRegistryFingerprint();
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kThrowawayRoot);
        ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, kThrowawayRoot, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    &throwaway_, nullptr),
                  ERROR_SUCCESS);
        for (const RedirectedRoot& root : kRoots) {
            HKEY target = nullptr;
            ASSERT_EQ(::RegCreateKeyExA(throwaway_, root.name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                        &target, nullptr),
                      ERROR_SUCCESS);
            targets_.push_back(target);
        }
        for (size_t i = 0; i < targets_.size(); ++i)
            ASSERT_EQ(::RegOverridePredefKey(kRoots[i].predefined, targets_[i]), ERROR_SUCCESS);
        // The redirection must hold before any script runs.
        HKEY probe = nullptr;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Probe", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    &probe, nullptr),
                  ERROR_SUCCESS);
        ::RegCloseKey(probe);
        HKEY found = nullptr;
        ASSERT_EQ(::RegOpenKeyExA(targets_[2], "Probe", 0, KEY_READ, &found), ERROR_SUCCESS)
            << "the platform redirects the predefined keys";
        ::RegCloseKey(found);
        Clean();
    }

    void TearDown() override
    {
        EnablePerUserRegistration(false);
        for (const RedirectedRoot& root : kRoots)
            ::RegOverridePredefKey(root.predefined, nullptr);
        for (HKEY target : targets_)
            ::RegCloseKey(target);
        if (throwaway_)
            ::RegCloseKey(throwaway_);
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kThrowawayRoot);
        EXPECT_EQ(RealRegistryFingerprint(), before_) << "nothing outside the throwaway root changed";
    }

    void Clean()
    {
        for (HKEY target : targets_)
            ::RegDeleteTreeA(target, nullptr);
    }

    HRESULT Apply(const std::string& text, bool registerEntries)
    {
        CRegObject registrar;
        registrar.DefineReplacement(L"Module", L"\"C:\\Program Files\\Fuzz\\resources\\QuillmorphOLE.exe\"");
        registrar.DefineReplacement(L"Module_Raw", L"C:\\Program Files\\Fuzz\\resources\\QuillmorphOLE.exe");
        CRegScriptParser parser(registrar.Replacements(), ScriptTarget{perUser_, 0});
        return parser.ApplyScript(text.c_str(), registerEntries);
    }

    // Keys a failed root block may leave: its NoRemove keys, and per user the
    // two keys above them.
    void CheckRolledBack(uint32_t iteration, HRESULT hr)
    {
        std::vector<std::string> names;
        bool values = false;
        for (HKEY target : targets_)
            Remains(target, &names, &values);
        for (const std::string& name : names) {
            if (::lstrcmpiA(name.c_str(), "CLSID") != 0 && ::lstrcmpiA(name.c_str(), "Software") != 0 &&
                ::lstrcmpiA(name.c_str(), "Classes") != 0)
                findings_.Fail(iteration, "a failed register (" + fuzz::Hex(hr) + ") left the key " + name);
        }
        if (values)
            findings_.Fail(iteration, "a failed register (" + fuzz::Hex(hr) + ") left values");
    }

    void Run(fuzz::Random& random, const fuzz::Budget& budget)
    {
        const std::vector<std::string> scripts = {ScriptResource(IDR_QUILLMORPHEMBEDDEDOBJECT),
                                                  ScriptResource(IDR_QUILLMORPHOLE)};
        for (const std::string& script : scripts)
            ASSERT_FALSE(script.empty());
        uint32_t iteration = 0;
        for (; budget.More(iteration); ++iteration) {
            const bool perUser = random.OneIn(3);
            perUser_ = perUser;
            const std::string& real = scripts[random.Below(2)];
            std::string text;
            bool faultInjected = false;
            switch (random.Below(5)) {
            case 0: { // the script's bytes changed
                fuzz::Bytes bytes(real.begin(), real.end());
                fuzz::MutateBytes(random, &bytes);
                text.assign(bytes.begin(), bytes.end());
                break;
            }
            case 1: { // its tokens removed, doubled, swapped or replaced
                std::vector<std::string> tokens = Tokens(real);
                for (uint32_t edits = 1 + random.Below(4); edits > 0 && !tokens.empty(); --edits) {
                    const uint32_t at = random.Below(static_cast<uint32_t>(tokens.size()));
                    switch (random.Below(4)) {
                    case 0:
                        tokens.erase(tokens.begin() + at);
                        break;
                    case 1:
                        tokens.insert(tokens.begin() + at, tokens[at]);
                        break;
                    case 2:
                        std::swap(tokens[at], tokens[random.Below(static_cast<uint32_t>(tokens.size()))]);
                        break;
                    default:
                        tokens[at] = kVocabulary[random.Below(sizeof(kVocabulary) / sizeof(kVocabulary[0]))];
                        break;
                    }
                }
                text = Join(tokens, random);
                break;
            }
            case 2: { // one fault inside the sound root block
                std::vector<std::string> tokens = Tokens(real);
                // Entries start after a value, a block's brace, or a bare key.
                std::vector<uint32_t> starts;
                for (uint32_t i = 2; i + 1 < tokens.size(); ++i) {
                    if (tokens[i - 1] == "{" || tokens[i - 1] == "}" || tokens[i - 1].back() == '\'')
                        starts.push_back(i);
                }
                const uint32_t at = starts[random.Below(static_cast<uint32_t>(starts.size()))];
                tokens.insert(tokens.begin() + at,
                              kFaults[random.Below(sizeof(kFaults) / sizeof(kFaults[0]))]);
                text = Join(tokens, random);
                faultInjected = true;
                break;
            }
            case 3: { // token soup
                std::vector<std::string> tokens;
                for (uint32_t count = random.Below(40); count > 0; --count)
                    tokens.push_back(kVocabulary[random.Below(sizeof(kVocabulary) / sizeof(kVocabulary[0]))]);
                if (random.OneIn(2))
                    tokens.insert(tokens.begin(), {"HKCU", "{"});
                text = Join(tokens, random);
                break;
            }
            default: { // a token too long, or blocks nested too deep
                if (random.OneIn(2)) {
                    text = "HKCU { Key = s '" + std::string(4090 + random.Below(10), 'x') + "' }";
                } else {
                    const uint32_t depth = 60 + random.Below(10);
                    for (uint32_t i = 0; i < depth; ++i)
                        text += "K" + std::to_string(i) + " { ";
                    text = "HKCU { " + text;
                    for (uint32_t i = 0; i <= depth; ++i)
                        text += "} ";
                }
                break;
            }
            }
            // The roots that the platform does not redirect are never named.
            for (const char* unsafe : {"HKPD", "HKDD", "HKEY_PERFORMANCE_DATA", "HKEY_DYN_DATA"}) {
                for (size_t found = 0; (found = FindNoCase(text, unsafe, found)) != std::string::npos;)
                    text.replace(found, std::strlen(unsafe), "HKXX");
            }

            const bool registerEntries = faultInjected || !random.OneIn(3);
            if (!registerEntries)
                Apply(real, true); // something to remove
            fuzz::Trace(iteration, registerEntries ? "register" : "unregister");
            const HRESULT hr = Apply(text, registerEntries);
            if (!AllowedResult(hr))
                findings_.Fail(iteration, "the script gave " + fuzz::Hex(hr));
            if (faultInjected) {
                if (SUCCEEDED(hr))
                    findings_.Fail(iteration, "a script with a fault registered");
                CheckRolledBack(iteration, hr);
            }
            Clean();
        }
        EnablePerUserRegistration(false);
        findings_.Report(iteration, budget);
        EXPECT_EQ(findings_.failures(), 0u);
    }

    static size_t FindNoCase(const std::string& text, const char* what, size_t from)
    {
        const size_t length = std::strlen(what);
        for (size_t at = from; at + length <= text.size(); ++at) {
            if (::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, text.c_str() + at,
                                 static_cast<int>(length), what, static_cast<int>(length)) == CSTR_EQUAL)
                return at;
        }
        return std::string::npos;
    }

    std::string before_;
    HKEY throwaway_ = nullptr;
    std::vector<HKEY> targets_;
    bool perUser_ = false;
    fuzz::Findings findings_{"registry"};
};

TEST_F(RegistryFuzz, ScriptsGiveOnlyTheFailureTableAndFailedBlocksAreTakenBack)
{
    fuzz::Random random(fuzz::Seed(0x5C41B7ull));
    fuzz::Budget budget(1500);
    Run(random, budget);
}

} // namespace
