#include "support/test_support.h"

#include <tlhelp32.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include <wrl/client.h>

#include "server/class_ids.h"

namespace testing_support {

std::wstring ServerExePath()
{
    return QUILLMORPH_SERVER_EXE;
}

DWORD RegisterServer(const std::wstring& exePath, bool perUser)
{
    return RunProcess(exePath, perUser ? L"/RegServerPerUser" : L"/RegServer", 30000);
}

DWORD UnregisterServer(const std::wstring& exePath, bool perUser)
{
    return RunProcess(exePath, perUser ? L"/UnregServerPerUser" : L"/UnregServer", 30000);
}

std::vector<DWORD> FindProcesses(const wchar_t* name)
{
    std::vector<DWORD> pids;
    UniqueKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) {
        snapshot.release();
        return pids;
    }
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry)) {
        if (::lstrcmpiW(entry.szExeFile, name) == 0)
            pids.push_back(entry.th32ProcessID);
    }
    return pids;
}

bool WaitForNoProcess(const wchar_t* name, DWORD timeoutMs)
{
    ULONGLONG deadline = NowMs() + timeoutMs;
    while (!FindProcesses(name).empty()) {
        if (NowMs() > deadline)
            return false;
        ::Sleep(50);
    }
    return true;
}

UniqueKernelHandle OpenServerProcess(DWORD pid)
{
    return UniqueKernelHandle(
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, pid));
}

UniqueKernelHandle StartProcess(const std::wstring& exe, const std::wstring& arguments, DWORD* pid)
{
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    // Under Wine a process start now and then fails before the program runs
    // (seen once in a few thousand starts on a loaded machine); that is tried
    // again, and said. A program that is not there fails at once.
    for (int attempt = 1;; ++attempt) {
        if (::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                             &pi))
            break;
        const DWORD error = ::GetLastError();
        std::fprintf(stderr, "starting %ls failed with error %lu (attempt %d)\n", exe.c_str(),
                     static_cast<unsigned long>(error), attempt);
        if (attempt == 3 || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return UniqueKernelHandle();
        ::Sleep(200);
    }
    UniqueKernelHandle thread(pi.hThread);
    if (pid)
        *pid = pi.dwProcessId;
    return UniqueKernelHandle(pi.hProcess);
}

DWORD RunProcess(const std::wstring& exe, const std::wstring& arguments, DWORD timeoutMs, DWORD* elapsedMs)
{
    ULONGLONG start = NowMs();
    UniqueKernelHandle process = StartProcess(exe, arguments);
    if (!process)
        return static_cast<DWORD>(-1);
    if (::WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 1);
        return STILL_ACTIVE;
    }
    if (elapsedMs)
        *elapsedMs = static_cast<DWORD>(NowMs() - start);
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    return code;
}

std::string RunScriptHost(const std::wstring& script, bool* underWow64)
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring outPath = std::wstring(temp) + L"quillmorph_script_host.out";
    UniqueKernelHandle process = StartProcessWithOutput(L"cscript.exe //nologo \"" + script + L"\"", outPath);
    EXPECT_TRUE(process) << "error " << ::GetLastError();
    if (underWow64 && process) {
        BOOL wow64 = FALSE;
        *underWow64 = ::IsWow64Process(process.get(), &wow64) && wow64;
    }
    ULONGLONG deadline = NowMs() + 60000;
    HANDLE waited = process.get();
    while (process && ::MsgWaitForMultipleObjects(1, &waited, FALSE, 50, QS_ALLINPUT) != WAIT_OBJECT_0 &&
           NowMs() < deadline)
        PumpMessagesFor(10);
    std::ifstream file(std::string(outPath.begin(), outPath.end()));
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

bool Is32BitExecutable(const std::wstring& exe)
{
    std::ifstream file(std::string(exe.begin(), exe.end()), std::ios::binary);
    IMAGE_DOS_HEADER dos = {};
    if (!file.read(reinterpret_cast<char*>(&dos), sizeof(dos)) || dos.e_magic != IMAGE_DOS_SIGNATURE)
        return false;
    DWORD signature = 0;
    IMAGE_FILE_HEADER header = {};
    file.seekg(dos.e_lfanew);
    if (!file.read(reinterpret_cast<char*>(&signature), sizeof(signature)) ||
        signature != IMAGE_NT_SIGNATURE || !file.read(reinterpret_cast<char*>(&header), sizeof(header)))
        return false;
    return header.Machine == IMAGE_FILE_MACHINE_I386;
}

const char kNo32BitPrograms[] =
    "this system runs no 32-bit programs (no 32-bit system libraries: the machine's kernel runs no 32-bit "
    "code, so Wine has no 32-bit half)";

bool Runs32BitPrograms()
{
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemWow64DirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    const std::wstring kernel = std::wstring(folder) + L"\\kernel32.dll";
    return ::GetFileAttributesW(kernel.c_str()) != INVALID_FILE_ATTRIBUTES;
}

CLIPFORMAT NativeFormat()
{
    return static_cast<CLIPFORMAT>(
        ::RegisterClipboardFormatA("JAVA_DATAFLAVOR:chemical/x-vantrelis-zrn; class=java.io.InputStream"));
}

HRESULT WriteStream(IStorage* storage, const wchar_t* name, const std::vector<BYTE>& bytes)
{
    Microsoft::WRL::ComPtr<IStream> stream;
    HRESULT hr =
        storage->CreateStream(name, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream);
    if (FAILED(hr) || bytes.empty())
        return hr;
    ULONG written = 0;
    return stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
}

std::vector<BYTE> NativeDataOf(IDataObject* data)
{
    FORMATETC format = {NativeFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    StgMediumGuard medium;
    EXPECT_EQ(data->GetData(&format, medium.put()), S_OK);
    if (!medium->hGlobal)
        return {};
    const SIZE_T size = ::GlobalSize(medium->hGlobal);
    GlobalLockGuard lock(medium->hGlobal);
    return lock ? std::vector<BYTE>(lock.bytes(), lock.bytes() + size) : std::vector<BYTE>();
}

std::string WaitForRecord(const std::wstring& path, DWORD timeoutMs)
{
    // For a moment after the rename the writer's handle, opened for deletion,
    // is still open, and an ordinary open, which does not share deletion,
    // fails: the record is read again until it opens. A record is never empty.
    std::string text;
    WaitFor(
        [&] {
            std::ifstream in(std::filesystem::path(path), std::ios::binary);
            text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            return !text.empty();
        },
        timeoutMs);
    return text;
}

std::map<std::string, std::string> WaitForEditorLog(const std::wstring& path, DWORD timeoutMs)
{
    std::map<std::string, std::string> entries;
    std::istringstream in(WaitForRecord(path, timeoutMs));
    for (std::string line; std::getline(in, line);) {
        const size_t equals = line.find('=');
        entries[line.substr(0, equals)] = equals == std::string::npos ? "" : line.substr(equals + 1);
    }
    return entries;
}

ULONGLONG NowMs()
{
    return ::GetTickCount64();
}

void PumpMessagesFor(DWORD ms)
{
    ULONGLONG deadline = NowMs() + ms;
    while (NowMs() < deadline) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

UniqueKernelHandle StartProcessWithOutput(const std::wstring& commandLine, const std::wstring& outputFile)
{
    SECURITY_ATTRIBUTES inherited = {sizeof(inherited), nullptr, TRUE};
    UniqueKernelHandle out =
        AdoptFileHandle(::CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out)
        return UniqueKernelHandle();
    std::wstring command = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out.get();
    startup.hStdError = out.get();
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &process))
        return UniqueKernelHandle();
    UniqueKernelHandle thread(process.hThread);
    return UniqueKernelHandle(process.hProcess);
}

HRESULT SaveLikeAContainer(IUnknown* drawing, IStorage* storage)
{
    if (!drawing || !storage)
        return E_POINTER;
    Microsoft::WRL::ComPtr<IPersistStorage> persist;
    HRESULT hr = drawing->QueryInterface(IID_PPV_ARGS(&persist));
    if (FAILED(hr))
        return hr;
    hr = ::OleSave(persist.Get(), storage, TRUE);
    if (SUCCEEDED(hr))
        hr = persist->SaveCompleted(nullptr);
    if (SUCCEEDED(hr))
        hr = storage->Commit(STGC_DEFAULT);
    return hr;
}

} // namespace testing_support
