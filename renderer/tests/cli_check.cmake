# Runs nimbra-render as a user would and checks the outcome. Arguments use '|' between words.
# FRESH is the test's own output folder: emptied before the run, so that nothing an earlier or
# interrupted run left there can make the test pass or fail.
#   MODE=fail    RENDER ARGS OUTPUT EXIT [STDERR]: exit status EXIT, stderr matches STDERR, and
#                the run left nothing in FRESH (no output, no temporary file, no frame of a
#                sequence).
#   MODE=ok      RENDER ARGS OUTPUT: exit 0 and OUTPUT exists (OUTPUT may list several files).
#   MODE=same    RENDER ARGS ARGS2 OUTPUT OUTPUT2: both runs succeed with identical files.
#   MODE=stdout  RENDER ARGS STDOUT: exit 0 and stdout matches every '|'-separated regex.
#   MODE=golden  RENDER ARGS OUTPUT EXPECTED: exit 0 and OUTPUT identical to the file EXPECTED.
string(REPLACE "|" ";" args "${ARGS}")
if(NOT DEFINED FRESH)
    message(FATAL_ERROR "FRESH (the test's own output folder) is not set")
endif()
file(REMOVE_RECURSE "${FRESH}")
file(MAKE_DIRECTORY "${FRESH}")

function(run_ok arguments)
    execute_process(COMMAND ${RENDER} ${arguments} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                    ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "nimbra-render ${arguments} failed (${rc}):\n${err}")
    endif()
    set(run_stdout "${out}" PARENT_SCOPE)
endfunction()

if(MODE STREQUAL "fail")
    execute_process(COMMAND ${RENDER} ${args} RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL EXIT)
        message(FATAL_ERROR "nimbra-render ${args} exited with ${rc}, not ${EXIT}:\n${err}")
    endif()
    if(DEFINED STDERR AND NOT err MATCHES "${STDERR}")
        message(FATAL_ERROR "stderr does not match '${STDERR}':\n${err}")
    endif()
    if(EXISTS "${OUTPUT}")
        message(FATAL_ERROR "a failed run left ${OUTPUT}")
    endif()
    file(GLOB_RECURSE leftovers LIST_DIRECTORIES true "${FRESH}/*")
    if(leftovers)
        message(FATAL_ERROR "a failed run left files behind: ${leftovers}")
    endif()
    message(STATUS "failed as expected (${rc}): ${err}")
elseif(MODE STREQUAL "ok")
    string(REPLACE "|" ";" outputs "${OUTPUT}")
    run_ok("${args}")
    foreach(f IN LISTS outputs)
        if(NOT EXISTS "${f}")
            message(FATAL_ERROR "missing output ${f}")
        endif()
    endforeach()
elseif(MODE STREQUAL "same")
    string(REPLACE "|" ";" args2 "${ARGS2}")
    run_ok("${args}")
    run_ok("${args2}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${OUTPUT}" "${OUTPUT2}"
                    RESULT_VARIABLE differ)
    if(differ)
        message(FATAL_ERROR "${OUTPUT} and ${OUTPUT2} differ")
    endif()
elseif(MODE STREQUAL "golden")
    file(REMOVE "${OUTPUT}")
    run_ok("${args}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${OUTPUT}" "${EXPECTED}"
                    RESULT_VARIABLE differ)
    if(differ)
        message(FATAL_ERROR "${OUTPUT} differs from ${EXPECTED}")
    endif()
elseif(MODE STREQUAL "stdout")
    run_ok("${args}")
    string(REPLACE "|" ";" patterns "${STDOUT}")
    foreach(p IN LISTS patterns)
        if(NOT run_stdout MATCHES "${p}")
            message(FATAL_ERROR "output lacks '${p}':\n${run_stdout}")
        endif()
    endforeach()
else()
    message(FATAL_ERROR "unknown MODE '${MODE}'")
endif()
