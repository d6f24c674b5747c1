# cmake -DEMULATOR=<tools/wine-run or wine-run32> -DMODULE=<Z:path of the module> -P RegisterModule.cmake
# Registers the module with the regsvr32 of the emulator's bitness, as the tests of a Wine prefix
# need it registered. Wine's regsvr32 has been seen, in one whole run of many, to give up at once
# without a word; the failure is reported with its exit status, and tried once more.
foreach(attempt 1 2)
    execute_process(COMMAND ${EMULATOR} regsvr32 /s ${MODULE} RESULT_VARIABLE status)
    if(status EQUAL 0)
        return()
    endif()
    message(WARNING "regsvr32 /s ${MODULE}: exit status ${status} (attempt ${attempt})")
    execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 1)
endforeach()
message(FATAL_ERROR "regsvr32 could not register ${MODULE}")
