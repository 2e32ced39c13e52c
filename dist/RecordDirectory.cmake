# Run by `cmake --install`: sets up the shared record directory and the
# record helper's group bit exactly as the package does, by running the
# package's own set-up step. Without root it only warns: the game then
# keeps each player's records in their own home.
#
# Expects VALTRINO_RECORD_DIR, VALTRINO_INSTALL_SETGID, valtrino_postinst
# and valtrino_postinst_environment, the build's paths for it.

if(NOT "$ENV{DESTDIR}" STREQUAL "")
    # A staged install (a package build): ownership means nothing there and
    # the real directory is not ours to touch; the package's postinst does it.
    message(STATUS "Staged install: the record directory and the games group are left to the package")
    return()
endif()

if(VALTRINO_INSTALL_SETGID)
    list(JOIN valtrino_postinst_environment " " environment)
    set(how_to "As root: env ${environment} sh ${valtrino_postinst} configure (it makes ${VALTRINO_RECORD_DIR} root:games 2770 and the record helper root:games 2755)")
else()
    set(how_to "As root: mkdir -p ${VALTRINO_RECORD_DIR} && chown root:games ${VALTRINO_RECORD_DIR} && chmod 2775 ${VALTRINO_RECORD_DIR}")
endif()

execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT uid STREQUAL "0")
    message(WARNING "Not installing as root: the shared record directory ${VALTRINO_RECORD_DIR} "
        "was not set up, so each player's records stay in their own home. ${how_to}")
    return()
endif()

execute_process(COMMAND getent group games OUTPUT_QUIET RESULT_VARIABLE no_group)
if(no_group)
    message(WARNING "There is no group games: the shared record directory was not set up. "
        "Create the group (addgroup --system games), then: ${how_to}")
    return()
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E env ${valtrino_postinst_environment}
    sh "${valtrino_postinst}" configure RESULT_VARIABLE failed)
if(failed)
    message(WARNING "Setting up ${VALTRINO_RECORD_DIR} failed. ${how_to}")
else()
    message(STATUS "Set up: ${VALTRINO_RECORD_DIR} and the record helper, as the package does")
endif()
