#include "server/command_line.h"

namespace {

constexpr char szTokens[] = "-/";

char UpperChar(char c)
{
    // The single-character form: the byte value in place of a string pointer.
    return static_cast<char>(reinterpret_cast<UINT_PTR>(
        ::CharUpperA(reinterpret_cast<LPSTR>(static_cast<UINT_PTR>(static_cast<unsigned char>(c))))));
}

bool IsWordEnd(char c)
{
    return c == '\0' || c == ' ' || c == '\t';
}

} // namespace

LPCSTR FindSwitchStart(LPCSTR s)
{
    if (!s)
        return nullptr;
    for (LPCSTR p = s; *p != '\0'; p = ::CharNextA(p)) {
        for (LPCSTR t = szTokens; *t != '\0'; ++t) {
            if (*p == *t)
                return ::CharNextA(p);
        }
    }
    return nullptr;
}

int CompareSwitchWord(LPCSTR a, LPCSTR b)
{
    char ca = UpperChar(*a);
    char cb = UpperChar(*b);
    while (ca != '\0' && ca == cb && ca != ' ' && ca != '\t') {
        a = ::CharNextA(a);
        b = ::CharNextA(b);
        ca = UpperChar(*a);
        cb = UpperChar(*b);
    }
    if (IsWordEnd(ca) && IsWordEnd(cb))
        return 0;
    return static_cast<signed char>(ca) < static_cast<signed char>(cb) ? -1 : 1;
}

ServerSwitch FindServerSwitch(LPCSTR commandLine)
{
    static const struct
    {
        const char* keyword;
        ServerSwitch value;
    } keywords[] = {
        {"UnregServer", ServerSwitch::UnregServer},
        {"RegServer", ServerSwitch::RegServer},
        {"UnregServerPerUser", ServerSwitch::UnregServerPerUser},
        {"RegServerPerUser", ServerSwitch::RegServerPerUser},
    };
    for (LPCSTR p = FindSwitchStart(commandLine); p; p = FindSwitchStart(p)) {
        for (const auto& k : keywords) {
            if (CompareSwitchWord(p, k.keyword) == 0)
                return k.value;
        }
    }
    return ServerSwitch::None;
}
