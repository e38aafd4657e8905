# Runs a build-time helper with Qt's library folder first on PATH, so that a Windows build finds
# Qt's DLLs (and, with a MinGW kit, its runtime DLLs) without Qt's bin folder on the user's PATH.
# Elsewhere the libraries are found through the helper's run path and PATH changes nothing.
#
# A cross-built helper runs through -DEMULATOR=<program|argument|...> (Wine), which finds DLLs
# through WINEPATH.
#
# usage: cmake -DQT_LIBRARY_DIR=<dir> [-DEMULATOR=<...>] -P run-with-qt.cmake <helper> [arguments...]

if(NOT QT_LIBRARY_DIR)
    message(FATAL_ERROR "run-with-qt.cmake: QT_LIBRARY_DIR is not set")
endif()

# The helper and its arguments are what follows "-P <this script>" on the command line.
set(command)
set(script_at -1)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
    if(script_at EQUAL -1)
        if(CMAKE_ARGV${i} STREQUAL "-P")
            math(EXPR script_at "${i} + 1")
        endif()
    elseif(i GREATER script_at)
        string(REPLACE ";" "\\;" argument "${CMAKE_ARGV${i}}")
        list(APPEND command "${argument}")
    endif()
endforeach()
list(LENGTH command length)
if(length EQUAL 0)
    message(FATAL_ERROR "run-with-qt.cmake: no helper to run")
endif()

if(CMAKE_HOST_WIN32)
    set(ENV{PATH} "${QT_LIBRARY_DIR};$ENV{PATH}")
else()
    set(ENV{PATH} "${QT_LIBRARY_DIR}:$ENV{PATH}")
endif()
if(EMULATOR)
    string(REPLACE "|" ";" emulator "${EMULATOR}")
    set(command ${emulator} ${command})
    set(ENV{WINEPATH} "${QT_LIBRARY_DIR};$ENV{WINEPATH}")
endif()
execute_process(COMMAND ${command} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    list(GET command 0 helper)
    message(FATAL_ERROR "${helper} failed (${result}). On Windows it needs Qt's DLLs, which it "
                        "looks for in ${QT_LIBRARY_DIR}.")
endif()
