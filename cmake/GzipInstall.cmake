# SPDX-License-Identifier: MIT
# Debian wants these compressed, and without a timestamp so that two builds of
# one source give the same package.
function(korvale_install_gzipped source destination)
    get_filename_component(source ${source} ABSOLUTE)
    get_filename_component(name ${source} NAME)
    set(packed ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz)
    add_custom_command(OUTPUT ${packed} COMMAND gzip -9nc ${source} > ${packed}
                       DEPENDS ${source} VERBATIM)
    add_custom_target(gzip-${name} ALL DEPENDS ${packed})
    install(FILES ${packed} DESTINATION ${destination})
endfunction()

function(korvale_install_manpage page)
    korvale_install_gzipped(${page} ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
