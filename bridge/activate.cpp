// Opening an edit: the drawing's native document goes to a temporary file, the
// drawing is filed under a new object key, and the drawing application starts
// on the file with that key on its command line.

#include <wrl/client.h>

#include "bridge/dispinterface.h"
#include "bridge/edit_files.h"
#include "bridge/editor_paths.h"
#include "bridge/native_data_format.h"
#include "bridge/open_edits.h"
#include "server/catch_return.h"
#include "server/handles.h"
#include "server/last_error.h"

using Microsoft::WRL::ComPtr;

namespace {

// The interface pointer a variant carries, or null when it carries none.
IUnknown* InterfaceFromVariant(const VARIANT& value)
{
    switch (value.vt) {
    case VT_UNKNOWN:
        return value.punkVal;
    case VT_DISPATCH:
        return value.pdispVal;
    case VT_BYREF | VT_UNKNOWN:
        return value.ppunkVal ? *value.ppunkVal : nullptr;
    case VT_BYREF | VT_DISPATCH:
        return value.ppdispVal ? *value.ppdispVal : nullptr;
    default:
        return nullptr;
    }
}

// The drawing's native document written to a new temporary file: S_FALSE for
// an object that offers no data at all (nothing to edit).
HRESULT WriteEditDocument(IUnknown* object, std::wstring* fileName, EditFiles* files)
{
    ComPtr<IDataObject> data;
    if (FAILED(object->QueryInterface(IID_PPV_ARGS(&data))))
        return S_FALSE;

    FORMATETC format = NativeDataFormatEtc();
    StgMediumGuard medium;
    HRESULT hr = data->GetData(&format, medium.put());
    data.Reset();
    if (FAILED(hr))
        return hr;
    if (medium->tymed != TYMED_HGLOBAL || !medium->hGlobal)
        return DV_E_TYMED;

    const SIZE_T size = ::GlobalSize(medium->hGlobal);
    GlobalLockGuard bytes(medium->hGlobal);
    if (!bytes && size)
        return E_OUTOFMEMORY;
    return WriteNativeDocumentFile(bytes.bytes(), size, fileName, files);
}

} // namespace

STDMETHODIMP CDispinterface::Activate(VARIANT e)
try {
    IUnknown* object = InterfaceFromVariant(e);
    if (!object)
        return S_OK;
    std::wstring fileName;
    EditFiles files;
    HRESULT hr = WriteEditDocument(object, &fileName, &files);
    if (hr != S_OK)
        return SUCCEEDED(hr) ? S_OK : hr;

    const LONG key = NextObjectKey();
    wchar_t modulePath[MAX_PATH] = {};
    const DWORD moduleLength = ::GetModuleFileNameW(nullptr, modulePath, MAX_PATH);
    const std::wstring module(modulePath, moduleLength);
    const std::wstring editor = MakeEditorPath(module);
    const std::wstring working = MakeWorkingFolder(module);
    std::wstring commandLine = MakeEditorCommandLine(editor, fileName, key);
    // Filed last of all that takes memory: an entry that no editor will ever
    // quote would keep the drawing, and with it the whole server, alive for
    // good. The table takes a reference of its own; the caller's stays the
    // caller's.
    s_openObjects.File(key, object, std::move(files));

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(editor.c_str(), &commandLine[0], nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                          nullptr, working.c_str(), &startup, &process)) {
        // Nobody will ever quote this key: an entry left behind would keep the
        // drawing, and with it the whole server, alive for good. Its files go
        // with it.
        hr = LastErrorResult();
        s_openObjects.Take(key);
        return hr;
    }
    UniqueKernelHandle processHandle(process.hProcess);
    UniqueKernelHandle threadHandle(process.hThread);
    // On Windows a program started by a background process may not take the
    // foreground: the user would see only a flashing taskbar button. The
    // server, which the container called, may hand that right on. Without the
    // right to give, the call fails, and the editor still runs; Wine has no
    // foreground lock at all.
    ::AllowSetForegroundWindow(process.dwProcessId);
    return S_OK;
}
CATCH_RETURN_HRESULT()
