// Where the server's process loads libraries from once it has started: a
// library planted beside the executable is not loaded by name, the system's
// libraries still are. The lock holds for the whole process, so this program
// tests nothing else.

#include <gtest/gtest.h>

#include <cstddef>

#include "server/handles.h"
#include "server/library_search.h"
#include "support/load_config_reader.h"
#include "support/test_support.h"

namespace {

TEST(LibrarySearch, TheServersOwnImportsAreResolvedFromTheSystemFolder)
{
    testing_support::LoadConfig config;
    ASSERT_TRUE(testing_support::ReadLoadConfig(QUILLMORPH_SERVER_EXE, &config))
        << "the image's directory points into a section";
    EXPECT_EQ(config.directorySize, config.recordSize);
    ASSERT_GE(config.recordSize, offsetof(IMAGE_LOAD_CONFIG_DIRECTORY, Reserved1) + sizeof(WORD));
    // DependentLoadFlags, under the name this toolchain's headers give it.
    EXPECT_EQ(config.dependentLoadFlags, LOAD_LIBRARY_SEARCH_SYSTEM32);
    EXPECT_EQ(config.securityCookie, 0u) << "the loader must not write a cookie of its own into the image";
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
