# Run by `cmake --install`: creates the shared record directory, root:games
# 2775, and makes the record helper setgid games (2755), so that every
# player can set a record there, even one outside the group; the game itself
# keeps the player's own rights. Without root it only warns: the game then
# keeps each player's records in their own home.
#
# Expects VALTRINO_RECORD_DIR, VALTRINO_INSTALL_SETGID and valtrino_helper.

if(NOT "$ENV{DESTDIR}" STREQUAL "")
    # A staged install (a package build): ownership means nothing there and
    # the real directory is not ours to touch; the package's postinst does it.
    message(STATUS "Staged install: the record directory and the games group are left to the package")
    return()
endif()

set(how_to "As root: mkdir -p ${VALTRINO_RECORD_DIR} && chown root:games ${VALTRINO_RECORD_DIR} && chmod 2775 ${VALTRINO_RECORD_DIR}")
if(VALTRINO_INSTALL_SETGID)
    string(APPEND how_to " && chown root:games ${valtrino_helper} && chmod 2755 ${valtrino_helper}")
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

# chown first: it clears the set-group-id bit.
function(own path mode)
    execute_process(COMMAND chown root:games "${path}" RESULT_VARIABLE failed_chown)
    execute_process(COMMAND chmod ${mode} "${path}" RESULT_VARIABLE failed_chmod)
    if(failed_chown OR failed_chmod)
        message(WARNING "Could not give ${path} to root:games with mode ${mode}. ${how_to}")
    else()
        message(STATUS "Set: ${path} root:games ${mode}")
    endif()
endfunction()

file(MAKE_DIRECTORY "${VALTRINO_RECORD_DIR}")
# Files made inside inherit the group through the directory's own bit.
own("${VALTRINO_RECORD_DIR}" 2775)
# The record lock, for the group alone: a player cannot hold it.
if(NOT EXISTS "${VALTRINO_RECORD_DIR}/.lock")
    file(TOUCH "${VALTRINO_RECORD_DIR}/.lock")
    own("${VALTRINO_RECORD_DIR}/.lock" 0660)
endif()
if(VALTRINO_INSTALL_SETGID)
    own("${valtrino_helper}" 2755)
endif()
