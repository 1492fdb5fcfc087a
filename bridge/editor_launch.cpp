#include "bridge/editor_launch.h"

#include <cstdio>

#include <wrl/client.h>

#include "bridge/dispinterface.h"
#include "bridge/native_data_format.h"
#include "bridge/open_edits.h"
#include "server/handles.h"

using Microsoft::WRL::ComPtr;

namespace {

const char kServerInResources[] = "resources\\QuillmorphOLE.exe";
const char kBetaEditor[] = "Quillmorph-beta.exe";

HRESULT LastErrorResult()
{
    const DWORD error = ::GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

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

std::wstring Widen(const std::string& text)
{
    const int length =
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    if (length > 0)
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

HRESULT WriteAll(HANDLE file, const BYTE* bytes, SIZE_T size)
{
    // One call for every document below 2 GiB; larger ones go in slices.
    const SIZE_T slice = 0x7FFFF000;
    do {
        const DWORD chunk = static_cast<DWORD>(size < slice ? size : slice);
        DWORD written = 0;
        if (!::WriteFile(file, bytes, chunk, &written, nullptr))
            return LastErrorResult();
        if (written != chunk)
            return STG_E_WRITEFAULT;
        bytes += chunk;
        size -= chunk;
    } while (size > 0);
    return S_OK;
}

} // namespace

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to)
{
    if (from.empty())
        return text;
    std::string result;
    result.reserve(text.size());
    size_t start = 0;
    for (size_t found = text.find(from); found != std::string::npos; found = text.find(from, start)) {
        result.append(text, start, found - start);
        result.append(to);
        start = found + from.size();
    }
    result.append(text, start, std::string::npos);
    return result;
}

std::string MakeEditorPath(const std::string& modulePath)
{
    std::string path = ReplaceAll(modulePath, kServerInResources, kBetaEditor);
    if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
        ::GetLastError() == ERROR_FILE_NOT_FOUND)
        path = ReplaceAll(path, "-beta.exe", ".exe");
    return path;
}

std::string MakeWorkingFolder(const std::string& modulePath)
{
    return ReplaceAll(modulePath, std::string("\\") + kServerInResources, " ");
}

std::string MakeZrnFileName(const std::string& reservedName)
{
    const size_t keep = reservedName.find_last_not_of(".tmp");
    std::string name = keep == std::string::npos ? std::string() : reservedName.substr(0, keep + 1);
    return name + ".ZRN";
}

std::string MakeEditorCommandLine(const std::string& editorPath, const std::string& fileName, LONG key)
{
    char keyText[16];
    std::snprintf(keyText, sizeof(keyText), "%i", static_cast<int>(key));
    return "\"" + editorPath + "\" \"" + fileName + "\" -ole " + keyText;
}

HRESULT WriteNativeDocumentFile(const BYTE* bytes, SIZE_T size, std::string* fileName, EditFiles* files)
{
    char folder[MAX_PATH + 1] = {};
    const DWORD folderLength = ::GetTempPathA(MAX_PATH + 1, folder);
    if (folderLength == 0)
        return LastErrorResult();
    if (folderLength > MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    char reserved[MAX_PATH] = {};
    if (::GetTempFileNameA(folder, "OLE", 0, reserved) == 0)
        return LastErrorResult();
    // From here on whatever fails takes both files with it.
    EditFiles written(Widen(reserved));

    *fileName = MakeZrnFileName(reserved);
    written.SetDocument(Widen(*fileName));
    UniqueKernelHandle file = AdoptFileHandle(::CreateFileA(fileName->c_str(), GENERIC_READ | GENERIC_WRITE,
                                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return LastErrorResult();
    HRESULT hr = size ? WriteAll(file.get(), bytes, size) : S_OK;
    file.reset();
    // A cut document must not reach the editor.
    if (FAILED(hr))
        return hr;
    *files = std::move(written);
    return S_OK;
}

STDMETHODIMP CDispinterface::Activate(VARIANT e)
{
    IUnknown* object = InterfaceFromVariant(e);
    if (!object)
        return S_OK;
    ComPtr<IDataObject> data;
    if (FAILED(object->QueryInterface(IID_IDataObject, reinterpret_cast<void**>(data.GetAddressOf()))))
        return S_OK;

    FORMATETC format = NativeDataFormatEtc();
    StgMediumGuard medium;
    HRESULT hr = data->GetData(&format, medium.put());
    data.Reset();
    if (FAILED(hr))
        return hr;
    if (medium->tymed != TYMED_HGLOBAL || !medium->hGlobal)
        return DV_E_TYMED;

    std::string fileName;
    EditFiles files;
    {
        const SIZE_T size = ::GlobalSize(medium->hGlobal);
        GlobalLockGuard bytes(medium->hGlobal);
        if (!bytes && size)
            return E_OUTOFMEMORY;
        hr = WriteNativeDocumentFile(bytes.bytes(), size, &fileName, &files);
    }
    medium.reset();
    if (FAILED(hr))
        return hr;

    // The table takes a reference of its own; the caller's stays the caller's.
    const LONG key = NextObjectKey();
    s_openObjects.File(key, object, std::move(files));

    char modulePath[MAX_PATH] = {};
    const DWORD moduleLength = ::GetModuleFileNameA(nullptr, modulePath, MAX_PATH);
    const std::string module(modulePath, moduleLength);
    const std::string editor = MakeEditorPath(module);
    const std::string working = MakeWorkingFolder(module);
    std::string commandLine = MakeEditorCommandLine(editor, fileName, key);

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessA(editor.c_str(), &commandLine[0], nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
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
    return S_OK;
}
