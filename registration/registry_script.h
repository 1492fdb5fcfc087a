#pragma once

// The registry-script interpreter: expansion of %NAME% references (and of the
// per-user rewriting of HKCR root blocks), tokens, and the register and
// unregister walks over the registry.

#include <windows.h>

#include <cstddef>

class CRegObject;

// A token (and a value) holds at most 4094 bytes in its 4096-byte buffer.
constexpr size_t kTokenBufferSize = 4096;

// Blocks nest at most this deep (the server's own scripts use five levels,
// seven when rewritten per user); a deeper script is refused rather than
// exhausting the stack.
constexpr int kMaxBlockDepth = 64;

// The expansion's output: task memory that grows by doubling. The text always
// ends with a NUL.
class CScriptBuffer
{
public:
    CScriptBuffer() = default;
    CScriptBuffer(const CScriptBuffer&) = delete;
    CScriptBuffer& operator=(const CScriptBuffer&) = delete;
    ~CScriptBuffer();

    // Room for twice the script, or 1000 bytes for a script under 100.
    HRESULT Init(size_t scriptLength);
    HRESULT Append(const char* bytes, size_t count);
    // Makes room for count more bytes and returns where they go (null when it
    // cannot grow); Commit then takes the bytes actually written.
    char* Reserve(size_t count);
    void Commit(size_t count);

    const char* text() const { return m_pText; }
    // Hands the text to the caller, who frees it with CoTaskMemFree.
    char* Detach();

private:
    HRESULT Grow(size_t needed);

    char* m_pText = nullptr;
    size_t m_nLength = 0;
    size_t m_nCapacity = 0;
};

// Where a script's entries go. perUser: its HKCR root blocks are rewritten to
// the user's classes. view: the registry view of every key the walk opens,
// creates or deletes (KEY_WOW64_64KEY or KEY_WOW64_32KEY, or 0 for the
// process's own view).
struct ScriptTarget
{
    bool perUser = false;
    REGSAM view = 0;
};

class CRegScriptParser
{
public:
    CRegScriptParser(const CRegObject& owner, ScriptTarget target) : m_owner(owner), m_target(target) {}
    CRegScriptParser(const CRegScriptParser&) = delete;
    CRegScriptParser& operator=(const CRegScriptParser&) = delete;

    // Expands and applies a whole script; in register mode a failed root block
    // is removed again, earlier root blocks stay.
    HRESULT ApplyScript(LPCSTR text, bool registerEntries);

    // The expanded text, in task memory the caller frees with CoTaskMemFree.
    HRESULT ExpandScript(LPCSTR text, char** expanded);

private:
    // On entry token holds the block's opening brace; on success the token that
    // closed it. depth counts the blocks entered, the root block being 1.
    HRESULT WalkBlock(char* token, HKEY parent, bool registerEntries, bool recovering, int depth);
    HRESULT RegisterBlock(char* token, HKEY parent, int depth);
    HRESULT UnregisterBlock(char* token, HKEY parent, bool recovering, int depth);
    HRESULT RegisterNamedValue(char* token, HKEY parent);
    HRESULT UnregisterNamedValue(char* token, HKEY parent, bool removeValue);
    HRESULT UnregisterKey(char* token, HKEY parent, bool removeAllowed, bool noBlock, bool recovering,
                          int depth);

    HRESULT ReadToken(char* token);
    void SkipBlanks();
    HRESULT SkipValueClause(char* token);
    // Reads type and value after an '=' token and sets the value; on success
    // token holds the token after the value.
    HRESULT WriteValue(HKEY key, LPCSTR valueName, char* token);
    HRESULT CopyTokenChar(char* token, size_t* length);

    // The rights asked for a key, in the script's view.
    REGSAM Access(REGSAM rights) const { return rights | m_target.view; }

    const CRegObject& m_owner;
    const ScriptTarget m_target;
    LPCSTR m_pPos = nullptr;
    // Where the token last read began.
    LPCSTR m_pTokenStart = nullptr;
    // While a failed root block is taken back: the token at which registering
    // failed. From there on every block reads as closed, so that the rollback
    // removes what was written before the failure and touches nothing after it.
    LPCSTR m_pRollbackEnd = nullptr;
    bool m_bRollbackEnded = false;
};

// The predefined key of a root name ("HKCR", "HKEY_LOCAL_MACHINE", ...), or null.
HKEY RootKeyFromName(LPCSTR name);
// False for the key names that ForceRemove and Delete must never delete.
bool IsDeletableKeyName(LPCSTR name);
