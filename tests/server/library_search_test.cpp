// Where the server's process loads libraries from once it has started: a
// library planted beside the executable is not loaded by name, the system's
// libraries still are. The lock holds for the whole process, so this program
// tests nothing else.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "server/handles.h"
#include "server/library_search.h"
#include "support/test_support.h"

namespace {

// The built server's load configuration as the loader finds it: through the
// image's directory, in the section that holds it.
bool ReadServerLoadConfig(IMAGE_DATA_DIRECTORY* directory, IMAGE_LOAD_CONFIG_DIRECTORY* config)
{
    UniqueKernelHandle file = AdoptFileHandle(::CreateFileW(
        QUILLMORPH_SERVER_EXE, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return false;
    std::vector<BYTE> image(::GetFileSize(file.get(), nullptr));
    DWORD read = 0;
    if (!::ReadFile(file.get(), image.data(), static_cast<DWORD>(image.size()), &read, nullptr) ||
        read != image.size())
        return false;
    IMAGE_DOS_HEADER dos = {};
    IMAGE_NT_HEADERS headers = {};
    std::memcpy(&dos, image.data(), sizeof(dos));
    std::memcpy(&headers, image.data() + dos.e_lfanew, sizeof(headers));
    *directory = headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG];
    const size_t sections =
        dos.e_lfanew + offsetof(IMAGE_NT_HEADERS, OptionalHeader) + headers.FileHeader.SizeOfOptionalHeader;
    for (WORD i = 0; i < headers.FileHeader.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER section = {};
        std::memcpy(&section, image.data() + sections + i * sizeof(section), sizeof(section));
        const DWORD offset = directory->VirtualAddress - section.VirtualAddress;
        if (directory->VirtualAddress < section.VirtualAddress || offset >= section.SizeOfRawData)
            continue;
        std::memcpy(config, image.data() + section.PointerToRawData + offset, sizeof(*config));
        return true;
    }
    return false;
}

TEST(LibrarySearch, TheServersOwnImportsAreResolvedFromTheSystemFolder)
{
    IMAGE_DATA_DIRECTORY directory = {};
    IMAGE_LOAD_CONFIG_DIRECTORY config = {};
    ASSERT_TRUE(ReadServerLoadConfig(&directory, &config)) << "the image's directory points into a section";
    EXPECT_EQ(directory.Size, config.Size);
    ASSERT_GE(config.Size, offsetof(IMAGE_LOAD_CONFIG_DIRECTORY, Reserved1) + sizeof(config.Reserved1));
    // DependentLoadFlags, under the name this toolchain's headers give it.
    EXPECT_EQ(config.Reserved1, LOAD_LIBRARY_SEARCH_SYSTEM32);
    EXPECT_EQ(config.SecurityCookie, 0u) << "the loader must not write a cookie of its own into the image";
}

TEST(LibrarySearch, APlantedLibraryBesideTheProgramIsNoLongerLoadedByNameOnceTheSearchIsLocked)
{
    const wchar_t planted[] = L"quillmorph_planted_library.dll";
    {
        UniqueModule found(::LoadLibraryW(planted));
        ASSERT_TRUE(found) << "before the lock the program's own folder is searched";
    }
    ASSERT_EQ(::GetModuleHandleW(planted), nullptr);

    EXPECT_TRUE(LockLibrarySearchPath());
    UniqueModule after(::LoadLibraryW(planted));
    EXPECT_FALSE(after);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    // What the printer dialog loads while it runs still comes from the system folder.
    UniqueModule spooler(::LoadLibraryW(L"winspool.drv"));
    EXPECT_TRUE(spooler);
}

} // namespace
