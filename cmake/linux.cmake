# The Linux program: the program's code over our own stand-in for the Win32
# calls it makes, one library per folder of platform/linux.

# Hardened as Debian hardens its packages (dpkg-buildflags with
# hardening=+all): PIE, full RELRO with immediate binding, the strong stack
# protector, _FORTIFY_SOURCE where optimising, a stack that does not
# execute; and CET where the compiler has it.
include(CheckPIESupported)
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    add_compile_options(-fstack-protector-strong -fstack-clash-protection
                        "$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
    include(CheckCXXCompilerFlag)
    check_cxx_compiler_flag(-fcf-protection STRELLAN_HAVE_CET)
    if(STRELLAN_HAVE_CET)
        add_compile_options(-fcf-protection)
    endif()
    add_link_options(-Wl,-z,relro -Wl,-z,now -Wl,-z,noexecstack)
endif()

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
