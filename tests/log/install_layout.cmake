# Installs the build into a scratch prefix and checks what lands where: the program and
# the emulator in bin, the desktop entry and both icons under share, and the capability
# step (granted when root, skipped with a message for a staged DESTDIR install).
#   cmake -DBUILD=<build folder> -DSCRATCH=<scratch folder> -P install_layout.cmake

file(REMOVE_RECURSE "${SCRATCH}")

function(check_files root)
    foreach(f bin/vm3870sim bin/vm3870emu share/applications/vm3870sim.desktop
              share/icons/hicolor/32x32/apps/vm3870sim.png
              share/icons/hicolor/16x16/apps/vm3870sim.png)
        if(NOT EXISTS "${root}/${f}")
            message(FATAL_ERROR "not installed: ${root}/${f}")
        endif()
    endforeach()
    foreach(f bin/vm3870sim bin/vm3870emu)
        execute_process(COMMAND test -x "${root}/${f}" RESULT_VARIABLE notExecutable)
        if(notExecutable)
            message(FATAL_ERROR "not executable: ${root}/${f}")
        endif()
    endforeach()
    file(READ "${root}/share/applications/vm3870sim.desktop" entry)
    if(NOT entry MATCHES "\nExec=vm3870sim\n" OR NOT entry MATCHES "\nIcon=vm3870sim\n")
        message(FATAL_ERROR "desktop entry does not start vm3870sim with its icon:\n${entry}")
    endif()
endfunction()

# A direct install into a prefix.
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${SCRATCH}/prefix"
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "install failed:\n${out}\n${err}")
endif()
check_files("${SCRATCH}/prefix")
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
find_program(getcap getcap PATHS /usr/sbin /sbin NO_CACHE)
if(uid STREQUAL "0" AND getcap AND out MATCHES "Granted cap_net_raw")
    execute_process(COMMAND "${getcap}" "${SCRATCH}/prefix/bin/vm3870sim" OUTPUT_VARIABLE caps)
    if(NOT caps MATCHES "cap_net_raw")
        message(FATAL_ERROR "setcap reported success but getcap shows: ${caps}")
    endif()
elseif(NOT out MATCHES "cap_net_raw not granted" AND NOT err MATCHES "cap_net_raw not granted")
    message(FATAL_ERROR "the capability step said nothing:\n${out}\n${err}")
endif()

# A staged install for a package: files under DESTDIR, no capability, and a message.
set(ENV{DESTDIR} "${SCRATCH}/stage")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix /usr
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE failed)
unset(ENV{DESTDIR})
if(failed)
    message(FATAL_ERROR "staged install failed:\n${out}\n${err}")
endif()
check_files("${SCRATCH}/stage/usr")
if(NOT out MATCHES "cap_net_raw not granted: staged install")
    message(FATAL_ERROR "the staged install did not say why the capability was skipped:\n${out}")
endif()

file(REMOVE_RECURSE "${SCRATCH}")
