#include "documents/extraction.h"

#include "documents/drawing_findings.h"

namespace {

constexpr int kMaxNameTries = 10000;

// The file name of a path, with characters no file name may hold replaced.
std::wstring DocumentStem(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    for (wchar_t& c : name) {
        if (c < 0x20 || std::wstring(L"<>:\"/\\|?*").find(c) != std::wstring::npos)
            c = L'_';
    }
    return name.empty() ? std::wstring(L"document") : name;
}

HRESULT WriteAll(HANDLE file, const BYTE* bytes, ULONG size)
{
    ULONG done = 0;
    while (done < size) {
        DWORD written = 0;
        if (!::WriteFile(file, bytes + done, size - done, &written, nullptr))
            return HRESULT_FROM_WIN32(::GetLastError());
        done += written;
    }
    return S_OK;
}

} // namespace

HRESULT Extractor::Prepare(std::wstring* why)
{
    if (!folder_.empty() && folder_.back() != L'\\' && folder_.back() != L'/')
        folder_ += L'\\';
    if (::CreateDirectoryW(folder_.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS) {
        const DWORD attributes = ::GetFileAttributesW(folder_.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return S_OK;
    }
    const HRESULT hr = HRESULT_FROM_WIN32(::GetLastError());
    *why = L"the folder " + folder_ + L" for extracted drawings cannot be made (" + HexResult(hr) + L")";
    return FAILED(hr) ? hr : E_FAIL;
}

void Extractor::Extract(const DocumentFinding& document, const DrawingFinding& drawing,
                        const DrawingContent& content)
{
    const bool damaged = !drawing.Sound();
    const std::wstring stem = DocumentStem(document.path) + L"-" + std::to_wstring(drawing.position) +
                              (damaged ? L"-damaged" : L"");
    const std::wstring of = L" of drawing " + std::to_wstring(drawing.position) + L" of " + document.path;
    if (drawing.nativePresent)
        WriteOne(stem, L".ZRN", content.native.get(), content.nativeSize,
                 (damaged && drawing.nativeRead != drawing.nativeClaimed
                      ? L"the part that could be read of the native document"
                      : L"native document") +
                     of,
                 damaged);
    if (content.pictureSize)
        WriteOne(stem, L".emf", content.picture.get(), content.pictureSize, L"picture" + of, damaged);
}

void Extractor::WriteOne(const std::wstring& stem, const wchar_t* extension, HGLOBAL bytes, ULONG size,
                         const std::wstring& what, bool damaged)
{
    UniqueKernelHandle file;
    std::wstring path;
    DWORD error = ERROR_FILE_EXISTS;
    // Whatever is there stays: a name that is taken gives way to the next one.
    for (int attempt = 1; attempt <= kMaxNameTries && error == ERROR_FILE_EXISTS; ++attempt) {
        path = folder_ + stem + (attempt == 1 ? L"" : L" (" + std::to_wstring(attempt) + L")") + extension;
        file = AdoptFileHandle(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
        error = file ? ERROR_SUCCESS : ::GetLastError();
    }
    if (!file) {
        problems_.push_back(path + L" cannot be written (" + HexResult(HRESULT_FROM_WIN32(error)) + L")");
        return;
    }
    HRESULT hr = S_OK;
    if (size) {
        GlobalLockGuard at(bytes);
        hr = at ? WriteAll(file.get(), at.bytes(), size) : E_OUTOFMEMORY;
    }
    if (FAILED(hr)) {
        problems_.push_back(path + L" could not be written whole (" + HexResult(hr) + L")");
        return;
    }
    written_.push_back(ExtractedFile{path, what, damaged});
}
