// Makes the WiX fragment of the server from the built server itself: its
// registry scripts and type library, read as data, give the registry rows, so
// that a package writes exactly what the server's /RegServer writes.
//
//   quillmorph_package_fragment <QuillmorphOLE.exe> <x64|x86> <fragment.wxs> <wixl-mends.sql>
//
// Cross-built, it runs under Wine in the build. Exit code 0, or 1 with the
// reason on the error output.

#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "packaging/package_fragment.h"
#include "server/handles.h"

namespace {

int Fail(const std::wstring& what, HRESULT hr)
{
    std::fwprintf(stderr, L"quillmorph_package_fragment: %ls (0x%08lX)\n", what.c_str(),
                  static_cast<unsigned long>(hr));
    return 1;
}

HRESULT WriteUtf8(const std::wstring& path, const std::wstring& text)
{
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    if (size > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size,
                              nullptr, nullptr);
    UniqueKernelHandle file = AdoptFileHandle(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return HRESULT_FROM_WIN32(::GetLastError());
    DWORD written = 0;
    if (!::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size())
        return HRESULT_FROM_WIN32(::GetLastError());
    return S_OK;
}

} // namespace

int main()
{
    int count = 0;
    UniqueLocalMemory owner(::CommandLineToArgvW(::GetCommandLineW(), &count));
    wchar_t** arguments = static_cast<wchar_t**>(owner.get());
    if (!arguments || count != 5 ||
        (std::wstring(arguments[2]) != L"x64" && std::wstring(arguments[2]) != L"x86"))
        return Fail(L"usage: quillmorph_package_fragment <QuillmorphOLE.exe> <x64|x86> <fragment.wxs> "
                    L"<wixl-mends.sql>",
                    E_INVALIDARG);
    const std::wstring server = arguments[1];
    const PackageLayout& layout =
        std::wstring(arguments[2]) == L"x64" ? kPackageLayoutX64 : kPackageLayoutX86;
    OleInitializeGuard ole;
    HRESULT hr = ole.status();
    if (FAILED(hr))
        return Fail(L"the component runtime does not start", hr);

    PackageViews views;
    const PackageReferences references{kServerFileKey,
                                       L"[" + std::wstring(kInstallDirectoryKey) + L"]resources"};
    hr = ServerPackageRows(server, references, &views.own);
    if (FAILED(hr))
        return Fail(L"the registration of " + server + L" cannot be listed as package rows", hr);
    if (layout.otherView.id)
        views.other = views.own;
    PackageFragment fragment;
    hr = MakePackageFragment(layout, views, &fragment);
    if (FAILED(hr))
        return Fail(L"a row of the registration cannot be written as WiX", hr);
    hr = WriteUtf8(arguments[3], fragment.wix);
    if (FAILED(hr))
        return Fail(L"the fragment cannot be written", hr);
    hr = WriteUtf8(arguments[4], fragment.wixlMends);
    if (FAILED(hr))
        return Fail(L"the fragment cannot be written", hr);
    std::wprintf(L"QuillmorphOLE fragment (%ls): %u registry rows in each of %u registry views\n",
                 arguments[2], static_cast<unsigned>(views.own.size()), layout.otherView.id ? 2u : 1u);
    return 0;
}
