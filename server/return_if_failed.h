#pragma once

// The early return of a failure, for a run of steps of which the first failure
// ends the whole: RETURN_IF_FAILED(step) evaluates step once and returns its
// HRESULT from the enclosing function when it is a failure.

#include <windows.h>

#define RETURN_IF_FAILED(step)                                                                               \
    do {                                                                                                     \
        const HRESULT returnIfFailedResult_ = (step);                                                        \
        if (FAILED(returnIfFailedResult_))                                                                   \
            return returnIfFailedResult_;                                                                    \
    } while (false)
