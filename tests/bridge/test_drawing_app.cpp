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
// Everything goes into its working folder: editor-<key>.log (written last, in one
// piece), editor-<key>.received, and for an update editor-<key>.native and .emf.

#include <windows.h>
#include <ole2.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "support/editor_double.h"

using namespace editor_double;

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
    std::istringstream(ReadText(folder + L"editor-action.txt")) >> action;
    log << "action=" << action << "\n";

    HRESULT hr = ::CoInitialize(nullptr);
    IQuillmorphOLE* bridge = nullptr;
    if (SUCCEEDED(hr))
        hr = ::CoCreateInstance(CLSID_QuillmorphOLE, nullptr, CLSCTX_LOCAL_SERVER, IID_IQuillmorphOLE,
                                reinterpret_cast<void**>(&bridge));
    VARIANT keyArg = KeyArgument(std::wcstol(key.c_str(), nullptr, 10));
    if (SUCCEEDED(hr) && action == "update") {
        Bytes native = {'E', 'D', 'I', 'T', 'E', 'D', ':'};
        native.insert(native.end(), document.begin(), document.end());
        const Bytes picture = NewPicture(keyArg.lVal);
        WriteAll(folder + L"editor-" + key + L".native", native);
        WriteAll(folder + L"editor-" + key + L".emf", picture);
        hr = Update(bridge, native, picture, keyArg);
    } else if (SUCCEEDED(hr) && action == "close") {
        hr = bridge->Close(keyArg);
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
    ::CoUninitialize();
    char result[32];
    std::snprintf(result, sizeof(result), "0x%08lX", static_cast<unsigned long>(hr));
    log << "result=" << result << "\n";

    WriteLogWhole(folder + L"editor-" + key + L".log", log.str());
    return SUCCEEDED(hr) ? 0 : 1;
}
