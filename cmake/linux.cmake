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

# The stand-in for the dialog manager, on Xlib and Xft, with the .res
# embedded so that the window is built from the very same template.
enable_language(ASM)
find_package(X11 REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(XFT REQUIRED IMPORTED_TARGET xft fontconfig)

set_source_files_properties(${CMAKE_SOURCE_DIR}/platform/linux/resources.S PROPERTIES
    COMPILE_DEFINITIONS "STRELLAN_RES_FILE=\"${STRELLAN_RES}\""
    OBJECT_DEPENDS ${STRELLAN_RES})
add_library(strellan_standin STATIC
    ${CMAKE_SOURCE_DIR}/platform/linux/desktop.cpp
    ${CMAKE_SOURCE_DIR}/platform/linux/window.cpp
    ${CMAKE_SOURCE_DIR}/platform/linux/dialog.cpp
    ${CMAKE_SOURCE_DIR}/platform/linux/button.cpp
    ${CMAKE_SOURCE_DIR}/platform/linux/message_loop.cpp
    ${CMAKE_SOURCE_DIR}/platform/linux/icon.cpp
    ${CMAKE_SOURCE_DIR}/platform/linux/resources.cpp
    ${CMAKE_SOURCE_DIR}/platform/linux/resources.S)
add_dependencies(strellan_standin strellan_res)
target_include_directories(strellan_standin PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(strellan_standin PUBLIC strellan_resources X11::X11 PkgConfig::XFT)

# The MIDI Mapper: FluidSynth with a General MIDI SoundFont, playing through
# PulseAudio (or ALSA).
pkg_check_modules(SYNTH REQUIRED IMPORTED_TARGET fluidsynth libpulse)
add_library(strellan_mapper STATIC
    ${CMAKE_SOURCE_DIR}/platform/linux/midi_mapper.cpp
    ${CMAKE_SOURCE_DIR}/platform/linux/audio_out.cpp
    ${CMAKE_SOURCE_DIR}/platform/linux/soundfont.cpp)
target_include_directories(strellan_mapper PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(strellan_mapper PUBLIC PkgConfig::SYNTH)

# The mapper's answers with no sound anywhere: no server, no ALSA device.
add_executable(mapper_tests ${CMAKE_SOURCE_DIR}/tests/unit/mapper_test.cpp)
target_link_libraries(mapper_tests PRIVATE strellan_mapper GTest::gtest_main)
file(WRITE ${CMAKE_BINARY_DIR}/empty-alsa.conf "")
gtest_discover_tests(mapper_tests PROPERTIES ENVIRONMENT
    "PULSE_SERVER=unix:${CMAKE_BINARY_DIR}/no-such-pulse-socket;ALSA_CONFIG_PATH=${CMAKE_BINARY_DIR}/empty-alsa.conf")

# The Linux program.
add_executable(strellan ${CMAKE_SOURCE_DIR}/platform/linux/main.cpp)
target_link_libraries(strellan PRIVATE strellan_program strellan_standin strellan_mapper)

# The same program with the MIDI calls recorded, for the end-to-end tests.
add_executable(strellan_recording ${CMAKE_SOURCE_DIR}/platform/linux/main.cpp
                                  ${CMAKE_SOURCE_DIR}/tests/midi_recorder/midi_recorder.cpp)
target_link_libraries(strellan_recording PRIVATE strellan_program strellan_standin)

strellan_e2e_test(linux_e2e test_linux 900
    STRELLAN_LINUX=$<TARGET_FILE:strellan>
    STRELLAN_LINUX_RECORDING=$<TARGET_FILE:strellan_recording>)
strellan_e2e_test(linux_sound test_sound 900 STRELLAN_LINUX=$<TARGET_FILE:strellan>)

add_custom_target(run COMMAND $<TARGET_FILE:strellan> DEPENDS strellan VERBATIM)
