#include "bridge/edit_files.h"

#include <cwchar>
#include <utility>
#include <vector>

#include "bridge/editor_paths.h"
#include "server/handles.h"
#include "server/last_error.h"

namespace {

// How many temporary names are tried before an edit gives up: a handful is
// already more than chance leaves taken.
const int kDocumentNameAttempts = 16;

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

EditFiles::EditFiles(EditFiles&& other) noexcept
    : m_reserved(std::exchange(other.m_reserved, std::wstring())),
      m_document(std::exchange(other.m_document, std::wstring()))
{
}

EditFiles& EditFiles::operator=(EditFiles&& other) noexcept
{
    if (this != &other) {
        Remove();
        m_reserved = std::exchange(other.m_reserved, std::wstring());
        m_document = std::exchange(other.m_document, std::wstring());
    }
    return *this;
}

void EditFiles::Remove()
{
    // An editor that still holds the document open keeps it, and its name stays
    // reserved with it.
    const bool documentGone = m_document.empty() || ::DeleteFileW(m_document.c_str()) ||
                              ::GetLastError() == ERROR_FILE_NOT_FOUND ||
                              ::GetLastError() == ERROR_PATH_NOT_FOUND;
    if (documentGone && !m_reserved.empty())
        ::DeleteFileW(m_reserved.c_str());
    m_document.clear();
    m_reserved.clear();
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
