# cmake -DOBJDUMP=... -DFILE=x.dll -DFORMAT=pei-i386 -DEXPORTS="A|B|C" -P CheckDllExports.cmake
# Fails unless FILE is a PE image of FORMAT whose export name table holds exactly EXPORTS, each
# by its plain name (no leading underscore, no "@n" of a __stdcall decoration).
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${FILE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${FILE} failed (${rc})")
endif()
if(NOT dump MATCHES "file format ${FORMAT}\n")
    string(REGEX MATCH "file format [^\n]*" found "${dump}")
    message(FATAL_ERROR "${FILE}: expected file format ${FORMAT}, found '${found}'")
endif()

# The name table: "[Ordinal/Name Pointer] Table" and one "\t[   n] Name" line per export.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" table_start)
if(table_start EQUAL -1)
    message(FATAL_ERROR "${FILE} exports nothing")
endif()
string(SUBSTRING "${dump}" ${table_start} -1 table)
string(REGEX MATCH "Table\n(\t\\[ *[0-9]+\\] [^\n]*\n)+" table "${table}")
# Straight to a list of names: a bracket left in a list element would upset list splitting.
string(REGEX REPLACE "^Table\n" "" table "${table}")
string(REGEX REPLACE "\t\\[ *[0-9]+\\] ([^\n]+)\n" "\\1;" found "${table}")
list(REMOVE_ITEM found "")

string(REPLACE "|" ";" expected "${EXPORTS}")
list(SORT expected)
list(SORT found)
if(NOT found STREQUAL expected)
    message(FATAL_ERROR "${FILE}: exports are '${found}', expected '${expected}'")
endif()
message(STATUS "${FILE}: ${FORMAT}, exports ${found}")
