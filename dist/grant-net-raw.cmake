# Install step: gives the installed program the capability to open raw ICMP sockets, so
# the ping test works where unprivileged ICMP sockets are not allowed
# (net.ipv4.ping_group_range). Expects VM_INSTALLED_PROGRAM, the program's path below the
# install prefix (or absolute). Never fails the install; says what to do instead.

if(IS_ABSOLUTE "${VM_INSTALLED_PROGRAM}")
    set(vm_program "${VM_INSTALLED_PROGRAM}")
else()
    set(vm_program "${CMAKE_INSTALL_PREFIX}/${VM_INSTALLED_PROGRAM}")
endif()
set(vm_todo "to let the ping test open raw ICMP sockets, run as root: setcap cap_net_raw+ep ${vm_program}")

if(NOT "$ENV{DESTDIR}" STREQUAL "")
    message(STATUS "cap_net_raw not granted: staged install into DESTDIR=$ENV{DESTDIR}; "
                   "once installed on the target, ${vm_todo}")
    return()
endif()

find_program(vm_setcap setcap PATHS /usr/sbin /sbin NO_CACHE)
if(NOT vm_setcap)
    message(STATUS "cap_net_raw not granted: setcap not found (Debian package libcap2-bin); "
                   "install it, then ${vm_todo}")
    return()
endif()

execute_process(COMMAND id -u OUTPUT_VARIABLE vm_uid OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT vm_uid STREQUAL "0")
    message(STATUS "cap_net_raw not granted: not installing as root; ${vm_todo}")
    return()
endif()

execute_process(COMMAND "${vm_setcap}" cap_net_raw+ep "${vm_program}"
                RESULT_VARIABLE vm_result ERROR_VARIABLE vm_error)
if(vm_result EQUAL 0)
    message(STATUS "Granted cap_net_raw to ${vm_program}")
else()
    string(STRIP "${vm_error}" vm_error)
    message(WARNING "cap_net_raw not granted to ${vm_program}: ${vm_error} "
                    "(a file system without extended attributes?); ${vm_todo}")
endif()
