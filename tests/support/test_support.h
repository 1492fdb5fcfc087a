#pragma once

// Helpers shared by the test programs: the apartment, the built server, and
// watching the server processes that the runtime starts.

#include <windows.h>
#include <ole2.h>

#include <map>
#include <string>
#include <vector>

#include "server/handles.h"
#include "support/pictures.h"
#include "support/text.h"

namespace testing_support {

// The server's image name, as the list of processes shows it.
constexpr wchar_t kServerImage[] = L"QuillmorphOLE.exe";
// The keys of the server's two classes below the classes root.
constexpr wchar_t kAutomationClass[] = L"CLSID\\{7A3E51C0-4B2D-4E8F-9C61-2D5B8F0A13E7}";
constexpr wchar_t kEmbeddedClass[] = L"CLSID\\{3C94F2A8-6D1B-47E5-A0C3-95E2B7D4F168}";
// The storage in which the tests' compound documents keep their drawing.
constexpr wchar_t kDrawingStorage[] = L"Drawing1";

// The dispatch ids of the automation interface's six methods, in the order
// the interface declares them.
enum AutomationDispId : DISPID
{
    kTripForward = 0x60020000,
    kTripBack,
    kActivate,
    kUpdateAndClose,
    kClose,
    kCloseAll,
};

// Enters a single-threaded apartment for the scope.
class Apartment
{
public:
    Apartment() : hr_(::CoInitialize(nullptr)) {}
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
    ~Apartment()
    {
        if (SUCCEEDED(hr_))
            ::CoUninitialize();
    }
    HRESULT status() const { return hr_; }

private:
    HRESULT hr_;
};

// Bytes that look random and are the same for the same size and seed.
inline std::vector<BYTE> PatternBytes(size_t size, unsigned seed)
{
    std::vector<BYTE> bytes(size);
    unsigned state = seed * 2654435761u + 1u;
    for (BYTE& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<BYTE>(state >> 16);
    }
    return bytes;
}

// The server executable built beside the tests, as a Windows path.
std::wstring ServerExePath();

// Runs the server with its own registration switch ("/RegServer", or
// "/RegServerPerUser" when perUser) and returns the exit code (0 on success).
DWORD RegisterServer(const std::wstring& exePath, bool perUser = false);
DWORD UnregisterServer(const std::wstring& exePath, bool perUser = false);

// Ids of the running processes whose image name is name (case-insensitive).
std::vector<DWORD> FindProcesses(const wchar_t* name);

// Waits until no process named name runs; false on time-out.
bool WaitForNoProcess(const wchar_t* name, DWORD timeoutMs);

// A running process of the server and the moment it was found.
UniqueKernelHandle OpenServerProcess(DWORD pid);

// Starts exe with the given arguments (the path is quoted); waits at most
// timeoutMs. Returns the exit code, or STILL_ACTIVE on time-out (the process is
// then terminated).
DWORD RunProcess(const std::wstring& exe, const std::wstring& arguments, DWORD timeoutMs,
                 DWORD* elapsedMs = nullptr);

// Starts exe and returns its process handle without waiting.
UniqueKernelHandle StartProcess(const std::wstring& exe, const std::wstring& arguments, DWORD* pid = nullptr);

// Starts a whole command line (the program found as the platform finds it) with
// its output and errors written to outputFile; returns its process handle.
UniqueKernelHandle StartProcessWithOutput(const std::wstring& commandLine, const std::wstring& outputFile);

// Runs script with the platform's script host (cscript of this process's
// bitness), pumping this thread's messages meanwhile (a clipboard data object
// may live here), and returns what it printed. underWow64, when given, tells
// whether the host ran as a 32-bit process on a 64-bit system.
std::string RunScriptHost(const std::wstring& script, bool* underWow64 = nullptr);

// True when the executable exe is built for 32-bit x86, read from the
// file's header (false for anything else or when it cannot be read).
bool Is32BitExecutable(const std::wstring& exe);

// True when this system can start 32-bit programs: its 32-bit system folder
// holds the platform's libraries. A machine whose kernel runs no 32-bit code
// (IA-32 emulation switched off) gives Wine no 32-bit half; cases that need a
// 32-bit program skip there, saying why.
bool Runs32BitPrograms();
extern const char kNo32BitPrograms[];

// The clipboard format of the drawing application's native document.
CLIPFORMAT NativeFormat();

// Writes bytes as the stream name of storage, made afresh.
HRESULT WriteStream(IStorage* storage, const wchar_t* name, const std::vector<BYTE>& bytes);

// The native document that a drawing serves through data (the native-data
// flavour on a global block); empty when it serves none.
std::vector<BYTE> NativeDataOf(IDataObject* data);

// The text of a record that a test program renames into place when it is
// whole, once it can be read; empty after timeoutMs.
std::string WaitForRecord(const std::wstring& path, DWORD timeoutMs);

// The record a test drawing application leaves when it ends ("name=value"
// lines in UTF-8; a line without "=" has an empty value), once it can be read;
// empty after timeoutMs.
std::map<std::string, std::string> WaitForEditorLog(const std::wstring& path, DWORD timeoutMs = 30000);

// Milliseconds from a monotonic clock.
ULONGLONG NowMs();

// Pumps this thread's messages for the given time.
void PumpMessagesFor(DWORD ms);

// Saves a drawing into its storage as a container's save does: OleSave, then
// SaveCompleted, then the storage committed.
HRESULT SaveLikeAContainer(IUnknown* drawing, IStorage* storage);

// Pumps this thread's messages until done() holds; false after timeoutMs.
template <class Predicate> bool WaitFor(Predicate done, DWORD timeoutMs)
{
    const ULONGLONG deadline = NowMs() + timeoutMs;
    while (!done()) {
        if (NowMs() > deadline)
            return false;
        PumpMessagesFor(20);
    }
    return true;
}

} // namespace testing_support
