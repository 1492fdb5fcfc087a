#include "registration/replacement_map.h"

#include "registration/script_tokenizer.h"
#include "server/catch_return.h"

HRESULT CReplacementMap::Add(LPCOLESTR name, LPCOLESTR value)
try {
    m_pairs.push_back(Pair{name, value});
    return S_OK;
}
CATCH_RETURN_HRESULT()

LPCOLESTR CReplacementMap::Lookup(std::wstring_view name) const
{
    for (const Pair& pair : m_pairs) {
        if (EqualsIgnoringCase(pair.name, name))
            return pair.value.c_str();
    }
    return nullptr;
}
