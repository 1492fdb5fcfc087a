#include "bridge/editor_paths.h"

namespace {

const wchar_t kServerInResources[] = L"resources\\QuillmorphOLE.exe";
const wchar_t kBetaEditor[] = L"Quillmorph-beta.exe";
const wchar_t kReleaseEditor[] = L"Quillmorph.exe";

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
