#include "registration/script_tokenizer.h"

namespace {

constexpr wchar_t kQuote = L'\'';

// What a token cut off by StopAt reads as.
constexpr std::wstring_view kClosingBrace = L"}";

} // namespace

bool IsScriptBlank(wchar_t c)
{
    return c == L'\t' || c == L'\n' || c == L'\r' || c == L' ';
}

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size())
        return false;
    if (a.empty())
        return true;
    return ::CompareStringW(::GetThreadLocale(), NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                            b.data(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

void ScriptTokenizer::SkipBlanks()
{
    if (m_bPeeked)
        return;
    while (m_pos < m_text.size() && IsScriptBlank(m_text[m_pos]))
        ++m_pos;
}

bool ScriptTokenizer::AtEnd()
{
    SkipBlanks();
    return !m_bPeeked && m_pos >= m_text.size();
}

void ScriptTokenizer::Rewind(size_t position)
{
    m_bPeeked = false;
    m_pos = position;
}

HRESULT ScriptTokenizer::ReadToken(std::wstring_view* token)
{
    if (m_bPeeked) {
        m_bPeeked = false;
        *token = m_peeked;
        return S_OK;
    }
    return Scan(token);
}

HRESULT ScriptTokenizer::PeekToken(std::wstring_view* token)
{
    if (!m_bPeeked) {
        const size_t from = m_pos;
        HRESULT hr = Scan(&m_peeked);
        if (FAILED(hr))
            return hr;
        m_peekFrom = from;
        m_bPeeked = true;
    }
    *token = m_peeked;
    return S_OK;
}

HRESULT ScriptTokenizer::Scan(std::wstring_view* token)
{
    SkipBlanks();
    if (m_pos >= m_stopAt) {
        m_bStopped = true;
        *token = kClosingBrace;
        return S_OK;
    }
    m_lastStart = m_pos;
    if (m_pos >= m_text.size())
        return DISP_E_EXCEPTION;
    if (m_text[m_pos] == kQuote)
        return ScanQuoted(token);
    size_t end = m_pos;
    while (end < m_text.size() && !IsScriptBlank(m_text[end]))
        ++end;
    if (end - m_pos > kMaxTokenLength)
        return DISP_E_EXCEPTION;
    *token = m_text.substr(m_pos, end - m_pos);
    m_pos = end;
    return S_OK;
}

HRESULT ScriptTokenizer::ScanQuoted(std::wstring_view* token)
{
    // The token ends at a quote that is not followed by a second one.
    const size_t start = m_pos + 1;
    size_t end = start;
    size_t length = 0;
    bool doubled = false;
    while (end < m_text.size()) {
        if (m_text[end] == kQuote) {
            if (end + 1 >= m_text.size() || m_text[end + 1] != kQuote)
                break;
            doubled = true;
            ++end; // the first of a doubled pair
        }
        if (++length > kMaxTokenLength)
            return DISP_E_EXCEPTION;
        ++end;
    }
    if (end >= m_text.size())
        return DISP_E_EXCEPTION;
    m_pos = end + 1;
    if (!doubled) {
        *token = m_text.substr(start, end - start);
        return S_OK;
    }
    std::wstring unquoted;
    unquoted.reserve(length);
    for (size_t at = start; at < end; ++at) {
        if (m_text[at] == kQuote)
            ++at;
        unquoted += m_text[at];
    }
    m_unquoted.push_back(std::move(unquoted));
    *token = m_unquoted.back();
    return S_OK;
}
