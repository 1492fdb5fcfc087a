#pragma once

// Activate starts the editor that lies beside "resources\QuillmorphOLE.exe" of
// the running program. A test program that calls it in-process therefore runs
// itself from such a place: it copies itself there (and once more as the editor,
// which does nothing when started with "-ole") and runs the copy with its own
// arguments.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/bridge/bridge_test_util.h"

namespace bridge_test {

inline bool EndsWith(const std::wstring& text, const std::wstring& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The arguments of this process's command line, without the program name.
inline std::wstring ArgumentsOfThisProcess()
{
    const wchar_t* p = ::GetCommandLineW();
    const bool quoted = *p == L'"';
    if (quoted)
        ++p;
    while (*p && (quoted ? *p != L'"' : (*p != L' ' && *p != L'\t')))
        ++p;
    if (quoted && *p)
        ++p;
    while (*p == L' ' || *p == L'\t')
        ++p;
    return p;
}

inline int RunInstalled()
{
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring folder = FreshFolder(L"Bridge Install");
    const std::wstring server = folder + L"\\resources\\QuillmorphOLE.exe";
    ::CreateDirectoryW((folder + L"\\resources").c_str(), nullptr);
    if (!::CopyFileW(self, server.c_str(), FALSE) ||
        !::CopyFileW(self, (folder + L"\\Quillmorph.exe").c_str(), FALSE))
        return 2;
    std::wstring commandLine = L"\"" + server + L"\" " + ArgumentsOfThisProcess();
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(server.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, &process))
        return 3;
    UniqueKernelHandle processHandle(process.hProcess);
    UniqueKernelHandle threadHandle(process.hThread);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    ::GetExitCodeProcess(process.hProcess, &code);
    return static_cast<int>(code);
}

} // namespace bridge_test

// Started as the editor: nothing to do. Started from the build folder: run the
// installed copy. Installed: run the tests.
#define QUILLMORPH_BRIDGE_INSTALLED_MAIN                                                                     \
    int main(int argc, char** argv)                                                                          \
    {                                                                                                        \
        for (int i = 1; i < argc; ++i) {                                                                     \
            if (std::string(argv[i]) == "-ole")                                                              \
                return 0;                                                                                    \
        }                                                                                                    \
        wchar_t self[MAX_PATH] = {};                                                                         \
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);                                                       \
        if (!bridge_test::EndsWith(self, L"\\resources\\QuillmorphOLE.exe"))                                 \
            return bridge_test::RunInstalled();                                                              \
        ::testing::InitGoogleTest(&argc, argv);                                                              \
        return RUN_ALL_TESTS();                                                                              \
    }
