// A drawing application that misbehaves on request, for the fault tests. The
// server starts it as  <editor> <document.ZRN> -ole <key>  (read as UTF-16, as
// a real drawing application does). What it does comes from
// editor-script-<key>.txt in its working folder, or editor-script.txt when there
// is none for its key: steps separated by blanks, done in order.
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
#include <sstream>
#include <string>

#include "support/editor_double.h"

using namespace editor_double;

namespace {

bool Exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const std::vector<std::wstring> argv = Arguments();
    const std::wstring folder = WorkingFolder();
    const std::wstring wideKey = argv.size() >= 4 ? argv[3] : L"none";
    const std::string key = Utf8(wideKey);
    const std::wstring stem = folder + L"editor-" + wideKey;
    WriteAll(stem + L".started", Bytes());

    const std::wstring ownScript = folder + L"editor-script-" + wideKey + L".txt";
    const std::string script = ReadText(Exists(ownScript) ? ownScript : folder + L"editor-script.txt");

    const Bytes document = argv.size() >= 2 ? ReadAll(argv[1]) : Bytes();
    const std::string mark = "EDITED:" + key + ":";
    Bytes native(mark.begin(), mark.end());
    native.insert(native.end(), document.begin(), document.end());
    const Bytes picture = NewPicture(std::atoi(key.c_str()));

    std::ostringstream log;
    HRESULT hr = ::CoInitialize(nullptr);
    IQuillmorphOLE* bridge = nullptr;
    if (SUCCEEDED(hr))
        hr = ::CoCreateInstance(CLSID_QuillmorphOLE, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&bridge));
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
            while (!Exists(folder + L"editor-go-" + wideKey + L".txt") && ::GetTickCount64() < deadline)
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

    WriteLogWhole(stem + L".log", log.str());
    return 0;
}
