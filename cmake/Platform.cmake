# Compiler settings shared by the server, its tests and its tools.

set(QUILLMORPH_SYSTEM_LIBS ole32 oleaut32 uuid shlwapi gdi32 comdlg32 user32 advapi32 kernel32)

add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX STRICT)

# Static runtime: the executable needs no MinGW DLLs beside it.
add_link_options(-static -static-libgcc -static-libstdc++)

# Warnings as errors for the project's own code (not for GoogleTest).
function(quillmorph_project_code target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# Programs built here run under Wine, in a prefix of the build tree's own.
find_program(QUILLMORPH_WINE wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_program(QUILLMORPH_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine NO_DEFAULT_PATH
             NO_CMAKE_FIND_ROOT_PATH)
find_program(QUILLMORPH_WINE32 wine PATHS /usr/lib/wine NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT QUILLMORPH_WINE32)
    set(QUILLMORPH_WINE32 "")
endif()
set(QUILLMORPH_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
if(QUILLMORPH_WINE AND QUILLMORPH_WINESERVER)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE @ONLY)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
endif()

# A build-tree path as a Windows program sees it: under Wine drive Z: is /.
function(quillmorph_windows_path out path)
    if(CMAKE_HOST_WIN32)
        file(TO_NATIVE_PATH "${path}" _p)
        string(REPLACE "\\" "\\\\" _p "${_p}")
    else()
        string(REPLACE "/" "\\\\" _p "${path}")
        set(_p "Z:${_p}")
    endif()
    set(${out} "${_p}" PARENT_SCOPE)
endfunction()
