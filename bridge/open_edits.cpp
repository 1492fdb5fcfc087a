#include "bridge/open_edits.h"

#include <utility>

using Microsoft::WRL::ComPtr;

EditFiles::EditFiles(EditFiles&& other) noexcept
    : m_reserved(std::exchange(other.m_reserved, std::wstring())),
      m_document(std::exchange(other.m_document, std::wstring()))
{
}

EditFiles& EditFiles::operator=(EditFiles&& other) noexcept
{
    if (this != &other) {
        Remove();
        m_reserved = std::exchange(other.m_reserved, std::wstring());
        m_document = std::exchange(other.m_document, std::wstring());
    }
    return *this;
}

void EditFiles::Remove()
{
    // An editor that still holds the document open keeps it, and its name stays
    // reserved with it.
    const bool documentGone = m_document.empty() || ::DeleteFileW(m_document.c_str()) ||
                              ::GetLastError() == ERROR_FILE_NOT_FOUND ||
                              ::GetLastError() == ERROR_PATH_NOT_FOUND;
    if (documentGone && !m_reserved.empty())
        ::DeleteFileW(m_reserved.c_str());
    m_document.clear();
    m_reserved.clear();
}

// The table itself is defined with the other process-wide records so that it is
// built after the module and destroyed before it.
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
