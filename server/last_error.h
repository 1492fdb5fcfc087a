#pragma once

#include <windows.h>

// The platform's last error as a status; never a success, even when the
// platform left no error code behind.
inline HRESULT LastErrorResult()
{
    const DWORD error = ::GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}
