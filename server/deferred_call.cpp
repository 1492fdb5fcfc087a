#include "server/deferred_call.h"

#include <deque>
#include <utility>

#include <wrl/client.h>

#include "server/catch_return.h"
#include "server/handles.h"
#include "server/last_error.h"

namespace {

constexpr UINT kRunDeferredCalls = WM_APP + 1;
const wchar_t kWindowClass[] = L"QuillmorphDeferredCalls";

struct DeferredCall
{
    Microsoft::WRL::ComPtr<IUnknown> object;
    std::function<void()> work;
};

// The work this thread has been asked to run later, and the window whose
// message wakes it. Any program on the desktop can find the window and post to
// it, so the message carries nothing: what runs is only ever what this queue
// holds, and each item runs once.
struct ThreadDeferredCalls
{
    std::deque<DeferredCall> pending;
    UniqueWindow window;

    ThreadDeferredCalls() = default;
    ThreadDeferredCalls(const ThreadDeferredCalls&) = delete;
    ThreadDeferredCalls& operator=(const ThreadDeferredCalls&) = delete;
    // Work still pending when the thread ends can no longer run. Its objects
    // are let go without a call into them: at the end of the process the
    // runtime they would call is gone already.
    ~ThreadDeferredCalls()
    {
        for (DeferredCall& call : pending)
            call.object.Detach();
    }
};

ThreadDeferredCalls& ThisThreadsCalls()
{
    thread_local ThreadDeferredCalls calls;
    return calls;
}

// Oldest first. An item leaves the queue before it runs: work that enters a
// modal loop may be woken again there, and then goes on with the next item.
// The object's reference goes once its work is done.
void RunPendingCalls()
{
    std::deque<DeferredCall>& pending = ThisThreadsCalls().pending;
    while (!pending.empty()) {
        DeferredCall call = std::move(pending.front());
        pending.pop_front();
        call.work();
    }
}

LRESULT CALLBACK DeferredCallWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // The window lives as long as its thread; no one else closes it.
    if (message == WM_CLOSE)
        return 0;
    if (message != kRunDeferredCalls)
        return ::DefWindowProcW(window, message, wParam, lParam);
    // Only a posted message wakes the queue, where the thread's loop gets to
    // it. A message sent from another thread arrives wherever this thread
    // merely looks at its queue, in the middle of a call, and is no wake-up
    // of ours.
    if (!::InSendMessage())
        RunPendingCalls();
    return 0;
}

// The thread's window, made on first use and destroyed when the thread ends.
HWND DeferredCallWindow()
{
    UniqueWindow& window = ThisThreadsCalls().window;
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
try {
    const HWND window = DeferredCallWindow();
    if (!window)
        return LastErrorResult();
    std::deque<DeferredCall>& pending = ThisThreadsCalls().pending;
    pending.push_back(DeferredCall{object, std::move(work)});
    if (!::PostMessageW(window, kRunDeferredCalls, 0, 0)) {
        const HRESULT hr = LastErrorResult();
        // Nothing ran in between: the work just queued is the last item.
        pending.pop_back();
        return hr;
    }
    return S_OK;
}
CATCH_RETURN_HRESULT()
