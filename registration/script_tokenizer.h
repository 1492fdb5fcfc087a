#pragma once

// The tokens of a registry script: blanks separate them; a token in single
// quotes may hold blanks, braces and equals signs, and two quotes inside stand
// for one. Tokens are views that stay valid as long as the tokenizer: into the
// script text itself, or, for a quoted token with doubled quotes, into the
// tokenizer's own store.

#include <windows.h>

#include <deque>
#include <string>
#include <string_view>

// A token holds at most this many characters; a longer one fails the script.
constexpr size_t kMaxTokenLength = 4094;

class ScriptTokenizer
{
public:
    explicit ScriptTokenizer(std::wstring_view text) : m_text(text) {}
    ScriptTokenizer(const ScriptTokenizer&) = delete;
    ScriptTokenizer& operator=(const ScriptTokenizer&) = delete;

    // The next token, consumed. At the end of the text, in a quoted token
    // without its closing quote and past kMaxTokenLength: DISP_E_EXCEPTION.
    HRESULT ReadToken(std::wstring_view* token);
    // The same token without consuming it: the next ReadToken returns it.
    HRESULT PeekToken(std::wstring_view* token);

    void SkipBlanks();
    // After the blanks: true when nothing is left.
    bool AtEnd();

    // Where reading stands (before a peeked token), and going back there.
    size_t Position() const { return m_bPeeked ? m_peekFrom : m_pos; }
    void Rewind(size_t position);

    // Where the token read last began: a failure of the walk lies there.
    size_t LastTokenStart() const { return m_lastStart; }

    // From position on, every token reads as a closing brace, so that taking a
    // failed block back ends exactly where registering it failed.
    void StopAt(size_t position) { m_stopAt = position; }
    // True once a token was cut off that way.
    bool Stopped() const { return m_bStopped; }

private:
    HRESULT Scan(std::wstring_view* token);
    HRESULT ScanQuoted(std::wstring_view* token);

    std::wstring_view m_text;
    size_t m_pos = 0;
    size_t m_lastStart = 0;
    size_t m_stopAt = std::wstring_view::npos;
    bool m_bStopped = false;

    // The token that PeekToken read ahead, and where reading stood before it.
    bool m_bPeeked = false;
    std::wstring_view m_peeked;
    size_t m_peekFrom = 0;

    // Quoted tokens whose doubled quotes were made single; a deque keeps each
    // in place while more are added.
    std::deque<std::wstring> m_unquoted;
};

bool IsScriptBlank(wchar_t c);

// The script language compares names and keywords without regard to case.
bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b);
