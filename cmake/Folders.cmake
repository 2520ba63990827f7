# SPDX-License-Identifier: MIT
# A folder's targets see their own folder; what they link sees only the
# headers the folder exports. Includes keep the folder's name
# ("serial/serialchannel.h"), so each target gets a directory of its own in
# the build tree holding links named after the folders it may see.

# korvale_folder(TARGET [EXPORTS header...])
# TARGET, built from the current folder, may include anything of its folder;
# targets that link it may include only the exported headers. A target
# without EXPORTS (an executable, a library only tests use) shows nothing.
function(korvale_folder target)
    cmake_parse_arguments(ARG "" "" "EXPORTS" ${ARGN})
    get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    set(own ${CMAKE_BINARY_DIR}/include-own/${target})
    file(MAKE_DIRECTORY ${own})
    file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${own}/${folder} SYMBOLIC)
    target_include_directories(${target} PRIVATE ${own})
    if(NOT ARG_EXPORTS)
        return()
    endif()
    set(shown ${CMAKE_BINARY_DIR}/include/${target})
    file(REMOVE_RECURSE ${shown})
    file(MAKE_DIRECTORY ${shown}/${folder})
    foreach(header IN LISTS ARG_EXPORTS)
        if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${header})
            message(FATAL_ERROR "${folder}/${header} is exported but does not exist")
        endif()
        file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${header} ${shown}/${folder}/${header} SYMBOLIC)
    endforeach()
    target_include_directories(${target} PUBLIC ${shown})
endfunction()
