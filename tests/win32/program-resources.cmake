# Fails when a Windows program lacks what Explorer, the installer and Windows itself read from
# it: the icon, the version resource carrying the project's version and the program's name, and
# the manifest (common controls 6, per-monitor DPI awareness v2, UTF-8 code page, long paths).
#   cmake -DWRESTOOL=<wrestool> -DPROGRAM=<file.exe> -DVERSION=<x.y.z> -P program-resources.cmake
cmake_minimum_required(VERSION 3.25)
get_filename_component(file ${PROGRAM} NAME)
set(dir ${CMAKE_CURRENT_BINARY_DIR}/resources-${file})
file(MAKE_DIRECTORY ${dir})

# The resource of the given type (16 version, 24 manifest, 14 group icon), as hexadecimal.
function(resource type out)
    execute_process(COMMAND ${WRESTOOL} -x --raw --type=${type} --output=${dir}/${type}.bin ${PROGRAM}
                    RESULT_VARIABLE failed)
    if(failed OR NOT EXISTS ${dir}/${type}.bin)
        message(FATAL_ERROR "${file} has no resource of type ${type}")
    endif()
    file(READ ${dir}/${type}.bin hex HEX)
    set(${out} ${hex} PARENT_SCOPE)
endfunction()

# A text as the version resource holds it: UTF-16, little-endian, as hexadecimal.
function(utf16 text out)
    string(HEX "${text}" narrow)
    string(REGEX REPLACE "(..)" "\\100" wide "${narrow}")
    set(${out} ${wide} PARENT_SCOPE)
endfunction()

resource(14 icon)
resource(16 version)
get_filename_component(name ${PROGRAM} NAME_WE)
foreach(text "FileVersion" "${VERSION}" "OriginalFilename" "${name}.exe")
    utf16("${text}" wide)
    string(FIND "${version}" "${wide}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the version resource of ${file} lacks \"${text}\"")
    endif()
endforeach()

resource(24 manifest)
foreach(text "Microsoft.Windows.Common-Controls" "PerMonitorV2" "UTF-8" "longPathAware")
    string(HEX "${text}" narrow)
    string(FIND "${manifest}" "${narrow}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the manifest of ${file} lacks ${text}")
    endif()
endforeach()
message(STATUS "${file}: icon, version ${VERSION}, manifest")
