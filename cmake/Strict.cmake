# Warnings are errors for everything the project itself compiles.
function(vm_strict target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()

# A program of the project: strict flags, placed at the top of the build folder.
function(vm_add_program target)
    add_executable(${target} ${ARGN})
    vm_strict(${target})
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endfunction()

# A static library of one subsystem; its folder's parent (src/) is the include root,
# so code includes "log/timestamp.h", "link/frames.h" and so on.
function(vm_add_library target)
    add_library(${target} STATIC ${ARGN})
    vm_strict(${target})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()

# A Qt Test program registered with CTest. Runs headless with its own settings and
# data folders (QStandardPaths test mode is switched on by the tests themselves).
#   vm_add_test(NAME name SOURCES a.cpp ... LIBS lib ... [TIMEOUT seconds] [LABELS l ...])
function(vm_add_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    vm_strict(${T_NAME})
    target_link_libraries(${T_NAME} PRIVATE Qt6::Test ${T_LIBS})
    target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    # Each test has a home folder of its own, so that the settings store in Qt's test-mode
    # folder (~/.qttest) is not shared with another test, or with another build's run.
    set(home ${CMAKE_CURRENT_BINARY_DIR}/home/${T_NAME})
    file(MAKE_DIRECTORY ${home})
    set_tests_properties(${T_NAME} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.qpa.*=false;HOME=${home}"
        LABELS "${T_LABELS}")
endfunction()
