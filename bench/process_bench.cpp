// The real server as the runtime starts it, installed with a small editor in a
// folder of its own and registered by its own switch, against the minimal local
// server of bench/minimal_server.cpp: the latency of one call, the time from a
// cold start to the first InitNew, and the server's memory while an edited
// drawing comes back through UpdateAndClose.

#include <windows.h>
#include <psapi.h>

#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "bench/bench_sections.h"
#include "bench/memory_sampler.h"
#include "server/class_ids.h"
#include "support/container_site.h"
#include "support/test_support.h"

using Microsoft::WRL::ComPtr;
using namespace testing_support;

namespace bench {
namespace {

const wchar_t kMinimalImage[] = L"bench_minimal_server.exe";
const wchar_t kEditorImage[] = L"Quillmorph.exe";
const wchar_t kInstall[] = L"C:\\Program Files\\Quillmorph Bench";
const wchar_t kMinimalClassKey[] = L"CLSID\\{5E0B7D21-93C4-4A6F-B812-7C3D0E94A6B1}";
constexpr double kMegabyte = 1024.0 * 1024.0;

struct Failure
{
    std::string step;
    HRESULT hr;
};

void Check(HRESULT hr, const std::string& step)
{
    if (FAILED(hr))
        throw Failure{step, hr};
}

std::wstring BinFolder()
{
    const std::wstring server = ServerExePath();
    return server.substr(0, server.find_last_of(L'\\'));
}

std::wstring InstalledServer()
{
    return std::wstring(kInstall) + L"\\resources\\" + kServerImage;
}

void WaitForServersToEnd()
{
    if (!WaitForNoProcess(kServerImage, 30000) || !WaitForNoProcess(kMinimalImage, 30000))
        throw Failure{"a server process did not end", E_FAIL};
}

// Installs the real server beside the benchmark's editor and registers it, and
// registers the minimal server under its own class; both are taken back when
// the scope ends.
class Installation
{
public:
    Installation()
    {
        ::CreateDirectoryW(kInstall, nullptr);
        ::CreateDirectoryW((std::wstring(kInstall) + L"\\resources").c_str(), nullptr);
        if (!::CopyFileW(ServerExePath().c_str(), InstalledServer().c_str(), FALSE) ||
            !::CopyFileW((BinFolder() + L"\\bench_editor.exe").c_str(),
                         (std::wstring(kInstall) + L"\\" + kEditorImage).c_str(), FALSE))
            throw Failure{"installing the server and editor", HRESULT_FROM_WIN32(::GetLastError())};
        const DWORD registered = RegisterServer(InstalledServer());
        if (registered != 0)
            throw Failure{"/RegServer", static_cast<HRESULT>(registered)};

        HKEY key = nullptr;
        const std::wstring command = L"\"" + BinFolder() + L"\\" + kMinimalImage + L"\"";
        LONG status = ::RegCreateKeyExW(HKEY_CLASSES_ROOT,
                                        (std::wstring(kMinimalClassKey) + L"\\LocalServer32").c_str(), 0,
                                        nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
        UniqueHKey owner(key);
        if (status == ERROR_SUCCESS)
            status = ::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                                      static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
        if (status != ERROR_SUCCESS)
            throw Failure{"registering the minimal server", HRESULT_FROM_WIN32(status)};
    }
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;
    ~Installation()
    {
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kMinimalClassKey);
        UnregisterServer(InstalledServer());
    }
};

template <class Interface> ComPtr<Interface> Activate(const CLSID& clsid, const std::string& what)
{
    ComPtr<Interface> object;
    Check(::CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&object)),
          "activating " + what);
    return object;
}

ComPtr<IStorage> MemoryStorage()
{
    ComPtr<ILockBytes> lockBytes;
    Check(::CreateILockBytesOnHGlobal(nullptr, TRUE, &lockBytes), "CreateILockBytesOnHGlobal");
    ComPtr<IStorage> storage;
    Check(::StgCreateDocfileOnILockBytes(lockBytes.Get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                         0, &storage),
          "StgCreateDocfileOnILockBytes");
    return storage;
}

void MeasureCalls(const Options& options, std::vector<Row>* rows)
{
    ComPtr<IQuillmorphOLE> real = Activate<IQuillmorphOLE>(CLSID_QuillmorphOLE, "the server");
    ComPtr<IQuillmorphOLE> minimal = Activate<IQuillmorphOLE>(kMinimalServerClass, "the minimal server");
    const int batches = options.quick ? 3 : 61;
    const int calls = options.quick ? 20 : 100;
    for (int i = 0; i < calls; ++i) {
        Check(real->CloseAll(), "CloseAll");
        Check(minimal->CloseAll(), "the minimal server's empty method");
    }
    std::vector<double> realTimes, minimalTimes;
    for (int batch = 0; batch < batches; ++batch) {
        for (int side = 0; side < 2; ++side) {
            const bool server = (batch + side) % 2 == 0;
            IQuillmorphOLE* target = server ? real.Get() : minimal.Get();
            Stopwatch watch;
            for (int i = 0; i < calls; ++i)
                Check(target->CloseAll(), "CloseAll");
            (server ? realTimes : minimalTimes).push_back(watch.Seconds() / calls * 1e6);
        }
    }
    const double realCall = Median(realTimes), minimalCall = Median(minimalTimes);
    const double ratio = realCall / minimalCall;
    rows->push_back({"Out-of-process call: CloseAll vs the minimal server's empty method",
                     Format("%.1f µs", realCall), Format("%.1f µs", minimalCall), ratio, "≤ 1.1",
                     ratio <= 1.1});
}

void MeasureColdStarts(const Options& options, std::vector<Row>* rows)
{
    const int rounds = options.quick ? 1 : 9;
    std::vector<double> realTimes, minimalTimes;
    for (int round = 0; round < rounds; ++round) {
        for (int side = 0; side < 2; ++side) {
            const bool server = (round + side) % 2 == 0;
            // The previous process's shutdown pause is not part of the figure.
            WaitForServersToEnd();
            ComPtr<IStorage> storage = MemoryStorage();
            Stopwatch watch;
            ComPtr<IPersistStorage> object =
                Activate<IPersistStorage>(server ? CLSID_QuillmorphEmbeddedObject : kMinimalServerClass,
                                          server ? "the drawing" : "minimal");
            Check(object->InitNew(storage.Get()), "InitNew");
            (server ? realTimes : minimalTimes).push_back(watch.Seconds() * 1000);
        }
    }
    WaitForServersToEnd();
    const double realStart = Median(realTimes), minimalStart = Median(minimalTimes);
    const double ratio = realStart / minimalStart;
    rows->push_back({"Cold activation to the first InitNew", Format("%.1f ms", realStart),
                     Format("%.1f ms", minimalStart), ratio, "≤ 1.2", ratio <= 1.2});
}

using testing_support::ContainerSite;

template <class Predicate> bool PumpUntil(Predicate done, DWORD timeoutMs)
{
    const ULONGLONG deadline = NowMs() + timeoutMs;
    while (!done()) {
        if (NowMs() > deadline)
            return false;
        PumpMessagesFor(5);
    }
    return true;
}

void WriteStreamBytes(IStorage* storage, const wchar_t* name, const Bytes& bytes)
{
    ComPtr<IStream> stream;
    Check(storage->CreateStream(name, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream),
          "CreateStream");
    ULONG written = 0;
    Check(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written), "Write");
}

// What the platform alone needs for the same call: the minimal server's private
// bytes while its empty UpdateAndClose receives arguments of the same sizes
// (the runtime's buffer and the unmarshalled arrays live through the call).
SIZE_T MinimalServerPeak(size_t nativeSize, const Bytes& picture)
{
    WaitForServersToEnd();
    VariantGuard native, bits, key;
    Check(MakeByteArray(PatternBytes(nativeSize, 65), &native), "native array");
    Check(MakeByteArray(picture, &bits), "picture array");
    key->vt = VT_I4;
    key->lVal = 0;
    ComPtr<IQuillmorphOLE> minimal = Activate<IQuillmorphOLE>(kMinimalServerClass, "the minimal server");
    const std::vector<DWORD> pids = FindProcesses(kMinimalImage);
    if (pids.size() != 1)
        throw Failure{"finding the minimal server's process", E_FAIL};
    UniqueKernelHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pids[0]));
    if (!process)
        throw Failure{"OpenProcess", HRESULT_FROM_WIN32(::GetLastError())};
    MemorySampler sampler(process.get());
    ::Sleep(100);
    sampler.NextPhase();
    Check(minimal->UpdateAndClose(*native.get(), *bits.get(), *key.get()),
          "the minimal server's UpdateAndClose");
    ::Sleep(20);
    return sampler.NextPhase();
}

// A container's document with one drawing, opened by the user; the editor
// changes it and hands it back while the server's private bytes are sampled.
void MeasureEditMemory(const Options& options, std::vector<Row>* rows)
{
    const size_t nativeSize = options.quick ? (1u << 20) : (64u << 20);
    const Bytes picture = PictureBits(EditPictureSize(nativeSize));
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring documentPath = std::wstring(temp) + L"bench-edit.qmd";
    {
        ComPtr<IStorage> document;
        Check(::StgCreateDocfile(documentPath.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                 &document),
              "StgCreateDocfile");
        ComPtr<IStorage> drawing;
        Check(document->CreateStorage(L"Drawing1", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                      &drawing),
              "CreateStorage");
        Check(::WriteClassStg(drawing.Get(), CLSID_QuillmorphEmbeddedObject), "WriteClassStg");
        WriteStreamBytes(drawing.Get(), L"EMF", picture);
        WriteStreamBytes(drawing.Get(), L"ZRN", PatternBytes(nativeSize, 64));
        Check(drawing->Commit(STGC_DEFAULT), "Commit");
        Check(document->Commit(STGC_DEFAULT), "Commit");
    }

    UniqueKernelHandle ready(::CreateEventW(nullptr, TRUE, FALSE, kEditorReadyEvent));
    UniqueKernelHandle go(::CreateEventW(nullptr, TRUE, FALSE, kEditorGoEvent));
    WaitForServersToEnd();

    ContainerSite site;
    ComPtr<IStorage> document, storage;
    Check(::StgOpenStorage(documentPath.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                           &document),
          "StgOpenStorage");
    Check(document->OpenStorage(L"Drawing1", nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                &storage),
          "OpenStorage");
    ComPtr<IOleObject> ole;
    Check(::OleLoad(storage.Get(), IID_IOleObject, &site, &ole), "OleLoad");
    Check(::OleRun(ole.Get()), "OleRun");
    ComPtr<IDataObject> data;
    Check(ole.As(&data), "IDataObject");
    FORMATETC any = {0, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    DWORD connection = 0;
    Check(data->DAdvise(&any, ADVF_NODATA, &site, &connection), "DAdvise");

    const std::vector<DWORD> pids = FindProcesses(kServerImage);
    if (pids.size() != 1)
        throw Failure{"finding the one server process", E_FAIL};
    UniqueKernelHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pids[0]));
    if (!process)
        throw Failure{"OpenProcess", HRESULT_FROM_WIN32(::GetLastError())};

    SIZE_T before = 0, during = 0, peakWorkingSet = 0;
    {
        MemorySampler sampler(process.get());
        Check(ole->DoVerb(OLEIVERB_PRIMARY, nullptr, &site, 0, nullptr, nullptr), "DoVerb");
        if (!PumpUntil([&] { return ::WaitForSingleObject(ready.get(), 0) == WAIT_OBJECT_0; }, 120000))
            throw Failure{"waiting for the editor", E_FAIL};
        PumpMessagesFor(300);
        sampler.NextPhase();
        PumpMessagesFor(100);
        before = sampler.Current();
        sampler.NextPhase();
        ::SetEvent(go.get());
        if (!PumpUntil([&] { return site.dataChanges >= 2 && FindProcesses(kEditorImage).empty(); }, 120000))
            throw Failure{"waiting for the edit to come back", E_FAIL};
        during = sampler.NextPhase();
        peakWorkingSet = sampler.PeakWorkingSet();
    }
    data->DUnadvise(connection);
    data.Reset();
    ole->Close(OLECLOSE_NOSAVE);
    ole->SetClientSite(nullptr);
    ole.Reset();
    storage.Reset();
    document.Reset();
    ::DeleteFileW(documentPath.c_str());
    WaitForServersToEnd();

    const SIZE_T floor = MinimalServerPeak(nativeSize, picture);
    if (before == 0 || during == 0 || floor == 0)
        throw Failure{"reading the server's memory counters", E_FAIL};
    const double payload = (nativeSize + picture.size()) / kMegabyte;
    const double peak = during / kMegabyte;
    const double ratio = peak / payload;
    rows->push_back({"Server peak private bytes during UpdateAndClose of a " +
                         std::to_string(nativeSize >> 20) + " MB drawing",
                     Format("%.0f MB", peak) + Format(" (%.0f MB before the call", before / kMegabyte) +
                         Format("; peak working set %.0f MB)", peakWorkingSet / kMegabyte),
                     Format("payload %.0f MB", payload) +
                         Format(" (minimal server, same call: %.0f MB peak)", floor / kMegabyte),
                     ratio, "≤ 3.0", ratio <= 3.0});
}

} // namespace

void RunProcessBenchmarks(const Options& options, std::vector<Row>* rows)
{
    try {
        Installation installation;
        WaitForServersToEnd();
        for (auto measure : {&MeasureCalls, &MeasureColdStarts, &MeasureEditMemory}) {
            try {
                measure(options, rows);
            } catch (const Failure& failure) {
                rows->push_back({"failed: " + failure.step, HexResult(failure.hr), "", 0, "", false});
            }
            WaitForServersToEnd();
        }
    } catch (const Failure& failure) {
        rows->push_back({"failed: " + failure.step, HexResult(failure.hr), "", 0, "", false});
    }
}

} // namespace bench
