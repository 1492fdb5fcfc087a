#include "check/registration_check.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "registration/reg_key.h"

namespace {

const wchar_t kUserClasses[] = L"Software\\Classes";

bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// The text of a string value, up to its terminator.
std::wstring TextOf(const RegistryValue& value)
{
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ)
        return std::wstring();
    std::wstring text(reinterpret_cast<const wchar_t*>(value.data.data()),
                      value.data.size() / sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
}

// The program a server value names: the part in double quotes, or the whole.
std::wstring Unquote(const std::wstring& text)
{
    if (!text.empty() && text[0] == L'"') {
        const size_t close = text.find(L'"', 1);
        return text.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    }
    return text;
}

std::wstring Show(const RegistryValue& value)
{
    if (value.type == REG_SZ || value.type == REG_EXPAND_SZ)
        return L"'" + TextOf(value) + L"'";
    if (value.type == REG_DWORD && value.data.size() == sizeof(DWORD))
        return std::to_wstring(*reinterpret_cast<const DWORD*>(value.data.data()));
    return std::to_wstring(value.data.size()) + L" bytes of type " + std::to_wstring(value.type);
}

bool SameValue(const RegistryValue& expected, const RegistryValue& actual)
{
    if (expected.type == REG_SZ && actual.type == REG_SZ)
        return EqualsIgnoringCase(TextOf(expected), TextOf(actual));
    return expected.type == actual.type && expected.data == actual.data;
}

bool ReadValue(HKEY key, const std::wstring& name, RegistryValue* value)
{
    const wchar_t* valueName = name.empty() ? nullptr : name.c_str();
    DWORD size = 0;
    if (::RegQueryValueExW(key, valueName, nullptr, &value->type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    value->data.resize(size);
    if (::RegQueryValueExW(key, valueName, nullptr, &value->type, value->data.data(), &size) != ERROR_SUCCESS)
        return false;
    value->data.resize(size);
    return true;
}

std::wstring ParentOf(const std::wstring& path)
{
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool IsBelow(const std::wstring& path, const std::wstring& key)
{
    return path.size() > key.size() && path[key.size()] == L'\\' && path.compare(0, key.size(), key) == 0;
}

// Where an entry is read: machine-wide classes are read under
// HKLM\Software\Classes, not through HKEY_CLASSES_ROOT, which on Windows shows
// the user's classes over them.
struct Location
{
    HKEY root;
    std::wstring path;
    // The path below the classes key; none for the keys that hold the classes.
    std::optional<std::wstring> classesPath;
};

Location LocationOf(const ScriptEntry& entry)
{
    if (entry.root == HKEY_CLASSES_ROOT)
        return {HKEY_LOCAL_MACHINE, std::wstring(kUserClasses) + L"\\" + entry.keyPath, entry.keyPath};
    const std::wstring classes = kUserClasses;
    if (entry.root == HKEY_CURRENT_USER && IsBelow(entry.keyPath, classes))
        return {entry.root, entry.keyPath, entry.keyPath.substr(classes.size() + 1)};
    if (entry.root == HKEY_CURRENT_USER && (entry.keyPath == classes || IsBelow(classes, entry.keyPath)))
        return {entry.root, entry.keyPath, std::nullopt};
    return {entry.root, entry.keyPath, entry.keyPath};
}

enum class Problem
{
    Missing,       // a key or value is not there, or holds something else
    WrittenOther,  // names this server, written otherwise than registration writes it
    OtherCopy,     // names another copy of the server that exists
    MissingServer, // names a server that does not exist
};

// "subject predicate": findings that say the same of several subjects (the
// values that name one missing server) are said once, with the plural form.
struct Finding
{
    Problem problem;
    CheckStatus status;
    std::wstring subject;
    std::wstring predicate;
    std::wstring pluralPredicate;

    std::wstring Text() const { return subject + L" " + predicate; }
};

// What one registry view of one scope holds.
struct ViewState
{
    // One of the registration's own keys (a class key, a ProgID) is there.
    bool present = false;
    std::vector<Finding> findings;
};

class ViewReader
{
public:
    ViewReader(const std::vector<ScriptEntry>& entries, REGSAM view, const std::wstring& server)
        : m_entries(entries), m_view(view), m_server(server)
    {
        for (const ScriptEntry& entry : entries) {
            const Location where = LocationOf(entry);
            if (!where.classesPath)
                continue;
            if (!entry.isValue && entry.noRemove)
                m_shared.insert(*where.classesPath);
            if (entry.isValue && entry.valueName.empty() && entry.value.type == REG_SZ)
                m_labels.emplace(*where.classesPath, TextOf(entry.value));
        }
    }

    ViewState Read()
    {
        ViewState state;
        std::vector<std::wstring> missingKeys;
        for (const ScriptEntry& entry : m_entries) {
            const Location where = LocationOf(entry);
            if (!where.classesPath || Below(*where.classesPath, missingKeys))
                continue;
            const std::wstring& path = *where.classesPath;
            UniqueHKey key;
            const bool opened =
                OpenRegKey(where.root, where.path.c_str(), KEY_READ | m_view, &key) == ERROR_SUCCESS;
            if (!entry.isValue) {
                if (!opened) {
                    missingKeys.push_back(path);
                    if (!entry.noRemove)
                        Add(&state, {Problem::Missing, CheckStatus::Fail, Name(path), L"is missing", L""});
                } else if (IsOwnKey(entry, path)) {
                    state.present = true;
                }
                continue;
            }
            if (!opened)
                continue; // reported with its key
            RegistryValue actual;
            if (!ReadValue(key.get(), entry.valueName, &actual)) {
                Add(&state,
                    {Problem::Missing, CheckStatus::Fail, ValueName(entry, path), L"is missing", L""});
                continue;
            }
            CompareValue(entry, path, actual, &state);
        }
        return state;
    }

private:
    static bool Below(const std::wstring& path, const std::vector<std::wstring>& keys)
    {
        for (const std::wstring& key : keys) {
            if (IsBelow(path, key))
                return true;
        }
        return false;
    }

    // A key of the registration's own: not shared, directly in the classes
    // or in a shared key (a ProgID, a class key).
    bool IsOwnKey(const ScriptEntry& entry, const std::wstring& path) const
    {
        const std::wstring parent = ParentOf(path);
        return !entry.noRemove && (parent.empty() || m_shared.count(parent));
    }

    std::wstring Name(const std::wstring& path) const
    {
        // A class key is known by its name for people.
        auto label = m_labels.find(path);
        if (label != m_labels.end() && m_shared.count(ParentOf(path)))
            return path + L" ('" + label->second + L"')";
        return path;
    }

    static std::wstring ValueName(const ScriptEntry& entry, const std::wstring& path)
    {
        return entry.valueName.empty() ? path : path + L" value '" + entry.valueName + L"'";
    }

    static void Add(ViewState* state, Finding finding) { state->findings.push_back(std::move(finding)); }

    void CompareValue(const ScriptEntry& entry, const std::wstring& path, const RegistryValue& actual,
                      ViewState* state) const
    {
        if (SameValue(entry.value, actual))
            return;
        const std::wstring where = ValueName(entry, path);
        const std::wstring expected = TextOf(entry.value);
        const std::wstring differs = L"is " + Show(actual) + L", registration writes " + Show(entry.value);
        if (expected.empty() || !EqualsIgnoringCase(Unquote(expected), m_server)) {
            Add(state, {Problem::Missing, CheckStatus::Warn, where, differs, L""});
            return;
        }
        // A value that names the server: which server, and does it exist?
        const std::wstring named = Unquote(TextOf(actual));
        if (SamePath(named, m_server))
            Add(state, {Problem::WrittenOther, CheckStatus::Warn, where, differs, L""});
        else if (FileExists(named))
            Add(state, {Problem::OtherCopy, CheckStatus::Warn, where,
                        L"points at another copy of the server: " + named,
                        L"point at another copy of the server: " + named});
        else
            Add(state, {Problem::MissingServer, CheckStatus::Fail, where,
                        L"points at " + named + L", which does not exist",
                        L"point at " + named + L", which does not exist"});
    }

    const std::vector<ScriptEntry>& m_entries;
    const REGSAM m_view;
    const std::wstring& m_server;
    std::set<std::wstring> m_shared;
    std::map<std::wstring, std::wstring> m_labels;
};

struct ScopeState
{
    std::vector<ViewState> views;
    bool AnyPresent() const
    {
        for (const ViewState& view : views) {
            if (view.present)
                return true;
        }
        return false;
    }
};

ScopeState ReadScope(const Installation& installation, const std::vector<ScriptEntry>& entries)
{
    ScopeState scope;
    for (const RegistryView& view : installation.views)
        scope.views.push_back(ViewReader(entries, view.flag, installation.server).Read());
    return scope;
}

// The views named in a sentence: "the 32-bit view", "both views".
std::wstring ViewsPhrase(const Installation& installation, const std::vector<size_t>& views)
{
    if (installation.views.size() == 1)
        return std::wstring();
    if (views.size() == installation.views.size())
        return L"in both views: ";
    return std::wstring(L"in the ") + installation.views[views[0]].name + L" view: ";
}

// The findings of every present view, each said once with the views it was
// found in; returns the worst status and the problems found.
CheckStatus Summarize(const Installation& installation, const ScopeState& scope,
                      std::vector<std::wstring>* lines, std::set<Problem>* problems)
{
    std::vector<std::pair<const Finding*, std::vector<size_t>>> merged;
    for (size_t v = 0; v < scope.views.size(); ++v) {
        if (!scope.views[v].present)
            continue;
        for (const Finding& finding : scope.views[v].findings) {
            auto same = std::find_if(merged.begin(), merged.end(),
                                     [&](const auto& m) { return m.first->Text() == finding.Text(); });
            if (same == merged.end())
                merged.push_back({&finding, {v}});
            else
                same->second.push_back(v);
        }
    }
    CheckStatus status = CheckStatus::Ok;
    std::vector<bool> said(merged.size(), false);
    for (size_t i = 0; i < merged.size(); ++i) {
        const auto& [finding, views] = merged[i];
        problems->insert(finding->problem);
        status = Worse(status, finding->status);
        if (said[i])
            continue;
        // The other subjects of which the same is said in the same views.
        std::vector<std::wstring> subjects{finding->subject};
        for (size_t j = i + 1; j < merged.size() && !finding->pluralPredicate.empty(); ++j) {
            if (!said[j] && merged[j].first->predicate == finding->predicate && merged[j].second == views) {
                subjects.push_back(merged[j].first->subject);
                said[j] = true;
            }
        }
        std::wstring text;
        for (size_t k = 0; k < subjects.size(); ++k)
            text += (k == 0 ? L"" : k + 1 == subjects.size() ? L" and " : L", ") + subjects[k];
        text += L" " + (subjects.size() == 1 ? finding->predicate : finding->pluralPredicate);
        lines->push_back(ViewsPhrase(installation, views) + text);
    }
    return status;
}

std::wstring ViewNames(const Installation& installation, const std::vector<size_t>& views)
{
    std::wstring text;
    for (size_t i = 0; i < views.size(); ++i)
        text += (i ? L" and the " : L"the ") + std::wstring(installation.views[views[i]].name);
    return text + (views.size() == 1 ? L" view" : L" views");
}

CheckResult MachineResult(const Installation& installation, const ScopeState& machine, const ScopeState& user)
{
    CheckResult result{L"registration-machine", L"Registration, machine-wide"};
    std::vector<std::wstring> lines;
    std::set<Problem> problems;
    result.status = Summarize(installation, machine, &lines, &problems);

    std::vector<size_t> unregistered;
    std::vector<size_t> servedPerUser;
    for (size_t v = 0; v < machine.views.size(); ++v) {
        if (machine.views[v].present)
            continue;
        (user.views[v].present ? servedPerUser : unregistered).push_back(v);
    }
    if (!unregistered.empty()) {
        const bool none = unregistered.size() == machine.views.size();
        lines.insert(lines.begin(), none ? std::wstring(L"the server is not registered")
                                         : L"nothing registered in " + ViewNames(installation, unregistered) +
                                               L": " + installation.views[unregistered[0]].name +
                                               L" programs cannot find the classes");
        result.status = CheckStatus::Fail;
        problems.insert(Problem::Missing);
    }

    if (result.status == CheckStatus::Ok) {
        result.detail =
            servedPerUser.size() == machine.views.size()
                ? L"none; the per-user registration serves this user"
                : L"both classes with their ProgIDs, handler, verbs, status and user types as the "
                  L"server's scripts write them, naming this server";
        if (!servedPerUser.empty() && servedPerUser.size() < machine.views.size())
            result.detail += L" (" + ViewNames(installation, servedPerUser) + L" served per user)";
        return result;
    }
    result.detail = JoinFindings(lines);
    result.advice =
        RegisterAgainAdvice(installation, L" for every user") + L"; it writes both registry views.";
    if (problems.count(Problem::MissingServer))
        result.advice = L"the server was moved or removed after it was registered; " + result.advice;
    if (problems.count(Problem::OtherCopy))
        result.advice += L" If the other copy is the one in use, run the QuillmorphCheck beside it instead.";
    return result;
}

CheckResult UserResult(const Installation& installation, const ScopeState& machine, const ScopeState& user)
{
    CheckResult result{L"registration-user", L"Registration, per user"};
    if (!user.AnyPresent()) {
        result.detail = L"none; the machine-wide registration serves this user";
        return result;
    }
    std::vector<std::wstring> lines;
    std::set<Problem> problems;
    result.status = Summarize(installation, user, &lines, &problems);

    std::vector<size_t> shadowing;
    std::vector<size_t> registered;
    for (size_t v = 0; v < user.views.size(); ++v) {
        if (!user.views[v].present)
            continue;
        registered.push_back(v);
        if (machine.views[v].present)
            shadowing.push_back(v);
    }
    const std::wstring regServer = QuotedCommand(installation.server, L"/RegServerPerUser");
    const std::wstring unregServer = QuotedCommand(installation.server, L"/UnregServerPerUser");
    if (!shadowing.empty()) {
        lines.insert(lines.begin(),
                     L"a per-user registration under HKEY_CURRENT_USER\\Software\\Classes shadows "
                     L"the machine-wide one for this user in " +
                         ViewNames(installation, shadowing));
        result.status = Worse(result.status, CheckStatus::Warn);
        result.advice =
            L"for this user the per-user entries take precedence over the machine-wide ones. If the "
            L"machine-wide registration is the one to use, remove the per-user one: " +
            unregServer + L".";
    }
    if (result.status == CheckStatus::Ok) {
        result.detail = L"registered for this user only, in " + ViewNames(installation, registered) +
                        L", as the server's scripts write it, naming this server";
        return result;
    }
    result.detail = JoinFindings(lines);
    if (problems.size() > 0)
        result.advice += (result.advice.empty() ? L"" : L" Otherwise, ") +
                         std::wstring(L"register it again for this user: ") + regServer +
                         L" (or QuillmorphCheck --repair --per-user).";
    return result;
}

} // namespace

std::vector<CheckResult> CheckRegistration(const Installation& installation)
{
    const ScopeState machine = ReadScope(installation, installation.machineEntries);
    const ScopeState user = ReadScope(installation, installation.userEntries);
    return {MachineResult(installation, machine, user), UserResult(installation, machine, user)};
}
