#include "bridge/open_edits.h"

using Microsoft::WRL::ComPtr;

// The table itself is defined with the other process-wide records so that it is
// built after the module and destroyed before it.
LONG s_nextObjectKey = 0;

OpenObjectTable::~OpenObjectTable()
{
    for (auto& entry : m_entries)
        entry.second.Detach();
}

void OpenObjectTable::File(LONG key, IUnknown* object)
{
    m_entries[key] = object;
}

IUnknown* OpenObjectTable::Find(LONG key) const
{
    auto found = m_entries.find(key);
    return found == m_entries.end() ? nullptr : found->second.Get();
}

ComPtr<IUnknown> OpenObjectTable::Take(LONG key)
{
    auto found = m_entries.find(key);
    if (found == m_entries.end())
        return nullptr;
    ComPtr<IUnknown> object = std::move(found->second);
    m_entries.erase(found);
    return object;
}

OpenObjectTable::Entries OpenObjectTable::TakeAll()
{
    Entries all;
    all.swap(m_entries);
    return all;
}

LONG NextObjectKey()
{
    const LONG key = s_nextObjectKey;
    // Wraps instead of overflowing; two thousand million edits do not happen in one run.
    s_nextObjectKey = static_cast<LONG>(static_cast<ULONG>(s_nextObjectKey) + 1u);
    return key;
}
