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
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "quillmorphole.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

VARIANT ByteArray(const Bytes& bytes)
{
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_ARRAY | VT_UI1;
    v.parray = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    void* data = nullptr;
    ::SafeArrayAccessData(v.parray, &data);
    if (!bytes.empty())
        std::memcpy(data, bytes.data(), bytes.size());
    ::SafeArrayUnaccessData(v.parray);
    return v;
}

Bytes NewPicture(int key)
{
    RECT frame = {0, 0, 4000, 3000};
    HDC dc = ::CreateEnhMetaFileW(nullptr, nullptr, &frame, nullptr);
    ::Rectangle(dc, 5 + key, 5, 90, 70);
    ::Ellipse(dc, 20, 20, 60, 50 + key);
    HENHMETAFILE picture = ::CloseEnhMetaFile(dc);
    Bytes bits(::GetEnhMetaFileBits(picture, 0, nullptr));
    ::GetEnhMetaFileBits(picture, static_cast<UINT>(bits.size()), bits.data());
    ::DeleteEnhMetaFile(picture);
    return bits;
}

} // namespace

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
    VARIANT keyArg;
    ::VariantInit(&keyArg);
    keyArg.vt = VT_I4;
    keyArg.lVal = std::atoi(key.c_str());
    if (SUCCEEDED(hr) && action == "update") {
        Bytes native = {'E', 'D', 'I', 'T', 'E', 'D', ':'};
        native.insert(native.end(), document.begin(), document.end());
        const Bytes picture = NewPicture(keyArg.lVal);
        WriteAll(folder + "editor-" + key + ".native", native);
        WriteAll(folder + "editor-" + key + ".emf", picture);
        VARIANT f = ByteArray(native);
        VARIANT g = ByteArray(picture);
        hr = bridge->UpdateAndClose(f, g, keyArg);
        ::VariantClear(&f);
        ::VariantClear(&g);
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

    // Written under another name first, so that a reader never sees half a log.
    const std::string logPath = folder + "editor-" + key + ".log";
    {
        std::ofstream out(logPath + ".part", std::ios::binary);
        out << log.str();
    }
    ::MoveFileExA((logPath + ".part").c_str(), logPath.c_str(), MOVEFILE_REPLACE_EXISTING);
    return SUCCEEDED(hr) ? 0 : 1;
}
