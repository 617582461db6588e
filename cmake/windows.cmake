# The Windows program: a 32-bit GUI-subsystem strellan.exe, self-contained
# (libgcc and libstdc++ linked in), importing only kernel32, msvcrt, user32
# and winmm.
enable_language(RC)

add_executable(strellan WIN32 ${STRELLAN_PROGRAM_SOURCES} ${CMAKE_SOURCE_DIR}/resources/strellan.rc)
target_include_directories(strellan PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(strellan PRIVATE user32 winmm)
target_link_options(strellan PRIVATE -static -s)
# The .rc pulls in the icon and manifest by name.
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/strellan.rc PROPERTIES
    OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/resources/strellan.ico;${CMAKE_SOURCE_DIR}/resources/strellan.manifest;${CMAKE_SOURCE_DIR}/resources/resource.h")

# A recording winmm.dll for the end-to-end tests under Wine.
add_library(winmm_double SHARED ${CMAKE_SOURCE_DIR}/tests/winmm_double/winmm_double.c
                                ${CMAKE_SOURCE_DIR}/tests/winmm_double/winmm.def)
set_target_properties(winmm_double PROPERTIES OUTPUT_NAME winmm PREFIX "")
target_link_options(winmm_double PRIVATE -static -s -Wl,--enable-stdcall-fixup)

strellan_e2e_test(wine_e2e test_wine 1800
    STRELLAN_EXE=$<TARGET_FILE:strellan>
    STRELLAN_WINMM_DOUBLE=$<TARGET_FILE:winmm_double>
    STRELLAN_OBJDUMP=${CMAKE_OBJDUMP})
