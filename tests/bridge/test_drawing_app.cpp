// A small stand-in for the drawing application, for the road of one edit. The
// server starts it as  <editor> <document.ZRN> -ole <key>. It reads its command
// line as UTF-16 and splits it as a real drawing application does, and writes
// down in UTF-8 how it was started (command line, arguments, its program and
// working folder) and the document's bytes, then ends the edit as the file
// editor-action.txt in its working folder says:
//   update   - UpdateAndClose with "EDITED:" + the document and a new picture
//   close    - Close(key)
//   close-late - Close(key) by name through IDispatch
//   closeall - CloseAll()
// A second word names the class to connect to instead of the server's automation
// class (a baseline server that stands in for it), as {xxxxxxxx-...}.
// Everything goes into its working folder: editor-<key>.log (written last, in one
// piece), editor-<key>.received, and for an update editor-<key>.native and .emf.
// editor-<key>.trace gets a line before and after each call into the server, on
// disk at once, so that a stalled editor shows which call it waits in.

#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "support/editor_double.h"

using namespace editor_double;

namespace {

// One line appended and the file closed again: on disk whatever happens next.
void Trace(const std::wstring& path, const char* step, HRESULT hr = S_OK)
{
    char line[96];
    std::snprintf(line, sizeof(line), "%llu %s 0x%08lX\n",
                  static_cast<unsigned long long>(::GetTickCount64()), step, static_cast<unsigned long>(hr));
    std::ofstream(std::filesystem::path(path), std::ios::app) << line;
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const std::vector<std::wstring> argv = Arguments();
    const size_t argc = argv.size();
    std::ostringstream log;
    const std::wstring folder = WorkingFolder();
    wchar_t exe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    log << "commandline=" << Utf8(::GetCommandLineW()) << "\n";
    log << "argc=" << argc << "\n";
    for (size_t i = 0; i < argc; ++i)
        log << "argv" << i << "=" << Utf8(argv[i]) << "\n";
    log << "cwd=" << Utf8(folder.substr(0, folder.size() - 1)) << "\n";
    log << "exe=" << Utf8(exe) << "\n";

    const std::wstring key = argc >= 4 ? argv[3] : L"none";
    const Bytes document = argc >= 2 ? ReadAll(argv[1]) : Bytes();
    WriteAll(folder + L"editor-" + key + L".received", document);

    std::string action;
    std::string classText;
    std::istringstream(ReadText(folder + L"editor-action.txt")) >> action >> classText;
    log << "action=" << action << "\n";
    CLSID server = CLSID_QuillmorphOLE;
    if (!classText.empty()) {
        const std::wstring wide(classText.begin(), classText.end());
        ::CLSIDFromString(wide.c_str(), &server);
        log << "class=" << classText << "\n";
    }
    const std::wstring trace = folder + L"editor-" + key + L".trace";

    HRESULT hr = ::CoInitialize(nullptr);
    IQuillmorphOLE* bridge = nullptr;
    Trace(trace, "CoCreateInstance");
    if (SUCCEEDED(hr))
        hr = ::CoCreateInstance(server, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&bridge));
    Trace(trace, "CoCreateInstance returned", hr);
    VARIANT keyArg = KeyArgument(std::wcstol(key.c_str(), nullptr, 10));
    if (SUCCEEDED(hr) && action == "update") {
        Bytes native = {'E', 'D', 'I', 'T', 'E', 'D', ':'};
        native.insert(native.end(), document.begin(), document.end());
        const Bytes picture = NewPicture(keyArg.lVal);
        WriteAll(folder + L"editor-" + key + L".native", native);
        WriteAll(folder + L"editor-" + key + L".emf", picture);
        Trace(trace, "UpdateAndClose");
        hr = Update(bridge, native, picture, keyArg);
        Trace(trace, "UpdateAndClose returned", hr);
    } else if (SUCCEEDED(hr) && action == "close") {
        Trace(trace, "Close");
        hr = bridge->Close(keyArg);
        Trace(trace, "Close returned", hr);
    } else if (SUCCEEDED(hr) && action == "close-late") {
        // As a script would: the method by name, the key through Invoke.
        DISPID id = 0;
        LPOLESTR name = const_cast<LPOLESTR>(L"Close");
        hr = bridge->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
        DISPPARAMS params = {&keyArg, nullptr, 1, 0};
        if (SUCCEEDED(hr))
            hr = bridge->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr,
                                nullptr);
    } else if (SUCCEEDED(hr) && action == "closeall") {
        hr = bridge->CloseAll();
    }
    if (bridge)
        bridge->Release();
    Trace(trace, "CoUninitialize");
    ::CoUninitialize();
    Trace(trace, "ended");
    char result[32];
    std::snprintf(result, sizeof(result), "0x%08lX", static_cast<unsigned long>(hr));
    log << "result=" << result << "\n";

    WriteLogWhole(folder + L"editor-" + key + L".log", log.str());
    return SUCCEEDED(hr) ? 0 : 1;
}
