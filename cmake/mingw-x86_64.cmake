set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(WEDGECARD_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# Test programs run under Wine; the wrapper brings up one prefix and one display on demand, and
# a program named without a path (regsvr32, cscript, cmd) is the 64-bit one.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run)
