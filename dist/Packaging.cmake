# `cpack -G DEB` in the build directory makes the Debian package. Configure
# with -DCMAKE_INSTALL_PREFIX=/usr for it.
set(CPACK_PACKAGE_NAME valtrino)
set(CPACK_PACKAGE_VENDOR "Valtrino")
set(CPACK_PACKAGE_CONTACT "Valtrino <valtrino@valtrino.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Roman numerals game for the classroom, in Italian")
set(CPACK_PACKAGE_DESCRIPTION
    "Valtrino shows a number in Roman numerals and the player types its value\n"
    "before the clock runs out. The best score of the computer is kept with\n"
    "the player's name in a directory shared by every user, so that pupils\n"
    "taking turns can challenge it.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_HOMEPAGE_URL "https://valtrino.example/")

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries found by dpkg-shlibdeps; the fonts are only named by the game.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Debian 13 moved Liberation Sans Narrow into a package of its own.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "fonts-liberation, fonts-liberation-sans-narrow | fonts-liberation (<< 1:2), fonts-lato")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/dist/debian/postinst
    ${PROJECT_BINARY_DIR}/dist/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Installed with DESTDIR, so the install step can tell a package build from a
# real install and leave the real record directory alone.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)

if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    message(STATUS "The Debian package will install under ${CMAKE_INSTALL_PREFIX}; "
        "configure with -DCMAKE_INSTALL_PREFIX=/usr for a normal package")
endif()

include(CPack)
