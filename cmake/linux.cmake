# The Linux program: the program's code over our own stand-in for the Win32
# calls it makes, one library per folder of platform/linux.

# The program's own code, as a library so that the stand-in and the unit
# tests link the very same objects.
add_library(strellan_program STATIC ${STRELLAN_PROGRAM_SOURCES})
target_include_directories(strellan_program PUBLIC ${CMAKE_SOURCE_DIR})

add_subdirectory(platform/linux/res)
add_subdirectory(platform/linux/user32)
add_subdirectory(platform/linux/winmm)

add_executable(strellan ${CMAKE_SOURCE_DIR}/platform/linux/main.cpp)
target_link_libraries(strellan PRIVATE strellan_program user32 winmm)

add_custom_target(run COMMAND $<TARGET_FILE:strellan> DEPENDS strellan VERBATIM)
