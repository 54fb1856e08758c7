# The checks every shipped Windows program passes: it imports Windows' own DLLs alone (it ships
# as one file) and carries its icon, version and manifest.
#   vm_add_windows_program_checks(<target>)  adds the tests <target>_system_dlls, <target>_resources
find_program(VM_OBJDUMP ${VM_MINGW_TRIPLET}-objdump REQUIRED)
find_program(VM_WRESTOOL wrestool REQUIRED)

function(vm_add_windows_program_checks target)
    add_test(NAME ${target}_system_dlls
             COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${VM_OBJDUMP} -DPROGRAM=$<TARGET_FILE:${target}>
                     -P ${PROJECT_SOURCE_DIR}/tests/ctl/system-dlls.cmake)
    add_test(NAME ${target}_resources
             COMMAND ${CMAKE_COMMAND} -DWRESTOOL=${VM_WRESTOOL} -DPROGRAM=$<TARGET_FILE:${target}>
                     -DVERSION=${PROJECT_VERSION}
                     -P ${PROJECT_SOURCE_DIR}/tests/win32/program-resources.cmake)
endfunction()
