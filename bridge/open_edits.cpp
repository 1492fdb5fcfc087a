#include "bridge/open_edits.h"

#include <utility>

using Microsoft::WRL::ComPtr;

OpenObjectTable s_openObjects;
LONG s_nextObjectKey = 0;

OpenObjectTable::~OpenObjectTable()
{
    for (auto& entry : m_entries)
        entry.second.object.Detach();
}

void OpenObjectTable::File(LONG key, IUnknown* object, EditFiles files)
{
    OpenEdit& edit = m_entries[key];
    edit.object = object;
    edit.files = std::move(files);
}

IUnknown* OpenObjectTable::Find(LONG key) const
{
    auto found = m_entries.find(key);
    return found == m_entries.end() ? nullptr : found->second.object.Get();
}

OpenEdit OpenObjectTable::Take(LONG key)
{
    auto found = m_entries.find(key);
    if (found == m_entries.end())
        return OpenEdit();
    OpenEdit edit = std::move(found->second);
    m_entries.erase(found);
    return edit;
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
