// The demonstration drawing application. The server starts it as
//     Quillmorph.exe <document.ZRN> -ole <key>
// It reads the document, raises its revision, draws a new picture showing the
// revision, and hands both back with UpdateAndClose under the key it was given.
// It reads its command line as UTF-16 and writes what it did, in UTF-8, to
// quillmorph-demo-editor.log in the user's temporary folder, for the
// demonstration's report.

#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <string>

#include <wrl/client.h>

#include "server/class_ids.h"
#include "tools/demo/demo_document.h"

using Microsoft::WRL::ComPtr;

namespace {

// Appends one line to the log in the user's temporary folder, in UTF-8.
void Log(const char* format, ...)
{
    wchar_t folder[MAX_PATH];
    const DWORD n = ::GetTempPathW(MAX_PATH, folder);
    if (n == 0 || n >= MAX_PATH)
        return;
    char line[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    std::ofstream(std::filesystem::path(std::wstring(folder) + L"quillmorph-demo-editor.log"), std::ios::app)
        << line << "\n";
}

int Run()
{
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (!argv || argc != 4 || std::wcscmp(argv[2], L"-ole") != 0) {
        Log("editor: expected <file.ZRN> -ole <key>, got %d arguments", argc - 1);
        return 2;
    }
    std::wstring file = argv[1];
    long key = std::wcstol(argv[3], nullptr, 10);
    ::LocalFree(argv);

    demo::Bytes document = demo::ReadFileBytes(file.c_str());
    int revision = demo::DocumentRevision(document) + 1;
    Log("editor: read %u bytes (revision %d) from %s, key %ld", static_cast<unsigned>(document.size()),
        revision - 1, std::filesystem::path(file).u8string().c_str(), key);

    // The edit: one more revision, and a line saying so.
    std::string history(document.begin(), document.end());
    size_t body = history.find("\r\n", history.find("revision="));
    history = body == std::string::npos ? std::string() : history.substr(body + 2);
    history += "edited to revision " + std::to_string(revision) + "\r\n";
    demo::Bytes edited = demo::MakeDocument(revision, history);
    UniqueEnhMetaFile picture = demo::DrawPicture(revision);
    demo::Bytes bits = demo::EnhMetaFileBits(picture.get());

    HRESULT hr = ::CoInitialize(nullptr);
    if (FAILED(hr))
        return 3;
    {
        ComPtr<IQuillmorphOLE> server;
        hr = ::CoCreateInstance(CLSID_QuillmorphOLE, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&server));
        if (SUCCEEDED(hr)) {
            VariantGuard f, g, h;
            demo::MakeByteArray(edited, f.get());
            demo::MakeByteArray(bits, g.get());
            h->vt = VT_I4;
            h->lVal = key;
            hr = server->UpdateAndClose(*f.get(), *g.get(), *h.get());
        }
        Log("editor: UpdateAndClose with %u native bytes and %u picture bytes: 0x%08lX",
            static_cast<unsigned>(edited.size()), static_cast<unsigned>(bits.size()),
            static_cast<unsigned long>(hr));
    }
    ::CoUninitialize();
    return SUCCEEDED(hr) ? 0 : 4;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return Run();
}
