#include "bridge/editor_launch.h"

#include <wrl/client.h>

#include <cwchar>
#include <vector>

#include "bridge/dispinterface.h"
#include "bridge/native_data_format.h"
#include "bridge/open_edits.h"
#include "server/catch_return.h"
#include "server/handles.h"
#include "server/last_error.h"

using Microsoft::WRL::ComPtr;

namespace {

const wchar_t kServerInResources[] = L"resources\\QuillmorphOLE.exe";
const wchar_t kBetaEditor[] = L"Quillmorph-beta.exe";
const wchar_t kReleaseEditor[] = L"Quillmorph.exe";
// How many temporary names are tried before an edit gives up: a handful is
// already more than chance leaves taken.
const int kDocumentNameAttempts = 16;

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

std::wstring ReplaceAll(std::wstring text, const std::wstring& from, const std::wstring& to)
{
    if (from.empty())
        return text;
    std::wstring result;
    result.reserve(text.size());
    size_t start = 0;
    for (size_t found = text.find(from); found != std::wstring::npos; found = text.find(from, start)) {
        result.append(text, start, found - start);
        result.append(to);
        start = found + from.size();
    }
    result.append(text, start, std::wstring::npos);
    return result;
}

std::wstring InstallationFolder(const std::wstring& modulePath)
{
    const std::wstring tail = std::wstring(L"\\") + kServerInResources;
    auto folderOf = [&](const std::wstring& path) {
        if (path.size() <= tail.size() ||
            ::CompareStringOrdinal(path.c_str() + path.size() - tail.size(), static_cast<int>(tail.size()),
                                   tail.c_str(), static_cast<int>(tail.size()), TRUE) != CSTR_EQUAL)
            return std::wstring();
        return path.substr(0, path.size() - tail.size());
    };
    std::wstring folder = folderOf(modulePath);
    if (!folder.empty())
        return folder;
    // A registration made through a short path starts the server by that path.
    wchar_t longPath[MAX_PATH] = {};
    const DWORD length = ::GetLongPathNameW(modulePath.c_str(), longPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::wstring();
    return folderOf(longPath);
}

std::wstring MakeEditorPath(const std::wstring& modulePath)
{
    const std::wstring folder = InstallationFolder(modulePath);
    if (folder.empty()) {
        // Not installed as it should be: the path is made as it always was.
        std::wstring path = ReplaceAll(modulePath, kServerInResources, kBetaEditor);
        if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
            ::GetLastError() == ERROR_FILE_NOT_FOUND)
            path = ReplaceAll(path, L"-beta.exe", L".exe");
        return path;
    }
    const std::wstring beta = folder + L"\\" + kBetaEditor;
    if (::GetFileAttributesW(beta.c_str()) == INVALID_FILE_ATTRIBUTES &&
        ::GetLastError() == ERROR_FILE_NOT_FOUND)
        return folder + L"\\" + kReleaseEditor;
    return beta;
}

std::wstring MakeWorkingFolder(const std::wstring& modulePath)
{
    const std::wstring folder = InstallationFolder(modulePath);
    if (folder.empty())
        return ReplaceAll(modulePath, std::wstring(L"\\") + kServerInResources, L" ");
    return folder + L" ";
}

std::wstring MakeZrnFileName(const std::wstring& reservedName)
{
    const size_t keep = reservedName.find_last_not_of(L".tmp");
    std::wstring name = keep == std::wstring::npos ? std::wstring() : reservedName.substr(0, keep + 1);
    return name + L".ZRN";
}

std::wstring MakeEditorCommandLine(const std::wstring& editorPath, const std::wstring& fileName, LONG key)
{
    return L"\"" + editorPath + L"\" \"" + fileName + L"\" -ole " + std::to_wstring(key);
}

HRESULT WriteNativeDocumentFile(const BYTE* bytes, SIZE_T size, std::wstring* fileName, EditFiles* files)
{
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD folderLength = ::GetTempPathW(MAX_PATH + 1, folder);
    if (folderLength == 0)
        return LastErrorResult();
    if (folderLength > MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

    // The platform reserves only the ".tmp" name. A ".ZRN" of the same name may
    // already be there, planted or left over: it is never opened, only a file the
    // server creates afresh is. A name found taken keeps its reservation until
    // the end, so that the next reservation is another number; then the
    // reservations go, and the taken files stay as they were.
    // Memory is taken before each file is made, and a file is owned the moment
    // it exists: running out of memory on the way leaves no file behind.
    std::vector<EditFiles> taken;
    taken.reserve(kDocumentNameAttempts);
    for (int attempt = 0; attempt < kDocumentNameAttempts; ++attempt) {
        std::wstring reserved(MAX_PATH, L'\0');
        if (::GetTempFileNameW(folder, L"OLE", 0, &reserved[0]) == 0)
            return LastErrorResult();
        reserved.resize(::wcslen(reserved.c_str()));
        // From here on whatever fails takes the reservation with it.
        EditFiles written(std::move(reserved));
        std::wstring name = MakeZrnFileName(written.reserved());
        // Shared for reading only: nobody writes into the document while the
        // server does.
        UniqueKernelHandle file =
            AdoptFileHandle(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                          nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
                return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
            taken.push_back(std::move(written));
            continue;
        }
        written.SetDocument(std::move(name));
        HRESULT hr = size ? WriteAll(file.get(), bytes, size) : S_OK;
        file.reset();
        // A cut document must not reach the editor.
        if (FAILED(hr))
            return hr;
        *fileName = written.document();
        *files = std::move(written);
        return S_OK;
    }
    return HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
}

STDMETHODIMP CDispinterface::Activate(VARIANT e)
try {
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

    std::wstring fileName;
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
