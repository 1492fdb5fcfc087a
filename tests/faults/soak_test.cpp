// The soak: many storage cycles, then many full edits, each against one running
// server, sampling the server process's handles, GDI objects and private bytes.
// A leak shows as growth that goes on: the median of the second half of the
// samples is compared with the median of the first half (taken after a warm-up,
// when the runtime's caches are filled), with a tolerance for the noise of the
// heap and the runtime.
//
// The counts come from QUILLMORPH_SOAK_CYCLES and QUILLMORPH_SOAK_EDITS; the
// test command runs a short form, tools/soak.sh the long one.
//
// New data cannot reach a running drawing through the platform's cross-process
// SetData proxy here (it answers E_NOTIMPL without calling the server), so each
// cycle pushes its data the way the drawing application does: TripForward turns
// native bytes and a picture into a compound file, and a fresh drawing loads it.
// The SetData call is made all the same, and its answer counted.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "tests/faults/fault_support.h"

#include <psapi.h>

using namespace faults;
using namespace testing_support;
using bridge_test::BytesOf;
using bridge_test::MakeByteArray;
using bridge_test::PatternBytes;
using bridge_test::PictureBits;

namespace {

size_t CountFromEnvironment(const char* name, size_t fallback)
{
    const char* text = std::getenv(name);
    const long value = text ? std::strtol(text, nullptr, 10) : 0;
    return value > 0 ? static_cast<size_t>(value) : fallback;
}

struct Sample
{
    size_t at;
    DWORD handles; // what the growth check counts
    DWORD keys;    // of which, or besides which, registry keys
    DWORD gdiObjects;
    SIZE_T privateBytes;
};

struct HandleCounts
{
    DWORD all = 0;
    DWORD keys = 0;
};

// A process's handles from the system's handle table (the platform here answers
// GetProcessHandleCount for another process with 0), and how many of them are
// registry keys: handles of the kind that keyProbe, a key of this process, is.
HandleCounts CountHandles(DWORD pid, HANDLE keyProbe)
{
    struct HandleEntry
    {
        ULONG ownerPid;
        BYTE objectType;
        BYTE flags;
        USHORT value;
        PVOID object;
        ULONG access;
    };
    using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    HandleCounts counts;
    if (!query)
        return counts;
    constexpr ULONG kSystemHandleInformation = 16;
    constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<BYTE> buffer(1 << 20);
    LONG status = kInfoLengthMismatch;
    while ((status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                           nullptr)) == kInfoLengthMismatch &&
           buffer.size() < (256u << 20))
        buffer.resize(buffer.size() * 2);
    if (status != 0)
        return counts;
    const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
    const auto* entries = reinterpret_cast<const HandleEntry*>(buffer.data() + sizeof(ULONG_PTR));
    int keyType = -1;
    const DWORD self = ::GetCurrentProcessId();
    for (ULONG i = 0; i < count; ++i) {
        if (entries[i].ownerPid == self &&
            entries[i].value == static_cast<USHORT>(reinterpret_cast<ULONG_PTR>(keyProbe)))
            keyType = entries[i].objectType;
    }
    for (ULONG i = 0; i < count; ++i) {
        if (entries[i].ownerPid != pid)
            continue;
        ++counts.all;
        counts.keys += entries[i].objectType == keyType;
    }
    return counts;
}

// Handle counts of the server as the growth check sees them. The platform here
// leaves a registry key open for every format record written into a storage
// that names no class yet (WriteFmtUserTypeStg; the server writes them in
// InitNew and Save, before the container names the class); when this process
// sees the platform do that to itself, registry keys are counted apart.
class HandleCounter
{
public:
    HandleCounter()
    {
        HKEY probe = nullptr;
        ::RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_READ, &probe);
        probe_.reset(probe);
        ComPtr<ILockBytes> bytes;
        ComPtr<IStorage> storage;
        ::CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes);
        ::StgCreateDocfileOnILockBytes(bytes.Get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                       &storage);
        const DWORD before = CountHandles(::GetCurrentProcessId(), probe_.get()).keys;
        for (int i = 0; i < 20; ++i)
            ::WriteFmtUserTypeStg(storage.Get(), NativeFormat(), const_cast<LPOLESTR>(L"Probe"));
        platformLeaksKeys_ = CountHandles(::GetCurrentProcessId(), probe_.get()).keys >= before + 10;
        std::printf("the platform %s a registry key per format record written\n",
                    platformLeaksKeys_ ? "leaks" : "does not leak");
    }

    void Count(HANDLE process, Sample* sample) const
    {
        const HandleCounts counts = CountHandles(::GetProcessId(process), probe_.get());
        sample->keys = counts.keys;
        sample->handles = platformLeaksKeys_ ? counts.all - counts.keys : counts.all;
    }

private:
    UniqueHKey probe_;
    bool platformLeaksKeys_ = false;
};

Sample TakeSample(const HandleCounter& counter, HANDLE process, size_t at)
{
    Sample sample = {at, 0, 0, 0, 0};
    counter.Count(process, &sample);
    // Not implemented by the platform here (ERROR_CALL_NOT_IMPLEMENTED): stays 0.
    sample.gdiObjects = ::GetGuiResources(process, GR_GDIOBJECTS);
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof(memory);
    if (::GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory)))
        // The platform here leaves PrivateUsage 0 and reports the same figure as
        // the commit charge, which Windows defines to be equal to it.
        sample.privateBytes = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
    return sample;
}

template <class Field> double Median(const std::vector<Sample>& samples, size_t from, size_t to, Field field)
{
    std::vector<double> values;
    for (size_t i = from; i < to; ++i)
        values.push_back(static_cast<double>(field(samples[i])));
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// What the platform itself adds per step, outside the server's code: under
// the platform here, every client process that connects leaves some handles
// and memory behind in the server's runtime.
struct PlatformCost
{
    double handles = 0;
    double privateBytes = 0;
};

// Prints the samples and checks that the second half did not grow beyond the
// noise: a handful of handles or GDI objects, and a megabyte (or a tenth) of
// private bytes, beyond what the platform adds per step over the steps between
// the two halves. A leak of one handle, or of one 64 KB document, per step
// exceeds these already in the short form.
void ExpectNoGrowth(const char* what, const std::vector<Sample>& samples, PlatformCost platform = {})
{
    for (const auto& s : samples)
        std::printf("%s %6zu: handles %5lu  keys %5lu  gdi %5lu  private %9.1f KB\n", what, s.at,
                    static_cast<unsigned long>(s.handles), static_cast<unsigned long>(s.keys),
                    static_cast<unsigned long>(s.gdiObjects), static_cast<double>(s.privateBytes) / 1024.0);
    ASSERT_GE(samples.size(), 4u);
    ASSERT_GT(samples[0].handles, 0u) << "the handle count could not be read";
    ASSERT_GT(samples[0].privateBytes, 0u) << "the private bytes could not be read";
    const size_t half = samples.size() / 2;
    // The medians of the two halves lie this many steps apart.
    const double steps = static_cast<double>(samples[half].at - samples[0].at);
    const auto handles = [](const Sample& s) { return s.handles; };
    const auto gdi = [](const Sample& s) { return s.gdiObjects; };
    const auto bytes = [](const Sample& s) { return s.privateBytes; };
    const double handlesGrowth =
        Median(samples, half, samples.size(), handles) - Median(samples, 0, half, handles);
    const double gdiGrowth = Median(samples, half, samples.size(), gdi) - Median(samples, 0, half, gdi);
    const double bytesBefore = Median(samples, 0, half, bytes);
    const double bytesGrowth = Median(samples, half, samples.size(), bytes) - bytesBefore;
    std::printf("%s, second half against first: handles %+.1f, gdi %+.1f, private %+.1f KB over %.0f steps; "
                "the platform's own share %.1f handles, %.1f KB\n",
                what, handlesGrowth, gdiGrowth, bytesGrowth / 1024, steps, platform.handles * steps,
                platform.privateBytes * steps / 1024);
    EXPECT_LE(handlesGrowth - platform.handles * steps, 8.0) << what << ": handles grow";
    EXPECT_LE(gdiGrowth, 8.0) << what << ": GDI objects grow";
    EXPECT_LE(bytesGrowth - platform.privateBytes * steps, std::max(1024.0 * 1024, bytesBefore / 10))
        << what << ": memory grows";
}

ComPtr<IStorage> MemoryStorage()
{
    ComPtr<ILockBytes> bytes;
    ComPtr<IStorage> storage;
    if (SUCCEEDED(::CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes)))
        ::StgCreateDocfileOnILockBytes(bytes.Get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                       &storage);
    return storage;
}

// A storage over the bytes of a compound file.
ComPtr<IStorage> StorageOver(const Bytes& file)
{
    ComPtr<ILockBytes> bytes;
    ComPtr<IStorage> storage;
    ULONG written = 0;
    if (SUCCEEDED(::CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes)) && !file.empty() &&
        SUCCEEDED(bytes->WriteAt(ULARGE_INTEGER{}, file.data(), static_cast<ULONG>(file.size()), &written)))
        ::StgOpenStorageOnILockBytes(bytes.Get(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                     &storage);
    return storage;
}

HRESULT NewDrawing(ComPtr<IPersistStorage>& drawing)
{
    return ::CoCreateInstance(CLSID_QuillmorphEmbeddedObject, nullptr, CLSCTX_LOCAL_SERVER,
                              IID_IPersistStorage,
                              reinterpret_cast<void**>(drawing.ReleaseAndGetAddressOf()));
}

// Runs a program in a working folder and returns its exit code.
DWORD RunInFolder(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder)
{
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                          &startup, &process))
        return static_cast<DWORD>(-1);
    UniqueKernelHandle processHandle(process.hProcess);
    UniqueKernelHandle threadHandle(process.hThread);
    if (::WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = 1;
    ::GetExitCodeProcess(process.hProcess, &code);
    return code;
}

class Soak : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(apartment_.status()));
        ASSERT_TRUE(WaitForServerEnd(15000));
    }

    // The one server process, once some client has started it.
    static UniqueKernelHandle TheServer()
    {
        const auto servers = FindProcesses(kServerImage);
        return servers.size() == 1 ? OpenServerProcess(servers[0]) : UniqueKernelHandle();
    }

    static void ExpectServerEnds(HANDLE server)
    {
        const ULONGLONG released = NowMs();
        EXPECT_EQ(::WaitForSingleObject(server, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
        std::printf("the server ended %llu ms after the last release\n", NowMs() - released);
    }

    Apartment apartment_;
};

// One cycle: a fresh drawing on a new storage (InitNew, SetData, Save), and a
// fresh drawing loaded from what TripForward made (Load, GetData, Save). Returns
// what went wrong, or nothing.
std::string StorageCycle(IQuillmorphOLE* automation, size_t i, int* setDataAccepted)
{
    const Bytes native = PatternBytes(65536 + i % 4096, static_cast<unsigned>(i));
    const Bytes picture = PictureBits(static_cast<int>(i % 30));

    ComPtr<IPersistStorage> fresh;
    if (FAILED(NewDrawing(fresh)))
        return "create";
    const ComPtr<IStorage> first = MemoryStorage();
    if (fresh->InitNew(first.Get()) != S_OK)
        return "InitNew";
    ComPtr<IDataObject> freshData;
    if (FAILED(fresh.As(&freshData)))
        return "IDataObject";
    {
        FORMATETC format = {NativeFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        STGMEDIUM medium = {};
        medium.tymed = TYMED_HGLOBAL;
        medium.hGlobal = ::GlobalAlloc(GMEM_FIXED, native.size());
        std::memcpy(medium.hGlobal, native.data(), native.size());
        const HRESULT hr = freshData->SetData(&format, &medium, FALSE);
        ::GlobalFree(medium.hGlobal);
        if (hr == S_OK)
            ++*setDataAccepted;
        else if (hr != E_NOTIMPL)
            return "SetData";
    }
    if (fresh->Save(first.Get(), TRUE) != S_OK || fresh->SaveCompleted(nullptr) != S_OK)
        return "Save of the new drawing";
    freshData.Reset();
    fresh.Reset();

    VARIANT a;
    VARIANT b;
    MakeByteArray(native, &a);
    MakeByteArray(picture, &b);
    VariantGuard file;
    const HRESULT tripped = automation->TripForward(a, b, file.get());
    ::VariantClear(&a);
    ::VariantClear(&b);
    if (tripped != S_OK)
        return "TripForward";
    const ComPtr<IStorage> carried = StorageOver(BytesOf(*file.get()));
    if (!carried)
        return "TripForward's bytes";

    ComPtr<IPersistStorage> loaded;
    if (FAILED(NewDrawing(loaded)) || loaded->Load(carried.Get()) != S_OK)
        return "Load";
    ComPtr<IDataObject> data;
    if (FAILED(loaded.As(&data)) || NativeOf(data.Get()) != native)
        return "GetData of the native document";
    FORMATETC pictureFormat = {CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
    StgMediumGuard served;
    if (data->GetData(&pictureFormat, served.put()) != S_OK || !served->hMetaFilePict)
        return "GetData of the picture";
    served.reset();
    const ComPtr<IStorage> second = MemoryStorage();
    if (loaded->Save(second.Get(), FALSE) != S_OK || loaded->SaveCompleted(second.Get()) != S_OK)
        return "Save of the loaded drawing";
    data.Reset();
    loaded.Reset();
    if (bridge_test::ReadStreamBytes(second.Get(), L"ZRN") != native)
        return "the saved native document";
    if (bridge_test::ReadStreamBytes(second.Get(), L"EMF").empty())
        return "the saved picture";
    return std::string();
}

TEST_F(Soak, StorageCyclesAgainstOneServerLeaveNoTrace)
{
    const Installation install = Installation::Make(L"Quillmorph Soak Cycles", L"fault_editor.exe");
    ASSERT_TRUE(install.error.empty()) << install.error;
    const size_t cycles = CountFromEnvironment("QUILLMORPH_SOAK_CYCLES", 50);
    const size_t warmUp = 10;
    const size_t every = std::max<size_t>(1, cycles / 25);

    ComPtr<IQuillmorphOLE> automation;
    ASSERT_EQ(::CoCreateInstance(CLSID_QuillmorphOLE, nullptr, CLSCTX_LOCAL_SERVER, IID_IQuillmorphOLE,
                                 reinterpret_cast<void**>(automation.GetAddressOf())),
              S_OK);
    UniqueKernelHandle server = TheServer();
    ASSERT_TRUE(server);

    const HandleCounter counter;
    std::vector<Sample> samples;
    int setDataAccepted = 0;
    const ULONGLONG start = NowMs();
    for (size_t i = 0; i < warmUp + cycles; ++i) {
        const std::string failure = StorageCycle(automation.Get(), i, &setDataAccepted);
        ASSERT_EQ(failure, "") << "cycle " << i;
        if (i >= warmUp && (i - warmUp) % every == every - 1)
            samples.push_back(TakeSample(counter, server.get(), i - warmUp + 1));
    }
    const ULONGLONG elapsed = NowMs() - start;
    std::printf("%zu storage cycles (+%zu warm-up) in %llu ms, %.1f ms each; SetData accepted %d times "
                "(the rest answered E_NOTIMPL)\n",
                cycles, warmUp, elapsed, static_cast<double>(elapsed) / static_cast<double>(cycles + warmUp),
                setDataAccepted);
    ExpectNoGrowth("cycles", samples);
    EXPECT_EQ(::WaitForSingleObject(server.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "one server throughout";

    automation.Reset();
    ExpectServerEnds(server.get());
}

TEST_F(Soak, FullEditsThroughTheDrawingApplicationLeaveNoTrace)
{
    const Installation install = Installation::Make(L"Quillmorph Soak Edits", L"test_drawing_app.exe");
    ASSERT_TRUE(install.error.empty()) << install.error;
    install.ClearEditorFiles();
    ASSERT_TRUE(bridge_test::WriteFileBytes(install.File(L"editor-action.txt"), BytesOfText("update")));
    const size_t edits = CountFromEnvironment("QUILLMORPH_SOAK_EDITS", 12);
    const size_t warmUp = 2;
    const size_t every = std::max<size_t>(1, edits / 10);

    const std::wstring folder = bridge_test::FreshFolder(L"soak");
    FaultSite site;
    Bytes expected = PatternBytes(50000, 99);
    ContainerDrawing drawing(folder + L"\\soak.qmd", &site);
    ASSERT_EQ(WriteDocument(drawing.path(), expected, PictureBits(7)), S_OK);
    ASSERT_EQ(drawing.Open(), S_OK);
    UniqueKernelHandle server = TheServer();
    ASSERT_TRUE(server);

    const HandleCounter counter;
    std::vector<Sample> samples;
    const ULONGLONG start = NowMs();
    for (size_t i = 0; i < warmUp + edits; ++i) {
        const int changes = site.dataChanges;
        ASSERT_EQ(drawing.Edit(), S_OK) << "edit " << i;
        const std::wstring log = install.File(L"editor-" + std::to_wstring(i) + L".log");
        ASSERT_TRUE(
            WaitFor([&] { return ::GetFileAttributesW(log.c_str()) != INVALID_FILE_ATTRIBUTES; }, 60000))
            << "the editor of edit " << i << " ended";
        ASSERT_TRUE(WaitFor([&] { return site.dataChanges >= changes + 2; }, 30000)) << "edit " << i;
        const Bytes edited = BytesOfText("EDITED:");
        expected.insert(expected.begin(), edited.begin(), edited.end());
        ASSERT_TRUE(drawing.Native() == expected) << "edit " << i;
        ASSERT_EQ(drawing.Save(), S_OK) << "edit " << i;
        if (i >= warmUp && (i - warmUp) % every == every - 1)
            samples.push_back(TakeSample(counter, server.get(), i - warmUp + 1));
    }
    const ULONGLONG elapsed = NowMs() - start;
    std::printf("%zu full edits (+%zu warm-up) in %llu ms, %.1f ms each\n", edits, warmUp, elapsed,
                static_cast<double>(elapsed) / static_cast<double>(edits + warmUp));
    // The same client program as often again, quoting a key that names no
    // edit: what the platform adds per client process, to be told apart from
    // what an edit would leave.
    const size_t clients = std::min<size_t>(edits, 40);
    const Sample before = TakeSample(counter, server.get(), 0);
    for (size_t i = 0; i < clients; ++i)
        ASSERT_EQ(RunInFolder(install.File(L"Quillmorph.exe"), L"none -ole 999999", install.folder), 0u);
    const Sample after = TakeSample(counter, server.get(), clients);
    PlatformCost platform;
    platform.handles = (static_cast<double>(after.handles) - before.handles) / static_cast<double>(clients);
    platform.privateBytes =
        (static_cast<double>(after.privateBytes) - static_cast<double>(before.privateBytes)) /
        static_cast<double>(clients);
    ExpectNoGrowth("edits", samples, platform);
    drawing.Release();
    EXPECT_TRUE(SavedNative(drawing.path()) == expected) << "every edit is in the document";
    ExpectServerEnds(server.get());
}

} // namespace
