// A small stand-in for the drawing application, for the road of one edit. The
// server starts it as  <editor> <document.ZRN> -ole <key>. It writes down how it
// was started (command line, the arguments as the C runtime splits them, its
// program and working folder) and the document's bytes, then ends the edit as
// the file editor-action.txt in its working folder says:
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
#include <fstream>
#include <sstream>
#include <string>

#include "support/editor_double.h"

using namespace editor_double;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const int argc = __argc;
    char** argv = __argv;
    std::ostringstream log;
    char cwd[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, cwd);
    char exe[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, exe, MAX_PATH);
    log << "commandline=" << ::GetCommandLineA() << "\n";
    log << "argc=" << argc << "\n";
    for (int i = 0; i < argc; ++i)
        log << "argv" << i << "=" << argv[i] << "\n";
    log << "cwd=" << cwd << "\n";
    log << "exe=" << exe << "\n";

    const std::string folder = std::string(cwd) + "\\";
    const std::string key = argc >= 4 ? argv[3] : "none";
    const Bytes document = argc >= 2 ? ReadAll(argv[1]) : Bytes();
    WriteAll(folder + "editor-" + key + ".received", document);

    std::string action;
    std::ifstream(folder + "editor-action.txt") >> action;
    log << "action=" << action << "\n";

    HRESULT hr = ::CoInitialize(nullptr);
    IQuillmorphOLE* bridge = nullptr;
    if (SUCCEEDED(hr))
        hr = ::CoCreateInstance(CLSID_QuillmorphOLE, nullptr, CLSCTX_LOCAL_SERVER, IID_IQuillmorphOLE,
                                reinterpret_cast<void**>(&bridge));
    VARIANT keyArg = KeyArgument(std::atoi(key.c_str()));
    if (SUCCEEDED(hr) && action == "update") {
        Bytes native = {'E', 'D', 'I', 'T', 'E', 'D', ':'};
        native.insert(native.end(), document.begin(), document.end());
        const Bytes picture = NewPicture(keyArg.lVal);
        WriteAll(folder + "editor-" + key + ".native", native);
        WriteAll(folder + "editor-" + key + ".emf", picture);
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

    WriteLogWhole(folder + "editor-" + key + ".log", log.str());
    return SUCCEEDED(hr) ? 0 : 1;
}
