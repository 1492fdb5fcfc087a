#pragma once

// Work posted to the calling thread, to run once the incoming call that asked
// for it has returned and a message loop gets to it. The work waits in the
// thread's own queue; a message to a window of the thread's own (message-only,
// never shown) wakes it: a message for a window is delivered by whichever loop
// runs next, the server's or a modal one, where a thread message would be lost
// to a loop that does not expect it. The message carries nothing, so whoever
// else posts it can at most make due work run early, never choose what runs.

#include <windows.h>
#include <ole2.h>

#include <functional>

// Runs work later on this thread, holding a counted reference on object until it
// has run, so that the object cannot go away in between. A failure to post is
// returned; the work then never runs.
HRESULT PostDeferredCall(IUnknown* object, std::function<void()> work);
