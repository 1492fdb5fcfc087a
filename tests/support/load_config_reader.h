#pragma once

// A built executable's load configuration as the loader finds it: through the
// image's directory, in the section that holds it. Either bitness, so that a
// test program reads the other build's programs too.

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testing_support {

struct LoadConfig
{
    DWORD directorySize = 0; // what the image's directory says
    DWORD recordSize = 0;    // what the record says of itself
    WORD dependentLoadFlags = 0;
    ULONGLONG securityCookie = 0;
};

template <typename T> bool ReadImageAt(const std::vector<BYTE>& image, size_t offset, T* value)
{
    if (offset > image.size() || image.size() - offset < sizeof(T))
        return false;
    std::memcpy(value, image.data() + offset, sizeof(T));
    return true;
}

// The record's fields at their offsets for the image's bitness; false when the
// directory points nowhere in the file.
inline bool ReadLoadConfig(const std::wstring& path, LoadConfig* config)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    const std::vector<BYTE> image{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    IMAGE_DOS_HEADER dos = {};
    IMAGE_FILE_HEADER file = {};
    WORD magic = 0;
    if (!ReadImageAt(image, 0, &dos) || !ReadImageAt(image, dos.e_lfanew + 4, &file) ||
        !ReadImageAt(image, dos.e_lfanew + 4 + sizeof(file), &magic))
        return false;
    const size_t optional = dos.e_lfanew + 4 + sizeof(file);
    const bool wide = magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    const size_t directories = optional + (wide ? offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory)
                                                : offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory));
    IMAGE_DATA_DIRECTORY directory = {};
    if (!ReadImageAt(image, directories + IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG * sizeof(directory), &directory))
        return false;
    config->directorySize = directory.Size;
    const size_t sections = optional + file.SizeOfOptionalHeader;
    for (WORD i = 0; i < file.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER section = {};
        if (!ReadImageAt(image, sections + i * sizeof(section), &section))
            return false;
        const DWORD offset = directory.VirtualAddress - section.VirtualAddress;
        if (directory.VirtualAddress < section.VirtualAddress || offset >= section.SizeOfRawData)
            continue;
        const size_t record = section.PointerToRawData + offset;
        if (wide) {
            return ReadImageAt(image, record, &config->recordSize) &&
                   ReadImageAt(image, record + offsetof(IMAGE_LOAD_CONFIG_DIRECTORY64, Reserved1),
                               &config->dependentLoadFlags) &&
                   ReadImageAt(image, record + offsetof(IMAGE_LOAD_CONFIG_DIRECTORY64, SecurityCookie),
                               &config->securityCookie);
        }
        DWORD cookie = 0;
        const bool read =
            ReadImageAt(image, record, &config->recordSize) &&
            ReadImageAt(image, record + offsetof(IMAGE_LOAD_CONFIG_DIRECTORY32, Reserved1),
                        &config->dependentLoadFlags) &&
            ReadImageAt(image, record + offsetof(IMAGE_LOAD_CONFIG_DIRECTORY32, SecurityCookie), &cookie);
        config->securityCookie = cookie;
        return read;
    }
    return false;
}

} // namespace testing_support
