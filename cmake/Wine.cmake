# Windows programs of a cross build run under Wine (Debian package wine64), in a private
# prefix in the build folder, with Wine's own messages off. CTest runs them through the
# emulator set here; the fixture "wine_prefix" creates the prefix before the first of them.
find_program(VM_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_program(VM_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine
             NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(VM_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY WINEPREFIX=${VM_WINE_PREFIX}
    WINEDEBUG=-all ${VM_WINE})

add_test(NAME wine_prefix
         COMMAND ${CMAKE_COMMAND} -DWINE=${VM_WINE} -DWINESERVER=${VM_WINESERVER}
                 -DPREFIX=${VM_WINE_PREFIX} -P ${PROJECT_SOURCE_DIR}/cmake/wine-prefix.cmake)
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)

