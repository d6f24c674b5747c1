# cmake -DOBJDUMP=... -DFILES="a.exe|b.dll" -P CheckPe32.cmake
# Fails unless every file is a 32-bit x86 PE image.
string(REPLACE "|" ";" files "${FILES}")
foreach(file IN LISTS files)
    execute_process(COMMAND ${OBJDUMP} -f ${file} OUTPUT_VARIABLE header RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0 OR NOT header MATCHES "file format pei-i386")
        message(FATAL_ERROR "${file} is not a 32-bit PE image:\n${header}")
    endif()
    message(STATUS "${file}: pei-i386")
endforeach()
