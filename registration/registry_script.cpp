#include "registration/registry_script.h"

#include <cstring>

#include <oleauto.h>

#include "registration/reg_key.h"
#include "registration/registrar.h"
#include "server/handles.h"

namespace {

// The most task memory one expanded script may take.
constexpr size_t kMaxScriptCapacity = 0x3FFFFFFF;

// Replacement names are read into a 32-byte buffer.
constexpr size_t kMaxReplacementName = 31;

// An HKCR root block, rewritten per user, opens HKCU\Software\Classes; the
// script's own braces become those of Classes and of the HKCU block.
constexpr char kPerUserRootOpen[] = "HKCU\r\n{\tSoftware\r\n\t{\r\n\t\tClasses";
constexpr char kPerUserRootClose[] = "\r\n\t}\r\n}\r\n";

const struct
{
    const char* name;
    HKEY key;
} kRootKeys[] = {
    {"HKCR", HKEY_CLASSES_ROOT},
    {"HKCU", HKEY_CURRENT_USER},
    {"HKLM", HKEY_LOCAL_MACHINE},
    {"HKU", HKEY_USERS},
    {"HKPD", HKEY_PERFORMANCE_DATA},
    {"HKDD", HKEY_DYN_DATA},
    {"HKCC", HKEY_CURRENT_CONFIG},
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", HKEY_USERS},
    {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
    {"HKEY_DYN_DATA", HKEY_DYN_DATA},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

const char* const kProtectedKeyNames[] = {
    "AppID",    "CLSID",     "Component Categories",
    "FileType", "Interface", "Hardware",
    "Mime",     "SAM",       "SECURITY",
    "SYSTEM",   "Software",  "TypeLib",
};

bool IsBlank(char c)
{
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

// Bytes of the character at p: a double-byte character is one character, but
// never reaches past the terminating NUL.
size_t CharBytes(LPCSTR p)
{
    if (*p == '\0')
        return 0;
    size_t step = static_cast<size_t>(::CharNextA(p) - p);
    if (step == 0)
        return 1;
    for (size_t i = 1; i < step; ++i) {
        if (p[i] == '\0')
            return i;
    }
    return step;
}

bool IsKeyword(LPCSTR token, LPCSTR keyword)
{
    return ::lstrcmpiA(token, keyword) == 0;
}

bool IsBlockOpen(LPCSTR token)
{
    return token[0] == '{' && token[1] == '\0';
}

// A key entry names one level: a backslash (not a trail byte) is refused.
bool ContainsBackslash(LPCSTR name)
{
    for (LPCSTR p = name; *p; p += CharBytes(p)) {
        if (*p == '\\')
            return true;
    }
    return false;
}

// An HKCR root name is rewritten per user only where it is the whole name; a
// root such as "HKCRX" stays what it is (and is refused as unknown).
bool EndsRootName(char c)
{
    return c == '\0' || c == '{' || IsBlank(c);
}

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 0;
}

} // namespace

HKEY RootKeyFromName(LPCSTR name)
{
    for (const auto& root : kRootKeys) {
        if (::lstrcmpiA(name, root.name) == 0)
            return root.key;
    }
    return nullptr;
}

bool IsDeletableKeyName(LPCSTR name)
{
    for (const char* protectedName : kProtectedKeyNames) {
        if (::lstrcmpiA(name, protectedName) == 0)
            return false;
    }
    return true;
}

CScriptBuffer::~CScriptBuffer()
{
    if (m_pText)
        ::CoTaskMemFree(m_pText);
}

HRESULT CScriptBuffer::Init(size_t scriptLength)
{
    size_t capacity = scriptLength < 100 ? 1000 : scriptLength;
    if (scriptLength >= 100) {
        if (scriptLength > kMaxScriptCapacity / 2)
            return E_OUTOFMEMORY;
        capacity = scriptLength * 2;
    }
    m_pText = static_cast<char*>(::CoTaskMemAlloc(capacity));
    if (!m_pText)
        return E_OUTOFMEMORY;
    m_nCapacity = capacity;
    m_nLength = 0;
    m_pText[0] = '\0';
    return S_OK;
}

HRESULT CScriptBuffer::Grow(size_t needed)
{
    // needed counts the terminating NUL.
    if (!m_pText)
        return E_OUTOFMEMORY;
    if (needed <= m_nCapacity)
        return S_OK;
    size_t capacity = m_nCapacity;
    while (capacity < needed) {
        if (capacity > kMaxScriptCapacity / 2)
            return E_OUTOFMEMORY;
        capacity *= 2;
    }
    char* grown = static_cast<char*>(::CoTaskMemRealloc(m_pText, capacity));
    if (!grown)
        return E_OUTOFMEMORY;
    m_pText = grown;
    m_nCapacity = capacity;
    return S_OK;
}

char* CScriptBuffer::Reserve(size_t count)
{
    if (count > kMaxScriptCapacity || FAILED(Grow(m_nLength + count + 1)))
        return nullptr;
    return m_pText + m_nLength;
}

void CScriptBuffer::Commit(size_t count)
{
    m_nLength += count;
    m_pText[m_nLength] = '\0';
}

HRESULT CScriptBuffer::Append(const char* bytes, size_t count)
{
    char* at = Reserve(count);
    if (!at)
        return E_OUTOFMEMORY;
    std::memcpy(at, bytes, count);
    Commit(count);
    return S_OK;
}

char* CScriptBuffer::Detach()
{
    char* text = m_pText;
    m_pText = nullptr;
    m_nLength = m_nCapacity = 0;
    return text;
}

HRESULT CRegScriptParser::ExpandScript(LPCSTR text, char** expanded)
{
    if (!expanded)
        return E_POINTER;
    *expanded = nullptr;
    if (!text)
        return E_INVALIDARG;

    const bool perUser = m_target.perUser;

    CScriptBuffer out;
    HRESULT hr = out.Init(std::strlen(text));
    if (FAILED(hr))
        return hr;

    int level = 0;
    bool rewritePending = false;
    bool insideQuotes = false;
    LPCSTR p = text;
    while (*p) {
        if (perUser) {
            if (level == 0 && std::strncmp(p, "HKCR", 4) == 0 && EndsRootName(p[4])) {
                if (FAILED(out.Append(kPerUserRootOpen, sizeof(kPerUserRootOpen) - 1)))
                    return E_OUTOFMEMORY;
                p += 4;
                rewritePending = true;
                continue;
            }
            if (*p == '\'') {
                if (!insideQuotes) {
                    insideQuotes = true;
                } else if (p[1] != '\'') {
                    insideQuotes = false;
                } else {
                    // A doubled quote inside quotes stays doubled: this one
                    // here, the second by the general rule below.
                    if (FAILED(out.Append(p, 1)))
                        return E_OUTOFMEMORY;
                    ++p;
                }
            }
            if (!insideQuotes && *p == '{')
                ++level;
            if (!insideQuotes && *p == '}') {
                --level;
                if (level == 0 && rewritePending) {
                    if (FAILED(out.Append(kPerUserRootClose, sizeof(kPerUserRootClose) - 1)))
                        return E_OUTOFMEMORY;
                    rewritePending = false;
                }
            }
        }

        if (*p == '%') {
            if (p[1] == '%') {
                if (FAILED(out.Append("%", 1)))
                    return E_OUTOFMEMORY;
                p += 2;
                continue;
            }
            LPCSTR close = std::strchr(p + 1, '%');
            if (!close)
                return DISP_E_EXCEPTION;
            size_t nameLength = static_cast<size_t>(close - (p + 1));
            if (nameLength > kMaxReplacementName)
                return E_FAIL;
            char name[kMaxReplacementName + 1];
            std::memcpy(name, p + 1, nameLength);
            name[nameLength] = '\0';
            LPCOLESTR value = m_owner.FindReplacement(name);
            if (!value)
                return DISP_E_EXCEPTION;
            if (*value) {
                int bytes = ::WideCharToMultiByte(CP_THREAD_ACP, 0, value, -1, nullptr, 0, nullptr, nullptr);
                if (bytes <= 0)
                    return E_OUTOFMEMORY;
                char* at = out.Reserve(static_cast<size_t>(bytes));
                if (!at)
                    return E_OUTOFMEMORY;
                if (::WideCharToMultiByte(CP_THREAD_ACP, 0, value, -1, at, bytes, nullptr, nullptr) != bytes)
                    return E_OUTOFMEMORY;
                out.Commit(static_cast<size_t>(bytes) - 1);
            }
            p = close + 1;
            continue;
        }

        size_t step = CharBytes(p);
        if (FAILED(out.Append(p, step)))
            return E_OUTOFMEMORY;
        p += step;
    }

    *expanded = out.Detach();
    return S_OK;
}

void CRegScriptParser::SkipBlanks()
{
    while (IsBlank(*m_pPos))
        ++m_pPos;
}

HRESULT CRegScriptParser::CopyTokenChar(char* token, size_t* length)
{
    size_t bytes = CharBytes(m_pPos);
    if (*length + bytes + 2 > kTokenBufferSize)
        return DISP_E_EXCEPTION;
    std::memcpy(token + *length, m_pPos, bytes);
    *length += bytes;
    m_pPos += bytes;
    return S_OK;
}

HRESULT CRegScriptParser::ReadToken(char* token)
{
    SkipBlanks();
    if (m_pRollbackEnd && m_pPos >= m_pRollbackEnd) {
        m_bRollbackEnded = true;
        token[0] = '}';
        token[1] = '\0';
        return S_OK;
    }
    m_pTokenStart = m_pPos;
    if (*m_pPos == '\0')
        return DISP_E_EXCEPTION;

    size_t length = 0;
    if (*m_pPos == '\'') {
        ++m_pPos;
        while (*m_pPos != '\0' && !(m_pPos[0] == '\'' && m_pPos[1] != '\'')) {
            if (*m_pPos == '\'')
                ++m_pPos; // the first of a doubled pair
            HRESULT hr = CopyTokenChar(token, &length);
            if (FAILED(hr))
                return hr;
        }
        if (*m_pPos == '\0')
            return DISP_E_EXCEPTION;
        token[length] = '\0';
        ++m_pPos;
        return S_OK;
    }
    while (*m_pPos != '\0' && !IsBlank(*m_pPos)) {
        HRESULT hr = CopyTokenChar(token, &length);
        if (FAILED(hr))
            return hr;
    }
    token[length] = '\0';
    return S_OK;
}

HRESULT CRegScriptParser::SkipValueClause(char* token)
{
    if (token[0] != '=')
        return S_OK;
    HRESULT hr = ReadToken(token); // type
    if (SUCCEEDED(hr))
        hr = ReadToken(token); // value
    if (SUCCEEDED(hr))
        hr = ReadToken(token);
    return hr;
}

// Kept out of the recursive walk's frame: its buffers are large.
__attribute__((noinline)) HRESULT CRegScriptParser::WriteValue(HKEY key, LPCSTR valueName, char* token)
{
    HRESULT hr = ReadToken(token);
    if (FAILED(hr))
        return hr;
    char type = '\0';
    for (const char* known : {"S", "M", "D", "B"}) {
        if (IsKeyword(token, known))
            type = known[0];
    }
    if (type == '\0')
        return DISP_E_EXCEPTION;
    SkipBlanks();
    char value[kTokenBufferSize];
    hr = ReadToken(value);
    if (FAILED(hr))
        return hr;

    LONG rc = ERROR_SUCCESS;
    switch (type) {
    case 'S':
        rc = SetStringValue(key, valueName, value);
        break;
    case 'M': {
        // "\0" separates the strings; the list ends at its first empty string.
        // A token fits in kTokenBufferSize with its two terminators.
        char strings[kTokenBufferSize + 2];
        size_t length = 0;
        for (LPCSTR p = value; *p;) {
            if (p[0] == '\\' && p[1] == '0') {
                strings[length++] = '\0';
                p += 2;
                continue;
            }
            size_t bytes = CharBytes(p);
            if (bytes > 1 && p[1] == '\0')
                break;
            std::memcpy(strings + length, p, bytes);
            length += bytes;
            p += bytes;
        }
        strings[length] = '\0';
        strings[length + 1] = '\0';
        DWORD byteCount = 0;
        for (size_t at = 0;;) {
            size_t stringLength = std::strlen(strings + at);
            byteCount += static_cast<DWORD>(stringLength + 1);
            if (stringLength == 0)
                break;
            at += stringLength + 1;
        }
        rc = SetMultiStringValue(key, valueName, strings, byteCount);
        break;
    }
    case 'D': {
        wchar_t wide[kTokenBufferSize];
        if (::MultiByteToWideChar(CP_THREAD_ACP, 0, value, -1, wide, static_cast<int>(kTokenBufferSize)) == 0)
            return E_OUTOFMEMORY;
        ULONG number = 0;
        hr = ::VarUI4FromStr(wide, 0, 0, &number);
        if (FAILED(hr))
            return hr;
        rc = SetDWORDValue(key, valueName, number);
        break;
    }
    case 'B': {
        size_t digits = std::strlen(value);
        if (digits % 2 != 0)
            return E_FAIL;
        BYTE bytes[kTokenBufferSize / 2] = {};
        if (digits / 2 > sizeof(bytes))
            return E_FAIL;
        for (size_t i = 0; i < digits; ++i) {
            int nibble = HexDigitValue(value[i]);
            bytes[i / 2] |= static_cast<BYTE>(i % 2 == 0 ? nibble << 4 : nibble);
        }
        rc = SetBinaryValue(key, valueName, bytes, static_cast<DWORD>(digits / 2));
        break;
    }
    }
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    return ReadToken(token);
}

HRESULT CRegScriptParser::ApplyScript(LPCSTR text, bool registerEntries)
{
    char* expanded = nullptr;
    HRESULT hr = ExpandScript(text, &expanded);
    if (FAILED(hr))
        return hr;
    UniqueTaskMemory expandedOwner(expanded);
    m_pPos = expanded;

    char token[kTokenBufferSize];
    hr = S_OK;
    SkipBlanks();
    while (*m_pPos != '\0') {
        hr = ReadToken(token);
        if (FAILED(hr))
            break;
        HKEY root = RootKeyFromName(token);
        if (!root) {
            hr = DISP_E_EXCEPTION;
            break;
        }
        hr = ReadToken(token);
        if (FAILED(hr))
            break;
        if (token[0] != '{') {
            hr = DISP_E_EXCEPTION;
            break;
        }
        if (registerEntries) {
            LPCSTR blockStart = m_pPos;
            hr = WalkBlock(token, root, true, false, 1);
            if (FAILED(hr)) {
                // Take back what this root block wrote; earlier blocks stay.
                m_pRollbackEnd = m_pTokenStart;
                m_bRollbackEnded = false;
                m_pPos = blockStart;
                WalkBlock(token, root, false, false, 1);
                m_pRollbackEnd = nullptr;
                m_bRollbackEnded = false;
                break;
            }
        } else {
            hr = WalkBlock(token, root, false, false, 1);
            if (FAILED(hr))
                break;
        }
        SkipBlanks();
    }
    m_pPos = nullptr;
    return hr;
}

HRESULT CRegScriptParser::WalkBlock(char* token, HKEY parent, bool registerEntries, bool recovering,
                                    int depth)
{
    if (depth > kMaxBlockDepth)
        return DISP_E_EXCEPTION;
    return registerEntries ? RegisterBlock(token, parent, depth)
                           : UnregisterBlock(token, parent, recovering, depth);
}

HRESULT CRegScriptParser::RegisterBlock(char* token, HKEY parent, int depth)
{
    CRegKeyHandle keyCur;
    HRESULT hr = ReadToken(token);
    if (FAILED(hr))
        return hr;
    while (token[0] != '}') {
        bool isDelete = IsKeyword(token, "Delete");
        if (isDelete || IsKeyword(token, "ForceRemove")) {
            hr = ReadToken(token);
            if (FAILED(hr))
                return hr;
            if (ContainsBackslash(token))
                return DISP_E_EXCEPTION;
            if (IsDeletableKeyName(token)) {
                // The key may simply not be there: a failed deletion is no error.
                DeleteKeyTree(parent, token, m_target.view);
            }
            if (isDelete) {
                hr = ReadToken(token);
                if (SUCCEEDED(hr))
                    hr = SkipValueClause(token);
                if (FAILED(hr))
                    return hr;
                // A deleted key has no block.
                if (IsBlockOpen(token))
                    return DISP_E_EXCEPTION;
                continue;
            }
        }
        if (IsKeyword(token, "NoRemove")) {
            hr = ReadToken(token);
            if (FAILED(hr))
                return hr;
        }
        if (IsKeyword(token, "Val")) {
            hr = RegisterNamedValue(token, parent);
            if (FAILED(hr))
                return hr;
            continue;
        }

        if (ContainsBackslash(token))
            return DISP_E_EXCEPTION;
        // A key that can only be read stays read-only; writing its values then
        // fails with the platform's error.
        if (keyCur.Open(parent, token, Access(KEY_READ | KEY_WRITE)) != ERROR_SUCCESS &&
            keyCur.Open(parent, token, Access(KEY_READ)) != ERROR_SUCCESS) {
            LONG rc = keyCur.Create(parent, token, Access(KEY_READ | KEY_WRITE));
            if (rc != ERROR_SUCCESS)
                return HRESULT_FROM_WIN32(rc);
        }
        hr = ReadToken(token);
        if (FAILED(hr))
            return hr;
        if (token[0] == '=') {
            hr = WriteValue(keyCur.get(), nullptr, token);
            if (FAILED(hr))
                return hr;
        }
        if (IsBlockOpen(token)) {
            hr = WalkBlock(token, keyCur.get(), true, false, depth + 1);
            if (SUCCEEDED(hr))
                hr = ReadToken(token);
            if (FAILED(hr))
                return hr;
        }
    }
    return S_OK;
}

// Kept out of the recursive walk's frame: the value name has a token buffer
// of its own.
__attribute__((noinline)) HRESULT CRegScriptParser::RegisterNamedValue(char* token, HKEY parent)
{
    char szValueName[kTokenBufferSize];
    HRESULT hr = ReadToken(szValueName);
    if (SUCCEEDED(hr))
        hr = ReadToken(token);
    if (FAILED(hr))
        return hr;
    if (token[0] != '=')
        return DISP_E_EXCEPTION;
    hr = WriteValue(parent, szValueName, token);
    if (FAILED(hr))
        return hr;
    // A named value has no block.
    if (IsBlockOpen(token))
        return DISP_E_EXCEPTION;
    return S_OK;
}

__attribute__((noinline)) HRESULT CRegScriptParser::UnregisterNamedValue(char* token, HKEY parent,
                                                                         bool removeValue)
{
    char szValueName[kTokenBufferSize];
    HRESULT hr = ReadToken(szValueName);
    if (SUCCEEDED(hr))
        hr = ReadToken(token);
    if (FAILED(hr) || m_bRollbackEnded)
        return hr;
    if (token[0] != '=')
        return DISP_E_EXCEPTION;
    // The whole entry is read before anything is removed, so that a malformed
    // entry removes nothing.
    hr = ReadToken(token); // type
    if (SUCCEEDED(hr))
        hr = ReadToken(token); // value
    if (FAILED(hr))
        return hr;
    // Registering failed at this value: it was never written.
    if (m_bRollbackEnded)
        return S_OK;
    hr = ReadToken(token);
    if (FAILED(hr))
        return hr;
    if (IsBlockOpen(token))
        return DISP_E_EXCEPTION;
    if (!removeValue)
        return S_OK;
    CRegKeyHandle rkParent;
    LONG rc = rkParent.Open(parent, nullptr, Access(KEY_WRITE));
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    rc = DeleteValue(rkParent.get(), szValueName);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
        return HRESULT_FROM_WIN32(rc);
    return S_OK;
}

HRESULT CRegScriptParser::UnregisterBlock(char* token, HKEY parent, bool recovering, int depth)
{
    HRESULT hr = ReadToken(token);
    if (FAILED(hr))
        return hr;
    while (token[0] != '}') {
        bool removeAllowed = true;
        bool isDelete = IsKeyword(token, "Delete");
        // When unregistering, ForceRemove and Delete name keys like any other.
        if (isDelete || IsKeyword(token, "ForceRemove")) {
            hr = ReadToken(token);
            if (FAILED(hr))
                return hr;
        }
        if (IsKeyword(token, "NoRemove")) {
            removeAllowed = false;
            hr = ReadToken(token);
            if (FAILED(hr))
                return hr;
        }
        if (m_bRollbackEnded)
            continue; // the entry that failed: nothing of it was written
        if (IsKeyword(token, "Val")) {
            hr = UnregisterNamedValue(token, parent, !recovering && removeAllowed);
            if (FAILED(hr))
                return hr;
            continue;
        }
        hr = UnregisterKey(token, parent, removeAllowed, isDelete, recovering, depth);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

// One key entry of the unregister walk; token holds the key name on entry and
// the token after the entry on success.
HRESULT CRegScriptParser::UnregisterKey(char* token, HKEY parent, bool removeAllowed, bool noBlock,
                                        bool recovering, int depth)
{
    if (ContainsBackslash(token))
        return DISP_E_EXCEPTION;

    // While recovering the registry is not touched: the key counts as absent.
    CRegKeyHandle key;
    LONG openResult = ERROR_FILE_NOT_FOUND;
    if (!recovering)
        openResult = key.Open(parent, token, Access(KEY_READ));
    bool blockRecovering = openResult != ERROR_SUCCESS;

    // The whole name is kept: a cut name would remove some other key.
    char szKey[kTokenBufferSize];
    std::memcpy(szKey, token, std::strlen(token) + 1);

    // A default value goes with its key; it is not removed on its own.
    HRESULT hr = ReadToken(token);
    if (SUCCEEDED(hr))
        hr = SkipValueClause(token);
    if (FAILED(hr))
        return hr;
    if (IsBlockOpen(token)) {
        if (noBlock)
            return DISP_E_EXCEPTION;
        // A malformed block ends the walk even while recovering: reading on
        // from its middle would take its tokens for entries of this level.
        hr = WalkBlock(token, key.get(), false, blockRecovering, depth + 1);
        if (SUCCEEDED(hr))
            hr = ReadToken(token);
        if (FAILED(hr))
            return hr;
    }

    if (openResult == ERROR_FILE_NOT_FOUND)
        return S_OK; // an absent key is no error
    if (openResult != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(openResult);

    // Subkeys that others added keep the key; values do not.
    bool hasSubkeys = KeyHasSubkeys(key.get());
    LONG rc = key.Close();
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    if (!removeAllowed || hasSubkeys)
        return S_OK;
    rc = RemoveSubkey(parent, szKey, m_target.view);
    if (rc != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(rc);
    return S_OK;
}
