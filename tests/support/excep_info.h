#pragma once

// The strings an Invoke leaves in the exception information it fills, freed
// when the scope ends, whatever the test asserted in between.

#include <windows.h>
#include <oleauto.h>

namespace testing_support {

class ExcepInfoOwner
{
public:
    ExcepInfoOwner() = default;
    ExcepInfoOwner(const ExcepInfoOwner&) = delete;
    ExcepInfoOwner& operator=(const ExcepInfoOwner&) = delete;
    ~ExcepInfoOwner()
    {
        ::SysFreeString(info_.bstrSource);
        ::SysFreeString(info_.bstrDescription);
        ::SysFreeString(info_.bstrHelpFile);
    }
    EXCEPINFO* get() { return &info_; }
    const EXCEPINFO* operator->() const { return &info_; }

private:
    EXCEPINFO info_ = {};
};

} // namespace testing_support
