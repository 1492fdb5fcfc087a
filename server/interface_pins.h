#pragma once

// One exported stub of an interface, kept for as long as the pins last. Under
// Wine 8 the platform takes an interface out of its call runtime when the last
// stub of that interface in a process goes, waiting for the calls on it to
// finish; a call that finishes at that very moment is missed and the wait never
// ends, so the release that dropped the stub hangs, and the caller with it. It
// happens when a client releases its proxy right after a call (an editor after
// UpdateAndClose, a server after writing a container's stream). With a pinned
// stub the last one never goes. On Windows a pin costs one idle stub.

#include <windows.h>
#include <ole2.h>

#include <vector>

#include <wrl/client.h>

class InterfacePins
{
public:
    InterfacePins() = default;
    InterfacePins(const InterfacePins&) = delete;
    InterfacePins& operator=(const InterfacePins&) = delete;
    ~InterfacePins() { Clear(); }

    // Exports iid of object (table-strong: the stub stays until Clear).
    HRESULT Pin(IUnknown* object, REFIID iid);
    // Gives every stub back.
    void Clear();

private:
    std::vector<Microsoft::WRL::ComPtr<IStream>> m_marshalled;
};
