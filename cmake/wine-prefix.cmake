# Creates the private Wine prefix that the Windows test programs run in, once: runs
# `wineboot -i` and waits until the Wine server has finished with it.
#   cmake -DWINE=<wine64> -DWINESERVER=<wineserver> -DPREFIX=<folder> -P wine-prefix.cmake
if(EXISTS ${PREFIX}/system.reg)
    return()
endif()
file(MAKE_DIRECTORY ${PREFIX})
# No display, and no offer to download Mono or Gecko: the prefix is for console programs.
set(env ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY WINEPREFIX=${PREFIX}
    WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=)
execute_process(COMMAND ${env} ${WINE} wineboot -i RESULT_VARIABLE booted)
execute_process(COMMAND ${env} ${WINESERVER} -w)
if(NOT booted EQUAL 0 OR NOT EXISTS ${PREFIX}/system.reg)
    file(REMOVE_RECURSE ${PREFIX})
    message(FATAL_ERROR "wineboot -i did not set up the Wine prefix ${PREFIX} (${booted})")
endif()
