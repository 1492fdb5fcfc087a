// A drawing application that misbehaves on request, for the fault tests. The
// server starts it as  <editor> <document.ZRN> -ole <key>.  What it does comes
// from editor-script-<key>.txt in its working folder, or editor-script.txt when
// there is none for its key: steps separated by blanks, done in order.
//   update          UpdateAndClose("EDITED:<key>:" + document, new picture, key)
//   update-key:N    the same bytes, quoting key N instead of its own
//   update-text:T   the same bytes, quoting the key as the text T (VT_BSTR)
//   close           Close(key)
//   closeall        CloseAll()
//   wait-go         waits until editor-go-<key>.txt appears (at most 90 s)
// It writes editor-<key>.started when it starts, and editor-<key>.log (each
// step with its HRESULT, then "done") when it ends; the log is written under
// another name first and renamed, so a reader never sees half of it.

#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "support/editor_double.h"

using namespace editor_double;

namespace {

bool Exists(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const int argc = __argc;
    char** argv = __argv;
    char cwd[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, cwd);
    const std::string folder = std::string(cwd) + "\\";
    const std::string key = argc >= 4 ? argv[3] : "none";
    const std::string stem = folder + "editor-" + key;
    WriteAll(stem + ".started", Bytes());

    std::string script;
    {
        std::ifstream own(folder + "editor-script-" + key + ".txt");
        std::ifstream shared(folder + "editor-script.txt");
        std::ifstream& in = own ? own : shared;
        script.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    const Bytes document = argc >= 2 ? ReadAll(argv[1]) : Bytes();
    const std::string mark = "EDITED:" + key + ":";
    Bytes native(mark.begin(), mark.end());
    native.insert(native.end(), document.begin(), document.end());
    const Bytes picture = NewPicture(std::atoi(key.c_str()));

    std::ostringstream log;
    HRESULT hr = ::CoInitialize(nullptr);
    IQuillmorphOLE* bridge = nullptr;
    if (SUCCEEDED(hr))
        hr = ::CoCreateInstance(CLSID_QuillmorphOLE, nullptr, CLSCTX_LOCAL_SERVER, IID_IQuillmorphOLE,
                                reinterpret_cast<void**>(&bridge));
    log << "connect=" << (SUCCEEDED(hr) ? "ok" : "failed") << "\n";

    const VARIANT ownKey = KeyArgument(std::atoi(key.c_str()));

    std::istringstream steps(script);
    std::string step;
    while (bridge && steps >> step) {
        HRESULT result = S_OK;
        if (step == "update") {
            result = Update(bridge, native, picture, ownKey);
        } else if (step.compare(0, 11, "update-key:") == 0) {
            result = Update(bridge, native, picture, KeyArgument(std::atoi(step.c_str() + 11)));
        } else if (step.compare(0, 12, "update-text:") == 0) {
            const std::string text = step.substr(12);
            VARIANT other;
            ::VariantInit(&other);
            other.vt = VT_BSTR;
            other.bstrVal = ::SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
            for (size_t i = 0; i < text.size(); ++i)
                other.bstrVal[i] = static_cast<wchar_t>(text[i]);
            result = Update(bridge, native, picture, other);
            ::VariantClear(&other);
        } else if (step == "close") {
            result = bridge->Close(ownKey);
        } else if (step == "closeall") {
            result = bridge->CloseAll();
        } else if (step == "wait-go") {
            const ULONGLONG deadline = ::GetTickCount64() + 90000;
            while (!Exists(folder + "editor-go-" + key + ".txt") && ::GetTickCount64() < deadline)
                ::Sleep(20);
        } else {
            result = E_INVALIDARG;
        }
        char text[16];
        std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(result));
        log << step << "=" << text << "\n";
    }
    if (bridge)
        bridge->Release();
    ::CoUninitialize();
    log << "done\n";

    WriteLogWhole(stem + ".log", log.str());
    return 0;
}
