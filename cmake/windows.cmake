# The Windows program: a 32-bit GUI-subsystem strellan.exe, self-contained
# (the C and C++ runtimes linked in), importing only kernel32, msvcrt,
# user32 and winmm.
enable_language(RC)

add_executable(strellan WIN32 ${STRELLAN_PROGRAM_SOURCES} ${CMAKE_SOURCE_DIR}/resources/strellan.rc)
target_include_directories(strellan PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(strellan PRIVATE user32 winmm)
if(MINGW)
    # Hardened: a stack protector (its guard our own, see the file), loaded
    # at a random base (relocations kept) with a stack and data that do not
    # execute.
    set(guard ${CMAKE_SOURCE_DIR}/platform/windows/stack_protector.c)
    target_sources(strellan PRIVATE ${guard})
    target_compile_options(strellan PRIVATE -fstack-protector-strong)
    set_source_files_properties(${guard} PROPERTIES COMPILE_OPTIONS -fno-stack-protector)
    target_link_options(strellan PRIVATE -static -s -Wl,--dynamicbase -Wl,--nxcompat)
elseif(MSVC)
    set_property(TARGET strellan PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded")
endif()
# The .rc pulls in the icon and manifest by name.
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/strellan.rc PROPERTIES
    OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/resources/strellan.ico;${CMAKE_SOURCE_DIR}/resources/strellan.manifest;${CMAKE_SOURCE_DIR}/resources/resource.h")
