#pragma once

// The registrar: a replacement table and the application of registry-script
// resources. One is built on the stack for each apply step and used once.

#include <windows.h>
#include <ole2.h>

#include <string>
#include <string_view>

#include "registration/registry_script.h"
#include "registration/replacement_map.h"
#include "server/registrar_base.h"

class CRegObject final : public IRegistrarBase
{
public:
    CRegObject() = default;
    CRegObject(const CRegObject&) = delete;
    CRegObject& operator=(const CRegObject&) = delete;
    virtual ~CRegObject() = default;

    // Lives on its creator's stack: no counting, no other interface.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 0; }

    HRESULT STDMETHODCALLTYPE DefineReplacement(LPCOLESTR name, LPCOLESTR value) override;
    HRESULT STDMETHODCALLTYPE RemoveAllReplacements() override;

    const CReplacementMap& Replacements() const { return m_replacements; }
    LPCOLESTR FindReplacement(std::wstring_view name) const { return m_replacements.Lookup(name); }

    // Applies the script resource resourceId of type resourceType in the module
    // file modulePath (loaded as data only; none of its code runs) to target.
    HRESULT RegisterScriptResource(LPCOLESTR modulePath, WORD resourceId, LPCOLESTR resourceType,
                                   ScriptTarget target);
    HRESULT UnregisterScriptResource(LPCOLESTR modulePath, WORD resourceId, LPCOLESTR resourceType,
                                     ScriptTarget target);
    HRESULT ApplyScriptResource(LPCOLESTR modulePath, LPCOLESTR resourceName, LPCOLESTR resourceType,
                                bool registerEntries, ScriptTarget target);

private:
    CReplacementMap m_replacements;
};

// The text of the script resource resourceName of type resourceType in the
// module file modulePath, loaded as data only: its 8-bit bytes up to the first
// NUL.
HRESULT ReadScriptResource(LPCOLESTR modulePath, LPCOLESTR resourceName, LPCOLESTR resourceType,
                           std::string* text);
