# SPDX-License-Identifier: MIT
# Manual pages made by help2man from what the built program prints for
# --help, so that the page and the help cannot drift apart. What --help has no
# place for (FILES, SEE ALSO, an example with the panel) comes from an include
# file beside the sources.
find_program(HELP2MAN help2man REQUIRED)
# Dated by the release, not by the build, so that two builds give one page.
execute_process(COMMAND date -u -d "${KORVALE_RELEASE_DATE} 12:00" +%s OUTPUT_VARIABLE KORVALE_RELEASE_EPOCH
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

# korvale_help2man(PAGE NAME TARGET EXECUTABLE SUMMARY TEXT [TOPIC COMMAND] [INCLUDE FILE])
# writes PAGE.1 from `EXECUTABLE --help`, or from `EXECUTABLE help COMMAND`,
# and installs it.
function(korvale_help2man)
    cmake_parse_arguments(ARG "" "PAGE;TARGET;SUMMARY;TOPIC;INCLUDE" "" ${ARGN})
    set(page ${CMAKE_CURRENT_BINARY_DIR}/${ARG_PAGE}.1)
    set(options --no-info --section=1 --version-string=${PROJECT_VERSION}
                "--source=${PROJECT_NAME} ${PROJECT_VERSION}" "--name=${ARG_SUMMARY}"
                --output=${page})
    if(ARG_TOPIC)
        list(APPEND options "--help-option=help ${ARG_TOPIC}")
    endif()
    set(depends ${ARG_TARGET})
    if(ARG_INCLUDE)
        get_filename_component(include ${ARG_INCLUDE} ABSOLUTE)
        list(APPEND options --include=${include})
        list(APPEND depends ${include})
    endif()
    # help2man names the page after the program it runs: a command's page
    # runs the program under the page's name.
    set(program ${CMAKE_CURRENT_BINARY_DIR}/help2man/${ARG_PAGE})
    add_custom_command(
        OUTPUT ${page}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/help2man
        COMMAND ${CMAKE_COMMAND} -E create_symlink $<TARGET_FILE:${ARG_TARGET}> ${program}
        COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${KORVALE_RELEASE_EPOCH} QT_QPA_PLATFORM=offscreen
                ${HELP2MAN} ${options} ${program}
        DEPENDS ${depends}
        VERBATIM)
    korvale_install_manpage(${page})
endfunction()
