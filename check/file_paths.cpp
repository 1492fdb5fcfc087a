#include "check/file_paths.h"

namespace {

std::wstring LongPath(const std::wstring& path)
{
    wchar_t full[MAX_PATH] = {};
    DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    std::wstring result = length && length < MAX_PATH ? std::wstring(full, length) : path;
    wchar_t longer[MAX_PATH] = {};
    length = ::GetLongPathNameW(result.c_str(), longer, MAX_PATH);
    return length && length < MAX_PATH ? std::wstring(longer, length) : result;
}

} // namespace

bool FileExists(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool SamePath(const std::wstring& a, const std::wstring& b)
{
    auto equal = [](const std::wstring& x, const std::wstring& y) {
        return ::CompareStringOrdinal(x.c_str(), static_cast<int>(x.size()), y.c_str(),
                                      static_cast<int>(y.size()), TRUE) == CSTR_EQUAL;
    };
    return equal(a, b) || equal(LongPath(a), LongPath(b));
}
