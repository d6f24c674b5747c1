# wedgecard_file_version(<file> <variable>): the file version of a PE image's version resource,
# four numbers joined by "." (1.0.0.8), or an empty text when it has none.
# As a script, cmake -DFILE=x.dll -P FileVersion.cmake prints it on standard output.
#
# The fixed file information follows the UTF-16 key "VS_VERSION_INFO" of the resource, its
# terminator and the padding to a 4-byte boundary: its signature 0xFEEF04BD, the structure
# version, then the two words of the file version (major and minor, release and build).
function(wedgecard_file_version file variable)
    file(READ "${file}" bytes HEX)
    set(key "560053005f00560045005200530049004f004e005f0049004e0046004f0000000000")
    string(FIND "${bytes}" "${key}bd04effe" at)
    math(EXPR odd "${at} % 2")
    if(at EQUAL -1 OR odd)
        set(${variable} "" PARENT_SCOPE)
        return()
    endif()
    string(LENGTH "${key}bd04effe00000000" skip)
    math(EXPR at "${at} + ${skip}")
    string(SUBSTRING "${bytes}" ${at} 16 words)
    # Little-endian 16-bit halves: minor, major, build, release.
    set(numbers "")
    foreach(offset 4 0 12 8)
        string(SUBSTRING "${words}" ${offset} 4 half)
        string(SUBSTRING "${half}" 2 2 high)
        string(SUBSTRING "${half}" 0 2 low)
        math(EXPR number "0x${high}${low}")
        list(APPEND numbers ${number})
    endforeach()
    list(JOIN numbers "." version)
    set(${variable} "${version}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    wedgecard_file_version("${FILE}" version)
    execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${version}")
endif()
