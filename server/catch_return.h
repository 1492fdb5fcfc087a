#pragma once

// No exception leaves a method the platform calls: the runtime cannot carry
// one back to the caller, and in this build it would end the process, and with
// it every container's drawings. Written after a function-try-block, so that
// the guard shows where the method's body opens:
//
//   STDMETHODIMP CDispinterface::Activate(VARIANT e)
//   try {
//       ...
//   }
//   CATCH_RETURN_HRESULT()
//
// Running out of memory is a result the caller can act on; anything else is a
// fault of the server's own, reported as such.

#include <windows.h>

#include <new>

#define CATCH_RETURN_HRESULT()                                                                               \
    catch (const std::bad_alloc&)                                                                            \
    {                                                                                                        \
        return E_OUTOFMEMORY;                                                                                \
    }                                                                                                        \
    catch (...)                                                                                              \
    {                                                                                                        \
        return E_UNEXPECTED;                                                                                 \
    }
