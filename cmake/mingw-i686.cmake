set(CMAKE_SYSTEM_PROCESSOR i686)
set(WEDGECARD_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# Test programs run under Wine's 32-bit half, in a WoW64 prefix and on a display of their own;
# a program named without a path (regsvr32, cscript, cmd) is the 32-bit one.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run32)
