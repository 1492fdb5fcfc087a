#include "check/live_check.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cwchar>
#include <vector>

#include <wrl/client.h>

#include "server/class_ids.h"
#include "server/handles.h"
#include "server/return_if_failed.h"

using Microsoft::WRL::ComPtr;

namespace {

// How long a server we started may take to end after the last release (it
// pauses about a second on the way out).
constexpr DWORD kServerEndTimeoutMs = 10000;

std::vector<DWORD> ProcessesNamed(const std::wstring& name)
{
    std::vector<DWORD> pids;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return pids;
    UniqueKernelHandle owner(snapshot);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
        if (::CompareStringOrdinal(entry.szExeFile, -1, name.c_str(), -1, TRUE) == CSTR_EQUAL)
            pids.push_back(entry.th32ProcessID);
    }
    return pids;
}

std::wstring FileNameOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

double SecondsSince(const LARGE_INTEGER& start)
{
    LARGE_INTEGER now = {};
    LARGE_INTEGER frequency = {};
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::wstring Milliseconds(double seconds)
{
    return std::to_wstring(static_cast<long>(seconds * 1000.0 + 0.5)) + L" ms";
}

std::wstring Seconds(double seconds)
{
    wchar_t text[32];
    std::swprintf(text, 32, L"%.1f s", seconds);
    return text;
}

// The server process that served us: the one that started for the check,
// or, when a running server took the call, the only one running.
struct ServerProcess
{
    UniqueKernelHandle handle;
    bool startedForCheck = false;
    std::wstring path;
    int bits = 0;
};

ServerProcess FindServerProcess(const std::wstring& imageName, const std::vector<DWORD>& before,
                                int systemBits)
{
    ServerProcess server;
    std::vector<DWORD> started;
    const std::vector<DWORD> now = ProcessesNamed(imageName);
    for (DWORD pid : now) {
        if (std::find(before.begin(), before.end(), pid) == before.end())
            started.push_back(pid);
    }
    const std::vector<DWORD>& candidates = started.empty() ? now : started;
    if (candidates.size() != 1)
        return server;
    server.handle.reset(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, candidates.front()));
    if (!server.handle)
        return server;
    server.startedForCheck = !started.empty();
    wchar_t path[MAX_PATH] = {};
    DWORD length = MAX_PATH;
    if (::QueryFullProcessImageNameW(server.handle.get(), 0, path, &length))
        server.path.assign(path, length);
    BOOL wow64 = FALSE;
    if (::IsWow64Process(server.handle.get(), &wow64))
        server.bits = systemBits == 64 && !wow64 ? 64 : 32;
    return server;
}

std::wstring ActivationAdvice(HRESULT hr, const Installation& installation)
{
    if (hr == REGDB_E_CLASSNOTREG)
        return L"the class is not registered for " + std::to_wstring(installation.programBits) +
               L"-bit programs: " + RegisterAgainAdvice(installation, L"") + L".";
    return L"see the registration checks above: a registration that points at a moved or missing server is "
           L"the usual cause; " +
           RegisterAgainAdvice(installation, L"") + L".";
}

CheckResult Failed(CheckResult result, std::wstring detail, std::wstring advice)
{
    result.status = CheckStatus::Fail;
    result.detail = std::move(detail);
    result.advice = std::move(advice);
    return result;
}

// The drawing's picture as a container's display asks for it.
HRESULT FetchPicture(IOleObject* drawing)
{
    ComPtr<IDataObject> data;
    RETURN_IF_FAILED(drawing->QueryInterface(IID_PPV_ARGS(&data)));
    FORMATETC format = {CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
    StgMediumGuard picture;
    RETURN_IF_FAILED(data->GetData(&format, picture.put()));
    return picture->tymed == TYMED_MFPICT && picture->hMetaFilePict ? S_OK : DV_E_TYMED;
}

// A drawing through the default handler into a storage on memory, its
// picture, and its close without saving. Empty when every step worked.
std::wstring DrawingRoad(HRESULT* failure)
{
    ComPtr<ILockBytes> bytes;
    ComPtr<IStorage> storage;
    HRESULT hr = ::CreateILockBytesOnHGlobal(nullptr, TRUE, bytes.GetAddressOf());
    if (FAILED(*failure = hr))
        return L"no storage in memory could be made for a drawing";
    hr = ::StgCreateDocfileOnILockBytes(bytes.Get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                        storage.GetAddressOf());
    if (FAILED(*failure = hr))
        return L"no storage in memory could be made for a drawing";
    ComPtr<IOleObject> drawing;
    hr = ::OleCreate(CLSID_QuillmorphEmbeddedObject, IID_IOleObject, OLERENDER_DRAW, nullptr, nullptr,
                     storage.Get(), &drawing);
    if (FAILED(*failure = hr))
        return L"a drawing cannot be created through the default handler";
    const HRESULT fetched = FetchPicture(drawing.Get());
    const HRESULT closed = drawing->Close(OLECLOSE_NOSAVE);
    if (FAILED(*failure = fetched))
        return L"a drawing was created but its picture (CF_METAFILEPICT) cannot be fetched";
    if (FAILED(*failure = closed))
        return L"a drawing was created but does not close";
    return std::wstring();
}

// What became of the server process the check started: which copy ran, of
// what bitness, and whether it ended once the check let go of it.
void DescribeServerProcess(const Installation& installation, const ServerProcess& server, CheckResult* result)
{
    if (!server.handle) {
        result->detail += L"; the server process could not be identified";
        return;
    }
    result->detail += L"; the server ran as a " + std::to_wstring(server.bits) + L"-bit process";
    if (!server.path.empty() && !SamePath(server.path, installation.server)) {
        result->detail += L" from another copy, " + server.path;
        result->status = CheckStatus::Warn;
        result->advice =
            L"the registration names another copy of the server; see the registration checks above.";
    }
    if (!server.startedForCheck) {
        result->detail += L" that was already running for other programs";
        return;
    }
    LARGE_INTEGER released = {};
    ::QueryPerformanceCounter(&released);
    if (::WaitForSingleObject(server.handle.get(), kServerEndTimeoutMs) == WAIT_OBJECT_0) {
        result->detail += L" and ended " + Seconds(SecondsSince(released)) + L" after the last release";
        return;
    }
    result->status = CheckStatus::Warn;
    result->detail +=
        L" and was still running " + Seconds(kServerEndTimeoutMs / 1000.0) + L" after the last release";
    result->advice = L"another program may be using the server; if none is, a server that does not end keeps "
                     L"its files in use: end it in the Task Manager and report it.";
}

} // namespace

CheckResult CheckLiveActivation(const Installation& installation)
{
    CheckResult result{L"live",
                       L"Starting the server (" + std::to_wstring(installation.programBits) + L"-bit)"};
    const std::wstring imageName = FileNameOf(installation.server);
    const std::vector<DWORD> before = ProcessesNamed(imageName);

    LARGE_INTEGER start = {};
    ::QueryPerformanceCounter(&start);
    ComPtr<IDispatch> automation;
    HRESULT hr =
        ::CoCreateInstance(CLSID_QuillmorphOLE, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&automation));
    if (FAILED(hr))
        return Failed(result, L"the automation class does not start: " + DescribeResult(hr),
                      ActivationAdvice(hr, installation));
    UINT count = 0;
    hr = automation->GetTypeInfoCount(&count);
    const double firstCall = SecondsSince(start);
    if (FAILED(hr))
        return Failed(result, L"the automation class started but does not answer: " + DescribeResult(hr),
                      ActivationAdvice(hr, installation));

    HRESULT failure = S_OK;
    const std::wstring broken = DrawingRoad(&failure);
    ServerProcess server = FindServerProcess(imageName, before, installation.systemBits);
    automation.Reset();
    if (!broken.empty())
        return Failed(result, broken + L": " + DescribeResult(failure),
                      ActivationAdvice(failure, installation));

    result.detail =
        L"the automation class started out of process and answered its first call in " +
        Milliseconds(firstCall) +
        L"; a drawing was created through the default handler in a storage in memory, its picture "
        L"fetched and the drawing closed without saving";
    DescribeServerProcess(installation, server, &result);
    return result;
}
