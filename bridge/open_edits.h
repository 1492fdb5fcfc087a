#pragma once

// The process-wide table of drawings that are open in the drawing application,
// by object key. Each entry owns one reference on its drawing, from Activate
// until UpdateAndClose, Close or CloseAll ends the edit, and the edit's
// temporary files.

#include <windows.h>
#include <ole2.h>

#include <map>
#include <string>

#include <wrl/client.h>

#include "bridge/edit_files.h"

struct OpenEdit
{
    Microsoft::WRL::ComPtr<IUnknown> object;
    EditFiles files;
};

class OpenObjectTable
{
public:
    using Entries = std::map<LONG, OpenEdit>;

    OpenObjectTable() = default;
    OpenObjectTable(const OpenObjectTable&) = delete;
    OpenObjectTable& operator=(const OpenObjectTable&) = delete;
    // At process exit the runtime is already gone: the entries are dropped
    // without calling into the drawings. Their files are deleted.
    ~OpenObjectTable();

    // Files object under key with a reference of the table's own, with the
    // edit's temporary files.
    void File(LONG key, IUnknown* object, EditFiles files = EditFiles());
    // The drawing filed under key, or null; the entry stays.
    IUnknown* Find(LONG key) const;
    // Removes the entry for key and hands it to the caller (an empty edit when
    // there was none): its reference, and its files, which go with it.
    OpenEdit Take(LONG key);
    // Removes every entry and hands them over in ascending key order.
    Entries TakeAll();

    size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }

private:
    Entries m_entries;
};

extern OpenObjectTable s_openObjects;
// The key the next Activate hands out: 0, 1, 2, ... never reused in a process.
extern LONG s_nextObjectKey;

// Hands out the next object key.
LONG NextObjectKey();
