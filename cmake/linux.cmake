# The Linux build: the program's code over our own stand-in for the Win32
# calls it makes, plus the unit tests, which link the same code against a
# recording fake.
find_package(GTest REQUIRED)
include(GoogleTest)

# The window's layout lives only in the .rc: compile it to a .res here too.
find_program(STRELLAN_WINDRES NAMES windres i686-w64-mingw32-windres x86_64-w64-mingw32-windres
             REQUIRED)
set(STRELLAN_RES ${CMAKE_BINARY_DIR}/strellan.res)
add_custom_command(
    OUTPUT ${STRELLAN_RES}
    COMMAND ${STRELLAN_WINDRES} --input-format=rc --output-format=res
            -I ${CMAKE_SOURCE_DIR}/resources
            ${CMAKE_SOURCE_DIR}/resources/strellan.rc ${STRELLAN_RES}
    DEPENDS ${CMAKE_SOURCE_DIR}/resources/strellan.rc
            ${CMAKE_SOURCE_DIR}/resources/resource.h
            ${CMAKE_SOURCE_DIR}/resources/strellan.ico
            ${CMAKE_SOURCE_DIR}/resources/strellan.manifest
    COMMENT "Compiling resources/strellan.rc to strellan.res"
    VERBATIM)
add_custom_target(strellan_res ALL DEPENDS ${STRELLAN_RES})

# The program's own code, as a library so that the stand-in and the unit tests
# link the very same objects.
add_library(strellan_program STATIC ${STRELLAN_PROGRAM_SOURCES})
target_include_directories(strellan_program PUBLIC ${CMAKE_SOURCE_DIR})

# Reading .res files and dialog templates: plain byte parsing, no X.
add_library(strellan_resources STATIC
    ${CMAKE_SOURCE_DIR}/platform/linux/res_file.cpp
    ${CMAKE_SOURCE_DIR}/platform/linux/dialog_template.cpp)
target_include_directories(strellan_resources PUBLIC ${CMAKE_SOURCE_DIR})

add_executable(unit_tests
    ${CMAKE_SOURCE_DIR}/tests/unit/fake_win32.cpp
    ${CMAKE_SOURCE_DIR}/tests/unit/tuner_dialog_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/unit/winmain_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/unit/resources_test.cpp)
target_link_libraries(unit_tests PRIVATE strellan_program strellan_resources GTest::gtest_main)
target_compile_definitions(unit_tests PRIVATE STRELLAN_RES_PATH="${STRELLAN_RES}")
add_dependencies(unit_tests strellan_res)
gtest_discover_tests(unit_tests)

add_custom_target(run
    COMMAND ${CMAKE_COMMAND} -E echo
            "Strellan on Linux is not yet available: its dialog manager and MIDI Mapper stand-in come next. Build the Windows program with 'make build' and run build/windows-x86/strellan.exe under Wine."
    VERBATIM)
