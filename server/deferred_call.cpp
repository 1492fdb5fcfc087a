#include "server/deferred_call.h"

#include <memory>
#include <new>

#include <wrl/client.h>

#include "server/handles.h"
#include "server/last_error.h"

namespace {

constexpr UINT kRunDeferredCall = WM_APP + 1;
const wchar_t kWindowClass[] = L"QuillmorphDeferredCalls";

struct DeferredCall
{
    Microsoft::WRL::ComPtr<IUnknown> object;
    std::function<void()> work;
};

LRESULT CALLBACK DeferredCallWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != kRunDeferredCall)
        return ::DefWindowProcW(window, message, wParam, lParam);
    // The call is ours again: the object's reference goes once the work is done.
    std::unique_ptr<DeferredCall> call(reinterpret_cast<DeferredCall*>(lParam));
    call->work();
    return 0;
}

// The thread's window, made on first use and destroyed when the thread ends.
HWND DeferredCallWindow()
{
    thread_local UniqueWindow window;
    if (window)
        return window.get();
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &DeferredCallWindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    // A second thread finds the class registered already.
    if (!::RegisterClassExW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return nullptr;
    window.reset(::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   ::GetModuleHandleW(nullptr), nullptr));
    return window.get();
}

} // namespace

HRESULT PostDeferredCall(IUnknown* object, std::function<void()> work)
{
    const HWND window = DeferredCallWindow();
    if (!window)
        return LastErrorResult();
    std::unique_ptr<DeferredCall> call(new (std::nothrow) DeferredCall{object, std::move(work)});
    if (!call)
        return E_OUTOFMEMORY;
    if (!::PostMessageW(window, kRunDeferredCall, 0, reinterpret_cast<LPARAM>(call.get())))
        return LastErrorResult();
    call.release();
    return S_OK;
}
