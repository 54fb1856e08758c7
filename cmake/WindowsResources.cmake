# Resources of the project's Windows programs (compiled by MinGW-w64's windres): a version
# resource from the project's version, the program's icon made from the window's PNG images
# (icotool, Debian package icoutils), and the application manifest (src/win32/vm3870.manifest).
#   vm_windows_resources(<target> "<file description>")
enable_language(RC)

set(VM_PRODUCT_NAME "3870/3890 Module Test Tool")

find_program(VM_ICOTOOL icotool REQUIRED)
set(VM_WINDOWS_ICON ${CMAKE_BINARY_DIR}/vm3870sim.ico)
set(VM_ICON_IMAGES ${PROJECT_SOURCE_DIR}/src/window/icons/vm3870sim-16.png
                   ${PROJECT_SOURCE_DIR}/src/window/icons/vm3870sim-32.png)
add_custom_command(OUTPUT ${VM_WINDOWS_ICON}
                   COMMAND ${VM_ICOTOOL} --create --output=${VM_WINDOWS_ICON} ${VM_ICON_IMAGES}
                   DEPENDS ${VM_ICON_IMAGES}
                   COMMENT "Making the program icon from the window's images")
add_custom_target(vm_windows_icon DEPENDS ${VM_WINDOWS_ICON})

function(vm_windows_resources target description)
    set(VM_RC_NAME ${target})
    set(VM_RC_DESCRIPTION ${description})
    set(VM_RC_ICON ${VM_WINDOWS_ICON})
    set(VM_RC_MANIFEST ${PROJECT_SOURCE_DIR}/src/win32/vm3870.manifest)
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
    configure_file(${PROJECT_SOURCE_DIR}/src/win32/resources.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
    set_source_files_properties(${rc} PROPERTIES
        OBJECT_DEPENDS "${VM_WINDOWS_ICON};${VM_RC_MANIFEST}"
        INCLUDE_DIRECTORIES ${PROJECT_SOURCE_DIR}/src)
    add_dependencies(${target} vm_windows_icon)
endfunction()
