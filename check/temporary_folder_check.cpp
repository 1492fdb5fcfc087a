#include "check/temporary_folder_check.h"

#include "bridge/editor_paths.h"
#include "server/handles.h"
#include "server/handles.h"

namespace {

// Past this many old files a support person should clear them: each reserved
// name is one of the 65,535 the platform hands out for a prefix, and finding a
// free one gets slower as they fill.
constexpr size_t kManyOldFiles = 1000;

size_t CountFiles(const std::wstring& folder, const wchar_t* pattern)
{
    WIN32_FIND_DATAW found = {};
    UniqueSearch search = AdoptSearchHandle(::FindFirstFileExW((folder + pattern).c_str(), FindExInfoBasic,
                                                               &found, FindExSearchNameMatch, nullptr, 0));
    if (!search)
        return 0;
    size_t count = 0;
    do {
        count += !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    } while (::FindNextFileW(search.get(), &found));
    return count;
}

HRESULT LastError()
{
    const DWORD error = ::GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// Reserves a name as the server does and writes a ".ZRN" file beside it; both
// are deleted again. A ".ZRN" that is already there may be a document still
// open in the drawing application: it is left alone, and another name taken.
HRESULT TryEditFiles(const std::wstring& folder)
{
    constexpr int kAttempts = 3;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        wchar_t reserved[MAX_PATH] = {};
        if (::GetTempFileNameW(folder.c_str(), L"OLE", 0, reserved) == 0)
            return LastError();
        const std::wstring document = MakeZrnFileName(reserved);
        UniqueKernelHandle file = AdoptFileHandle(::CreateFileW(document.c_str(), GENERIC_WRITE, 0, nullptr,
                                                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        HRESULT hr = file ? S_OK : LastError();
        if (file) {
            DWORD written = 0;
            if (!::WriteFile(file.get(), "check", 5, &written, nullptr) || written != 5)
                hr = LastError();
            file.reset();
            ::DeleteFileW(document.c_str());
        }
        ::DeleteFileW(reserved);
        if (hr != HRESULT_FROM_WIN32(ERROR_FILE_EXISTS))
            return hr;
    }
    return HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
}

} // namespace

CheckResult CheckTemporaryFolder()
{
    CheckResult result{L"temporary-folder", L"Temporary folder"};
    const std::wstring advice =
        L"set the user's TEMP and TMP variables to a folder the user can write (by default "
        L"%USERPROFILE%\\AppData\\Local\\Temp), then sign out and in again.";
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) {
        result.status = CheckStatus::Fail;
        result.detail = L"the temporary folder cannot be found: " +
                        DescribeResult(length ? HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) : LastError());
        result.advice = advice;
        return result;
    }
    const std::wstring folder(buffer, length);
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    HRESULT hr = attributes == INVALID_FILE_ATTRIBUTES      ? LastError()
                 : !(attributes & FILE_ATTRIBUTE_DIRECTORY) ? HRESULT_FROM_WIN32(ERROR_DIRECTORY)
                                                            : TryEditFiles(folder);
    if (FAILED(hr)) {
        result.status = CheckStatus::Fail;
        result.detail = folder + L" does not take the files of an edit (" + DescribeResult(hr) +
                        L"): opening a drawing will fail";
        result.advice = advice;
        return result;
    }
    const size_t documents = CountFiles(folder, L"OLE*.ZRN");
    const size_t reservations = CountFiles(folder, L"OLE*.tmp");
    result.detail = folder + L" is writable and a name can be reserved; earlier edits left " +
                    std::to_wstring(documents) + L" OLE*.ZRN and " + std::to_wstring(reservations) +
                    L" OLE*.tmp files there";
    if (documents + reservations >= kManyOldFiles) {
        result.status = CheckStatus::Warn;
        result.advice = L"with no drawing open, delete the old OLE*.ZRN and OLE*.tmp files in " + folder +
                        L" (reserving a name gets slower as they fill up).";
    }
    return result;
}
