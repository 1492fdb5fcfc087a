// The executable's load configuration: the loader resolves the executable's own
// imports, and the libraries those import, from the system folder only, as the
// process does for every later load once its entry point has locked the search
// path. The server and the check program beside it both carry it. The linker
// of this toolchain does not point the image's load-configuration directory at
// this record; the build does that after linking
// (tools/load_config_directory.cpp), finding the record by its section.

#include <windows.h>

namespace {

constexpr IMAGE_LOAD_CONFIG_DIRECTORY MakeLoadConfig()
{
    IMAGE_LOAD_CONFIG_DIRECTORY record = {};
    record.Size = sizeof(record);
    // DependentLoadFlags, under the name this toolchain's headers still give it.
    record.Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32;
    return record;
}

} // namespace

extern "C" __attribute__((used, section(".lcfg"))) constexpr IMAGE_LOAD_CONFIG_DIRECTORY _load_config_used =
    MakeLoadConfig();
