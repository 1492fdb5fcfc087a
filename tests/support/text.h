#pragma once

// Wide text as the tests compare and print it, and as the test programs log
// it: UTF-8, whatever letters it holds.

#include <filesystem>
#include <string>

namespace testing_support {

inline std::string Utf8(const std::wstring& text)
{
    return std::filesystem::path(text).u8string();
}

} // namespace testing_support
