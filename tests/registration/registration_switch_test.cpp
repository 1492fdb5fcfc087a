// The four registration switches, run as processes of the real server: what
// they write and remove, their exit codes, and what the platform then reads
// from those entries.

#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include <wrl/client.h>

#include "registration/server_registration.h"
#include "registry_reader.h"
#include "server/class_ids.h"
#include "support/registered_class.h"
#include "support/test_support.h"

using Microsoft::WRL::ComPtr;
using namespace registry_reader;
using namespace testing_support;

namespace {

constexpr const wchar_t* kLibId = L"{9B6C2E14-F3A7-4D58-B1E0-6A4C8D2F7E95}";
constexpr const wchar_t* kTypeLibKey = L"TypeLib\\{9B6C2E14-F3A7-4D58-B1E0-6A4C8D2F7E95}";
const wchar_t* const kProgIds[] = {
    L"QUILLMORPHOLE.QuillmorphOLE.1",
    L"QUILLMORPHOLE.QuillmorphOLE",
    L"QUILLMORPHOLE.QuillmorphEmbeddedObject.1",
    L"QUILLMORPHOLE.QuillmorphEmbeddedObject",
};

// The two registry views of a 64-bit system: registration writes both,
// whichever build registers (the prefixes the tests run in are 64-bit ones).
const REGSAM kViews[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
const wchar_t kInterfaceKey[] = L"Interface\\{D2F8A5B3-1E6C-4B97-8F40-3B7E9C1A6D52}";

std::string ViewName(REGSAM view)
{
    return view == KEY_WOW64_32KEY ? " (32-bit view)" : " (64-bit view)";
}

// Where the per-user forms write.
constexpr const wchar_t* kUserClasses = L"Software\\Classes";

std::wstring Under(const wchar_t* base, const std::wstring& path)
{
    return *base ? std::wstring(base) + L"\\" + path : path;
}

using testing_support::Utf8;

// Server processes that this test started: those running now that were not
// running before (a server left behind by an earlier program is not ours).
std::set<DWORD> ServerProcesses()
{
    std::vector<DWORD> pids = FindProcesses(kServerImage);
    return std::set<DWORD>(pids.begin(), pids.end());
}

bool WaitForNoNewServer(const std::set<DWORD>& before, DWORD timeoutMs)
{
    ULONGLONG deadline = NowMs() + timeoutMs;
    for (;;) {
        bool anyNew = false;
        for (DWORD pid : ServerProcesses())
            anyNew = anyNew || before.count(pid) == 0;
        if (!anyNew)
            return true;
        if (NowMs() > deadline)
            return false;
        ::Sleep(50);
    }
}

// A copy of the built server at another path, removed again at the end.
class ServerCopy
{
public:
    ServerCopy(const std::wstring& folder) : folder_(folder), exe_(folder + L"\\QuillmorphOLE.exe")
    {
        ::CreateDirectoryW(folder_.c_str(), nullptr);
        copied_ = ::CopyFileW(ServerExePath().c_str(), exe_.c_str(), FALSE) != FALSE;
    }
    ServerCopy(const ServerCopy&) = delete;
    ServerCopy& operator=(const ServerCopy&) = delete;
    ~ServerCopy()
    {
        ::DeleteFileW(exe_.c_str());
        ::DeleteFileW(TypeLibraryFile().c_str());
        ::RemoveDirectoryW(folder_.c_str());
    }
    bool copied() const { return copied_; }
    const std::wstring& exe() const { return exe_; }
    std::wstring TypeLibraryFile() const { return folder_ + L"\\QuillmorphOLE.tlb"; }

private:
    std::wstring folder_;
    std::wstring exe_;
    bool copied_ = false;
};

// A resource of the built server, as bytes.
std::vector<BYTE> ServerResource(const wchar_t* type, WORD id)
{
    std::vector<BYTE> bytes;
    UniqueModule module(::LoadLibraryExW(ServerExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module)
        return bytes;
    HRSRC resource = ::FindResourceW(module.get(), MAKEINTRESOURCEW(id), type);
    HGLOBAL loaded = resource ? ::LoadResource(module.get(), resource) : nullptr;
    const BYTE* data = loaded ? static_cast<const BYTE*>(::LockResource(loaded)) : nullptr;
    if (data)
        bytes.assign(data, data + ::SizeofResource(module.get(), resource));
    return bytes;
}

// The type library resource of the built server, as bytes.
std::vector<BYTE> TypeLibraryBytes()
{
    return ServerResource(L"TYPELIB", 1);
}

// Leaves the executable at path with its two class scripts as its only
// resources. (Wine's resource update does not delete single entries, so the
// scripts are put back into an emptied table.)
bool StripToRegistryScripts(const std::wstring& path)
{
    std::vector<BYTE> scripts[2];
    const WORD ids[2] = {104, 105};
    {
        UniqueModule original(::LoadLibraryExW(ServerExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        if (!original)
            return false;
        for (int i = 0; i < 2; ++i) {
            HRSRC resource = ::FindResourceW(original.get(), MAKEINTRESOURCEW(ids[i]), L"REGISTRY");
            HGLOBAL loaded = resource ? ::LoadResource(original.get(), resource) : nullptr;
            const BYTE* data = loaded ? static_cast<const BYTE*>(::LockResource(loaded)) : nullptr;
            if (!data)
                return false;
            scripts[i].assign(data, data + ::SizeofResource(original.get(), resource));
        }
    }
    HANDLE update = ::BeginUpdateResourceW(path.c_str(), TRUE);
    if (!update)
        return false;
    bool added = true;
    for (int i = 0; i < 2; ++i)
        added = added && ::UpdateResourceW(update, L"REGISTRY", MAKEINTRESOURCEW(ids[i]),
                                           MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), scripts[i].data(),
                                           static_cast<DWORD>(scripts[i].size()));
    return ::EndUpdateResourceW(update, !added) && added;
}

class RegistrationSwitches : public ::testing::Test
{
protected:
    // Whatever a test did, the prefix ends with the built server registered, as
    // the other test programs expect to find it.
    static void TearDownTestSuite() { EXPECT_EQ(RegisterServer(ServerExePath()), 0u); }

    void SetUp() override { ASSERT_TRUE(SUCCEEDED(apartment_.status())); }

    // Every entry that the two class scripts write, under base ("" for
    // HKEY_CLASSES_ROOT), for a server at exe, as processes of view see them.
    static void ExpectClassEntries(HKEY root, const wchar_t* base, const std::wstring& exe, REGSAM view)
    {
        SCOPED_TRACE(Utf8(Under(base, L"")) + ViewName(view));
        auto Read = [&](const std::wstring& path, const wchar_t* name = nullptr) {
            return ReadString(root, path, name, view);
        };
        const std::wstring automation = Under(base, kAutomationClass);
        const std::wstring embedded = Under(base, kEmbeddedClass);

        // ProgIDs.
        EXPECT_EQ(Read(Under(base, L"QUILLMORPHOLE.QuillmorphOLE.1")), L"Quillmorph OLE Class");
        EXPECT_EQ(Read(Under(base, L"QUILLMORPHOLE.QuillmorphOLE.1\\CLSID")),
                  L"{7A3E51C0-4B2D-4E8F-9C61-2D5B8F0A13E7}");
        EXPECT_EQ(Read(Under(base, L"QUILLMORPHOLE.QuillmorphOLE")), L"QuillmorphOLE Class");
        EXPECT_EQ(Read(Under(base, L"QUILLMORPHOLE.QuillmorphOLE\\CLSID")),
                  L"{7A3E51C0-4B2D-4E8F-9C61-2D5B8F0A13E7}");
        EXPECT_EQ(Read(Under(base, L"QUILLMORPHOLE.QuillmorphOLE\\CurVer")),
                  L"QUILLMORPHOLE.QuillmorphOLE.1");
        EXPECT_EQ(Read(Under(base, L"QUILLMORPHOLE.QuillmorphEmbeddedObject.1")), L"Quillmorph OLE");
        EXPECT_EQ(Read(Under(base, L"QUILLMORPHOLE.QuillmorphEmbeddedObject.1\\CLSID")),
                  L"{3C94F2A8-6D1B-47E5-A0C3-95E2B7D4F168}");
        EXPECT_EQ(Read(Under(base, L"QUILLMORPHOLE.QuillmorphEmbeddedObject")), L"Quillmorph OLE");
        EXPECT_EQ(Read(Under(base, L"QUILLMORPHOLE.QuillmorphEmbeddedObject\\CLSID")),
                  L"{3C94F2A8-6D1B-47E5-A0C3-95E2B7D4F168}");
        EXPECT_EQ(Read(Under(base, L"QUILLMORPHOLE.QuillmorphEmbeddedObject\\CurVer")),
                  L"QUILLMORPHOLE.QuillmorphEmbeddedObject.1");

        // The automation class: started by its quoted path.
        EXPECT_EQ(Read(automation), L"Quillmorph OLE Class");
        EXPECT_EQ(SubkeyNames(root, automation, view),
                  (std::set<std::wstring>{L"ProgID", L"VersionIndependentProgID", L"Programmable",
                                          L"LocalServer32", L"TypeLib"}));
        EXPECT_EQ(Read(automation + L"\\ProgID"), L"QUILLMORPHOLE.QuillmorphOLE.1");
        EXPECT_EQ(Read(automation + L"\\VersionIndependentProgID"), L"QUILLMORPHOLE.QuillmorphOLE");
        EXPECT_EQ(ValueNames(root, automation + L"\\Programmable", view), std::set<std::wstring>{});
        EXPECT_EQ(Read(automation + L"\\LocalServer32"), L"\"" + exe + L"\"");
        EXPECT_EQ(Read(automation + L"\\LocalServer32", L"ThreadingModel"), L"both");
        EXPECT_EQ(Read(automation + L"\\TypeLib"), kLibId);

        // The embedded class: its quoted path (the bare one only for the 16-bit
        // key), the default handler, verbs, user types, status and the
        // Insertable marker. The blank after the class
        // name's closing quote in the script is not part of the name.
        EXPECT_EQ(Read(embedded), L"Quillmorph OLE");
        EXPECT_EQ(SubkeyNames(root, embedded, view),
                  (std::set<std::wstring>{L"ProgID", L"VersionIndependentProgID", L"Programmable",
                                          L"LocalServer", L"LocalServer32", L"TypeLib", L"InProcHandler32",
                                          L"verb", L"AuxUserType", L"MiscStatus", L"Insertable"}));
        EXPECT_EQ(Read(embedded + L"\\ProgID"), L"QUILLMORPHOLE.QuillmorphEmbeddedObject.1");
        EXPECT_EQ(Read(embedded + L"\\VersionIndependentProgID"), L"QUILLMORPHOLE.QuillmorphEmbeddedObject");
        EXPECT_EQ(Read(embedded + L"\\LocalServer"), exe);
        EXPECT_EQ(Read(embedded + L"\\LocalServer32"), L"\"" + exe + L"\"");
        EXPECT_EQ(Read(embedded + L"\\LocalServer32", L"ThreadingModel"), L"both");
        EXPECT_EQ(Read(embedded + L"\\TypeLib"), kLibId);
        EXPECT_EQ(Read(embedded + L"\\InProcHandler32"), L"Ole32.dll");
        EXPECT_EQ(SubkeyNames(root, embedded + L"\\verb", view),
                  (std::set<std::wstring>{L"-3", L"-2", L"-1", L"0"}));
        EXPECT_EQ(Read(embedded + L"\\verb\\-3"), L"Hide,0,1");
        EXPECT_EQ(Read(embedded + L"\\verb\\-2"), L"Open,0,0");
        EXPECT_EQ(Read(embedded + L"\\verb\\-1"), L"Show,0,0");
        EXPECT_EQ(Read(embedded + L"\\verb\\0"), L"&Edit,0,0");
        EXPECT_EQ(Read(embedded + L"\\AuxUserType\\2"), L"Quillmorph OLE");
        EXPECT_EQ(Read(embedded + L"\\AuxUserType\\3"), L"Quillmorph OLE Server");
        EXPECT_EQ(Read(embedded + L"\\MiscStatus"), L"0");
        EXPECT_TRUE(KeyExists(root, embedded + L"\\Insertable", view));
        EXPECT_EQ(SubkeyNames(root, embedded + L"\\Insertable", view), std::set<std::wstring>{});
    }

    static void ExpectNoClassEntries(HKEY root, const wchar_t* base, REGSAM view)
    {
        SCOPED_TRACE(Utf8(Under(base, L"")) + ViewName(view));
        EXPECT_FALSE(KeyExists(root, Under(base, kAutomationClass), view));
        EXPECT_FALSE(KeyExists(root, Under(base, kEmbeddedClass), view));
        for (const wchar_t* progId : kProgIds)
            EXPECT_FALSE(KeyExists(root, Under(base, progId), view)) << Utf8(progId);
    }

    // Everything registration writes, in both views (each key prefixed with
    // its view).
    static std::map<std::wstring, std::wstring> ClassesSnapshot()
    {
        std::map<std::wstring, std::wstring> both;
        for (REGSAM view : kViews) {
            std::map<std::wstring, std::wstring> tree;
            DumpTree(HKEY_CLASSES_ROOT, kAutomationClass, &tree, view);
            DumpTree(HKEY_CLASSES_ROOT, kEmbeddedClass, &tree, view);
            for (const wchar_t* progId : kProgIds)
                DumpTree(HKEY_CLASSES_ROOT, progId, &tree, view);
            DumpTree(HKEY_CLASSES_ROOT, kTypeLibKey, &tree, view);
            DumpTree(HKEY_CLASSES_ROOT, kInterfaceKey, &tree, view);
            for (const auto& [key, values] : tree)
                both[std::to_wstring(view) + L":" + key] = values;
        }
        return both;
    }

    Apartment apartment_;
};

TEST_F(RegistrationSwitches, EachSwitchEndsTheProcessAtOnceWithItsStatus)
{
    const std::set<DWORD> before = ServerProcesses();
    for (const wchar_t* arguments :
         {L"/RegServer", L"-unregserver", L"/RegServerPerUser", L"-UNREGSERVERPERUSER"}) {
        DWORD elapsed = 0;
        DWORD code = RunProcess(ServerExePath(), arguments, 30000, &elapsed);
        EXPECT_EQ(code, 0u) << Utf8(arguments);
        EXPECT_LT(elapsed, 10000u) << "a switch never waits for clients";
    }
    EXPECT_TRUE(WaitForNoNewServer(before, 0)) << "no switch starts a server";
}

TEST_F(RegistrationSwitches, RegServerWritesEveryEntryOfBothClasses)
{
    ASSERT_EQ(RegisterServer(ServerExePath()), 0u);
    for (REGSAM view : kViews)
        ExpectClassEntries(HKEY_CLASSES_ROOT, L"", ServerExePath(), view);
}

TEST_F(RegistrationSwitches, RegServerRegistersTheTypeLibraryForLateBinding)
{
    ASSERT_EQ(RegisterServer(ServerExePath()), 0u);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, std::wstring(kTypeLibKey) + L"\\1.0\\0\\win32"), ServerExePath());
    // The interface's proxy and library, where clients of either bitness look.
    for (REGSAM view : kViews) {
        SCOPED_TRACE(ViewName(view));
        const std::wstring key = kInterfaceKey;
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key + L"\\ProxyStubClsid32", nullptr, view),
                  L"{00020424-0000-0000-C000-000000000046}");
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key + L"\\TypeLib", nullptr, view), kLibId);
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key + L"\\TypeLib", L"Version", view), L"1.0");
    }

    ComPtr<ITypeLib> library;
    ASSERT_EQ(::LoadRegTypeLib(LIBID_QUILLMORPHOLELib, 1, 0, LOCALE_NEUTRAL, library.GetAddressOf()), S_OK);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID_IQuillmorphOLE, info.GetAddressOf()), S_OK);

    const std::set<DWORD> before = ServerProcesses();
    // Late bound, through the running server: names resolve from the
    // registered library and the interface is marshalled with it.
    ComPtr<IDispatch> automation;
    ASSERT_EQ(
        ::CoCreateInstance(CLSID_QuillmorphOLE, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&automation)),
        S_OK);
    OLECHAR name[] = L"CloseAll";
    LPOLESTR names[] = {name};
    DISPID dispid = DISPID_UNKNOWN;
    EXPECT_EQ(automation->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid), S_OK);
    EXPECT_NE(dispid, DISPID_UNKNOWN);
    ComPtr<IQuillmorphOLE> early;
    EXPECT_EQ(automation.As(&early), S_OK);
    automation.Reset();
    early.Reset();
    EXPECT_TRUE(WaitForNoNewServer(before, 10000));
}

TEST_F(RegistrationSwitches, ThePlatformReadsTheEmbeddedClassFromTheEntries)
{
    ASSERT_EQ(RegisterServer(ServerExePath()), 0u);
    ExpectEmbeddedClassAsRegistered();
}

TEST_F(RegistrationSwitches, RegisteringTwiceGivesTheSameContents)
{
    ASSERT_EQ(RegisterServer(ServerExePath()), 0u);
    std::map<std::wstring, std::wstring> once = ClassesSnapshot();
    ASSERT_FALSE(once.empty());
    // A key left by an older version under a class key goes: the class keys are
    // written afresh.
    UniqueHKey stale;
    {
        HKEY raw = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, (std::wstring(kEmbeddedClass) + L"\\Stale").c_str(), 0,
                                    nullptr, 0, KEY_WRITE, nullptr, &raw, nullptr),
                  ERROR_SUCCESS);
        stale.reset(raw);
    }
    stale.reset();
    ASSERT_EQ(RegisterServer(ServerExePath()), 0u);
    EXPECT_EQ(ClassesSnapshot(), once);
}

TEST_F(RegistrationSwitches, UnregServerRemovesClassesProgIdsAndTypeLibraryAndKeepsClsid)
{
    ASSERT_EQ(RegisterServer(ServerExePath()), 0u);
    ASSERT_EQ(UnregisterServer(ServerExePath()), 0u);
    for (REGSAM view : kViews) {
        ExpectNoClassEntries(HKEY_CLASSES_ROOT, L"", view);
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID", view));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(kTypeLibKey) + L"\\1.0", view));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kInterfaceKey, view)) << ViewName(view);
    }
    ComPtr<ITypeLib> library;
    EXPECT_NE(::LoadRegTypeLib(LIBID_QUILLMORPHOLELib, 1, 0, LOCALE_NEUTRAL, library.GetAddressOf()), S_OK);
}

TEST_F(RegistrationSwitches, UnregServerOnAnUnregisteredMachineEndsWithTheTypeLibraryStepsStatus)
{
    ASSERT_EQ(RegisterServer(ServerExePath()), 0u);
    ASSERT_EQ(UnregisterServer(ServerExePath()), 0u);
    // Absent keys are no error; the type-library step then answers what the
    // platform answers for a library that is not registered.
    DWORD code = UnregisterServer(ServerExePath());
    ComPtr<ITypeLib> library;
    ASSERT_EQ(::LoadTypeLib(ServerExePath().c_str(), library.GetAddressOf()), S_OK);
    HRESULT expected = ::UnRegisterTypeLib(LIBID_QUILLMORPHOLELib, 1, 0, LOCALE_NEUTRAL, SYS_WIN32);
    EXPECT_EQ(code, static_cast<DWORD>(expected));
    EXPECT_TRUE(FAILED(expected));
    for (REGSAM view : kViews)
        ExpectNoClassEntries(HKEY_CLASSES_ROOT, L"", view);
}

TEST_F(RegistrationSwitches, PerUserFormsWriteAndRemoveUnderTheUsersClassesOnly)
{
    const bool classesExisted = KeyExists(HKEY_CURRENT_USER, kUserClasses);
    ASSERT_EQ(RegisterServer(ServerExePath()), 0u);
    ASSERT_EQ(UnregisterServer(ServerExePath()), 0u);
    ASSERT_EQ(RegisterServer(ServerExePath(), true), 0u);
    for (REGSAM view : kViews) {
        ExpectClassEntries(HKEY_CURRENT_USER, kUserClasses, ServerExePath(), view);
        ExpectNoClassEntries(HKEY_CLASSES_ROOT, L"", view);
    }
    // Wine's per-user type-library registration writes machine-wide; on Windows
    // it writes under the user's classes. Either way the library loads.
    ComPtr<ITypeLib> library;
    EXPECT_EQ(::LoadRegTypeLib(LIBID_QUILLMORPHOLELib, 1, 0, LOCALE_NEUTRAL, library.GetAddressOf()), S_OK);
    library.Reset();

    ASSERT_EQ(UnregisterServer(ServerExePath(), true), 0u);
    for (REGSAM view : kViews)
        ExpectNoClassEntries(HKEY_CURRENT_USER, kUserClasses, view);
    // CLSID is never removed, so the user's Classes key keeps it and stays.
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software\\Classes\\CLSID"));
    EXPECT_NE(::LoadRegTypeLib(LIBID_QUILLMORPHOLELib, 1, 0, LOCALE_NEUTRAL, library.GetAddressOf()), S_OK);

    // Leave the user's hive as it was found (these deletions refuse keys that
    // still have subkeys).
    if (!classesExisted) {
        ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Classes\\CLSID");
        ::RegDeleteKeyW(HKEY_CURRENT_USER, kUserClasses);
    }
}

TEST_F(RegistrationSwitches, PathsWithBlanksAndSingleQuotesAreWrittenWhole)
{
    for (const wchar_t* folder : {L"C:\\Program Files\\Quillmorph Switch Test", L"C:\\Quill'morph"}) {
        SCOPED_TRACE(Utf8(folder));
        ServerCopy copy(folder);
        ASSERT_TRUE(copy.copied());
        ASSERT_EQ(RegisterServer(copy.exe()), 0u);
        for (REGSAM view : kViews)
            ExpectClassEntries(HKEY_CLASSES_ROOT, L"", copy.exe(), view);
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, std::wstring(kTypeLibKey) + L"\\1.0\\0\\win32"), copy.exe());
        ASSERT_EQ(UnregisterServer(copy.exe()), 0u);
        for (REGSAM view : kViews)
            ExpectNoClassEntries(HKEY_CLASSES_ROOT, L"", view);
    }
}

TEST_F(RegistrationSwitches, UnregisteringKeepsAClassKeyThatOthersAddedToInThatViewOnly)
{
    ASSERT_EQ(RegisterServer(ServerExePath()), 0u);
    const std::wstring foreign = std::wstring(kEmbeddedClass) + L"\\Foreign";
    {
        HKEY raw = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, foreign.c_str(), 0, nullptr, 0,
                                    KEY_WRITE | KEY_WOW64_32KEY, nullptr, &raw, nullptr),
                  ERROR_SUCCESS);
        ::RegCloseKey(raw);
    }
    ASSERT_EQ(UnregisterServer(ServerExePath()), 0u);
    EXPECT_EQ(SubkeyNames(HKEY_CLASSES_ROOT, kEmbeddedClass, KEY_WOW64_32KEY),
              std::set<std::wstring>{L"Foreign"});
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kEmbeddedClass, KEY_WOW64_64KEY));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kAutomationClass, KEY_WOW64_32KEY));
    ::RegDeleteKeyExW(HKEY_CLASSES_ROOT, foreign.c_str(), KEY_WOW64_32KEY, 0);
    ::RegDeleteKeyExW(HKEY_CLASSES_ROOT, kEmbeddedClass, KEY_WOW64_32KEY, 0);
}

// The interface entries of the type library, where the platform's own
// registration leaves a view without them (as a platform that writes only
// the registering process's view would).
TEST_F(RegistrationSwitches, InterfaceEntriesMissingFromAViewAreCopiedThereAndRemovedFromEvery)
{
    ASSERT_EQ(RegisterServer(ServerExePath()), 0u);
    ComPtr<ITypeLib> library;
    ASSERT_EQ(::LoadTypeLib(ServerExePath().c_str(), library.GetAddressOf()), S_OK);
    std::map<std::wstring, std::wstring> written;
    DumpTree(HKEY_CLASSES_ROOT, kInterfaceKey, &written, KEY_WOW64_64KEY);
    ASSERT_FALSE(written.empty());

    {
        UniqueHKey key = OpenKey(HKEY_CLASSES_ROOT, kInterfaceKey, KEY_ALL_ACCESS, KEY_WOW64_32KEY);
        ASSERT_TRUE(key);
        ASSERT_EQ(::RegDeleteTreeW(key.get(), nullptr), ERROR_SUCCESS);
    }
    ASSERT_EQ(::RegDeleteKeyExW(HKEY_CLASSES_ROOT, kInterfaceKey, KEY_WOW64_32KEY, 0), ERROR_SUCCESS);
    ASSERT_EQ(MirrorInterfaceEntries(library.Get(), false), S_OK);
    std::map<std::wstring, std::wstring> copied;
    DumpTree(HKEY_CLASSES_ROOT, kInterfaceKey, &copied, KEY_WOW64_32KEY);
    EXPECT_EQ(copied, written);

    // Left in a view after the platform's unregistration: removed, unless the
    // entries name another library.
    ASSERT_EQ(RemoveInterfaceEntries(library.Get(), false), S_OK);
    for (REGSAM view : kViews)
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kInterfaceKey, view)) << ViewName(view);
    const std::wstring otherLibrary = L"{00000000-1111-2222-3333-444444444444}";
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CLASSES_ROOT, (std::wstring(kInterfaceKey) + L"\\TypeLib").c_str(),
                                nullptr, REG_SZ, otherLibrary.c_str(),
                                static_cast<DWORD>((otherLibrary.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    EXPECT_EQ(RemoveInterfaceEntries(library.Get(), false), S_OK);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, std::wstring(kInterfaceKey) + L"\\TypeLib"), otherLibrary);
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kInterfaceKey);
}

TEST_F(RegistrationSwitches, WithoutItsTypeLibraryResourceTheServerRegistersTheFileBesideIt)
{
    ServerCopy copy(L"C:\\Quillmorph Without Library");
    ASSERT_TRUE(copy.copied());
    ASSERT_TRUE(StripToRegistryScripts(copy.exe()));
    {
        UniqueModule module(::LoadLibraryExW(copy.exe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        ASSERT_TRUE(module);
        EXPECT_EQ(::FindResourceW(module.get(), MAKEINTRESOURCEW(1), L"TYPELIB"), nullptr);
        EXPECT_NE(::FindResourceW(module.get(), MAKEINTRESOURCEW(104), L"REGISTRY"), nullptr);
    }

    // Neither resource nor file: the classes are registered, then the switch
    // fails with what loading the file gave.
    ComPtr<ITypeLib> none;
    HRESULT loadFailure = ::LoadTypeLib(copy.TypeLibraryFile().c_str(), none.GetAddressOf());
    ASSERT_TRUE(FAILED(loadFailure));
    EXPECT_EQ(RegisterServer(copy.exe()), static_cast<DWORD>(loadFailure));
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, std::wstring(kEmbeddedClass) + L"\\LocalServer32"),
              L"\"" + copy.exe() + L"\"");
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, std::wstring(kAutomationClass) + L"\\LocalServer32"),
              L"\"" + copy.exe() + L"\"");

    // With the library as a file beside the executable, that file is registered.
    std::vector<BYTE> bytes = TypeLibraryBytes();
    ASSERT_FALSE(bytes.empty());
    {
        UniqueKernelHandle file =
            AdoptFileHandle(::CreateFileW(copy.TypeLibraryFile().c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        DWORD written = 0;
        ASSERT_TRUE(
            ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    }
    EXPECT_EQ(RegisterServer(copy.exe()), 0u);
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, std::wstring(kTypeLibKey) + L"\\1.0\\0\\win32"),
              copy.TypeLibraryFile());
    EXPECT_EQ(UnregisterServer(copy.exe()), 0u);
}

// Registration must never ask for elevation: without the rights it fails with
// its status, and the per-user forms need none.
TEST_F(RegistrationSwitches, TheServerRunsWithTheRightsOfWhoeverStartsIt)
{
    const std::vector<BYTE> bytes = ServerResource(MAKEINTRESOURCEW(24) /* RT_MANIFEST */, 1);
    const std::string manifest(bytes.begin(), bytes.end());
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
              std::string::npos)
        << manifest;
    for (const char* system :
         {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
          "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
        EXPECT_NE(manifest.find(std::string("<supportedOS Id=\"") + system + "\"/>"), std::string::npos)
            << system;
}

} // namespace
