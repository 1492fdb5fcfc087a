// The drawing application as the memory benchmark needs it: started by the
// server as `Quillmorph.exe "<document>.ZRN" -ole <key>`, it reads the document,
// changes it, makes its picture, says it is ready, and on the benchmark's word
// hands both back with UpdateAndClose. Its exit code is that call's HRESULT.

#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <wrl/client.h>

#include "bench/bench_common.h"
#include "server/class_ids.h"

using Microsoft::WRL::ComPtr;

namespace {

bench::Bytes ReadWholeFile(const wchar_t* path)
{
    bench::Bytes bytes;
    UniqueKernelHandle file = AdoptFileHandle(
        ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return bytes;
    bytes.resize(::GetFileSize(file.get(), nullptr));
    DWORD read = 0;
    if (!bytes.empty() &&
        !::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr))
        read = 0;
    bytes.resize(read);
    return bytes;
}

// A byte-array variant holding bytes.
HRESULT Edit(const wchar_t* document, LONG key)
{
    bench::Bytes native = ReadWholeFile(document);
    if (native.empty())
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    native[0] ^= 0xFF; // the user's edit
    VariantGuard nativeArray;
    VariantGuard pictureArray;
    HRESULT hr = bench::MakeByteArray(native, &nativeArray);
    if (SUCCEEDED(hr))
        hr = bench::MakeByteArray(bench::PictureBits(bench::EditPictureSize(native.size())), &pictureArray);
    if (FAILED(hr))
        return hr;
    native = bench::Bytes();

    ComPtr<IQuillmorphOLE> server;
    hr = ::CoCreateInstance(CLSID_QuillmorphOLE, nullptr, CLSCTX_LOCAL_SERVER, IID_IQuillmorphOLE, &server);
    if (FAILED(hr))
        return hr;

    UniqueKernelHandle ready(::OpenEventW(EVENT_MODIFY_STATE, FALSE, bench::kEditorReadyEvent));
    UniqueKernelHandle go(::OpenEventW(SYNCHRONIZE, FALSE, bench::kEditorGoEvent));
    if (ready && go) {
        ::SetEvent(ready.get());
        ::WaitForSingleObject(go.get(), 60000);
    }
    VARIANT keyValue;
    ::VariantInit(&keyValue);
    keyValue.vt = VT_I4;
    keyValue.lVal = key;
    return server->UpdateAndClose(*nativeArray.get(), *pictureArray.get(), keyValue);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv || argc < 4)
        return static_cast<int>(E_INVALIDARG);
    if (FAILED(::CoInitialize(nullptr)))
        return 1;
    const HRESULT hr = Edit(argv[1], ::wcstol(argv[3], nullptr, 10));
    ::CoUninitialize();
    ::LocalFree(argv);
    return static_cast<int>(hr);
}
