# Fails when the Windows program needs a DLL that Windows itself does not have (a MinGW
# run-time library such as libwinpthread-1.dll, libstdc++-6.dll), since it ships alone.
#   cmake -DOBJDUMP=<x86_64-w64-mingw32-objdump> -DPROGRAM=<file.exe> -P system-dlls.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE headers RESULT_VARIABLE read)
if(NOT read EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} cannot read ${PROGRAM}")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${headers}")
set(system advapi32.dll kernel32.dll msvcrt.dll winmm.dll ws2_32.dll mswsock.dll iphlpapi.dll
           user32.dll shell32.dll ole32.dll bcrypt.dll gdi32.dll comctl32.dll uxtheme.dll)
foreach(entry IN LISTS imports)
    string(REPLACE "DLL Name: " "" dll "${entry}")
    string(TOLOWER "${dll}" dll)
    if(NOT dll IN_LIST system AND NOT dll MATCHES "^api-ms-win-")
        message(FATAL_ERROR "${PROGRAM} needs ${dll}, which Windows does not have")
    endif()
    message(STATUS "${dll}")
endforeach()
