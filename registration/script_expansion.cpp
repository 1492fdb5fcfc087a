#include "registration/script_expansion.h"

#include "registration/replacement_map.h"
#include "registration/script_tokenizer.h"
#include "server/catch_return.h"

namespace {

// The most memory one expanded script may take.
constexpr size_t kMaxScriptBytes = 0x3FFFFFFF;
constexpr size_t kMaxScriptLength = kMaxScriptBytes / sizeof(wchar_t);

// An HKCR root block, rewritten per user, opens HKCU\Software\Classes; the
// script's own braces become those of Classes and of the HKCU block.
constexpr std::wstring_view kPerUserRootOpen = L"HKCU\r\n{\tSoftware\r\n\t{\r\n\t\tClasses";
constexpr std::wstring_view kPerUserRootClose = L"\r\n\t}\r\n}\r\n";
constexpr std::wstring_view kClassesRootName = L"HKCR";

// Text of a reference, from its '%' on: "%%", "%NAME%", or the rest of the
// text when no second '%' follows. The rewriting passes references over whole,
// as the replacement will take them.
size_t ReferenceLength(std::wstring_view text, size_t at)
{
    const size_t close = text.find(L'%', at + 1);
    return close == std::wstring_view::npos ? text.size() - at : close - at + 1;
}

// An HKCR root name is rewritten per user only where it is the whole name; a
// root such as "HKCRX" stays what it is (and is refused as unknown).
bool IsClassesRootAt(std::wstring_view text, size_t at)
{
    if (text.compare(at, kClassesRootName.size(), kClassesRootName) != 0)
        return false;
    const size_t after = at + kClassesRootName.size();
    return after == text.size() || text[after] == L'{' || IsScriptBlank(text[after]);
}

// Appends text to out within the script's limit; false beyond it. Running out
// of memory is its caller's E_OUTOFMEMORY as well.
bool Append(std::wstring* out, std::wstring_view text)
{
    if (out->size() + text.size() > kMaxScriptLength)
        return false;
    out->append(text);
    return true;
}

// Room for twice the script, as the text usually grows a little.
void Prepare(std::wstring* out, std::wstring_view text)
{
    out->clear();
    out->reserve(text.size() < kMaxScriptLength / 2 ? text.size() * 2 : text.size());
}

} // namespace

HRESULT RewriteForUser(std::wstring_view text, std::wstring* rewritten)
try {
    Prepare(rewritten, text);
    int level = 0;
    bool rewritePending = false;
    bool insideQuotes = false;
    for (size_t at = 0; at < text.size();) {
        if (text[at] == L'%') {
            const size_t length = ReferenceLength(text, at);
            if (!Append(rewritten, text.substr(at, length)))
                return E_OUTOFMEMORY;
            at += length;
            continue;
        }
        if (level == 0 && IsClassesRootAt(text, at)) {
            if (!Append(rewritten, kPerUserRootOpen))
                return E_OUTOFMEMORY;
            at += kClassesRootName.size();
            rewritePending = true;
            continue;
        }
        if (text[at] == L'\'') {
            const bool doubled = at + 1 < text.size() && text[at + 1] == L'\'';
            if (!insideQuotes) {
                insideQuotes = true;
            } else if (!doubled) {
                insideQuotes = false;
            } else {
                // A doubled quote inside quotes stays doubled, and stays inside.
                if (!Append(rewritten, text.substr(at, 1)))
                    return E_OUTOFMEMORY;
                ++at;
            }
        } else if (!insideQuotes && text[at] == L'{') {
            ++level;
        } else if (!insideQuotes && text[at] == L'}') {
            --level;
            if (level == 0 && rewritePending) {
                if (!Append(rewritten, kPerUserRootClose))
                    return E_OUTOFMEMORY;
                rewritePending = false;
            }
        }
        if (!Append(rewritten, text.substr(at, 1)))
            return E_OUTOFMEMORY;
        ++at;
    }
    return S_OK;
}
CATCH_RETURN_HRESULT()

HRESULT ReplaceNames(std::wstring_view text, const CReplacementMap& replacements, std::wstring* replaced)
try {
    Prepare(replaced, text);
    for (size_t at = 0; at < text.size();) {
        const size_t percent = text.find(L'%', at);
        if (!Append(replaced, text.substr(at, percent - at)))
            return E_OUTOFMEMORY;
        if (percent == std::wstring_view::npos)
            break;
        if (percent + 1 < text.size() && text[percent + 1] == L'%') {
            if (!Append(replaced, L"%"))
                return E_OUTOFMEMORY;
            at = percent + 2;
            continue;
        }
        const size_t close = text.find(L'%', percent + 1);
        if (close == std::wstring_view::npos)
            return DISP_E_EXCEPTION;
        const std::wstring_view name = text.substr(percent + 1, close - percent - 1);
        if (name.size() > kMaxReplacementName)
            return E_FAIL;
        const wchar_t* value = replacements.Lookup(name);
        if (!value)
            return DISP_E_EXCEPTION;
        if (!Append(replaced, value))
            return E_OUTOFMEMORY;
        at = close + 1;
    }
    return S_OK;
}
CATCH_RETURN_HRESULT()

HRESULT ExpandScript(std::wstring_view text, bool perUser, const CReplacementMap& replacements,
                     std::wstring* expanded)
{
    if (!perUser)
        return ReplaceNames(text, replacements, expanded);
    std::wstring rewritten;
    HRESULT hr = RewriteForUser(text, &rewritten);
    if (FAILED(hr))
        return hr;
    return ReplaceNames(rewritten, replacements, expanded);
}
