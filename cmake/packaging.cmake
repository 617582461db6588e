# Installing and packaging: cmake --install puts the program where users
# find it, and CPack makes the Debian package (Linux) or the zip (Windows)
# from the same rules. The version is the project's.

set(STRELLAN_APP_ID org.strellan.Strellan)
set(STRELLAN_RELEASE_DATE 2026-12-09)
set(STRELLAN_MAINTAINER "The Strellan developers <developers@strellan.org>")
set(STRELLAN_HOMEPAGE "https://strellan.org/" CACHE STRING
    "The project's home page, with a trailing slash; the metainfo's screenshot is under it")

set(CPACK_PACKAGE_NAME strellan)
set(CPACK_PACKAGE_VENDOR "The Strellan developers")
set(CPACK_PACKAGE_CONTACT "${STRELLAN_MAINTAINER}")
set(CPACK_PACKAGE_HOMEPAGE_URL "${STRELLAN_HOMEPAGE}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "guitar tuner that plays reference pitches to tune by ear")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
    # The zip: the program, a short README and the licence, as Windows text
    # files, in one folder named after the release.
    configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/README.txt.in README.txt
                   @ONLY NEWLINE_STYLE CRLF)
    configure_file(${CMAKE_SOURCE_DIR}/LICENSE LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
    install(TARGETS strellan RUNTIME DESTINATION .)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt
            DESTINATION .)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME strellan-${PROJECT_VERSION}-windows-x86)
    include(CPack)
    return()
endif()

include(GNUInstallDirs)
# Debian's own Python first, as the tests do: the icons need nothing more.
find_program(STRELLAN_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT STRELLAN_PYTHON)
    find_program(STRELLAN_PYTHON NAMES python3 REQUIRED)
endif()
find_program(STRELLAN_GZIP gzip REQUIRED)
set(pkg ${CMAKE_SOURCE_DIR}/packaging/linux)
set(out ${CMAKE_BINARY_DIR}/packaging)
set(doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/strellan)

# The desktop's icons, drawn from the icon's one source at each size.
set(make_icon ${CMAKE_SOURCE_DIR}/resources/icon/make_icon.py)
set(icons)
foreach(size 16 32 48)
    add_custom_command(OUTPUT ${out}/icon-${size}.png
                       COMMAND ${STRELLAN_PYTHON} ${make_icon} png ${size} ${out}/icon-${size}.png
                       DEPENDS ${make_icon} VERBATIM)
    install(FILES ${out}/icon-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${STRELLAN_APP_ID}.png)
    list(APPEND icons ${out}/icon-${size}.png)
endforeach()
add_custom_command(OUTPUT ${out}/icon.svg
                   COMMAND ${STRELLAN_PYTHON} ${make_icon} svg ${out}/icon.svg
                   DEPENDS ${make_icon} VERBATIM)
install(FILES ${out}/icon.svg DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps
        RENAME ${STRELLAN_APP_ID}.svg)
list(APPEND icons ${out}/icon.svg)

# The manual page and the Debian changelog, compressed as Debian wants them
# (no name, no time stamp: the same bytes every build).
configure_file(${pkg}/strellan.1 ${out}/strellan.1 @ONLY)
foreach(source ${out}/strellan.1 ${pkg}/changelog)
    get_filename_component(name ${source} NAME)
    add_custom_command(OUTPUT ${out}/${name}.gz
                       COMMAND ${STRELLAN_GZIP} -9n -c ${source} > ${out}/${name}.gz
                       DEPENDS ${source})
endforeach()
add_custom_target(strellan_data ALL DEPENDS ${icons} ${out}/strellan.1.gz ${out}/changelog.gz)

# The licence's text, in the Debian copyright file's format: each line
# indented, blank lines as " .".
file(READ ${CMAKE_SOURCE_DIR}/LICENSE licence)
string(STRIP "${licence}" licence)
string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REPLACE "\n" "\n " STRELLAN_LICENSE_DEP5 " ${licence}")
configure_file(${pkg}/copyright.in ${out}/copyright @ONLY)
configure_file(${pkg}/${STRELLAN_APP_ID}.metainfo.xml.in ${out}/${STRELLAN_APP_ID}.metainfo.xml @ONLY)

# The Debian changelog names the release; it must be the project's.
file(STRINGS ${pkg}/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^strellan \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/linux/changelog does not start with version ${PROJECT_VERSION}")
endif()

install(TARGETS strellan RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${pkg}/${STRELLAN_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${out}/${STRELLAN_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
install(FILES ${out}/strellan.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${out}/copyright ${out}/changelog.gz DESTINATION ${doc})

# The Debian package. Its Depends: what dpkg-shlibdeps finds the program
# linked against, the SoundFont whose jazz guitar the pitch correction gets
# within half a cent, and aubio, which the correction opens when it
# measures (dlopen, so invisible to dpkg-shlibdeps). ATK's bridge is opened
# only on a desktop with an accessibility bus: recommended.
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${STRELLAN_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "timgm6mb-soundfont, libaubio5")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libatk-bridge2.0-0")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_PACKAGE_DESCRIPTION
    "Strellan plays the reference pitch of a guitar string so that the real
string can be tuned to it by ear: pick one of eight strings (F#1 B1 E2 A2
D3 G3 B3 E4, eight-string standard tuning, which covers seven- and
six-string guitars), press Play, and turn the peg until the beats vanish.

The reference is General MIDI's jazz guitar played by FluidSynth, its
pitch measured and corrected to within half a cent. One small window,
usable from the keyboard and with a screen reader.")
include(CPack)
