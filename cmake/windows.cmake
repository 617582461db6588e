# The Windows program: a 32-bit GUI-subsystem strellan.exe, self-contained
# (the C and C++ runtimes linked in), importing only kernel32, msvcrt,
# user32 and winmm.
enable_language(RC)

add_executable(strellan WIN32 ${STRELLAN_PROGRAM_SOURCES} ${CMAKE_SOURCE_DIR}/resources/strellan.rc)
target_include_directories(strellan PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(strellan PRIVATE user32 winmm)
if(MINGW)
    target_link_options(strellan PRIVATE -static -s)
elseif(MSVC)
    set_property(TARGET strellan PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded")
endif()
# The .rc pulls in the icon and manifest by name.
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/strellan.rc PROPERTIES
    OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/resources/strellan.ico;${CMAKE_SOURCE_DIR}/resources/strellan.manifest;${CMAKE_SOURCE_DIR}/resources/resource.h")
