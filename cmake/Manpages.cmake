# Manual pages of the three programs, made from their --help and --version with help2man
# (target "man", part of the default build) and installed in section 1. Without help2man
# there are none, and the build says so.
option(VM_MANPAGES "Make the manual pages with help2man" ON)
if(NOT VM_MANPAGES)
    return()
endif()
find_program(VM_HELP2MAN help2man)
if(NOT VM_HELP2MAN)
    message(STATUS "help2man not found: no manual pages (Debian package help2man)")
    return()
endif()

include(GNUInstallDirs)
set(vm_man_vm3870sim "window of the test tool for the 3870/3890 digital I/O module")
set(vm_man_vm3870ctl "command line of the test tool for the 3870/3890 digital I/O module")
set(vm_man_vm3870emu "emulator of the 3870/3890 digital I/O module on a TCP port")
set(vm_pages)
foreach(program vm3870sim vm3870ctl vm3870emu)
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
    add_custom_command(
        OUTPUT ${page}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
        COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                ${VM_HELP2MAN} --no-info --section=1 "--name=${vm_man_${program}}"
                --output=${page} $<TARGET_FILE:${program}>
        DEPENDS ${program}
        COMMENT "Manual page of ${program}"
        VERBATIM)
    list(APPEND vm_pages ${page})
endforeach()
add_custom_target(man ALL DEPENDS ${vm_pages})
install(FILES ${vm_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
