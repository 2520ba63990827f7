# SPDX-License-Identifier: MIT
# The Debian package: `cpack` in the build folder writes
# korvale-panel_<version>_<arch>.deb. Each directory installs its own files;
# this names the package and adds the papers Debian wants of every package.

set(KORVALE_MAINTAINER "The korvale-panel developers <panel@korvale.org>")

# The copyright file in Debian's machine-readable form, its licence text taken
# from LICENSE so that the two cannot differ.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" _ "${licence}")
set(KORVALE_COPYRIGHT "${CMAKE_MATCH_1}")
string(FIND "${licence}" "Permission" start)
string(SUBSTRING "${licence}" ${start} -1 licence)
string(STRIP "${licence}" licence)
string(REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REPLACE "\n" "\n " KORVALE_LICENCE_TEXT " ${licence}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in copyright @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

execute_process(COMMAND date -u -R -d "${KORVALE_RELEASE_DATE} 12:00" OUTPUT_VARIABLE KORVALE_RELEASE_RFC2822
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in changelog @ONLY)
korvale_install_gzipped(${CMAKE_CURRENT_BINARY_DIR}/changelog ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_CONTACT "${KORVALE_MAINTAINER}")
set(CPACK_PACKAGE_VENDOR "The korvale-panel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "remote front panel for the Korvale DC power supply")
set(CPACK_PACKAGE_DESCRIPTION
    "Operates a Korvale programmable DC power supply (0-40 V, 0-5 A) from a Linux
desktop over a serial line: a window with a drawing of the supply's front
panel, whose keys send commands and whose displays and indicators follow the
status the supply reports.

Also contains korvale-sim, a simulated supply on a pseudo-terminal, and
korvale-cli, which reads and drives the supply from a terminal or a script.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The panel draws its captions in Liberation Sans, which no library pulls in.
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-liberation)
set(CPACK_STRIP_FILES ON)
# Not the packager's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
